// Turning a page's bytes into valid UTF-8: checking and repairing UTF-8, and choosing the decoder
// for any other encoding.

#include "HtmlEncoding.h"
#include "TextDecoders.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace HtmlEncoding {

namespace {

bool isAscii(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::uint64_t any = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, s + i, 8);
        any |= word;
    }
    for (; i < n; ++i)
        any |= s[i];
    return (any & 0x8080808080808080ULL) == 0;
}

} // namespace

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
    TextDecoders::Utf8Writer out(bytes.size());
    TextDecoders::utf8(bytes, out);
    return out.take();
}

QByteArray decode(std::string_view bytes, Encoding encoding)
{
    using namespace TextDecoders;
    const std::size_t n = bytes.size();
    switch (encoding) {
    case Encoding::Replacement:
        return n ? QByteArray("\xEF\xBF\xBD") : QByteArray();
    case Encoding::Utf8: {
        Utf8Writer out(n);
        utf8(bytes, out);
        return out.take();
    }
    case Encoding::Utf16Be:
    case Encoding::Utf16Le: {
        Utf8Writer out(n + n / 2);
        utf16(bytes, encoding == Encoding::Utf16Be, out);
        return out.take();
    }
    case Encoding::ShiftJis:
    case Encoding::EucJp:
    case Encoding::Iso2022Jp:
    case Encoding::EucKr:
    case Encoding::Gbk:
    case Encoding::Gb18030:
    case Encoding::Big5: {
        // Two bytes make most characters, which take three in UTF-8.
        Utf8Writer out(n + n / 2);
        if (encoding == Encoding::ShiftJis)
            shiftJis(bytes, out);
        else if (encoding == Encoding::EucJp)
            eucJp(bytes, out);
        else if (encoding == Encoding::Iso2022Jp)
            iso2022Jp(bytes, out);
        else if (encoding == Encoding::EucKr)
            eucKr(bytes, out);
        else if (encoding == Encoding::Big5)
            big5(bytes, out);
        else
            gb18030(bytes, out); // GBK pages included
        return out.take();
    }
    default: {
        // A byte above ASCII takes at most three bytes in UTF-8.
        const auto high = std::size_t(std::count_if(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; }));
        Utf8Writer out(n + 2 * high);
        singleByte(bytes, encoding, out);
        return out.take();
    }
    }
}

static std::optional<QByteArray> decodeToUtf8(std::string_view content, const Detected& detected)
{
    switch (detected.encoding) {
    case Encoding::Utf8:
        if (detected.source == Source::ValidUtf8 || isValidUtf8(content))
            return std::nullopt;
        return repairUtf8(content);
    case Encoding::Utf16Be:
    case Encoding::Utf16Le:
    case Encoding::Iso2022Jp:
    case Encoding::Replacement:
        return decode(content, detected.encoding);
    default:
        // Every other encoding reads ASCII as itself.
        if (isAscii(content))
            return std::nullopt;
        return decode(content, detected.encoding);
    }
}

std::optional<QByteArray> toUtf8(std::string_view content, const Detected& detected)
{
    return decodeToUtf8(content, detected);
}

} // namespace HtmlEncoding
