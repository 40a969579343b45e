// The encodings' labels, as browsers accept them in a declaration, and their canonical names.

#include "AsciiBytes.h"
#include "HtmlEncoding.h"

#include <algorithm>
#include <array>
#include <utility>

namespace HtmlEncoding {

namespace {

// Every label browsers accept, lower case, separated by spaces.
constexpr std::pair<Encoding, std::string_view> kLabels[] = {
    {Encoding::Utf8, "unicode-1-1-utf-8 unicode11utf8 unicode20utf8 utf-8 utf8 x-unicode20utf8"},
    {Encoding::Ibm866, "866 cp866 csibm866 ibm866"},
    {Encoding::Iso8859_2, "csisolatin2 iso-8859-2 iso-ir-101 iso8859-2 iso88592 iso_8859-2 iso_8859-2:1987 l2 latin2"},
    {Encoding::Iso8859_3, "csisolatin3 iso-8859-3 iso-ir-109 iso8859-3 iso88593 iso_8859-3 iso_8859-3:1988 l3 latin3"},
    {Encoding::Iso8859_4, "csisolatin4 iso-8859-4 iso-ir-110 iso8859-4 iso88594 iso_8859-4 iso_8859-4:1988 l4 latin4"},
    {Encoding::Iso8859_5,
     "csisolatincyrillic cyrillic iso-8859-5 iso-ir-144 iso8859-5 iso88595 iso_8859-5 iso_8859-5:1988"},
    {Encoding::Iso8859_6, "arabic asmo-708 csiso88596e csiso88596i csisolatinarabic ecma-114 iso-8859-6 iso-8859-6-e "
                          "iso-8859-6-i iso-ir-127 iso8859-6 iso88596 iso_8859-6 iso_8859-6:1987"},
    {Encoding::Iso8859_7, "csisolatingreek ecma-118 elot_928 greek greek8 iso-8859-7 iso-ir-126 iso8859-7 iso88597 "
                          "iso_8859-7 iso_8859-7:1987 sun_eu_greek"},
    {Encoding::Iso8859_8, "csiso88598e csisolatinhebrew hebrew iso-8859-8 iso-8859-8-e iso-ir-138 iso8859-8 iso88598 "
                          "iso_8859-8 iso_8859-8:1988 visual"},
    {Encoding::Iso8859_8I, "csiso88598i iso-8859-8-i logical"},
    {Encoding::Iso8859_10, "csisolatin6 iso-8859-10 iso-ir-157 iso8859-10 iso885910 l6 latin6"},
    {Encoding::Iso8859_13, "iso-8859-13 iso8859-13 iso885913"},
    {Encoding::Iso8859_14, "iso-8859-14 iso8859-14 iso885914"},
    {Encoding::Iso8859_15, "csisolatin9 iso-8859-15 iso8859-15 iso885915 iso_8859-15 l9"},
    {Encoding::Iso8859_16, "iso-8859-16"},
    {Encoding::Koi8R, "cskoi8r koi koi8 koi8-r koi8_r"},
    {Encoding::Koi8U, "koi8-ru koi8-u"},
    {Encoding::Macintosh, "csmacintosh mac macintosh x-mac-roman"},
    {Encoding::Windows874, "dos-874 iso-8859-11 iso8859-11 iso885911 tis-620 windows-874"},
    {Encoding::Windows1250, "cp1250 windows-1250 x-cp1250"},
    {Encoding::Windows1251, "cp1251 windows-1251 x-cp1251"},
    // Browsers read Latin-1 and ASCII as windows-1252, which they contain.
    {Encoding::Windows1252, "ansi_x3.4-1968 ascii cp1252 cp819 csisolatin1 ibm819 iso-8859-1 iso-ir-100 iso8859-1 "
                            "iso88591 iso_8859-1 iso_8859-1:1987 l1 latin1 us-ascii windows-1252 x-cp1252"},
    {Encoding::Windows1253, "cp1253 windows-1253 x-cp1253"},
    // Likewise Latin-5 as windows-1254.
    {Encoding::Windows1254, "cp1254 csisolatin5 iso-8859-9 iso-ir-148 iso8859-9 iso88599 iso_8859-9 iso_8859-9:1989 l5 "
                            "latin5 windows-1254 x-cp1254"},
    {Encoding::Windows1255, "cp1255 windows-1255 x-cp1255"},
    {Encoding::Windows1256, "cp1256 windows-1256 x-cp1256"},
    {Encoding::Windows1257, "cp1257 windows-1257 x-cp1257"},
    {Encoding::Windows1258, "cp1258 windows-1258 x-cp1258"},
    {Encoding::XMacCyrillic, "x-mac-cyrillic x-mac-ukrainian"},
    // GB 2312 pages are read as GBK, its superset.
    {Encoding::Gbk, "chinese csgb2312 csiso58gb231280 gb2312 gb_2312 gb_2312-80 gbk iso-ir-58 x-gbk"},
    {Encoding::Gb18030, "gb18030"},
    {Encoding::Big5, "big5 big5-hkscs cn-big5 csbig5 x-x-big5"},
    {Encoding::EucJp, "cseucpkdfmtjapanese euc-jp x-euc-jp"},
    {Encoding::Iso2022Jp, "csiso2022jp iso-2022-jp"},
    // Shift_JIS pages are read with Windows' extensions, whatever they are called.
    {Encoding::ShiftJis, "csshiftjis ms932 ms_kanji shift-jis shift_jis sjis windows-31j x-sjis"},
    // EUC-KR pages are read as windows-949, its superset.
    {Encoding::EucKr,
     "cseuckr csksc56011987 euc-kr iso-ir-149 korean ks_c_5601-1987 ks_c_5601-1989 ksc5601 ksc_5601 windows-949"},
    // Encodings whose shift sequences let a page hide markup from anything scanning its bytes: browsers decode
    // none of them.
    {Encoding::Replacement, "csiso2022kr hz-gb-2312 iso-2022-cn iso-2022-cn-ext iso-2022-kr replacement"},
    {Encoding::Utf16Be, "unicodefffe utf-16be"},
    {Encoding::Utf16Le, "csunicode iso-10646-ucs-2 ucs-2 unicode unicodefeff utf-16 utf-16le"},
    {Encoding::XUserDefined, "x-user-defined"},
};

constexpr std::string_view kNames[] = {
    "UTF-8",          "IBM866",       "ISO-8859-2",   "ISO-8859-3",   "ISO-8859-4",     "ISO-8859-5",   "ISO-8859-6",
    "ISO-8859-7",     "ISO-8859-8",   "ISO-8859-8-I", "ISO-8859-10",  "ISO-8859-13",    "ISO-8859-14",  "ISO-8859-15",
    "ISO-8859-16",    "KOI8-R",       "KOI8-U",       "macintosh",    "windows-874",    "windows-1250", "windows-1251",
    "windows-1252",   "windows-1253", "windows-1254", "windows-1255", "windows-1256",   "windows-1257", "windows-1258",
    "x-mac-cyrillic", "GBK",          "gb18030",      "Big5",         "EUC-JP",         "ISO-2022-JP",  "Shift_JIS",
    "EUC-KR",         "replacement",  "UTF-16BE",     "UTF-16LE",     "x-user-defined",
};
static_assert(std::size(kNames) == std::size_t(Encoding::XUserDefined) + 1);

} // namespace

std::optional<Encoding> encodingForLabel(std::string_view label)
{
    while (!label.empty() && isSpace(static_cast<unsigned char>(label.front())))
        label.remove_prefix(1);
    while (!label.empty() && isSpace(static_cast<unsigned char>(label.back())))
        label.remove_suffix(1);
    std::array<char, 24> lower;
    if (label.empty() || label.size() > lower.size())
        return std::nullopt;
    std::transform(label.begin(), label.end(), lower.begin(),
                   [](char c) { return char(toLower(static_cast<unsigned char>(c))); });
    const std::string_view key(lower.data(), label.size());
    for (const auto& [encoding, labels] : kLabels) {
        for (std::size_t at = 0; at < labels.size();) {
            const std::size_t end = std::min(labels.find(' ', at), labels.size());
            if (labels.substr(at, end - at) == key)
                return encoding;
            at = end + 1;
        }
    }
    return std::nullopt;
}

std::string_view name(Encoding encoding)
{
    return kNames[std::size_t(encoding)];
}

} // namespace HtmlEncoding
