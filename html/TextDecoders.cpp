#include "TextDecoders.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

using HtmlEncoding::Encoding;

namespace TextDecoders {

void Utf8Writer::grow(std::size_t count)
{
    const std::ptrdiff_t used = m_write - m_buffer.data();
    const qsizetype size = std::max<qsizetype>(m_buffer.size() + m_buffer.size() / 2, used + qsizetype(count) + 64);
    m_buffer.resize(size);
    m_write = m_buffer.data() + used;
    m_end = m_buffer.data() + m_buffer.size();
}

QByteArray Utf8Writer::take()
{
    const qsizetype used = m_write - m_buffer.data();
    m_buffer.resize(used);
    // The document keeps this buffer as long as it lives: give back a generous estimate.
    if (m_buffer.capacity() - used > used / 8 + 4096)
        m_buffer.squeeze();
    m_write = m_end = nullptr;
    return std::move(m_buffer);
}

namespace {

// Copies the ASCII run at `at` and moves past it.
inline void copyAscii(const unsigned char* s, std::size_t n, std::size_t& at, Utf8Writer& out)
{
    at = std::size_t(out.copyAscii(s + at, s + n) - s);
}

bool inRange(unsigned char b, unsigned char low, unsigned char high)
{
    return b >= low && b <= high;
}

// ---- Tables of characters, read from ICU ---------------------------------------------------
//
// The multi-byte tables are large, so they come from ICU's converters, one table per process,
// built the first time a page needs it. The converters were picked to match what browsers read;
// the few places where a converter differs are corrected below. Pointers are the positions of
// byte pairs in each table, computed the way the decoders compute them.

// One ICU converter, asked for one character at a time.
class IcuConverter
{
public:
    explicit IcuConverter(const char* name)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_converter = ucnv_open(name, &status);
        if (U_FAILURE(status)) {
            m_converter = nullptr;
            return;
        }
        // Stop at bytes the converter cannot map, rather than substituting (U+FFFD, or U+001A in
        // some converters): a gap must stay a gap, which our decoders turn into U+FFFD.
        ucnv_setToUCallBack(m_converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    ~IcuConverter()
    {
        if (m_converter)
            ucnv_close(m_converter);
    }
    IcuConverter(const IcuConverter&) = delete;
    IcuConverter& operator=(const IcuConverter&) = delete;

    // The one character the bytes stand for; 0 when they stand for none, or for several.
    char32_t codePoint(const char* bytes, int length)
    {
        if (!m_converter)
            return 0;
        ucnv_resetToUnicode(m_converter);
        UChar units[4];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t count = ucnv_toUChars(m_converter, units, 4, bytes, length, &status);
        if (U_FAILURE(status) || count <= 0 || count > 2)
            return 0;
        int32_t at = 0;
        UChar32 c;
        U16_NEXT(units, at, count, c);
        return at == count && !U_IS_SURROGATE(c) ? char32_t(c) : 0;
    }

private:
    UConverter* m_converter;
};

using Index = std::vector<char32_t>; // by pointer; 0 where nothing is mapped

template <typename BytesOf> Index readIndex(const char* converterName, std::size_t size, BytesOf bytesOf)
{
    Index index(size, 0);
    IcuConverter converter(converterName);
    for (std::size_t pointer = 0; pointer < size; ++pointer) {
        char bytes[4];
        const int length = bytesOf(unsigned(pointer), bytes);
        index[pointer] = converter.codePoint(bytes, length);
    }
    return index;
}

bool isPrivateUse(char32_t c)
{
    return c >= 0xE000 && c <= 0xF8FF;
}

// JIS X 0208 with NEC's and IBM's extensions: 94 cells to a row, two rows to a Shift_JIS lead
// byte. Windows' Shift_JIS (ICU's windows-31j, ibm-943_P15A-2003) holds exactly the characters
// browsers read. EUC-JP and ISO-2022-JP reach its first 94 rows.
const Index& jis0208()
{
    static const Index index = readIndex("windows-31j", 60 * 188, [](unsigned pointer, char* bytes) {
        const unsigned lead = pointer / 188, trail = pointer % 188;
        bytes[0] = char(lead < 0x1F ? lead + 0x81 : lead + 0xC1);
        bytes[1] = char(trail < 0x3F ? trail + 0x40 : trail + 0x41);
        return 2;
    });
    return index;
}

// JIS X 0212, the supplementary kanji EUC-JP reaches through 0x8F. ICU's euc-jp-2007 adds IBM's
// extensions from row 0xEE on, which browsers do not read.
const Index& jis0212()
{
    static const Index index = [] {
        Index read = readIndex("euc-jp-2007", 94 * 94, [](unsigned pointer, char* bytes) {
            bytes[0] = char(0x8F);
            bytes[1] = char(pointer / 94 + 0xA1);
            bytes[2] = char(pointer % 94 + 0xA1);
            return 3;
        });
        std::fill(read.begin() + (0xEE - 0xA1) * 94, read.end(), 0);
        return read;
    }();
    return index;
}

// EUC-KR as browsers read it is Windows' code page 949 (Unified Hangul Code): lead bytes from
// 0x81, 190 trail bytes from 0x41. ICU maps the user-defined rows 0xC9 and 0xFE to private use;
// browsers leave them undefined.
const Index& eucKrIndex()
{
    static const Index index = [] {
        Index read = readIndex("windows-949", 126 * 190, [](unsigned pointer, char* bytes) {
            bytes[0] = char(pointer / 190 + 0x81);
            bytes[1] = char(pointer % 190 + 0x41);
            return 2;
        });
        for (char32_t& c : read)
            if (isPrivateUse(c))
                c = 0;
        return read;
    }();
    return index;
}

// A byte pair and the character browsers read for it.
struct PairOverride
{
    std::uint16_t bytes;
    char32_t codePoint;
};

// The characters GB 18030-2022 moved out of private use: vertical punctuation and eight
// ideographs. Browsers read their two-byte forms as the standard characters, where ICU before
// version 73 still gives the 2005 edition's private-use ones; and they read the four-byte forms
// as the standard characters too, where ICU from version 73 on gives the private-use ones.
struct Gb18030Change
{
    std::uint16_t bytes;
    char32_t privateUse;
    char32_t codePoint;
};
constexpr Gb18030Change kGb18030Changes[] = {
    {0xA6D9, 0xE78D, 0xFE10}, {0xA6DA, 0xE78E, 0xFE12}, {0xA6DB, 0xE78F, 0xFE11}, {0xA6DC, 0xE790, 0xFE13},
    {0xA6DD, 0xE791, 0xFE14}, {0xA6DE, 0xE792, 0xFE15}, {0xA6DF, 0xE793, 0xFE16}, {0xA6EC, 0xE794, 0xFE17},
    {0xA6ED, 0xE795, 0xFE18}, {0xA6F3, 0xE796, 0xFE19}, {0xFE59, 0xE81E, 0x9FB4}, {0xFE61, 0xE826, 0x9FB5},
    {0xFE66, 0xE82B, 0x9FB6}, {0xFE67, 0xE82C, 0x9FB7}, {0xFE6D, 0xE832, 0x9FB8}, {0xFE7E, 0xE843, 0x9FB9},
    {0xFE90, 0xE854, 0x9FBA}, {0xFEA0, 0xE864, 0x9FBB},
};

unsigned gb18030Pointer(std::uint16_t bytes)
{
    const unsigned lead = bytes >> 8, trail = bytes & 0xFF;
    return (lead - 0x81) * 190 + trail - (trail < 0x7F ? 0x40 : 0x41);
}

// gb18030's (and GBK's) two-byte characters, 190 trail bytes to a lead byte.
const Index& gb18030Index()
{
    static const Index index = [] {
        Index read = readIndex("gb18030", 126 * 190, [](unsigned pointer, char* bytes) {
            const unsigned trail = pointer % 190;
            bytes[0] = char(pointer / 190 + 0x81);
            bytes[1] = char(trail < 0x3F ? trail + 0x40 : trail + 0x41);
            return 2;
        });
        for (const Gb18030Change& change : kGb18030Changes)
            read[gb18030Pointer(change.bytes)] = change.codePoint;
        // Browsers read 0xA3 0xA0 as an ideographic space, as pages written with it meant.
        read[gb18030Pointer(0xA3A0)] = 0x3000;
        return read;
    }();
    return index;
}

// gb18030's four-byte characters in the Basic Multilingual Plane: every character the two-byte
// table leaves out, in code point order. Only read when a page holds one.
const Index& gb18030FourByteIndex()
{
    static const Index index = [] {
        Index read = readIndex("gb18030", 39420, [](unsigned pointer, char* bytes) {
            bytes[0] = char(pointer / 12600 + 0x81);
            bytes[1] = char(pointer / 1260 % 10 + 0x30);
            bytes[2] = char(pointer / 10 % 126 + 0x81);
            bytes[3] = char(pointer % 10 + 0x30);
            return 4;
        });
        for (char32_t& c : read)
            for (const Gb18030Change& change : kGb18030Changes)
                if (c == change.privateUse)
                    c = change.codePoint;
        return read;
    }();
    return index;
}

// Big5 with the Hong Kong supplement (ICU's Big5-HKSCS, ibm-1375_P100-2008), 157 trail bytes to a
// lead byte. Where ICU has only a private-use character browsers read none, and where browsers
// read a character ICU lacks (HKSCS-2008 additions, duplicates kept for old pages, the control
// pictures of 0xA3C0) the tables below add it.
constexpr PairOverride kBig5Additions[] = {
    {0x87A4, 0x9F97}, {0x87AC, 0x9F96}, {0x8840, 0x31C0}, {0x8841, 0x31C1}, {0x8842, 0x31C2}, {0x8843, 0x31C3},
    {0x8844, 0x31C4}, {0x8846, 0x31C5}, {0x8849, 0x31C6}, {0x884A, 0x31C7}, {0x884D, 0x31C8}, {0x884F, 0x31C9},
    {0x8850, 0x31CA}, {0x8851, 0x31CB}, {0x8852, 0x31CC}, {0x8854, 0x31CD}, {0x8855, 0x31CE}, {0x88A9, 0x23DA},
    {0x88AA, 0x23DB}, {0x8C43, 0x9FA6}, {0x8C6D, 0x9FA7}, {0x8C74, 0x9FA8}, {0x8CB7, 0x9FA9}, {0x8CB9, 0x9FAA},
    {0x8CBB, 0x9FAB}, {0x8CC0, 0x9FAC}, {0x8CD7, 0x9FAD}, {0x8CD8, 0x9FAE}, {0x8CDA, 0x9FAF}, {0x8CED, 0x9FB2},
    {0x8D48, 0x9FB3}, {0x8E69, 0x7BB8}, {0x8E6F, 0x7C06}, {0x8E7E, 0x7CCE}, {0x8EAB, 0x7DD2}, {0x8EB4, 0x7E1D},
    {0x8ECD, 0x8005}, {0x8ED0, 0x8028}, {0x8F57, 0x83C1}, {0x8F69, 0x84A8}, {0x8F6E, 0x840F}, {0x8FCB, 0x89A6},
    {0x8FCC, 0x89A9}, {0x8FFE, 0x8D77}, {0x906D, 0x90FD}, {0x907A, 0x92B9}, {0x90DC, 0x975C}, {0x90F1, 0x97FF},
    {0x91BF, 0x9F16}, {0x9244, 0x8503}, {0x92AF, 0x5159}, {0x92B0, 0x515B}, {0x92B1, 0x515D}, {0x92B2, 0x515E},
    {0x92C8, 0x936E}, {0x92D1, 0x7479}, {0x9447, 0x6D67}, {0x94CA, 0x799B}, {0x95D9, 0x9097}, {0x9644, 0x975D},
    {0x96ED, 0x701E}, {0x96FC, 0x5B28}, {0x9B76, 0x7201}, {0x9B78, 0x77D7}, {0x9B7B, 0x7E87}, {0x9BC6, 0x99D6},
    {0x9BDE, 0x91D4}, {0x9BEC, 0x60DE}, {0x9BF6, 0x6FB6}, {0x9C42, 0x8F36}, {0x9C53, 0x4FBB}, {0x9C62, 0x71DF},
    {0x9C68, 0x9104}, {0x9C6B, 0x9DF0}, {0x9C77, 0x83CF}, {0x9CBC, 0x5C10}, {0x9CBD, 0x79E3}, {0x9CD0, 0x5A67},
    {0x9D57, 0x8F0B}, {0x9D5A, 0x7B51}, {0x9DC4, 0x62D0}, {0x9EA9, 0x6062}, {0x9EEF, 0x75F9}, {0x9EFD, 0x6C4A},
    {0x9F60, 0x9B2E}, {0x9F66, 0x9F17}, {0x9FCB, 0x50ED}, {0x9FD8, 0x5F0C}, {0xA063, 0x880F}, {0xA077, 0x62CE},
    {0xA0D5, 0x7468}, {0xA0DF, 0x7162}, {0xA0E4, 0x7250}, {0xC6CF, 0x5EF4}, {0xC6D3, 0x65E0}, {0xC6D5, 0x7676},
    {0xC6D7, 0x96B6}, {0xC6DE, 0x3003}, {0xC6DF, 0x4EDD}, {0xC879, 0x31CF}, {0xC8A1, 0x9FB0}, {0xC8A3, 0x9FB1},
    {0xFA5F, 0x5029}, {0xFA66, 0x507D}, {0xFABD, 0x5305}, {0xFAC5, 0x5344}, {0xFAD5, 0x537F}, {0xFB48, 0x5605},
    {0xFBB8, 0x5A77}, {0xFBF3, 0x5E75}, {0xFBF9, 0x5ED0}, {0xFC4F, 0x5F58}, {0xFC6C, 0x60A4}, {0xFCB9, 0x6490},
    {0xFCE2, 0x6674}, {0xFCF1, 0x675E}, {0xFDB7, 0x6C9C}, {0xFDB8, 0x6E1D}, {0xFDBB, 0x6E2F}, {0xFDF1, 0x716E},
    {0xFE52, 0x732A}, {0xFE6F, 0x745C}, {0xFEAA, 0x74E9}, {0xFEDD, 0x7809},
};

unsigned big5Pointer(std::uint16_t bytes)
{
    const unsigned lead = bytes >> 8, trail = bytes & 0xFF;
    return (lead - 0x81) * 157 + trail - (trail < 0x7F ? 0x40 : 0x62);
}

const Index& big5Index()
{
    static const Index index = [] {
        Index read = readIndex("Big5-HKSCS", 126 * 157, [](unsigned pointer, char* bytes) {
            const unsigned trail = pointer % 157;
            bytes[0] = char(pointer / 157 + 0x81);
            bytes[1] = char(trail < 0x3F ? trail + 0x40 : trail + 0x62);
            return 2;
        });
        for (char32_t& c : read)
            if (isPrivateUse(c))
                c = 0;
        for (const PairOverride& addition : kBig5Additions)
            read[big5Pointer(addition.bytes)] = addition.codePoint;
        // Control pictures: ␀ to ␟, then ␡.
        for (unsigned k = 0; k < 32; ++k)
            read[big5Pointer(std::uint16_t(0xA3C0 + k))] = 0x2400 + k;
        read[big5Pointer(0xA3E0)] = 0x2421;
        return read;
    }();
    return index;
}

// Four HKSCS pairs stand for a letter and a combining mark: Ê̄ Ê̌ ê̄ ê̌.
struct Big5Composed
{
    unsigned pointer;
    char32_t base;
    char32_t mark;
};

const Big5Composed* big5Composed(unsigned pointer)
{
    static constexpr Big5Composed composed[] = {
        {1133, 0x00CA, 0x0304}, {1135, 0x00CA, 0x030C}, {1164, 0x00EA, 0x0304}, {1166, 0x00EA, 0x030C}};
    for (const Big5Composed& entry : composed)
        if (entry.pointer == pointer)
            return &entry;
    return nullptr;
}

// ---- Single-byte encodings -----------------------------------------------------------------

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

// ---- The decoders --------------------------------------------------------------------------

void utf8(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i];
        std::size_t needed;
        unsigned char low = 0x80, high = 0xBF;
        if (inRange(lead, 0xC2, 0xDF)) {
            needed = 1;
        } else if (inRange(lead, 0xE0, 0xEF)) {
            needed = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F; // no surrogates
        } else if (inRange(lead, 0xF0, 0xF4)) {
            needed = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        } else {
            out.putReplacement();
            ++i;
            continue;
        }
        std::size_t seen = 0;
        while (seen < needed && i + 1 + seen < n && inRange(s[i + 1 + seen], low, high)) {
            ++seen;
            low = 0x80;
            high = 0xBF;
        }
        if (seen == needed) {
            out.putBytes(reinterpret_cast<const char*>(s + i), needed + 1);
        } else {
            // One U+FFFD for the lead and the continuation bytes that fitted it; the byte that did
            // not fit starts afresh.
            out.putReplacement();
        }
        i += seen + 1;
    }
}

void utf16(std::string_view bytes, bool bigEndian, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    char16_t leadSurrogate = 0;
    while (i + 1 < n) {
        const char16_t unit = bigEndian ? char16_t(s[i] << 8 | s[i + 1]) : char16_t(s[i + 1] << 8 | s[i]);
        if (leadSurrogate) {
            const char16_t lead = leadSurrogate;
            leadSurrogate = 0;
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                out.put(0x10000 + ((char32_t(lead) - 0xD800) << 10) + (unit - 0xDC00));
                i += 2;
            } else {
                out.putReplacement(); // the unit after a lone lead surrogate is read afresh
            }
            continue;
        }
        i += 2;
        if (unit >= 0xD800 && unit <= 0xDBFF)
            leadSurrogate = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            out.putReplacement();
        else
            out.put(unit);
    }
    // A lone lead surrogate, an odd last byte, or both: one U+FFFD.
    if (leadSurrogate || i < n)
        out.putReplacement();
}

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

