// The decoders of the single-byte encodings: one table per encoding of what its bytes above ASCII
// stand for, each encoded as UTF-8 ahead of time.

#include "DecoderBytes.h"
#include "IcuTables.h"
#include "TextDecoders.h"

#include <array>
#include <mutex>

using HtmlEncoding::Encoding;

namespace TextDecoders {

namespace {

// Bytes 0x80 to 0xFF of one encoding, each encoded ahead of time for Utf8Writer::putEncoded.
struct SingleByteTable
{
    char encoded[128][4];
};

// 0 marks a byte the encoding leaves undefined.
SingleByteTable encodeTable(const std::array<char16_t, 128>& high)
{
    SingleByteTable table{};
    for (std::size_t k = 0; k < 128; ++k) {
        const char16_t c = high[k] ? high[k] : char16_t(0xFFFD);
        char* e = table.encoded[k];
        if (c < 0x800) {
            e[0] = char(0xC0 | (c >> 6));
            e[1] = char(0x80 | (c & 0x3F));
            e[3] = 2;
        } else {
            e[0] = char(0xE0 | (c >> 12));
            e[1] = char(0x80 | ((c >> 6) & 0x3F));
            e[2] = char(0x80 | (c & 0x3F));
            e[3] = 3;
        }
    }
    return table;
}

// Windows-1252 from 0x80 to 0x9F; the rest of the bytes are Latin-1. The five bytes the code page
// leaves undefined become the C1 controls of the same value, as in browsers. Written out: it is the
// fallback for every page without a declaration, and needs no converter.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct ByteOverride
{
    unsigned char byte;
    char16_t codePoint; // 0: undefined
};

// ISO-8859-16, which ICU's usual data leaves out: the bytes where it differs from Latin-1.
constexpr ByteOverride kIso8859_16[] = {
    {0xA1, 0x0104}, {0xA2, 0x0105}, {0xA3, 0x0141}, {0xA4, 0x20AC}, {0xA5, 0x201E}, {0xA6, 0x0160}, {0xA8, 0x0161},
    {0xAA, 0x0218}, {0xAC, 0x0179}, {0xAE, 0x017A}, {0xAF, 0x017B}, {0xB2, 0x010C}, {0xB3, 0x0142}, {0xB4, 0x017D},
    {0xB5, 0x201D}, {0xB8, 0x017E}, {0xB9, 0x010D}, {0xBA, 0x0219}, {0xBC, 0x0152}, {0xBD, 0x0153}, {0xBE, 0x0178},
    {0xBF, 0x017C}, {0xC3, 0x0102}, {0xC5, 0x0106}, {0xD0, 0x0110}, {0xD1, 0x0143}, {0xD5, 0x0150}, {0xD7, 0x015A},
    {0xD8, 0x0170}, {0xDD, 0x0118}, {0xDE, 0x021A}, {0xE3, 0x0103}, {0xE5, 0x0107}, {0xF0, 0x0111}, {0xF1, 0x0144},
    {0xF5, 0x0151}, {0xF7, 0x015B}, {0xF8, 0x0171}, {0xFD, 0x0119}, {0xFE, 0x021B},
};

// Where browsers read a byte differently from ICU's table.
constexpr ByteOverride kKoi8U[] = {
    {0xAE, 0x045E}, {0xBE, 0x040E}, // the Belarusian short U of KOI8-RU
};
constexpr ByteOverride kWindows874[] = {
    // ICU fills the bytes Thai leaves undefined with private-use characters.
    {0xDB, 0}, {0xDC, 0}, {0xDD, 0}, {0xDE, 0}, {0xFC, 0}, {0xFD, 0}, {0xFE, 0}, {0xFF, 0},
};
constexpr ByteOverride kWindows1253[] = {{0xAA, 0}};      // undefined, where ICU reads U+00AA
constexpr ByteOverride kWindows1255[] = {{0xCA, 0x05BA}}; // Hebrew point qamats qatan

struct SingleByteSource
{
    const char* converter; // ICU's, or null for a table written here
    const ByteOverride* overrides;
    std::size_t overrideCount;
};

template <std::size_t N> constexpr SingleByteSource fromIcu(const char* converter, const ByteOverride (&overrides)[N])
{
    return {converter, overrides, N};
}
constexpr SingleByteSource fromIcu(const char* converter)
{
    return {converter, nullptr, 0};
}

SingleByteSource singleByteSource(Encoding encoding)
{
    switch (encoding) {
    case Encoding::Ibm866:
        return fromIcu("ibm-866");
    case Encoding::Iso8859_2:
        return fromIcu("ISO-8859-2");
    case Encoding::Iso8859_3:
        return fromIcu("ISO-8859-3");
    case Encoding::Iso8859_4:
        return fromIcu("ISO-8859-4");
    case Encoding::Iso8859_5:
        return fromIcu("ISO-8859-5");
    case Encoding::Iso8859_6:
        return fromIcu("ISO-8859-6");
    case Encoding::Iso8859_7:
        return fromIcu("ISO-8859-7");
    case Encoding::Iso8859_8:
    case Encoding::Iso8859_8I: // the same characters; only the display order differs
        return fromIcu("ISO-8859-8");
    case Encoding::Iso8859_10:
        return fromIcu("ISO-8859-10");
    case Encoding::Iso8859_13:
        return fromIcu("ISO-8859-13");
    case Encoding::Iso8859_14:
        return fromIcu("ISO-8859-14");
    case Encoding::Iso8859_15:
        return fromIcu("ISO-8859-15");
    case Encoding::Iso8859_16:
        return {nullptr, kIso8859_16, std::size(kIso8859_16)};
    case Encoding::Koi8R:
        return fromIcu("KOI8-R");
    case Encoding::Koi8U:
        return fromIcu("KOI8-U", kKoi8U);
    case Encoding::Macintosh:
        return fromIcu("macintosh");
    case Encoding::Windows874:
        return fromIcu("windows-874", kWindows874);
    case Encoding::Windows1250:
        return fromIcu("windows-1250");
    case Encoding::Windows1251:
        return fromIcu("windows-1251");
    case Encoding::Windows1253:
        return fromIcu("windows-1253", kWindows1253);
    case Encoding::Windows1254:
        return fromIcu("windows-1254");
    case Encoding::Windows1255:
        return fromIcu("windows-1255", kWindows1255);
    case Encoding::Windows1256:
        return fromIcu("windows-1256");
    case Encoding::Windows1257:
        return fromIcu("windows-1257");
    case Encoding::Windows1258:
        return fromIcu("windows-1258");
    case Encoding::XMacCyrillic:
        return fromIcu("x-mac-cyrillic");
    default:
        return {nullptr, nullptr, 0};
    }
}

SingleByteTable makeSingleByteTable(Encoding encoding)
{
    std::array<char16_t, 128> high{};
    if (encoding == Encoding::Windows1252) {
        for (std::size_t k = 0; k < 128; ++k)
            high[k] = k < 32 ? kWindows1252High[k] : char16_t(0x80 + k);
        return encodeTable(high);
    }
    if (encoding == Encoding::XUserDefined) {
        // Bytes above ASCII become private-use characters, so that binary data read as text survives.
        for (std::size_t k = 0; k < 128; ++k)
            high[k] = char16_t(0xF780 + k);
        return encodeTable(high);
    }
    const SingleByteSource source = singleByteSource(encoding);
    if (source.converter) {
        IcuConverter converter(source.converter);
        for (std::size_t k = 0; k < 128; ++k) {
            const char byte = char(0x80 + k);
            const char32_t c = converter.codePoint(&byte, 1);
            high[k] = c < 0x10000 ? char16_t(c) : 0;
        }
    } else {
        for (std::size_t k = 0; k < 128; ++k)
            high[k] = char16_t(0x80 + k);
    }
    for (std::size_t k = 0; k < source.overrideCount; ++k)
        high[source.overrides[k].byte - 0x80] = source.overrides[k].codePoint;
    return encodeTable(high);
}

constexpr std::size_t kEncodingCount = std::size_t(Encoding::XUserDefined) + 1;

const SingleByteTable& singleByteTable(Encoding encoding)
{
    static std::array<std::once_flag, kEncodingCount> built;
    static std::array<SingleByteTable, kEncodingCount> tables;
    const auto at = std::size_t(encoding);
    std::call_once(built[at], [at, encoding] { tables[at] = makeSingleByteTable(encoding); });
    return tables[at];
}

} // namespace

void singleByte(std::string_view bytes, Encoding encoding, Utf8Writer& out)
{
    const SingleByteTable& table = singleByteTable(encoding);
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        copyAscii(s, n, i, out);
        while (i < n && s[i] >= 0x80)
            out.putEncoded(table.encoded[s[i++] - 0x80]);
    }
}

} // namespace TextDecoders
