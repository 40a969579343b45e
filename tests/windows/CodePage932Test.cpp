// The program under a Japanese Windows, whose ANSI code page is 932 (Shift_JIS, two bytes for a kanji). CTest runs
// these in a Japanese locale (tests/windows.cmake); elsewhere they skip.

#include "AnsiCodec.h"
#include "ExtractionModes.h"
#include "EventPump.h"
#include "HtmlDocument.h"
#include "HtmlEncoding.h"
#include "LineList.h"
#include "ResultsExport.h"
#include "ResultsList.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// 日本語 in Shift_JIS, and the same three kanji in UTF-8.
const QByteArray kNihongo("\x93\xFA\x96\x7B\x8C\xEA");
const char* const kNihongoUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";

// A row that mixes what 932 can spell (kanji, half-width katakana, ASCII) with what it cannot (é, €, an emoji).
const QString kMixed = QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80 "
                                         "\xEF\xBD\xB6\xEF\xBE\x85");
const QByteArray kMixedBytes = kNihongo + QByteArray(" caf? ?? \xB6\xC5");

class CodePage932 : public testing::Test
{
protected:
    void SetUp() override
    {
        if (AnsiCodec::codePage() != 932)
            GTEST_SKIP() << "the system's code page is " << AnsiCodec::codePage() << ", not 932";
    }
};

// The saves let the window breathe between rows; here there is no window.
class NoEvents final : public EventPump
{
public:
    void processEvents() override {}
    void waitForEvents() override {}
    void wake() override {}
};

std::vector<std::string> matchingLines(const LineList& lines, const QString& search)
{
    std::vector<std::string> rows;
    EmitMatchingLines(lines, search, [&rows](std::string_view row) { rows.emplace_back(row); });
    return rows;
}

// The file as option 3 reads it, from memory.
class MemoryBytes final : public ByteSource
{
public:
    explicit MemoryBytes(const QByteArray& bytes) : m_bytes(bytes) {}
    Result<qsizetype> read(qint64 offset, char* into, qsizetype size) override
    {
        const qsizetype n = std::min(size, std::max<qsizetype>(0, m_bytes.size() - qsizetype(offset)));
        std::copy_n(m_bytes.constData() + offset, n, into);
        return n;
    }

private:
    const QByteArray& m_bytes;
};

// Joins the parts of each row given in parts, each of which must end between two characters.
class JoinedParts final : public RowParts
{
public:
    explicit JoinedParts(std::vector<std::string>& rows) : m_rows(rows) {}
    void begin() override { m_rows.emplace_back(); }
    void part(std::string_view part) override
    {
        EXPECT_TRUE(QByteArrayView(part.data(), qsizetype(part.size())).isValidUtf8());
        m_rows.back().append(part);
    }
    void end() override {}
    void abandon() override { m_rows.back().append("~"); }

private:
    std::vector<std::string>& m_rows;
};

} // namespace

