#include "MatchingLines.h"

#include "AnsiCodec.h"

#include <QChar>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// The search text as code-page bytes folded to lower case, ready to compare with folded file
// bytes. Empty optional when some character of it cannot occur in a code-page file at all.
std::optional<std::string> foldedNeedle(QStringView text)
{
    const auto& lower = AnsiCodec::lowerCaseTable();
    std::string needle;
    needle.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        if (c.isSurrogate())
            return std::nullopt;
        int code = AnsiCodec::fromUnicode(c.unicode());
        if (code < 0)
            code = AnsiCodec::fromUnicode(c.toLower().unicode());
        if (code < 0)
            code = AnsiCodec::fromUnicode(c.toUpper().unicode());
        // A lead byte's stand-in is no character a file can hold.
        if (code < 0 || (code < 256 && AnsiCodec::isLeadByte(static_cast<unsigned char>(code))))
            return std::nullopt;
        if (code < 256) {
            needle.push_back(char(lower[std::size_t(code)]));
        } else {
            const std::uint16_t pair = AnsiCodec::lowerCasePair(static_cast<unsigned char>(code >> 8),
                                                                static_cast<unsigned char>(code & 0xFF));
            needle.push_back(char(pair >> 8));
            needle.push_back(char(pair & 0xFF));
        }
    }
    return needle;
}

// Finds a folded needle in raw file bytes without regard to case. A chunk of many lines is searched at once rather
// than line by line, which is what keeps this mode as fast as grep.
class FoldedSearcher
{
public:
    explicit FoldedSearcher(std::string needle) : m_needle(std::move(needle)), m_lower(AnsiCodec::lowerCaseTable())
    {
        const std::size_t m = m_needle.size();
        m_skip.fill(m);
        for (std::size_t i = 0; i + 1 < m; ++i)
            m_skip[static_cast<unsigned char>(m_needle[i])] = m - 1 - i;
#ifdef __SSE2__
        // The vector filter compares bytes with 0x20 set, which finds every case variant of an
        // ASCII letter; it serves when that holds for every byte folding to the needle's first
        // and last bytes (Š and š, say, differ in another bit).
        m_vectorFilter = true;
        for (const unsigned char c : {first(), last()})
            for (int x = 0; x < 256; ++x)
                if (m_lower[std::size_t(x)] == c && (x | 0x20) != (c | 0x20))
                    m_vectorFilter = false;
#endif
    }

    // The first position at or after from where the needle occurs, or -1.
    qsizetype find(const char* haystack, qsizetype size, qsizetype from) const
    {
        const auto* h = reinterpret_cast<const unsigned char*>(haystack);
        const qsizetype m = qsizetype(m_needle.size());
        qsizetype position = from;
#ifdef __SSE2__
        if (m_vectorFilter) {
            // Sixteen candidate positions at a time: those whose first and last bytes match.
            const __m128i caseBit = _mm_set1_epi8(0x20);
            const __m128i firstByte = _mm_set1_epi8(char(first() | 0x20));
            const __m128i lastByte = _mm_set1_epi8(char(last() | 0x20));
            for (; position + m - 1 + 16 <= size; position += 16) {
                const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + position));
                const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(h + position + m - 1));
                const __m128i candidates = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a, caseBit), firstByte),
                                                         _mm_cmpeq_epi8(_mm_or_si128(b, caseBit), lastByte));
                unsigned mask = unsigned(_mm_movemask_epi8(candidates));
                while (mask) {
                    const qsizetype at = position + qsizetype(__builtin_ctz(mask));
                    if (matchesAt(h, at))
                        return at;
                    mask &= mask - 1;
                }
            }
            for (; position + m <= size; ++position)
                if (matchesAt(h, position))
                    return position;
            return -1;
        }
#endif
        // Boyer-Moore-Horspool over folded bytes.
        const auto* n = reinterpret_cast<const unsigned char*>(m_needle.data());
        while (position + m <= size) {
            const unsigned char tail = m_lower[h[position + m - 1]];
            if (tail == n[m - 1] && matchesAt(h, position))
                return position;
            position += qsizetype(m_skip[tail]);
        }
        return -1;
    }

    // Where the first character at or after position starts: on a single-byte page, there.
    static qsizetype characterStart(const char*, qsizetype, qsizetype position)
    {
        return position;
    }

