#include "RowFormats.h"

namespace RowFormats {

namespace {

constexpr char kHex[] = "0123456789abcdef";

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

void AppendTsvField(QByteArray& out, std::string_view text)
{
    std::size_t plain = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* escape = c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
        if (!escape)
            continue;
        out.append(text.data() + plain, qsizetype(i - plain));
        out.append(escape, 2);
        plain = i + 1;
    }
    out.append(text.data() + plain, qsizetype(text.size() - plain));
}

void AppendJsonString(QByteArray& out, std::string_view text)
{
    out.append('"');
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
            out.append(char(c));
            ++i;
            continue;
        }
        if (c >= 0x80) {
            if (const std::size_t length = validSequence(text.substr(i))) {
                out.append(text.data() + i, qsizetype(length));
                i += length;
            } else {
                out.append("\\udc", 4);
                out.append(kHex[c >> 4]);
                out.append(kHex[c & 0xF]);
                ++i;
            }
            continue;
        }
        switch (c) {
        case '"':
            out.append("\\\"", 2);
            break;
        case '\\':
            out.append("\\\\", 2);
            break;
        case '\n':
            out.append("\\n", 2);
            break;
        case '\r':
            out.append("\\r", 2);
            break;
        case '\t':
            out.append("\\t", 2);
            break;
        default:
            out.append("\\u00", 4);
            out.append(kHex[c >> 4]);
            out.append(kHex[c & 0xF]);
            break;
        }
        ++i;
    }
    out.append('"');
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
        AppendTsvField(prefix, path);
        prefix.append('\t');
        break;
    case Format::Jsonl:
        prefix = "{\"file\": ";
        AppendJsonString(prefix, path);
        prefix.append(", \"row\": ");
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
        AppendTsvField(out, row);
        out.append('\n');
        break;
    case Format::Jsonl:
        AppendJsonString(out, row);
        out.append("}\n", 2);
        break;
    }
}

} // namespace RowFormats
