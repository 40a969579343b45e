#include "HtmlEncoding.h"

#include <myhtml/myhtml.h>

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>

namespace HtmlEncoding {

bool isValidUtf8(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Plain ASCII eight bytes at a time: most of any page.
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        if (s[i + 1] < low || s[i + 1] > high)
            return false;
        for (std::size_t k = 2; k < length; ++k)
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

QByteArray repairUtf8(std::string_view bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())).toUtf8();
}

Detected detect(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF)
        return {MyENCODING_UTF_8, Source::ByteOrderMark, 3};
    if (bytes.size() >= 2 && s[0] == 0xFE && s[1] == 0xFF)
        return {MyENCODING_UTF_16BE, Source::ByteOrderMark, 2};
    if (bytes.size() >= 2 && s[0] == 0xFF && s[1] == 0xFE)
        return {MyENCODING_UTF_16LE, Source::ByteOrderMark, 2};

    // Browsers look for the declaration in the first 1024 bytes only.
    const std::size_t prescanLength = std::min<std::size_t>(bytes.size(), 1024);
    myencoding_t declared = myencoding_prescan_stream_to_determine_encoding(bytes.data(), prescanLength);
    if (declared != MyENCODING_NOT_DETERMINED && declared < MyENCODING_LAST_ENTRY) {
        // A page that claims UTF-16 without a byte-order mark was saved as ASCII-compatible
        // text; the standard reads it as UTF-8. x-user-defined means Windows-1252 for a file.
        if (declared == MyENCODING_UTF_16LE || declared == MyENCODING_UTF_16BE)
            declared = MyENCODING_UTF_8;
        else if (declared == MyENCODING_X_USER_DEFINED)
            declared = MyENCODING_WINDOWS_1252;
        return {int(declared), Source::Declaration, 0};
    }
    if (isValidUtf8(bytes))
        return {MyENCODING_UTF_8, Source::ValidUtf8, 0};
    return {MyENCODING_WINDOWS_1252, Source::Fallback, 0};
}

namespace {

// The WHATWG windows-1252 table from 0x80 to 0x9F; the rest of the bytes are Latin-1. The five
// bytes the code page leaves undefined become the C1 controls of the same value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QByteArray windows1252ToUtf8(std::string_view bytes)
{
    // At most three UTF-8 bytes a byte; written through a pointer, trimmed at the end.
    QByteArray out(qsizetype(bytes.size() * 3), Qt::Uninitialized);
    char* write = out.data();
    for (const char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        if (b < 0x80) {
            *write++ = byte;
            continue;
        }
        const char16_t c = b < 0xA0 ? kWindows1252High[b - 0x80] : char16_t(b);
        if (c < 0x800) {
            *write++ = char(0xC0 | (c >> 6));
            *write++ = char(0x80 | (c & 0x3F));
        } else {
            *write++ = char(0xE0 | (c >> 12));
            *write++ = char(0x80 | ((c >> 6) & 0x3F));
            *write++ = char(0x80 | (c & 0x3F));
        }
    }
    out.resize(write - out.constData());
    return out;
}

} // namespace

static std::optional<QByteArray> decodeToUtf8(std::string_view content, const Detected& detected)
{
    switch (detected.encoding) {
    case MyENCODING_UTF_8:
        if (detected.source == Source::ValidUtf8 || isValidUtf8(content))
            return std::nullopt;
        return repairUtf8(content);
    case MyENCODING_UTF_16LE:
    case MyENCODING_UTF_16BE: {
        QStringDecoder decoder(detected.encoding == MyENCODING_UTF_16LE ? QStringConverter::Utf16LE
                                                                        : QStringConverter::Utf16BE,
                               QStringConverter::Flag::Stateless);
        return QString(decoder.decode(QByteArrayView(content.data(), qsizetype(content.size())))).toUtf8();
    }
    case MyENCODING_WINDOWS_1252:
        return windows1252ToUtf8(content);
    default: {
        // MyHTML's own decoders for the other legacy encodings; what they give is checked, as
        // they have been seen to pass stray bytes through.
        mycore_string_raw_t raw;
        std::memset(&raw, 0, sizeof raw);
        myencoding_convert_to_ascii_utf_8(&raw, content.data(), content.size(), myencoding_t(detected.encoding));
        const std::string_view converted(raw.data ? raw.data : "", raw.data ? raw.length : 0);
        QByteArray out =
            isValidUtf8(converted) ? QByteArray(converted.data(), qsizetype(converted.size())) : repairUtf8(converted);
        mycore_string_raw_destroy(&raw, false);
        return out;
    }
    }
}

std::optional<QByteArray> toUtf8(std::string_view content, const Detected& detected)
{
    return decodeToUtf8(content, detected);
}

std::string_view name(int encoding)
{
    std::size_t length = 0;
    const char* text = myencoding_name_by_id(myencoding_t(encoding), &length);
    return text ? std::string_view(text, length) : std::string_view();
}

} // namespace HtmlEncoding
