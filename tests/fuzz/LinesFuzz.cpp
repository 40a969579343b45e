// Any bytes as a file's lines and through the matching-lines mode. The first byte gives the length
// of the search text (its low three bits) and the size of the chunks the file is read in (the rest),
// the bytes after it are the text (as code-page characters), the rest is the file. The rows must be
// exactly those of a plain line-by-line search, which is slow but plainly right: the fast whole-file
// search may skip or split nothing, and the search of the file read a chunk at a time, with long
// lines given whole or in parts, must give the same rows again.

#include "AnsiCodec.h"
#include "ExtractionModes.h"
#include "FuzzCheck.h"
#include "LineList.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

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

// Joins the parts of each row given in parts.
class JoinedParts final : public RowParts
{
public:
    explicit JoinedParts(std::vector<std::string>& rows) : m_rows(rows) {}
    void begin() override { m_rows.emplace_back(); }
    void part(std::string_view part) override { m_rows.back().append(part); }
    void end() override {}
    void abandon() override { m_rows.back().append("~"); }

private:
    std::vector<std::string>& m_rows;
};

std::string Folded(QByteArrayView bytes)
{
    const auto& lower = AnsiCodec::lowerCaseTable();
    std::string folded(std::size_t(bytes.size()), '\0');
    std::transform(bytes.begin(), bytes.end(), folded.begin(),
                   [&](char c) { return char(lower[static_cast<unsigned char>(c)]); });
    return folded;
}

void CheckLines(const LineList& lines)
{
    const QByteArray& bytes = lines.fileBytes();
    FUZZ_CHECK(lines.count() >= 1);
    FUZZ_CHECK(lines.start(0) == 0);
    for (qsizetype k = 0; k < lines.count(); ++k) {
        const qsizetype start = lines.start(k), end = lines.end(k);
        FUZZ_CHECK(start <= end && end <= bytes.size());
        FUZZ_CHECK(!lines.bytes(k).contains('\n'));
        // What follows a line's content is its terminator: LF or CR LF, or nothing at the end.
        const QByteArrayView rest = k + 1 < lines.count()
                                        ? QByteArrayView(bytes).sliced(end, lines.start(k + 1) - end)
                                        : QByteArrayView(bytes).sliced(end);
        FUZZ_CHECK(rest.empty() || rest == "\n" || rest == "\r\n");
        // The search finds its line without the index; both must agree.
        if (end > start) {
            const LineList::Span span = lines.lineAround(start + (end - start) / 2);
            FUZZ_CHECK(span.start == start && span.end == end);
            FUZZ_CHECK(span.next == (k + 1 < lines.count() ? lines.start(k + 1) : -1));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t needleLength = std::min<std::size_t>(data[0] % 8, size - 1);
    const QByteArray needle(reinterpret_cast<const char*>(data + 1), qsizetype(needleLength));
    const LineList lines(
        QByteArray(reinterpret_cast<const char*>(data + 1 + needleLength), qsizetype(size - 1 - needleLength)));
    CheckLines(lines);

    std::vector<std::string> rows;
    EmitMatchingLines(lines, AnsiCodec::decode(needle), [&](std::string_view row) { rows.emplace_back(row); });

    std::vector<std::string> expected;
    const std::string foldedNeedle = Folded(needle);
    if (!foldedNeedle.empty()) {
        for (qsizetype k = 0; k < lines.count(); ++k) {
            if (Folded(lines.bytes(k)).find(foldedNeedle) == std::string::npos)
                continue;
            QByteArray kept = lines.bytes(k).toByteArray();
            kept.removeIf([](char c) { return c == '\r' || c == '\t'; });
            std::string row;
            AnsiCodec::appendUtf8(row, std::string_view(kept.constData(), std::size_t(kept.size())));
            expected.push_back(std::move(row));
        }
    }
    FUZZ_CHECK(rows == expected);

    const qsizetype chunkBytes = 1 + (data[0] >> 3);
    for (const bool inParts : {false, true}) {
        std::vector<std::string> chunked;
        JoinedParts parts(chunked);
        MemoryBytes source(lines.fileBytes());
        FUZZ_CHECK(!EmitMatchingLines(
            source, AnsiCodec::decode(needle), [&](std::string_view row) { chunked.emplace_back(row); },
            inParts ? &parts : nullptr, chunkBytes));
        FUZZ_CHECK(chunked == expected);
    }
    return 0;
}