private:
    unsigned char first() const
    {
        return static_cast<unsigned char>(m_needle.front());
    }
    unsigned char last() const
    {
        return static_cast<unsigned char>(m_needle.back());
    }

    bool matchesAt(const unsigned char* h, qsizetype at) const
    {
        for (std::size_t j = 0; j < m_needle.size(); ++j)
            if (m_lower[h[at + qsizetype(j)]] != static_cast<unsigned char>(m_needle[j]))
                return false;
        return true;
    }

    std::string m_needle;
    const std::array<unsigned char, 256>& m_lower;
    std::array<std::size_t, 256> m_skip{};
    bool m_vectorFilter = false;
};

// The same search on a double-byte code page, where a byte alone says nothing: a trail byte can be
// an ASCII letter. It compares whole characters, and a match starts only where a character does.
class CharacterSearcher
{
public:
    explicit CharacterSearcher(std::string needle) : m_needle(std::move(needle)), m_lower(AnsiCodec::lowerCaseTable())
    {}

    qsizetype find(const char* haystack, qsizetype size, qsizetype from) const
    {
        const auto* h = reinterpret_cast<const unsigned char*>(haystack);
        const qsizetype m = qsizetype(m_needle.size());
        for (qsizetype position = from; position + m <= size;
             position += AnsiCodec::characterLength(h + position, size - position))
            if (matchesAt(h, size, position))
                return position;
        return -1;
    }

    // Where the first character at or after position starts, stepping from data[0], which starts one.
    static qsizetype characterStart(const char* data, qsizetype size, qsizetype position)
    {
        const auto* h = reinterpret_cast<const unsigned char*>(data);
        qsizetype at = 0;
        while (at < position)
            at += AnsiCodec::characterLength(h + at, size - at);
        return at;
    }

private:
    bool matchesAt(const unsigned char* h, qsizetype size, qsizetype at) const
    {
        const auto* n = reinterpret_cast<const unsigned char*>(m_needle.data());
        const qsizetype m = qsizetype(m_needle.size());
        for (qsizetype i = 0; i < m;) {
            const qsizetype length = AnsiCodec::characterLength(h + at + i, size - at - i);
            if (length != AnsiCodec::characterLength(n + i, m - i))
                return false;
            if (length == 1 ? m_lower[h[at + i]] != n[i]
                            : AnsiCodec::lowerCasePair(h[at + i], h[at + i + 1]) != ((n[i] << 8) | n[i + 1]))
                return false;
            i += length;
        }
        return true;
    }

    std::string m_needle;
    const std::array<unsigned char, 256>& m_lower;
};

// The row of the line data[start, end): its bytes without line feeds, carriage returns and tabs, decoded. The bytes
// between two removed ones are decoded on their own, so a lead byte before a tab stands alone.
void appendRow(std::string& row, const char* data, qsizetype start, qsizetype end)
{
    qsizetype kept = start;
    for (qsizetype i = start; i < end; ++i) {
        const char c = data[i];
        if (c == '\n' || c == '\r' || c == '\t') {
            AnsiCodec::appendUtf8(row, std::string_view(data + kept, std::size_t(i - kept)));
            kept = i + 1;
        }
    }
    AnsiCodec::appendUtf8(row, std::string_view(data + kept, std::size_t(end - kept)));
}

// The matching lines of data[0, size), which holds whole lines (the last one may lack its terminator).
template <typename Searcher>
void emitLinesIn(const char* data, qsizetype size, const Searcher& searcher, qsizetype needleLength,
                 const RowSink& sink, std::string& row)
{
    const QByteArrayView bytes(data, size);
    qsizetype from = 0;
    while (from >= 0) {
        const qsizetype hit = searcher.find(data, size, from);
        if (hit < 0)
            break;
        const LineList::Span line = LineList::lineAround(bytes, hit);
        if (hit + needleLength > line.end) {
            // The match runs into the line's terminator: lines are never joined.
            from = hit + AnsiCodec::characterLength(reinterpret_cast<const unsigned char*>(data + hit), size - hit);
            continue;
        }
        row.clear();
        appendRow(row, data, line.start, line.end);
        sink(row);
        from = line.next;
    }
}