TEST_F(CodePage932, DecodesAndEncodesTwoByteCharactersAndWritesWhatItCannotSpellAsQuestionMarks)
{
    EXPECT_TRUE(AnsiCodec::isDoubleByte());
    EXPECT_EQ(AnsiCodec::decode(kNihongo), QString::fromUtf8(kNihongoUtf8));
    EXPECT_EQ(AnsiCodec::encode(kMixed), kMixedBytes);
    // A character beyond U+FFFF is one "?", as on a single-byte page; so is a lone surrogate. No best fit: "é" is
    // not "e".
    EXPECT_EQ(AnsiCodec::encode(QString::fromUtf8("x\xF0\x9F\x98\x80y")), QByteArray("x?y"));
    EXPECT_EQ(AnsiCodec::encode(QString(QChar(0xD800)) + QStringLiteral("z")), QByteArray("?z"));
    EXPECT_EQ(AnsiCodec::decode(AnsiCodec::encode(kMixed)), QString::fromUtf8(kNihongoUtf8) +
                                                                QString::fromUtf8(" caf? ?? \xEF\xBD\xB6\xEF\xBE\x85"));

    // A lead byte with nothing to close it is the default character, and leaves the line feed or tab after it be.
    EXPECT_EQ(AnsiCodec::decode("\x81\nA\x81\tB\x81"), QString::fromUtf8("\xE3\x83\xBB\nA\xE3\x83\xBB\tB\xE3\x83\xBB"));

    std::string utf8 = "<";
    AnsiCodec::appendUtf8(utf8, std::string_view(kNihongo.constData(), std::size_t(kNihongo.size())));
    EXPECT_EQ(utf8, std::string("<") + kNihongoUtf8);

    // The code of a two-byte character is the pair; one the page lacks has none.
    EXPECT_EQ(AnsiCodec::fromUnicode(U'\u65E5'), 0x93FA);
    EXPECT_EQ(AnsiCodec::fromUnicode(U'\u00E9'), -1);
    EXPECT_EQ(AnsiCodec::fromUnicode(U'\uFF76'), 0xB6); // ｶ, one byte
    // Every byte still has a character of its own and back (a text kept one character per byte relies on it);
    // a lead byte alone gets a stand-in, which is no character of the page.
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(AnsiCodec::fromUnicode(AnsiCodec::toUnicode(static_cast<unsigned char>(b))), b);
    }
    EXPECT_TRUE(AnsiCodec::isLeadByte(0x93));
    EXPECT_FALSE(AnsiCodec::isLeadByte('A'));
    EXPECT_EQ(AnsiCodec::encode(QString(QChar(AnsiCodec::toUnicode(0x93)))), QByteArray("?"));
    // Full-width capitals fold to their small letters, as ASCII ones do.
    EXPECT_EQ(AnsiCodec::lowerCasePair(0x82, 0x60), 0x8281); // Ａ, ａ
    EXPECT_EQ(AnsiCodec::lowerCasePair(0x93, 0xFA), 0x93FA);
    EXPECT_EQ(AnsiCodec::lowerCaseTable()['A'], 'a');
}

TEST_F(CodePage932, Option3ReadsLinesInTheCodePageAndMatchesWholeCharactersOnly)
{
    // ア is 83 41: its trail byte is "A". ャ is 83 83, so "ャA" holds the bytes of ア, across two characters. 表 is
    // 95 5C: its trail byte is "\".
    const QByteArray file = QByteArray("\x83\x41 x\r\n") +          // ア x
                            QByteArray("Apple\n") +                 //
                            kNihongo + QByteArray(" \x82\x60\r\n") + // 日本語 Ａ
                            QByteArray("\x83\x83" "A\n") +          // ャA
                            QByteArray("\x95\x5C\tz\n") +           // 表 TAB z
                            QByteArray("\x81\nQuiz");                 // a lead byte alone, then Quiz
    TempDir dir;
    const Result<LineList> lines = ReadFileLines(dir.write(QStringLiteral("lines.txt"), file));
    ASSERT_TRUE(lines.ok());
    ASSERT_EQ(lines->count(), 7);
    EXPECT_EQ(lines->text(2), QString::fromUtf8(kNihongoUtf8) + QString::fromUtf8(" \xEF\xBC\xA1"));

    const struct
    {
        const char* search; // UTF-8
        std::vector<std::string> rows;
    } cases[] = {
        // "a" is in "Apple" and "ャA", never in ア, whose second byte only looks like it.
        {"a", {"Apple", "\xE3\x83\xA3" "A"}},
        {"\xE3\x82\xA2", {"\xE3\x82\xA2 x"}}, // ア: not inside ャA
        {"\\", {}},                            // 表's trail byte
        {"\xE6\x9C\xAC", {std::string(kNihongoUtf8) + " \xEF\xBC\xA1"}}, // 本
        // ａ finds Ａ without regard to case, as a finds A.
        {"\xEF\xBD\x81", {std::string(kNihongoUtf8) + " \xEF\xBC\xA1"}},
        // The tab goes from the row, as on every page.
        {"Z", {"\xE8\xA1\xA8z", "Quiz"}},
        // é cannot occur in a 932 file at all.
        {"\xC3\xA9", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.search);
        EXPECT_EQ(matchingLines(*lines, QString::fromUtf8(c.search)), c.rows);
    }
}

