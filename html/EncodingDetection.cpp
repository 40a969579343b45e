// Finding a page's encoding the way a browser opening a local file does: its byte-order mark, else
// its own declaration, else whether its bytes are valid UTF-8.

#include "AnsiCodec.h"
#include "AsciiBytes.h"
#include "HtmlEncoding.h"

#include <algorithm>
#include <string>
#include <vector>

namespace HtmlEncoding {

namespace {

bool isAsciiLetter(unsigned char b)
{
    return toLower(b) >= 'a' && toLower(b) <= 'z';
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

// Reads past a tag's attributes to its '>'; false when the bytes run out first.
bool skipAttributes(std::string_view s, std::size_t& at)
{
    Attribute attribute;
    Got got;
    while ((got = getAttribute(s, at, attribute)) == Got::Attribute) {
    }
    return got != Got::End;
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
            if (!skipAttributes(s, at))
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

// ---- A declaration further on, while the page is still in its head ------------------------
//
// Past the first 1024 bytes Chromium still takes a <meta> that names an encoding while the page has shown nothing
// but what a head holds: it reads the page with its tokenizer from the start, so that what looks like a tag inside
// a script, a style or a title is their text, and stops once it has read a tag that does not belong in a head and
// 1024 bytes all told. Text does not end the head here (only a tag does), nor does a comment or a doctype.

// The tags a head holds, which leave the search going; <html> and <head> opening it do too.
bool keepsTheHead(std::string_view name, bool endTag)
{
    for (const std::string_view tag : {"script", "noscript", "style", "link", "meta", "object", "title", "base"})
        if (name == tag)
            return true;
    return !endTag && (name == "html" || name == "head");
}

// Whether `at` starts "</name" or "<name" (the name in any case) followed by what ends a tag name.
bool isTagAt(std::string_view s, std::size_t at, std::string_view opening, std::string_view name)
{
    const std::size_t end = at + opening.size() + name.size();
    if (end >= s.size() || s.substr(at, opening.size()) != opening)
        return false;
    for (std::size_t k = 0; k < name.size(); ++k)
        if (toLower(static_cast<unsigned char>(s[at + opening.size() + k])) != name[k])
            return false;
    const auto after = static_cast<unsigned char>(s[end]);
    return isSpace(after) || after == '/' || after == '>';
}

// Where the text of a raw-text element (style, title, textarea ...) that starts at `at` ends: at its end tag.
std::size_t rawTextEnd(std::string_view s, std::size_t at, std::string_view name)
{
    for (at = s.find("</", at); at != std::string_view::npos; at = s.find("</", at + 2))
        if (isTagAt(s, at, "</", name))
            return at;
    return s.size();
}

// Where a script's text that starts at `at` ends. Inside "<!--" ... "-->" a "<script>" opens a script within the
// comment, whose "</script>" does not end the element.
std::size_t scriptEnd(std::string_view s, std::size_t at)
{
    enum class State
    {
        Data,
        Escaped,
        DoubleEscaped,
    } state = State::Data;
    for (at = s.find_first_of("<-", at); at != std::string_view::npos; at = s.find_first_of("<-", at + 1)) {
        if (state != State::Data && s.substr(at, 3) == "-->") {
            state = State::Data;
        } else if (state == State::Data && s.substr(at, 4) == "<!--") {
            state = State::Escaped;
            at += 1; // its dashes may be those of the "-->" closing it
        } else if (isTagAt(s, at, "</", "script")) {
            if (state != State::DoubleEscaped)
                return at;
            state = State::Escaped;
        } else if (state == State::Escaped && isTagAt(s, at, "<", "script")) {
            state = State::DoubleEscaped;
        }
    }
    return s.size();
}

std::optional<Encoding> declarationInHead(std::string_view s)
{
    constexpr std::size_t kReadInAnyCase = 1024;
    const std::size_t n = s.size();
    const auto byte = [s](std::size_t k) {
        return static_cast<unsigned char>(s[k]);
    };
    bool inHead = true;
    std::size_t at = 0;
    while (at < n) {
        if (!inHead && at >= kReadInAnyCase)
            return std::nullopt;
        if (byte(at) != '<') {
            at = std::min(s.find('<', at), n);
            continue;
        }
        if (startsWithAt(s, at, "<!--")) {
            // "<!-->" and "<!--->" are whole comments; any other ends at "-->" or "--!>".
            if (startsWithAt(s, at + 4, ">") || startsWithAt(s, at + 4, "->")) {
                at = s.find('>', at + 4) + 1;
                continue;
            }
            std::size_t end = s.find("--", at + 4);
            while (end != std::string_view::npos && !startsWithAt(s, end + 2, ">") && !startsWithAt(s, end + 2, "!>"))
                end = s.find("--", end + 1);
            if (end == std::string_view::npos)
                return std::nullopt;
            at = s.find('>', end + 2) + 1;
            continue;
        }
        const bool endTag = at + 1 < n && byte(at + 1) == '/';
        const std::size_t nameAt = at + (endTag ? 2 : 1);
        if (nameAt >= n)
            return std::nullopt;
        if (!isAsciiLetter(byte(nameAt))) {
            if (endTag && byte(nameAt) == '>') {
                at = nameAt + 1; // "</>" is nothing
            } else if (endTag || byte(nameAt) == '!' || byte(nameAt) == '?') {
                // A doctype, a processing instruction or another markup declaration, up to its '>'.
                const std::size_t end = s.find('>', nameAt);
                if (end == std::string_view::npos)
                    return std::nullopt;
                at = end + 1;
            } else {
                ++at; // a '<' that opens no tag is text
            }
            continue;
        }
        std::string name;
        for (at = nameAt; at < n && !isSpace(byte(at)) && byte(at) != '/' && byte(at) != '>'; ++at)
            name += char(toLower(byte(at)));
        if (!endTag && name == "meta") {
            Encoding declared = Encoding::Utf8;
            const Meta meta = readMeta(s, at, declared);
            if (meta == Meta::End)
                return std::nullopt;
            if (meta == Meta::Declares)
                return declared;
        } else if (!skipAttributes(s, at)) {
            return std::nullopt;
        }
        ++at;
        inHead = inHead && keepsTheHead(name, endTag);
        if (endTag)
            continue;
        if (name == "script")
            at = scriptEnd(s, at);
        else if (name == "style" || name == "title" || name == "textarea" || name == "xmp" || name == "iframe" ||
                 name == "noembed" || name == "noframes")
            at = rawTextEnd(s, at, name);
        else if (name == "plaintext")
            return std::nullopt; // the rest is text
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

// The page's own declaration: a <meta> in its first 1024 bytes, else one further on while the page is still in its
// head, else an XML declaration opening it.
std::optional<Encoding> declaration(std::string_view bytes)
{
    // "<?x" in UTF-16 opens an XML declaration written in UTF-16: the page is UTF-16 even without
    // a byte-order mark.
    if (bytes.starts_with(std::string_view("<\0?\0x\0", 6)))
        return Encoding::Utf16Le;
    if (bytes.starts_with(std::string_view("\0<\0?\0x", 6)))
        return Encoding::Utf16Be;
    if (const std::optional<Encoding> declared = scanMarkup(bytes.substr(0, 1024)))
        return declared;
    if (const std::optional<Encoding> declared = declarationInHead(bytes))
        return declared;
    return xmlDeclarationEncoding(bytes.substr(0, 1024));
}

// Browsers fall back on the encoding of the user's locale: here the system's ANSI code page
// (windows-1252 on Linux), read with the browsers' decoder of that encoding.
Encoding fallbackEncoding()
{
    switch (AnsiCodec::codePage()) {
    case 874:
        return Encoding::Windows874;
    case 932:
        return Encoding::ShiftJis;
    case 936:
        return Encoding::Gbk;
    case 949:
        return Encoding::EucKr; // windows-949, which browsers call EUC-KR
    case 950:
        return Encoding::Big5;
    case 1250:
        return Encoding::Windows1250;
    case 1251:
        return Encoding::Windows1251;
    case 1253:
        return Encoding::Windows1253;
    case 1254:
        return Encoding::Windows1254;
    case 1255:
        return Encoding::Windows1255;
    case 1256:
        return Encoding::Windows1256;
    case 1257:
        return Encoding::Windows1257;
    case 1258:
        return Encoding::Windows1258;
    default:
        return Encoding::Windows1252;
    }
}

} // namespace

Detected detect(std::string_view bytes)
{
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    if (bytes.size() >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF)
        return {Encoding::Utf8, Source::ByteOrderMark, 3};
    if (bytes.size() >= 2 && s[0] == 0xFE && s[1] == 0xFF)
        return {Encoding::Utf16Be, Source::ByteOrderMark, 2};
    if (bytes.size() >= 2 && s[0] == 0xFF && s[1] == 0xFE)
        return {Encoding::Utf16Le, Source::ByteOrderMark, 2};

    if (const std::optional<Encoding> declared = declaration(bytes))
        return {*declared, Source::Declaration, 0};
    if (isValidUtf8(bytes))
        return {Encoding::Utf8, Source::ValidUtf8, 0};
    return {fallbackEncoding(), Source::Fallback, 0};
}

} // namespace HtmlEncoding
