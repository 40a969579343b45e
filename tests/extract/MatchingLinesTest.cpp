// Option 3 reading a file a chunk at a time: the rows must be those of the whole file's search at every chunk size,
// a line longer than a chunk must come out whole (in parts where the taker takes parts), and a piece that cannot be
// read costs the rest of its file only.

#include "MatchingLines.h"
#include "AnsiCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::string>;

// A file held in memory, read as option 3 reads a file, with a hook to change it or fail between two reads.
class MemoryBytes final : public ByteSource
{
public:
    explicit MemoryBytes(QByteArray bytes) : bytes(std::move(bytes)) {}

    Result<qsizetype> read(qint64 offset, char* into, qsizetype size) override
    {
        if (beforeRead)
            if (std::optional<Failure> failure = beforeRead(offset, size))
                return *failure;
        largestRead = std::max(largestRead, size);
        const qsizetype available = std::max<qsizetype>(0, bytes.size() - qsizetype(offset));
        const qsizetype n = std::min(size, available);
        std::copy_n(bytes.constData() + offset, n, into);
        return n;
    }

    QByteArray bytes;
    // Runs before every read; a failure it returns is that read's.
    std::function<std::optional<Failure>(qint64 offset, qsizetype size)> beforeRead;
    qsizetype largestRead = 0;
};

// What a taker of parts was given, in order: "<" for begin, each part, ">" for end, "~" for abandon.
class RecordedParts final : public RowParts
{
public:
    void begin() override { events.emplace_back("<"); }
    void part(std::string_view part) override { events.emplace_back(part); }
    void end() override { events.emplace_back(">"); }
    void abandon() override { events.emplace_back("~"); }

    // The rows given in parts, each joined; an abandoned one ends in "~".
    Rows rows() const
    {
        Rows rows;
        for (const std::string& event : events) {
            if (event == "<")
                rows.emplace_back();
            else if (event == "~")
                rows.back() += "~";
            else if (event != ">")
                rows.back() += event;
        }
        return rows;
    }

    std::vector<std::string> events;
};

struct Outcome
{
    Rows rows; // the rows in order, those given in parts joined
    int partRows = 0;
    std::optional<Failure> failure;
};

// The rows of the chunked search; with parts, a row given in parts takes its place among the others.
Outcome chunked(ByteSource& source, const QString& search, qsizetype chunkBytes, bool withParts)
{
    Outcome outcome;
    RecordedParts parts;
    std::size_t taken = 0;
    const auto takeParts = [&] {
        const Rows joined = parts.rows();
        for (; taken < joined.size(); ++taken) {
            outcome.rows.push_back(joined[taken]);
            ++outcome.partRows;
        }
    };
    outcome.failure = EmitMatchingLines(
        source, search,
        [&](std::string_view row) {
            takeParts();
            outcome.rows.emplace_back(row);
        },
        withParts ? &parts : nullptr, chunkBytes);
    takeParts();
    return outcome;
}

Rows whole(const QByteArray& file, const QString& search)
{
    Rows rows;
    EmitMatchingLines(LineList(file), search, [&rows](std::string_view row) { rows.emplace_back(row); });
    return rows;
}

constexpr qsizetype kChunkSizes[] = {1, 2, 3, 4, 5, 7, 8, 13, 64, kLineChunkBytes};

} // namespace

