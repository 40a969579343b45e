#include "RowFormats.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace RowFormats {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The bytes a TSV field holds as they are: all but tab, line feed, carriage return and backslash.
constexpr auto kPlainTsv = [] {
    std::array<bool, 256> plain{};
    plain.fill(true);
    for (const char c : {'\t', '\n', '\r', '\\'})
        plain[static_cast<unsigned char>(c)] = false;
    return plain;
}();

// The bytes a JSON string holds as they are: printable ASCII other than the quote and the backslash.
constexpr auto kPlainJson = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x80; ++c)
        plain[std::size_t(c)] = c != '"' && c != '\\';
    return plain;
}();

// The length of the valid UTF-8 sequence at the start of text, or 0 when its first byte does not begin one.
std::size_t validSequence(std::string_view text)
{
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    char32_t code = lead & (0xFF >> (length + 1));
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return 0;
    return length;
}

// Eight bytes at a time: most rows have nothing to escape, and these tests find that with a few instructions for
// each eight bytes. Each is exact as a yes or no for the whole word.
constexpr std::uint64_t kOnes = 0x0101010101010101u;
constexpr std::uint64_t kHighs = 0x8080808080808080u;

std::uint64_t load(const char* at)
{
    std::uint64_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
}

// Some byte of the word is below n (n at most 128).
constexpr bool hasBelow(std::uint64_t word, std::uint8_t n)
{
    return ((word - kOnes * n) & ~word & kHighs) != 0;
}

// Some byte of the word is c.
constexpr bool hasByte(std::uint64_t word, char c)
{
    return hasBelow(word ^ (kOnes * static_cast<unsigned char>(c)), 1);
}

// How each format writes a field. mayNeedEscape(word): some byte of the eight may be one to escape (a byte that sets
// it off needlessly is then looked at on its own); plainAt(text): the length of the character at the start of text
// when it is written as it is, or 0 when it is escaped; escape(p, c): writes the escape of the byte c at p, at most
// kMostPerByte bytes, and returns the end.
struct TsvRule
{
    static constexpr std::size_t kMostPerByte = 2;
    // Tab, line feed and carriage return are all below 14.
    static bool mayNeedEscape(std::uint64_t word) { return hasBelow(word, 14) || hasByte(word, '\\'); }
    static std::size_t plainAt(std::string_view text) { return kPlainTsv[static_cast<unsigned char>(text[0])] ? 1 : 0; }
    static char* escape(char* p, unsigned char c)
    {
        *p++ = '\\';
        *p++ = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        return p;
    }
};

struct JsonRule
{
    // \udcXX for a byte that is not part of UTF-8, \u00XX for a control character.
    static constexpr std::size_t kMostPerByte = 6;
    static bool mayNeedEscape(std::uint64_t word)
    {
        return hasBelow(word, 0x20) || (word & kHighs) != 0 || hasByte(word, '"') || hasByte(word, '\\');
    }
    // A valid UTF-8 sequence is written as it is.
    static std::size_t plainAt(std::string_view text)
    {
        const auto lead = static_cast<unsigned char>(text[0]);
        if (kPlainJson[lead])
            return 1;
        return lead >= 0x80 ? validSequence(text) : 0;
    }
    static char* escape(char* p, unsigned char c)
    {
        *p++ = '\\';
        switch (c) {
        case '"':
        case '\\':
            *p++ = char(c);
            return p;
        case '\n':
            *p++ = 'n';
            return p;
        case '\r':
            *p++ = 'r';
            return p;
        case '\t':
            *p++ = 't';
            return p;
        default:
            std::memcpy(p, c >= 0x80 ? "udc" : "u00", 3);
            p[3] = kHex[c >> 4];
            p[4] = kHex[c & 0xF];
            return p + 5;
        }
    }
};