TEST_F(CodePage932, Option3ReadAChunkAtATimeSplitsNoCharacter)
{
    // Two-byte characters cut by every chunk size, in short lines and in lines longer than a chunk, whose rows are
    // then read again and given in parts: the rows of the whole file, every time.
    QByteArray file = QByteArray("\x83\x41 x\r\nApple\n") + kNihongo +
                      QByteArray(" \x82\x60\r\n\x83\x83"
                                 "A\n") +
                      QByteArray("\x95\x5C\tz\n\x81\nQuiz\n");
    file += kNihongo.repeated(20) +
            QByteArray("\x83\x83"
                       "A\x81\t\x93\xFA") +
            kNihongo.repeated(20) + "\r\n";
    file += QByteArray("\x83").repeated(30) + "A";
    std::mt19937 random(5);
    const QByteArray alphabet("\x83\x41\x93\xFA\x95\x5C"
                              "Aa\r\n\t\x81\x82\x60");
    for (int round = 0; round < 200; ++round) {
        QByteArray more;
        for (int i = 0, n = int(random() % 80); i < n; ++i)
            more.append(alphabet[qsizetype(random() % alphabet.size())]);
        const QByteArray bytes = round == 0 ? file : file + more;
        const LineList lines(bytes);
        for (const char* search : {"a", "\xE3\x82\xA2", "\\", "\xE6\x9C\xAC", "\xEF\xBD\x81", "Z",
                                   "\xE3\x83\xA3"
                                   "a"}) {
            const std::vector<std::string> expected = matchingLines(lines, QString::fromUtf8(search));
            const qsizetype chunk = 1 + qsizetype(random() % 12);
            SCOPED_TRACE(bytes.toHex(' ').toStdString() + " / " + search + " / " + std::to_string(chunk));
            for (const bool inParts : {false, true}) {
                std::vector<std::string> rows;
                JoinedParts parts(rows);
                MemoryBytes source(bytes);
                ASSERT_FALSE(EmitMatchingLines(
                    source, QString::fromUtf8(search), [&rows](std::string_view row) { rows.emplace_back(row); },
                    inParts ? &parts : nullptr, chunk));
                ASSERT_EQ(rows, expected) << (inParts ? "in parts" : "whole");
            }
        }
    }
}

TEST_F(CodePage932, APageWithoutDeclarationFallsBackToShiftJis)
{
    const QByteArray page = QByteArray("<p>") + kNihongo + QByteArray(" \x83\x41</p>");
    const HtmlEncoding::Detected detected = HtmlEncoding::detect(std::string_view(page.constData(), page.size()));
    EXPECT_EQ(detected.source, HtmlEncoding::Source::Fallback);
    EXPECT_EQ(HtmlEncoding::name(detected.encoding), "Shift_JIS");

    const Result<std::unique_ptr<HtmlDocument>> document = createHtmlParser()->parse(page);
    ASSERT_TRUE(document.ok());
    const HtmlElementCollection paragraphs = (*document)->getElementsByTagName("p");
    ASSERT_EQ(paragraphs.length(), 1u);
    EXPECT_EQ(paragraphs.item(0).innerText(), std::string(kNihongoUtf8) + " \xE3\x82\xA2");
}

TEST_F(CodePage932, TheTextSaveAndTheCommaFileWriteTheCodePagesBytes)
{
    ResultsList results;
    ASSERT_TRUE(results.Append(kMixed));
    ASSERT_TRUE(results.Append(QStringLiteral("plain")));
    TempDir dir;
    NoEvents events;
    ASSERT_FALSE(SaveResultsAsText(dir.path() + QStringLiteral("/rows.txt"), results, events).has_value());
    EXPECT_EQ(dir.read(QStringLiteral("rows.txt")), kMixedBytes + "\r\nplain\r\n");
    ASSERT_FALSE(SaveResultsAsCommaDelimited(dir.path() + QStringLiteral("/rows.csv"), results, events).has_value());
    EXPECT_EQ(dir.read(QStringLiteral("rows.csv")), kMixedBytes + ",plain,\r\n");
}