TEST(MatchingLines, EveryChunkSizeGivesTheRowsOfTheWholeFile)
{
    const QByteArray longLine = QByteArray("xyz").repeated(30) + "NeedLe" + QByteArray("a\tb").repeated(20);
    const struct
    {
        const char* name;
        QByteArray file;
        QByteArray search; // code-page bytes
        Rows expected;
    } cases[] = {
        {"case folded", "Only ONE here\nnone\ntwo", "one", {"Only ONE here", "none"}},
        {"a line with the text twice is one row", "one one\r\none", "ONE", {"one one", "one"}},
        {"tabs and carriage returns leave the row", "a\tb\rc\r\nd", "b", {"abc"}},
        {"a lone carriage return is part of its line", "a\rb\nc", "a\rb", {"ab"}},
        {"the carriage return of CR LF is not", "ab\r\ncd\r", "b\r", {}},
        {"but the one before it is", "ab\r\r\ncd\r", "b\r", {"ab"}},
        {"and one at the very end is", "ab\r\ncd\r", "d\r", {"cd"}},
        {"a match never joins two lines", "ab\ncd\r\nef", "b\nc", {}},
        {"nor across CR LF", "ab\r\ncd", "b\r\nc", {}},
        {"a match at the very end without a line feed", "first\nlast one", "ONE", {"last one"}},
        {"an empty file", "", "x", {}},
        {"empty lines", "\n\n\r\n", "x", {}},
        {"code-page letters fold too", "CAF\xC9 \x80\n\x8A\n", "caf\xE9", {"CAF\xC3\x89 \xE2\x82\xAC"}},
        {"one whose case differs in another bit than ASCII's", "\x8A\n\x9A", "\x9A", {"\xC5\xA0", "\xC5\xA1"}},
        {"a NUL byte is a character", QByteArray("a\0b\nab", 7), QByteArray("a\0b", 3), {std::string("a\0b", 3)}},
        {"a line longer than a chunk",
         "short needle\n" + longLine + "\nafter needle\r\n",
         "NEEDLE",
         {"short needle", (QByteArray("xyz").repeated(30) + "NeedLe" + QByteArray("ab").repeated(20)).toStdString(),
          "after needle"}},
        {"a long line without the text", "x\n" + longLine + "\ny", "q", {}},
        {"a long line that ends the file", "needle\n" + longLine, "NEEDLE", {"needle", whole(longLine, "b")[0]}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString search = AnsiCodec::decode(c.search);
        ASSERT_EQ(whole(c.file, search), c.expected);
        for (const qsizetype chunk : kChunkSizes) {
            for (const bool withParts : {false, true}) {
                SCOPED_TRACE(std::to_string(chunk) + (withParts ? " bytes, in parts" : " bytes"));
                MemoryBytes source(c.file);
                const Outcome outcome = chunked(source, search, chunk, withParts);
                EXPECT_FALSE(outcome.failure.has_value());
                EXPECT_EQ(outcome.rows, c.expected);
                EXPECT_LE(source.largestRead, chunk);
            }
        }
    }
}

TEST(MatchingLines, RandomFilesAgreeWithTheWholeFileSearch)
{
    // Few letters, many case pairs, line breaks and long runs without one, against chunks from one byte up: every
    // way a line, a terminator or a match can fall across a chunk's edge.
    const QByteArray alphabet("aAbB \t\r\n\x8A\x9A\xC9\xE9xX");
    std::mt19937 random(11);
    for (int round = 0; round < 400; ++round) {
        QByteArray file;
        const int pieces = int(random() % 40);
        for (int p = 0; p < pieces; ++p) {
            const bool run = random() % 4 == 0;
            const char c = alphabet[qsizetype(random() % alphabet.size())];
            if (run)
                file.append(QByteArray(qsizetype(random() % 60), c == '\n' ? 'a' : c));
            else
                file.append(c);
        }
        QByteArray search;
        for (int i = 0, n = 1 + int(random() % 4); i < n; ++i)
            search.append(alphabet[qsizetype(random() % alphabet.size())]);
        const QString text = AnsiCodec::decode(search);
        const Rows expected = whole(file, text);
        const qsizetype chunk = 1 + qsizetype(random() % 24);
        SCOPED_TRACE(file.toHex(' ').toStdString() + " / " + search.toHex(' ').toStdString() + " / " +
                     std::to_string(chunk));
        for (const bool withParts : {false, true}) {
            MemoryBytes source(file);
            const Outcome outcome = chunked(source, text, chunk, withParts);
            ASSERT_FALSE(outcome.failure.has_value());
            ASSERT_EQ(outcome.rows, expected) << (withParts ? "in parts" : "whole");
        }
    }
}

TEST(MatchingLines, ALineLongerThanAChunkComesInPartsThatEndBetweenCharacters)
{
    // Characters of three UTF-8 bytes (the euro sign), tabs and carriage returns all through a line of 1 MB.
    QByteArray line;
    for (int i = 0; line.size() < 1024 * 1024; ++i)
        line.append(i % 3 == 0 ? "\x80\t" : i % 5 == 0 ? "x\r" : "ab");
    line.append("Needle");
    const QByteArray file = "needle 1\n" + line + "\r\nneedle 2\n";
    const Rows expected = whole(file, "NEEDLE");
    ASSERT_EQ(expected.size(), 3u);

    // Chunks that hold the short lines whole, and one that does not even hold a line feed.
    for (const qsizetype chunk : {qsizetype(1), qsizetype(1000), qsizetype(300 * 1024)}) {
        SCOPED_TRACE(chunk);
        MemoryBytes source(file);
        RecordedParts parts;
        Rows rows;
        EXPECT_FALSE(EmitMatchingLines(
            source, QStringLiteral("NEEDLE"), [&rows](std::string_view row) { rows.emplace_back(row); }, &parts,
            chunk));
        if (chunk == 1) {
            EXPECT_TRUE(rows.empty());
            EXPECT_TRUE(parts.rows() == expected);
        } else {
            EXPECT_EQ(rows, Rows({expected[0], expected[2]}));
            // Not EXPECT_EQ: a failure would print a megabyte.
            EXPECT_TRUE(parts.rows() == Rows({expected[1]}));
        }
        EXPECT_EQ(parts.events.front(), "<");
        EXPECT_EQ(parts.events.back(), ">");
        // Pieces of at most a chunk (64 KB at the most) of the file's bytes, three bytes of UTF-8 to a byte at worst.
        EXPECT_GT(parts.events.size(), std::size_t(16));
        for (std::size_t i = 1; i + 1 < parts.events.size(); ++i) {
            const std::string& part = parts.events[i];
            EXPECT_LE(qsizetype(part.size()), 3 * std::min<qsizetype>(chunk, 64 * 1024));
            ASSERT_TRUE(QByteArrayView(part.data(), qsizetype(part.size())).isValidUtf8()) << i;
        }
        EXPECT_LE(source.largestRead, chunk);
    }
}

TEST(MatchingLines, APieceThatCannotBeReadEndsTheFileAfterTheRowsBefore)
{
    // The long line's text comes at its end, so that it is searched through before it is read again.
    const QByteArray longLine = QByteArray(200, 'x') + " one";
    const QByteArray file = "one a\ntwo\n" + longLine + "\none b\n";
    const qint64 longStart = file.indexOf(longLine);
    const Failure ioError{QStringLiteral("Device I/O error (Input/output error)")};
    const struct
    {
        const char* name;
        qint64 failFrom;    // the first read that reaches here fails
        bool failRereading; // the second read of the long line's row fails
        Rows rows;          // "~" ends a row abandoned part-way
    } cases[] = {
        {"at the first read", 0, false, {}},
        {"after the first lines", 35, false, {"one a"}},
        {"while the long line is searched", longStart + 100, false, {"one a"}},
        {"while the long line is read again", -1, true, {"one a", std::string(31, 'x') + "~"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBytes source(file);
        qint64 highest = 0;
        int rereads = 0;
        source.beforeRead = [&](qint64 offset, qsizetype size) -> std::optional<Failure> {
            const bool rereading = offset < highest || rereads > 0;
            highest = std::max(highest, offset);
            if (rereading && ++rereads == 2 && c.failRereading)
                return ioError;
            if (c.failFrom >= 0 && offset + size > c.failFrom)
                return ioError;
            return std::nullopt;
        };
        const Outcome outcome = chunked(source, "ONE", 31, true);
        ASSERT_TRUE(outcome.failure.has_value());
        EXPECT_EQ(outcome.failure->description, ioError.description);
        EXPECT_EQ(outcome.rows, c.rows);
    }
}

TEST(MatchingLines, AFileThatChangesBeforeItsLongLineIsReadAgainFails)
{
    // The long line is searched, found in its first chunk, and read again from its start for its row: by then the
    // file is another.
    const QByteArray longLine = "one " + QByteArray(100, 'x');
    const QByteArray file = "one a\n" + longLine + "\n";
    const struct
    {
        const char* name;
        std::function<void(QByteArray&)> change;
        Rows rows;
        bool fails;
    } cases[] = {
        {"cut short within what was searched",
         [](QByteArray& bytes) { bytes.truncate(15); },
         {"one a", "one xxxxx~"},
         true},
        {"a line feed within what was searched", [](QByteArray& bytes) { bytes[12] = '\n'; }, {"one a", "~"}, true},
        // Past what was searched, the file is simply read as it now is.
        {"cut short further on",
         [](QByteArray& bytes) { bytes.truncate(50); },
         {"one a", "one " + std::string(40, 'x')},
         false},
        {"longer",
         [](QByteArray& bytes) { bytes.insert(20, "yy"); },
         {"one a", "one " + std::string(10, 'x') + "yy" + std::string(90, 'x')},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryBytes source(file);
        qint64 highest = 0;
        bool changed = false;
        source.beforeRead = [&](qint64 offset, qsizetype) -> std::optional<Failure> {
            if (offset < highest && !changed) {
                c.change(source.bytes);
                changed = true;
            }
            highest = std::max(highest, offset);
            return std::nullopt;
        };
        const Outcome outcome = chunked(source, "ONE", 16, true);
        EXPECT_TRUE(changed);
        EXPECT_EQ(outcome.rows, c.rows);
        EXPECT_EQ(outcome.failure.has_value(), c.fails);
        if (outcome.failure) {
            EXPECT_EQ(outcome.failure->description, "Device I/O error (the file changed while it was read)");
        }
    }
}