// The format writes the whole text as it is.
template <typename Rule> bool allPlain(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        if (i + 8 <= text.size() && !Rule::mayNeedEscape(load(text.data() + i))) {
            i += 8;
            continue;
        }
        const std::size_t length = Rule::plainAt(text.substr(i));
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

// Room at the end of out for at most `most` bytes, written through the pointer returned; finish() keeps what was
// written. One resize for a whole row, rather than one append for each piece of it.
char* room(QByteArray& out, std::size_t most)
{
    const qsizetype at = out.size();
    out.resize(at + qsizetype(most));
    return out.data() + at;
}

void finish(QByteArray& out, const char* end)
{
    out.truncate(qsizetype(end - out.constData()));
}

// Copies text to p and returns its end. An empty text may have no data at all, which memcpy must not be given.
char* put(char* p, std::string_view text)
{
    if (!text.empty())
        std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// The prefix, the row and the end as they are: the row needs no escape. Most rows take this way, which costs one
// resize.
template <std::size_t N>
void appendPlain(QByteArray& out, std::string_view prefix, std::string_view row, const char (&end)[N])
{
    // The end's length is known here, so it is written by a store or two rather than a call.
    char* p = put(put(room(out, prefix.size() + row.size() + N - 1), prefix), row);
    std::memcpy(p, end, N - 1);
}

// The prefix as it is, then the row escaped as the rule says, then the end.
template <typename Rule>
void appendEscaped(QByteArray& out, std::string_view prefix, std::string_view row, std::string_view end)
{
    char* p = put(room(out, prefix.size() + row.size() * Rule::kMostPerByte + end.size()), prefix);
    const char* const data = row.data();
    const std::size_t size = row.size();
    std::size_t i = 0;
    while (i < size) {
        if (i + 8 <= size && !Rule::mayNeedEscape(load(data + i))) {
            std::memcpy(p, data + i, 8);
            p += 8;
            i += 8;
            continue;
        }
        if (const std::size_t length = Rule::plainAt(row.substr(i))) {
            std::memcpy(p, data + i, length);
            p += length;
            i += length;
            continue;
        }
        p = Rule::escape(p, static_cast<unsigned char>(data[i++]));
    }
    finish(out, put(p, end));
}

// One row: most need no escape, and are copied whole.
template <typename Rule, std::size_t N>
void appendRow(QByteArray& out, std::string_view prefix, std::string_view row, const char (&end)[N])
{
    if (allPlain<Rule>(row))
        appendPlain(out, prefix, row, end);
    else
        appendEscaped<Rule>(out, prefix, row, std::string_view(end, N - 1));
}

} // namespace

QByteArray Prefix(Format format, bool withFileName, const QByteArray& nativePath)
{
    QByteArray prefix;
    const std::string_view path(nativePath.constData(), std::size_t(nativePath.size()));
    switch (format) {
    case Format::Text:
        if (withFileName)
            prefix = nativePath + '\t';
        break;
    case Format::Tsv:
        appendEscaped<TsvRule>(prefix, {}, path, "\t");
        break;
    case Format::Jsonl:
        // The row's opening quote too: one copy less for every row.
        prefix = "{\"file\": ";
        appendEscaped<JsonRule>(prefix, "\"", path, "\", \"row\": \"");
        break;
    }
    return prefix;
}

void AppendRow(Format format, QByteArray& out, std::string_view prefix, std::string_view row)
{
    switch (format) {
    case Format::Text:
        appendPlain(out, prefix, row, "\n");
        break;
    case Format::Tsv:
        appendRow<TsvRule>(out, prefix, row, "\n");
        break;
    case Format::Jsonl:
        appendRow<JsonRule>(out, prefix, row, "\"}\n");
        break;
    }
}

void AppendRowStart(QByteArray& out, std::string_view prefix)
{
    out.append(QByteArrayView(prefix.data(), qsizetype(prefix.size())));
}

void AppendRowPart(Format format, QByteArray& out, std::string_view part)
{
    // Each rule escapes a byte, or a whole UTF-8 character, by itself: a row cut between characters escapes to the
    // same bytes piece by piece.
    switch (format) {
    case Format::Text:
        out.append(QByteArrayView(part.data(), qsizetype(part.size())));
        break;
    case Format::Tsv:
        appendEscaped<TsvRule>(out, {}, part, {});
        break;
    case Format::Jsonl:
        appendEscaped<JsonRule>(out, {}, part, {});
        break;
    }
}

void AppendRowEnd(Format format, QByteArray& out)
{
    out.append(format == Format::Jsonl ? "\"}\n" : "\n");
}

} // namespace RowFormats
