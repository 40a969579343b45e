#include "HtmlEncoding.h"

#include <myhtml/myhtml.h>

#include <QString>

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

std::string_view name(int encoding)
{
    std::size_t length = 0;
    const char* text = myencoding_name_by_id(myencoding_t(encoding), &length);
    return text ? std::string_view(text, length) : std::string_view();
}

} // namespace HtmlEncoding
