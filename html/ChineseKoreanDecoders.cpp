// The decoders of the Korean and Chinese encodings, and their tables: EUC-KR, gb18030 (GBK too)
// and Big5.

#include "DecoderBytes.h"
#include "IcuTables.h"
#include "TextDecoders.h"

#include <cstdint>

namespace TextDecoders {

namespace {

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

} // namespace

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