// Reads a file a chunk at a time and gives its matching lines. The buffer always begins at a line's start, or, while
// a line longer than a chunk is searched, at a character of that line.
template <typename Searcher> class ChunkedLines
{
public:
    ChunkedLines(ByteSource& source, const Searcher& searcher, qsizetype needleLength, const RowSink& sink,
                 RowParts* parts, qsizetype chunkBytes)
        : m_source(source), m_searcher(searcher), m_needleLength(needleLength), m_sink(sink), m_parts(parts),
          m_chunk(std::max<qsizetype>(chunkBytes, 1)),
          // A long line keeps what may begin a match (less than a needle) before the next chunk. Not cleared: a small
          // file touches only the few pages it fills.
          m_buffer(new char[std::size_t(m_chunk + needleLength)]), m_data(m_buffer.get())
    {}

    std::optional<Failure> run()
    {
        for (;;) {
            while (!m_atEnd && m_size < m_chunk)
                if (std::optional<Failure> failure = readOn(m_chunk - m_size))
                    return failure;
            qsizetype complete = m_size;
            if (!m_atEnd) {
                const std::size_t lineFeed = std::string_view(m_data, std::size_t(m_size)).rfind('\n');
                complete = lineFeed == std::string_view::npos ? 0 : qsizetype(lineFeed) + 1;
            }
            if (complete > 0) {
                emitLinesIn(m_data, complete, m_searcher, m_needleLength, m_sink, m_row);
                drop(complete);
                continue;
            }
            if (m_atEnd)
                return std::nullopt;
            // A whole chunk without a line feed: a line longer than a chunk begins here.
            if (std::optional<Failure> failure = longLine())
                return failure;
        }
    }

private:
    // Reads up to size bytes more, after those held.
    std::optional<Failure> readOn(qsizetype size)
    {
        const Result<qsizetype> read = m_source.read(m_offset + m_size, m_data + m_size, size);
        if (!read)
            return read.failure();
        if (*read < size)
            m_atEnd = true;
        m_size += *read;
        return std::nullopt;
    }

    // Lets go of the first count bytes held.
    void drop(qsizetype count)
    {
        std::memmove(m_data, m_data + count, std::size_t(m_size - count));
        m_offset += count;
        m_size -= count;
    }

    // Searches the line that begins the buffer, chunk by chunk, until it holds the text or ends; then gives its row
    // and leaves the buffer at the next line's start.
    std::optional<Failure> longLine()
    {
        const qint64 lineStart = m_offset;
        qsizetype searched = m_size; // held bytes known to hold no line feed
        for (;;) {
            const void* found = std::memchr(m_data + searched, '\n', std::size_t(m_size - searched));
            const qsizetype lineFeed = found ? static_cast<const char*>(found) - m_data : -1;
            bool matched;
            if (lineFeed >= 0 || m_atEnd) {
                qsizetype end = lineFeed >= 0 ? lineFeed : m_size;
                if (lineFeed > 0 && m_data[lineFeed - 1] == '\r')
                    --end;
                matched = m_searcher.find(m_data, end, 0) >= 0;
            } else {
                // The last byte held may be the carriage return of the line's terminator, or a lead byte whose
                // character the next chunk completes: a match is certain only before it.
                const qsizetype hit = m_searcher.find(m_data, m_size, 0);
                matched = hit >= 0 && hit + m_needleLength < m_size;
            }
            if (matched) {
                const qint64 seen = m_offset + (lineFeed >= 0 ? lineFeed : m_size);
                m_size = 0;
                return giveLongRow(lineStart, seen);
            }
            if (lineFeed >= 0) {
                drop(lineFeed + 1);
                return std::nullopt;
            }
            if (m_atEnd) {
                drop(m_size);
                return std::nullopt;
            }
            // What may still begin a match is kept; every earlier start has been looked at.
            drop(Searcher::characterStart(m_data, m_size, std::max<qsizetype>(0, m_size - m_needleLength)));
            searched = m_size;
            if (std::optional<Failure> failure = readOn(m_chunk))
                return failure;
        }
    }

    // Reads the line from lineStart again, to its terminator, and gives its row in parts. The scan saw the line run
    // unbroken to seen: a line that ends before it now belongs to a file that changed meanwhile. Leaves the buffer
    // empty at the next line's start, or at the end of the file.
    std::optional<Failure> giveLongRow(qint64 lineStart, qint64 seen)
    {
        if (m_parts)
            m_parts->begin();
        else
            m_row.clear();
        // Small pieces: a part is copied and escaped on its way out.
        const qsizetype piece = std::min<qsizetype>(m_chunk, 64 * 1024);
        qint64 position = lineStart;
        qsizetype carried = 0; // a lead byte whose character the next piece completes
        std::string part;
        for (;;) {
            const Result<qsizetype> read = m_source.read(position, m_data + carried, piece);
            if (!read) {
                abandonRow();
                return read.failure();
            }
            const void* found = std::memchr(m_data + carried, '\n', std::size_t(*read));
            const qsizetype end = found ? static_cast<const char*>(found) - m_data : carried + *read;
            const bool lineEnds = found || *read == 0;
            if (lineEnds && position + (end - carried) < seen) {
                abandonRow();
                return Failure{QStringLiteral("Device I/O error (the file changed while it was read)")};
            }
            // A lead byte whose character the next piece completes waits for it: a part ends between two characters.
            const bool leadWaits = !lineEnds && end > 0 &&
                                   AnsiCodec::isLeadByte(static_cast<unsigned char>(m_data[end - 1])) &&
                                   Searcher::characterStart(m_data, end, end - 1) == end - 1;
            const qsizetype keep = leadWaits ? 1 : 0;
            part.clear();
            appendRow(part, m_data, 0, end - keep);
            if (!part.empty()) {
                if (m_parts)
                    m_parts->part(part);
                else
                    m_row.append(part);
            }
            if (lineEnds) {
                if (m_parts)
                    m_parts->end();
                else
                    m_sink(m_row);
                m_offset = position + (end - carried) + (found ? 1 : 0);
                m_atEnd = !found;
                return std::nullopt;
            }
            std::memmove(m_data, m_data + end - keep, std::size_t(keep));
            carried = keep;
            position += *read;
        }
    }

    void abandonRow()
    {
        if (m_parts)
            m_parts->abandon();
    }

    ByteSource& m_source;
    const Searcher& m_searcher;
    const qsizetype m_needleLength;
    const RowSink& m_sink;
    RowParts* const m_parts;
    const qsizetype m_chunk;
    std::unique_ptr<char[]> m_buffer;
    char* const m_data;
    qint64 m_offset = 0; // where in the file the buffer begins
    qsizetype m_size = 0;
    bool m_atEnd = false;
    std::string m_row;
};