void shiftJis(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const Index* jis = nullptr;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i++];
        if (lead == 0x80) {
            out.put(0x80);
            continue;
        }
        if (inRange(lead, 0xA1, 0xDF)) { // half-width katakana
            out.put(0xFF61 - 0xA1 + lead);
            continue;
        }
        if (!inRange(lead, 0x81, 0x9F) && !inRange(lead, 0xE0, 0xFC)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        const unsigned char trail = s[i];
        char32_t c = 0;
        if (inRange(trail, 0x40, 0x7E) || inRange(trail, 0x80, 0xFC)) {
            const unsigned pointer = (lead - (lead < 0xA0 ? 0x81 : 0xC1)) * 188 + trail - (trail < 0x7F ? 0x40 : 0x41);
            if (pointer >= 8836 && pointer <= 10715) {
                c = 0xE000 - 8836 + pointer; // the user-defined area, read as private use
            } else {
                if (!jis)
                    jis = &jis0208();
                c = (*jis)[pointer];
            }
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        // An ASCII byte cannot belong to a broken character: it is read again as itself.
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void eucJp(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        unsigned char lead = s[i++];
        if (lead != 0x8E && lead != 0x8F && !inRange(lead, 0xA1, 0xFE)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        unsigned char trail = s[i];
        if (lead == 0x8E && inRange(trail, 0xA1, 0xDF)) { // half-width katakana
            out.put(0xFF61 - 0xA1 + trail);
            ++i;
            continue;
        }
        bool supplementary = false;
        if (lead == 0x8F && inRange(trail, 0xA1, 0xFE)) { // JIS X 0212: two more bytes
            supplementary = true;
            lead = trail;
            if (++i == n) {
                out.putReplacement();
                break;
            }
            trail = s[i];
        }
        char32_t c = 0;
        if (inRange(lead, 0xA1, 0xFE) && inRange(trail, 0xA1, 0xFE)) {
            const unsigned pointer = (lead - 0xA1) * 94 + trail - 0xA1;
            c = supplementary ? jis0212()[pointer] : jis0208()[pointer];
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void iso2022Jp(std::string_view bytes, Utf8Writer& out)
{
    enum class State
    {
        Ascii,
        Roman, // JIS X 0201 Roman: ASCII with a yen sign and an overline
        Katakana,
        LeadByte,
        TrailByte,
        EscapeStart,
        Escape,
    };
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    State state = State::Ascii;
    State outputState = State::Ascii;
    unsigned char lead = 0;
    // Set by an escape sequence and cleared by any output: two escape sequences in a row are an
    // error, as they could hide text.
    bool escapedLast = false;
    std::size_t i = 0;
    for (;;) {
        if (i == n) {
            if (state == State::TrailByte || state == State::EscapeStart) {
                out.putReplacement();
            } else if (state == State::Escape) {
                // The byte after ESC is read again as text.
                out.putReplacement();
                state = outputState;
                escapedLast = false;
                i = n - 1;
                continue;
            }
            return;
        }
        const unsigned char b = s[i];
        switch (state) {
        case State::Ascii:
        case State::Roman:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (b >= 0x80 || b == 0x0E || b == 0x0F)
                out.putReplacement();
            else if (state == State::Roman && b == 0x5C)
                out.put(0x00A5);
            else if (state == State::Roman && b == 0x7E)
                out.put(0x203E);
            else
                out.put(b);
            break;
        case State::Katakana:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (inRange(b, 0x21, 0x5F))
                out.put(0xFF61 - 0x21 + b);
            else
                out.putReplacement();
            break;
        case State::LeadByte:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                break;
            }
            escapedLast = false;
            if (inRange(b, 0x21, 0x7E)) {
                lead = b;
                state = State::TrailByte;
            } else {
                out.putReplacement();
            }
            break;
        case State::TrailByte:
            ++i;
            if (b == 0x1B) {
                state = State::EscapeStart;
                out.putReplacement();
                break;
            }
            state = State::LeadByte;
            if (inRange(b, 0x21, 0x7E)) {
                const char32_t c = jis0208()[(lead - 0x21) * 94 + b - 0x21];
                if (c)
                    out.put(c);
                else
                    out.putReplacement();
            } else {
                out.putReplacement();
            }
            break;
        case State::EscapeStart:
            if (b == 0x24 || b == 0x28) {
                lead = b;
                state = State::Escape;
                ++i;
                break;
            }
            // Not an escape sequence: the byte is read again as text.
            escapedLast = false;
            state = outputState;
            out.putReplacement();
            break;
        case State::Escape: {
            std::optional<State> next;
            if (lead == 0x28 && b == 0x42)
                next = State::Ascii; // ESC ( B
            else if (lead == 0x28 && b == 0x4A)
                next = State::Roman; // ESC ( J
            else if (lead == 0x28 && b == 0x49)
                next = State::Katakana; // ESC ( I
            else if (lead == 0x24 && (b == 0x40 || b == 0x42))
                next = State::LeadByte; // ESC $ @, ESC $ B: JIS X 0208
            if (next) {
                ++i;
                state = outputState = *next;
                if (escapedLast)
                    out.putReplacement();
                escapedLast = true;
            } else {
                // Not an escape sequence: both bytes after ESC are read again as text.
                --i;
                escapedLast = false;
                state = outputState;
                out.putReplacement();
            }
            break;
        }
        }
    }
}

void eucKr(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const Index* index = nullptr;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i++];
        if (!inRange(lead, 0x81, 0xFE)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        const unsigned char trail = s[i];
        char32_t c = 0;
        if (inRange(trail, 0x41, 0xFE)) {
            if (!index)
                index = &eucKrIndex();
            c = (*index)[(lead - 0x81) * 190 + trail - 0x41];
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void gb18030(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const Index* index = nullptr;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char first = s[i++];
        if (first == 0x80) { // the euro sign of Windows' GBK
            out.put(0x20AC);
            continue;
        }
        if (first == 0xFF) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        const unsigned char second = s[i];
        if (inRange(second, 0x30, 0x39)) {
            // Four bytes: first, digit, 0x81-0xFE, digit. When the third or fourth byte does not
            // fit, the bytes after the first are read again, so the digit is text.
            if (i + 1 == n) {
                out.putReplacement();
                break;
            }
            const unsigned char third = s[i + 1];
            if (!inRange(third, 0x81, 0xFE)) {
                out.putReplacement();
                continue;
            }
            if (i + 2 == n) {
                out.putReplacement();
                break;
            }
            const unsigned char fourth = s[i + 2];
            if (!inRange(fourth, 0x30, 0x39)) {
                out.putReplacement();
                continue;
            }
            i += 3;
            const std::uint32_t pointer =
                (first - 0x81) * 12600 + (second - 0x30) * 1260 + (third - 0x81) * 10 + fourth - 0x30;
            char32_t c = 0;
            if (pointer == 7457)
                c = 0xE7C7; // the one character GB 18030-2005 moved into four bytes
            else if (pointer < 39420)
                c = gb18030FourByteIndex()[pointer];
            else if (pointer >= 189000 && pointer <= 1237575)
                c = 0x10000 + (pointer - 189000); // the supplementary planes, in order
            if (c)
                out.put(c);
            else
                out.putReplacement();
            continue;
        }
        char32_t c = 0;
        if (inRange(second, 0x40, 0x7E) || inRange(second, 0x80, 0xFE)) {
            if (!index)
                index = &gb18030Index();
            c = (*index)[(first - 0x81) * 190 + second - (second < 0x7F ? 0x40 : 0x41)];
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        if (second >= 0x80)
            ++i;
        out.putReplacement();
    }
}

void big5(std::string_view bytes, Utf8Writer& out)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    const Index* index = nullptr;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            copyAscii(s, n, i, out);
            continue;
        }
        const unsigned char lead = s[i++];
        if (!inRange(lead, 0x81, 0xFE)) {
            out.putReplacement();
            continue;
        }
        if (i == n) {
            out.putReplacement();
            break;
        }
        const unsigned char trail = s[i];
        char32_t c = 0;
        if (inRange(trail, 0x40, 0x7E) || inRange(trail, 0xA1, 0xFE)) {
            const unsigned pointer = (lead - 0x81) * 157 + trail - (trail < 0x7F ? 0x40 : 0x62);
            if (const Big5Composed* composed = big5Composed(pointer)) {
                out.put(composed->base);
                out.put(composed->mark);
                ++i;
                continue;
            }
            if (!index)
                index = &big5Index();
            c = (*index)[pointer];
        }
        if (c) {
            out.put(c);
            ++i;
            continue;
        }
        if (trail >= 0x80)
            ++i;
        out.putReplacement();
    }
}

} // namespace TextDecoders
