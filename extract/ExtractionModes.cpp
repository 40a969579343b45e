#include "ExtractionModes.h"

#include "AnsiCodec.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// Lower case as a whole, in place: ASCII directly, anything else through Unicode's case
// mapping one character at a time. The text is valid UTF-8 (the document model guarantees it).
void toLowerCase(std::string& text)
{
    auto* s = reinterpret_cast<unsigned char*>(text.data());
    std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            if (b >= 'A' && b <= 'Z')
                s[i] = static_cast<unsigned char>(b + 32);
            ++i;
            continue;
        }
        char32_t c = b;
        std::size_t length = 1;
        if (b >= 0xF0 && i + 3 < n) {
            c = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            length = 4;
        } else if (b >= 0xE0 && i + 2 < n) {
            c = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            length = 3;
        } else if (b >= 0xC0 && i + 1 < n) {
            c = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            length = 2;
        }
        const char32_t lower = QChar::toLower(c);
        if (lower != c || c == 0x130) {
            std::string encoded;
            if (c == 0x130)
                encoded = "i\xCC\x87"; // the one capital whose lower case is two characters
            else
                Utf8::appendCodePoint(encoded, lower);
            if (encoded.size() == length) {
                std::memcpy(s + i, encoded.data(), length);
            } else {
                // A few mappings change the length; rare enough to splice.
                text.replace(i, length, encoded);
                s = reinterpret_cast<unsigned char*>(text.data());
                n = text.size();
                length = encoded.size();
            }
        }
        i += length;
    }
}

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

// Finds a folded needle in raw file bytes without regard to case. Whole files are searched at
// once rather than line by line, which is what keeps this mode as fast as grep.
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

} // namespace

void EmitLeafTexts(const HtmlDocument& document, const RowSink& sink)
{
    const HtmlElement body = document.body();
    if (body.isNull())
        return;
    std::string text;
    for (const HtmlElement element : body.all()) {
        if (element.all().length() == 0) {
            element.innerText(text);
            sink(text);
        }
    }
}

void EmitElementBlocks(const HtmlDocument& document, QStringView tagName, const RowSink& sink)
{
    const QByteArray name = tagName.toUtf8();
    const HtmlElementCollection matches =
        document.getElementsByTagName(std::string_view(name.constData(), std::size_t(name.size())));
    const std::uint32_t count = matches.length();
    std::string markup;
    for (std::uint32_t j = 0; j < count; ++j) {
        sink("<tr>");
        matches.item(j).innerHTML(markup);
        if (!markup.empty()) {
            toLowerCase(markup);
            const std::string_view text = markup;
            std::size_t start = 0;
            while (true) {
                const std::size_t pair = text.find("\r\n", start);
                sink(text.substr(start, pair == std::string_view::npos ? std::string_view::npos : pair - start));
                if (pair == std::string_view::npos)
                    break;
                start = pair + 2;
            }
        }
        sink("</tr>");
    }
}

namespace {

template <typename Searcher>
void emitMatchingLines(const LineList& lines, const Searcher& searcher, qsizetype needleLength, const RowSink& sink)
{
    const QByteArray& bytes = lines.fileBytes();
    const char* data = bytes.constData();

    std::string row;
    qsizetype from = 0;
    while (from >= 0) {
        const qsizetype hit = searcher.find(data, bytes.size(), from);
        if (hit < 0)
            break;
        const LineList::Span line = lines.lineAround(hit);
        if (hit + needleLength > line.end) {
            // The match runs into the line's terminator: lines are never joined.
            from = hit +
                   AnsiCodec::characterLength(reinterpret_cast<const unsigned char*>(data + hit), bytes.size() - hit);
            continue;
        }
        row.clear();
        qsizetype kept = line.start;
        for (qsizetype i = line.start; i < line.end; ++i) {
            const char c = data[i];
            if (c == '\n' || c == '\r' || c == '\t') {
                AnsiCodec::appendUtf8(row, std::string_view(data + kept, std::size_t(i - kept)));
                kept = i + 1;
            }
        }
        AnsiCodec::appendUtf8(row, std::string_view(data + kept, std::size_t(line.end - kept)));
        sink(row);
        from = line.next;
    }
}

} // namespace

void EmitMatchingLines(const LineList& lines, QStringView searchText, const RowSink& sink)
{
    std::optional<std::string> needle = foldedNeedle(searchText);
    if (!needle || needle->empty())
        return;
    const qsizetype needleLength = qsizetype(needle->size());
    if (AnsiCodec::isDoubleByte())
        emitMatchingLines(lines, CharacterSearcher(std::move(*needle)), needleLength, sink);
    else
        emitMatchingLines(lines, FoldedSearcher(std::move(*needle)), needleLength, sink);
}

void EmitTagNames(const HtmlDocument& document, const RowSink& sink)
{
    std::string name;
    for (const HtmlElement element : document.all()) {
        name.assign(element.tagName());
        toLowerCase(name);
        sink(name);
    }
}

void EmitDocumentRows(const HtmlDocument& document, ExtractionMode mode, QStringView tagName, const RowSink& sink)
{
    switch (mode) {
    case ExtractionMode::LeafTexts:
        EmitLeafTexts(document, sink);
        break;
    case ExtractionMode::ElementBlocks:
        EmitElementBlocks(document, tagName, sink);
        break;
    case ExtractionMode::TagNames:
        EmitTagNames(document, sink);
        break;
    case ExtractionMode::MatchingLines:
        break;
    }
}
