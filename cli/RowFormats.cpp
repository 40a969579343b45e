#include "RowFormats.h"

#include <array>
#include <cstring>

namespace RowFormats {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The bytes a JSON string holds as they are: printable ASCII other than the quote and the backslash.
// The bytes a TSV field writes as an escape.
constexpr auto kTsvEscaped = [] {
    std::array<bool, 256> escaped{};
    for (const char c : {'\t', '\n', '\r', '\\'})
        escaped[static_cast<unsigned char>(c)] = true;
    return escaped;
}();

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

} // namespace

namespace {

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

// The text escaped for a TSV field, then the end (a tab or a line feed).
void appendTsv(QByteArray& out, std::string_view row, char end)
{
    char* p = room(out, row.size() * 2 + 1);
    for (const char c : row) {
        if (kTsvEscaped[static_cast<unsigned char>(c)]) {
            *p++ = '\\';
            *p++ = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        } else {
            *p++ = c;
        }
    }
    *p++ = end;
    finish(out, p);
}

// The inside of a JSON string, then the end (at most three bytes).
void appendJson(QByteArray& out, std::string_view row, std::string_view end)
{
    // Six bytes at most for each byte of the row (\udcXX, \u00XX).
    char* p = room(out, row.size() * 6 + end.size());
    const char* const data = row.data();
    const std::size_t size = row.size();
    std::size_t i = 0;
    while (i < size) {
        const auto c = static_cast<unsigned char>(data[i]);
        if (kPlainJson[c]) {
            *p++ = char(c);
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t length = validSequence(row.substr(i))) {
                std::memcpy(p, data + i, length);
                p += length;
                i += length;
                continue;
            }
            std::memcpy(p, "\\udc", 4);
            p[4] = kHex[c >> 4];
            p[5] = kHex[c & 0xF];
            p += 6;
            ++i;
            continue;
        }
        *p++ = '\\';
        switch (c) {
        case '"':
        case '\\':
            *p++ = char(c);
            break;
        case '\n':
            *p++ = 'n';
            break;
        case '\r':
            *p++ = 'r';
            break;
        case '\t':
            *p++ = 't';
            break;
        default:
            std::memcpy(p, "u00", 3);
            p[3] = kHex[c >> 4];
            p[4] = kHex[c & 0xF];
            p += 5;
            break;
        }
        ++i;
    }
    std::memcpy(p, end.data(), end.size());
    finish(out, p + end.size());
}

} // namespace

void AppendTsvField(QByteArray& out, std::string_view text)
{
    appendTsv(out, text, '\t');
    out.chop(1);
}

void AppendJsonString(QByteArray& out, std::string_view text)
{
    out.append('"');
    appendJson(out, text, "\"");
}

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
        appendTsv(prefix, path, '\t');
        break;
    case Format::Jsonl:
        // The row's opening quote too: one copy less for every row.
        prefix = "{\"file\": ";
        AppendJsonString(prefix, path);
        prefix.append(", \"row\": \"");
        break;
    }
    return prefix;
}

void AppendRow(Format format, QByteArray& out, std::string_view row)
{
    switch (format) {
    case Format::Text:
        out.append(row.data(), qsizetype(row.size()));
        out.append('\n');
        break;
    case Format::Tsv:
        appendTsv(out, row, '\n');
        break;
    case Format::Jsonl:
        appendJson(out, row, "\"}\n");
        break;
    }
}

} // namespace RowFormats
