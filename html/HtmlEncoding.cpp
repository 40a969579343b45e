#include "HtmlEncoding.h"

#include "TextDecoders.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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

// White space as HTML and the label lookup know it.
bool isSpace(unsigned char b)
{
    return b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}

unsigned char toLower(unsigned char b)
{
    return b >= 'A' && b <= 'Z' ? b + 0x20 : b;
}

bool isAsciiLetter(unsigned char b)
{
    return toLower(b) >= 'a' && toLower(b) <= 'z';
}

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

// ---- Finding a page's own declaration ------------------------------------------------------
//
// Browsers look for a <meta> naming the encoding in the first 1024 bytes, with a scan that knows
// just enough HTML to skip comments and other tags' attribute values. Reaching the end of those
// bytes anywhere, even inside a tag, ends the scan.

struct Attribute
{
    std::string name;
    std::string value;
};

enum class Got
{
    Attribute,
    None, // at '>': the tag has no more attributes
    End,  // the bytes ran out
};

// Reads the attribute at `at` the way browsers read one while scanning, lower-casing ASCII.
Got getAttribute(std::string_view s, std::size_t& at, Attribute& attribute)
{
    const std::size_t n = s.size();
    const auto byte = [s](std::size_t k) {
        return static_cast<unsigned char>(s[k]);
    };
    while (at < n && (isSpace(byte(at)) || byte(at) == '/'))
        ++at;
    if (at == n)
        return Got::End;
    if (byte(at) == '>')
        return Got::None;
    attribute.name.clear();
    attribute.value.clear();

    // The name runs to white space, '/', '>' or '='; a leading '=' is part of it.
    bool equals = false;
    for (;; ++at) {
        if (at == n)
            return Got::End;
        const unsigned char b = byte(at);
        if (b == '=' && !attribute.name.empty()) {
            equals = true;
            ++at;
            break;
        }
        if (isSpace(b))
            break;
        if (b == '/' || b == '>')
            return Got::Attribute;
        attribute.name += char(toLower(b));
    }
    if (!equals) {
        while (at < n && isSpace(byte(at)))
            ++at;
        if (at == n)
            return Got::End;
        if (byte(at) != '=')
            return Got::Attribute; // a name without a value; the next attribute starts here
        ++at;
    }

    while (at < n && isSpace(byte(at)))
        ++at;
    if (at == n)
        return Got::End;
    const unsigned char first = byte(at);
    if (first == '"' || first == '\'') {
        for (++at; at < n; ++at) {
            if (byte(at) == first) {
                ++at;
                return Got::Attribute;
            }
            attribute.value += char(toLower(byte(at)));
        }
        return Got::End;
    }
    if (first == '>')
        return Got::Attribute;
    for (; at < n; ++at) {
        const unsigned char b = byte(at);
        if (isSpace(b) || b == '>')
            return Got::Attribute;
        attribute.value += char(toLower(b));
    }
    return Got::End;
}

// The encoding named by "charset=" in a content type ("text/html; charset=shift_jis"); nothing when
// it names none a browser knows.
std::optional<Encoding> encodingFromContentType(std::string_view s)
{
    const std::size_t n = s.size();
    std::size_t at = 0;
    for (;;) {
        std::size_t found = std::string_view::npos;
        for (std::size_t k = at; k + 7 <= n && found == std::string_view::npos; ++k) {
            bool match = true;
            for (std::size_t j = 0; j < 7 && match; ++j)
                match = toLower(static_cast<unsigned char>(s[k + j])) == "charset"[j];
            if (match)
                found = k;
        }
        if (found == std::string_view::npos)
            return std::nullopt;
        at = found + 7;
        while (at < n && isSpace(static_cast<unsigned char>(s[at])))
            ++at;
        if (at == n || s[at] != '=')
            continue; // "charset" without a value: look further on
        ++at;
        while (at < n && isSpace(static_cast<unsigned char>(s[at])))
            ++at;
        if (at == n)
            return std::nullopt;
        const char quote = s[at];
        if (quote == '"' || quote == '\'') {
            const std::size_t close = s.find(quote, at + 1);
            if (close == std::string_view::npos)
                return std::nullopt;
            return encodingForLabel(s.substr(at + 1, close - at - 1));
        }
        std::size_t end = at;
        while (end < n && !isSpace(static_cast<unsigned char>(s[end])) && s[end] != ';')
            ++end;
        return encodingForLabel(s.substr(at, end - at));
    }
}