template <typename Searcher>
std::optional<Failure> emitChunked(ByteSource& source, const Searcher& searcher, qsizetype needleLength,
                                   const RowSink& sink, RowParts* parts, qsizetype chunkBytes)
{
    return ChunkedLines<Searcher>(source, searcher, needleLength, sink, parts, chunkBytes).run();
}

} // namespace

std::optional<Failure> EmitMatchingLines(ByteSource& source, QStringView searchText, const RowSink& sink,
                                         RowParts* parts, qsizetype chunkBytes)
{
    std::optional<std::string> needle = foldedNeedle(searchText);
    if (!needle || needle->empty())
        return std::nullopt;
    const qsizetype needleLength = qsizetype(needle->size());
    if (AnsiCodec::isDoubleByte())
        return emitChunked(source, CharacterSearcher(std::move(*needle)), needleLength, sink, parts, chunkBytes);
    return emitChunked(source, FoldedSearcher(std::move(*needle)), needleLength, sink, parts, chunkBytes);
}

void EmitMatchingLines(const LineList& lines, QStringView searchText, const RowSink& sink)
{
    std::optional<std::string> needle = foldedNeedle(searchText);
    if (!needle || needle->empty())
        return;
    const qsizetype needleLength = qsizetype(needle->size());
    const QByteArray& bytes = lines.fileBytes();
    std::string row;
    if (AnsiCodec::isDoubleByte())
        emitLinesIn(bytes.constData(), bytes.size(), CharacterSearcher(std::move(*needle)), needleLength, sink, row);
    else
        emitLinesIn(bytes.constData(), bytes.size(), FoldedSearcher(std::move(*needle)), needleLength, sink, row);
}