enum class Meta
{
    Declares,
    DeclaresNothing,
    End, // the bytes ran out inside it
};

// What a <meta> starting after "<meta" declares; advances `at` to its '>'.
Meta readMeta(std::string_view s, std::size_t& at, Encoding& declared)
{
    std::vector<std::string> seen;
    bool gotPragma = false;
    // A content type counts only with http-equiv="content-type" beside it; a charset attribute
    // counts on its own.
    std::optional<bool> needPragma;
    // A charset attribute naming no known encoding makes the whole element name none.
    enum class Charset
    {
        None,
        Unknown,
        Known,
    } charset = Charset::None;
    Attribute attribute;
    for (;;) {
        const Got got = getAttribute(s, at, attribute);
        if (got == Got::End)
            return Meta::End;
        if (got == Got::None)
            break;
        if (std::find(seen.begin(), seen.end(), attribute.name) != seen.end())
            continue; // only the first of a repeated attribute counts
        seen.push_back(attribute.name);
        if (attribute.name == "http-equiv") {
            if (attribute.value == "content-type")
                gotPragma = true;
        } else if (attribute.name == "content") {
            const std::optional<Encoding> named = encodingFromContentType(attribute.value);
            if (named && charset == Charset::None) {
                declared = *named;
                charset = Charset::Known;
                needPragma = true;
            }
        } else if (attribute.name == "charset") {
            const std::optional<Encoding> named = encodingForLabel(attribute.value);
            charset = named ? Charset::Known : Charset::Unknown;
            if (named)
                declared = *named;
            needPragma = false;
        }
    }
    if (!needPragma || (*needPragma && !gotPragma) || charset != Charset::Known)
        return Meta::DeclaresNothing;
    // A <meta> that could be read as ASCII was not written in UTF-16; browsers read the page as
    // UTF-8. x-user-defined is read as windows-1252.
    if (declared == Encoding::Utf16Be || declared == Encoding::Utf16Le)
        declared = Encoding::Utf8;
    else if (declared == Encoding::XUserDefined)
        declared = Encoding::Windows1252;
    return Meta::Declares;
}

bool startsWithAt(std::string_view s, std::size_t at, std::string_view prefix)
{
    return s.substr(at, prefix.size()) == prefix;
}

// The first <meta> that names an encoding; nothing when the bytes run out first.
std::optional<Encoding> scanMarkup(std::string_view s)
{
    const std::size_t n = s.size();
    const auto byte = [s](std::size_t k) {
        return static_cast<unsigned char>(s[k]);
    };
    std::size_t at = 0;
    while (at < n) {
        if (startsWithAt(s, at, "<!--")) {
            // The comment ends at the first "-->", whose dashes may be those of "<!--".
            std::size_t end = at + 4;
            while (end < n && !(byte(end) == '>' && byte(end - 1) == '-' && byte(end - 2) == '-'))
                ++end;
            if (end >= n)
                return std::nullopt;
            at = end + 1;
            continue;
        }
        if (at + 5 < n && byte(at) == '<' && toLower(byte(at + 1)) == 'm' && toLower(byte(at + 2)) == 'e' &&
            toLower(byte(at + 3)) == 't' && toLower(byte(at + 4)) == 'a' &&
            (isSpace(byte(at + 5)) || byte(at + 5) == '/')) {
            at += 5;
            Encoding declared = Encoding::Utf8;
            const Meta meta = readMeta(s, at, declared);
            if (meta == Meta::End)
                return std::nullopt;
            if (meta == Meta::Declares)
                return declared;
            ++at;
            continue;
        }
        if (byte(at) == '<' && at + 1 < n &&
            (isAsciiLetter(byte(at + 1)) || (byte(at + 1) == '/' && at + 2 < n && isAsciiLetter(byte(at + 2))))) {
            // Another tag: its attributes are read only so that a quoted "<meta" in one is skipped.
            while (at < n && !isSpace(byte(at)) && byte(at) != '>')
                ++at;
            Attribute attribute;
            Got got;
            while ((got = getAttribute(s, at, attribute)) == Got::Attribute) {
            }
            if (got == Got::End)
                return std::nullopt;
            ++at;
            continue;
        }
        if (byte(at) == '<' && at + 1 < n && (byte(at + 1) == '!' || byte(at + 1) == '/' || byte(at + 1) == '?')) {
            const std::size_t end = s.find('>', at + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            at = end + 1;
            continue;
        }
        ++at;
    }
    return std::nullopt;
}

bool isByteAtMost0x20(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

// The encoding an XML declaration opening the page names (<?xml version="1.0" encoding="...">),
// which browsers honour when no <meta> names one.
std::optional<Encoding> xmlDeclarationEncoding(std::string_view s)
{
    if (!s.starts_with("<?xml"))
        return std::nullopt;
    const std::size_t close = s.find('>');
    if (close == std::string_view::npos)
        return std::nullopt;
    const std::string_view declaration = s.substr(0, close);
    std::size_t at = declaration.find("encoding");
    if (at == std::string_view::npos)
        return std::nullopt;
    at += 8;
    while (at < declaration.size() && isByteAtMost0x20(declaration[at]))
        ++at;
    if (at == declaration.size() || declaration[at] != '=')
        return std::nullopt;
    ++at;
    while (at < declaration.size() && isByteAtMost0x20(declaration[at]))
        ++at;
    if (at == declaration.size() || (declaration[at] != '"' && declaration[at] != '\''))
        return std::nullopt;
    const std::size_t end = declaration.find(declaration[at], at + 1);
    if (end == std::string_view::npos)
        return std::nullopt;
    const std::string_view label = declaration.substr(at + 1, end - at - 1);
    if (label.empty() || std::any_of(label.begin(), label.end(), isByteAtMost0x20))
        return std::nullopt;
    const std::optional<Encoding> named = encodingForLabel(label);
    if (named == Encoding::Utf16Be || named == Encoding::Utf16Le)
        return Encoding::Utf8;
    return named;
}

std::optional<Encoding> prescan(std::string_view head)
{
    // "<?x" in UTF-16 opens an XML declaration written in UTF-16: the page is UTF-16 even without
    // a byte-order mark.
    if (head.starts_with(std::string_view("<\0?\0x\0", 6)))
        return Encoding::Utf16Le;
    if (head.starts_with(std::string_view("\0<\0?\0x", 6)))
        return Encoding::Utf16Be;
    if (const std::optional<Encoding> declared = scanMarkup(head))
        return declared;
    return xmlDeclarationEncoding(head);
}

// Browsers fall back on the encoding of the user's locale, windows-1252 for most of them; a
// Windows build would map the ANSI code page (GetACP) to an Encoding here.
Encoding fallbackEncoding()
{
    return Encoding::Windows1252;
}

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

Detected detect(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF)
        return {Encoding::Utf8, Source::ByteOrderMark, 3};
    if (bytes.size() >= 2 && s[0] == 0xFE && s[1] == 0xFF)
        return {Encoding::Utf16Be, Source::ByteOrderMark, 2};
    if (bytes.size() >= 2 && s[0] == 0xFF && s[1] == 0xFE)
        return {Encoding::Utf16Le, Source::ByteOrderMark, 2};

    // Browsers look for the declaration in the first 1024 bytes only.
    if (const std::optional<Encoding> declared = prescan(bytes.substr(0, 1024)))
        return {*declared, Source::Declaration, 0};
    if (isValidUtf8(bytes))
        return {Encoding::Utf8, Source::ValidUtf8, 0};
    return {fallbackEncoding(), Source::Fallback, 0};
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
