#include "HtmlEncoding.h"
#include "HtmlDocument.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

using namespace std::string_view_literals;
using HtmlEncoding::Encoding;
using HtmlEncoding::Source;

namespace {

std::string utf8(std::u32string_view text)
{
    std::string out;
    for (const char32_t c : text)
        Utf8::appendCodePoint(out, c);
    return out;
}

std::string toString(const QByteArray& bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

std::string decoded(std::string_view bytes, const char* label)
{
    const std::optional<Encoding> encoding = HtmlEncoding::encodingForLabel(label);
    EXPECT_TRUE(encoding.has_value()) << label;
    return encoding ? toString(HtmlEncoding::decode(bytes, *encoding)) : std::string();
}

std::vector<Encoding> allEncodings()
{
    std::vector<Encoding> all;
    for (int k = 0; k <= int(Encoding::XUserDefined); ++k)
        all.push_back(Encoding(k));
    return all;
}

std::unique_ptr<HtmlDocument> parse(const QByteArray& bytes)
{
    static std::unique_ptr<HtmlParser> parser = createHtmlParser();
    Result<std::unique_ptr<HtmlDocument>> document = parser->parse(bytes);
    EXPECT_TRUE(document.ok());
    return document.ok() ? std::move(*document) : nullptr;
}

QByteArray page(std::string_view bytes)
{
    return QByteArray(bytes.data(), qsizetype(bytes.size()));
}

} // namespace

TEST(HtmlEncoding, LabelsNameTheEncodingsBrowsersRead)
{
    const struct
    {
        std::string_view label;
        const char* name; // null: no encoding
    } cases[] = {
        {"iso-8859-1", "windows-1252"},
        {"latin1", "windows-1252"},
        {"us-ascii", "windows-1252"},
        {"ascii", "windows-1252"},
        {"iso-8859-9", "windows-1254"},
        {"tis-620", "windows-874"},
        {"gb2312", "GBK"},
        {"chinese", "GBK"},
        {"x-gbk", "GBK"},
        {"gb18030", "gb18030"},
        {"big5-hkscs", "Big5"},
        {"euc-kr", "EUC-KR"},
        {"ks_c_5601-1987", "EUC-KR"},
        {"windows-949", "EUC-KR"},
        {"x-sjis", "Shift_JIS"},
        {"ms932", "Shift_JIS"},
        {"windows-31j", "Shift_JIS"},
        {"sjis", "Shift_JIS"},
        {"csiso2022jp", "ISO-2022-JP"},
        {"x-euc-jp", "EUC-JP"},
        {"iso-2022-kr", "replacement"},
        {"csiso2022kr", "replacement"},
        {"hz-gb-2312", "replacement"},
        {"iso-2022-cn", "replacement"},
        {"iso-2022-cn-ext", "replacement"},
        {"utf-16", "UTF-16LE"},
        {"unicode", "UTF-16LE"},
        {"unicodefffe", "UTF-16BE"},
        {"unicode11utf8", "UTF-8"},
        {"koi8-ru", "KOI8-U"},
        {"x-mac-ukrainian", "x-mac-cyrillic"},
        {"logical", "ISO-8859-8-I"},
        {"visual", "ISO-8859-8"},
        {"dos-874", "windows-874"},
        // ASCII white space around a label and ASCII case do not matter.
        {" \t\n\f\rShift_JIS \r\n", "Shift_JIS"},
        {"UTF-8", "UTF-8"},
        {"ISO_8859-2:1987", "ISO-8859-2"},
        // Anything else names nothing.
        {"", nullptr},
        {" \t ", nullptr},
        {"utf-7", nullptr},
        {"shift jis", nullptr},
        {"latin-1", nullptr},
        {"iso-8859-1x", nullptr},
        {"\vutf-8", nullptr},       // vertical tab is not white space here
        {"\xC2\xA0utf-8", nullptr}, // nor is a no-break space
        {"utf-8\0"sv, nullptr},
        {"cseucpkdfmtjapanese-and-more", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.label));
        const std::optional<Encoding> encoding = HtmlEncoding::encodingForLabel(c.label);
        if (c.name)
            EXPECT_EQ(encoding ? HtmlEncoding::name(*encoding) : "(none)", c.name);
        else
            EXPECT_FALSE(encoding.has_value());
    }
}

TEST(HtmlEncoding, EveryNameIsALabelOfItsOwnEncoding)
{
    for (const Encoding encoding : allEncodings()) {
        const std::string_view name = HtmlEncoding::name(encoding);
        SCOPED_TRACE(std::string(name));
        EXPECT_EQ(HtmlEncoding::encodingForLabel(name), encoding);
    }
}

TEST(HtmlEncoding, SingleByteEncodingsFollowBrowserTables)
{
    // A few telling bytes of each: a letter, the euro sign where there is one, and bytes the
    // encoding leaves undefined (U+FFFD) or that browsers read differently from older tables.
    const struct
    {
        const char* label;
        std::string_view bytes;
        std::u32string_view text;
    } cases[] = {
        {"ibm866", "\x80\xF0\xFF", U"\u0410\u0401\u00A0"},
        {"iso-8859-2", "\xA1\xFF", U"\u0104\u02D9"},
        {"iso-8859-3", "\xA1\xA5", U"\u0126\uFFFD"},
        {"iso-8859-4", "\xA1\xA2", U"\u0104\u0138"},
        {"iso-8859-5", "\xB0\xF0", U"\u0410\u2116"},
        {"iso-8859-6", "\xC7\xA1", U"\u0627\uFFFD"},
        {"iso-8859-7", "\xC1\xA4\xFF", U"\u0391\u20AC\uFFFD"},
        {"iso-8859-8", "\xE0\xBF", U"\u05D0\uFFFD"},
        {"iso-8859-8-i", "\xE0\xFD", U"\u05D0\u200E"},
        {"iso-8859-10", "\xA1\xBD", U"\u0104\u2015"},
        {"iso-8859-13", "\xA1", U"\u201D"},
        {"iso-8859-14", "\xA1", U"\u1E02"},
        {"iso-8859-15", "\xA4\xBC", U"\u20AC\u0152"},
        {"iso-8859-16", "\xA4\xAA", U"\u20AC\u0218"},
        {"koi8-r", "\xC1\xE1", U"\u0430\u0410"},
        {"koi8-u", "\xA4\xAE", U"\u0454\u045E"},
        {"macintosh", "\x80\xDB\xF0", U"\u00C4\u20AC\uF8FF"},
        {"windows-874", "\x80\xA1\xDB", U"\u20AC\u0E01\uFFFD"},
        {"windows-1250", "\x80\x8A\xA5", U"\u20AC\u0160\u0104"},
        {"windows-1251", "\x80\xC0\x98", U"\u0402\u0410\u0098"},
        {"windows-1252", "\x80\x81\xE9", U"\u20AC\u0081\u00E9"},
        {"windows-1253", "\x80\xC1\xAA", U"\u20AC\u0391\uFFFD"},
        {"windows-1254", "\xD0", U"\u011E"},
        {"windows-1255", "\xE0\xCA\xD9", U"\u05D0\u05BA\uFFFD"},
        {"windows-1256", "\x81\xC7", U"\u067E\u0627"},
        {"windows-1257", "\xC0\xA1", U"\u0104\uFFFD"},
        {"windows-1258", "\xD2\xF5", U"\u0309\u01A1"},
        {"x-mac-cyrillic", "\x80\xA2\xFF", U"\u0410\u0490\u20AC"},
        {"x-user-defined", "\x80\xFF", U"\uF780\uF7FF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        // ASCII around the bytes reads as itself.
        EXPECT_EQ(decoded("<p>" + std::string(c.bytes) + "~\\", c.label), "<p>" + utf8(c.text) + "~\\");
    }
}

TEST(HtmlEncoding, MultiByteDecodersMatchBrowsers)
{
    const struct
    {
        const char* label;
        std::string_view bytes;
        std::u32string_view text;
    } cases[] = {
        {"shift_jis", "\x93\xFA\x96\x7B\x8C\xEA", U"日本語"},
        // Trail bytes that are '\' and '@' belong to the character; '\' and '~' alone are ASCII.
        {"shift_jis", "\x83\x5C\x95\x5C\x81\x40\\~", U"ソ表\u3000\\~"},
        // A lead byte before an ASCII byte that cannot end it: U+FFFD, and the ASCII byte stays.
        {"shift_jis", "\x83<p>", U"\uFFFD<p>"},
        {"shift_jis", "\x85\x40\x41", U"\uFFFD@A"}, // a pair with no character
        {"shift_jis", "\x81\xFF\x41", U"\uFFFDA"},  // a byte that is no trail is swallowed
        {"shift_jis", "a\x83", U"a\uFFFD"},
        {"shift_jis", "\x80\xA0\xFD\xB1", U"\u0080\uFFFD\uFFFD\uFF71"},
        {"shift_jis", "\x87\x40\xFA\x40\xF0\x40", U"①ⅰ\uE000"}, // NEC and IBM extensions, user-defined area
        {"euc-jp", "\xC6\xFC\xCB\xDC\xB8\xEC", U"日本語"},
        {"euc-jp", "\x8E\xB1\x8F\xB0\xA1\x8F\xA2\xB7\xAD\xA1", U"ｱ丂～①"}, // katakana, JIS X 0212, NEC row 13
        {"euc-jp", "\xA4<\\~", U"\uFFFD<\\~"},
        {"euc-jp", "\x8F<", U"\uFFFD<"},
        {"euc-jp", "\x8E\xA0", U"\uFFFD"},
        {"iso-2022-jp", "\x1B$B\x46\x7C\x4B\x5C\x38\x6C\x1B(B", U"日本語"},
        {"iso-2022-jp", "\x1B$@\x46\x7C\x1B(B.", U"日."},
        {"iso-2022-jp", "\x1B(I\x31\x36\x5E\x1B(B", U"ｱｶﾞ"},
        {"iso-2022-jp", "\x1B(J\\~\x1B(B\\~", U"¥‾\\~"},
        {"iso-2022-jp", "\x1B(B\x1B(Ja", U"\uFFFDa"}, // two escapes in a row
        {"iso-2022-jp", "\x1B(Z", U"\uFFFD(Z"},
        {"iso-2022-jp", "\x1B$", U"\uFFFD$"},
        {"iso-2022-jp", "a\xE1\x62\x0E\x0F", U"a\uFFFDb\uFFFD\uFFFD"},
        {"iso-2022-jp", "\x1B$B\x46\x1B(Bx", U"\uFFFDx"}, // an escape cuts a character in half
        {"iso-2022-jp", "\x1B$B\x46\x7C\x1B", U"日\uFFFD"},
        {"euc-kr", "x\x81\x41y", U"x갂y"}, // beyond KS X 1001: windows-949
        {"euc-kr", "\xC7\xD1\xB1\xB9\xBE\xEE", U"한국어"},
        {"euc-kr", "\xB0<", U"\uFFFD<"},
        {"euc-kr", "\xC9\xA1\x41\x80\xFF", U"\uFFFDA\uFFFD\uFFFD"}, // user-defined row, stray bytes
        {"gb2312", "\xD6\xD0\xCE\xC4", U"中文"},
        {"gbk", "\x80", U"€"},
        {"gb18030", "\x81\x30\x81\x30\x81\x35\xF4\x37\x84\x31\xA4\x39", U"\u0080\uE7C7\uFFFF"},
        {"gb18030", "\x90\x30\x81\x30\xE3\x32\x9A\x35", U"\U00010000\U0010FFFF"},
        {"gb18030", "\x84\x31\xA5\x30\x61\xFE\x39\xFE\x39", U"\uFFFDa\uFFFD"}, // four bytes that name nothing
        {"gb18030", "\xA8\xBC\xA6\xD9\xA3\xA0", U"ḿ︐\u3000"},
        {"gb18030", "\x81\x30\x41", U"\uFFFD0A"},
        {"gb18030", "\x81\x30\x81\x41", U"\uFFFD0丄"},
        {"gb18030", "\x81\x30", U"\uFFFD"},
        {"big5", "\xA4\xA4\xA4\xE5", U"中文"},
        {"big5", "\x88\x62\x88\x45\x87\xA4\xA3\xC0", U"\u00CA\u0304\U0002010C\u9F97\u2400"},
        {"big5", "\xA4<\x80\xA1", U"\uFFFD<\uFFFD\uFFFD"},
        {"utf-16le", "\x3D\xD8\x00\xDE"sv, U"😀"},
        {"utf-16le", "\x00\xD8\x61\x00"sv, U"\uFFFDa"}, // lone lead surrogate
        {"utf-16le", "\x00\xDC\x61\x00"sv, U"\uFFFDa"}, // lone trail surrogate
        {"utf-16le", "\x61\x00\x62"sv, U"a\uFFFD"},     // odd last byte
        {"utf-16le", "\x00\xD8\x62"sv, U"\uFFFD"},      // both at once: one U+FFFD
        {"utf-16be", "\xD8\x3D\xDE\x00"sv, U"😀"},
        {"utf-16be", "\xD8\x00\x00\x61"sv, U"\uFFFDa"},
        {"iso-2022-kr", "\x1B$)C\x0E\x21\x21", U"\uFFFD"},
        {"iso-2022-kr", "", U""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.label) + ": " +
                     QByteArray(c.bytes.data(), qsizetype(c.bytes.size())).toHex(' ').toStdString());
        EXPECT_EQ(decoded(c.bytes, c.label), utf8(c.text));
    }
}

TEST(HtmlEncoding, Utf8RepairGivesOneReplacementPerBrokenSequence)
{
    const struct
    {
        std::string_view bytes;
        std::u32string_view text;
    } cases[] = {
        {"a\xFF\x62", U"a\uFFFDb"},
        {"\xE2\x82", U"\uFFFD"}, // cut short at the end
        {"\xE2\x82\x41\xE2\x82\xAC", U"\uFFFDA€"},
        {"\xC0\xAF", U"\uFFFD\uFFFD"}, // overlong
        {"\xF0\x80\x80", U"\uFFFD\uFFFD\uFFFD"},
        {"\xED\xA0\x80", U"\uFFFD\uFFFD\uFFFD"}, // surrogate
        {"\xF4\x90\x80\x80", U"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"\xF0\x9F\x98", U"\uFFFD"},
        {"\xF0\x9F\x98\xF0\x9F\x98\x80", U"\uFFFD😀"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(QByteArray(c.bytes.data(), qsizetype(c.bytes.size())).toHex(' ').toStdString());
        EXPECT_EQ(toString(HtmlEncoding::repairUtf8(c.bytes)), utf8(c.text));
        EXPECT_EQ(decoded(c.bytes, "utf-8"), utf8(c.text));
    }
}

TEST(HtmlEncoding, NoBrokenCharacterSwallowsTheMarkupAfterIt)
{
    // Whatever bytes above ASCII a page holds, the tag after them survives.
    for (const Encoding encoding : allEncodings()) {
        if (encoding == Encoding::Iso2022Jp || encoding == Encoding::Replacement || encoding == Encoding::Utf16Be ||
            encoding == Encoding::Utf16Le)
            continue; // not ASCII-compatible
        SCOPED_TRACE(std::string(HtmlEncoding::name(encoding)));
        for (int b = 0x80; b <= 0xFF; ++b) {
            for (const std::string_view middle : {""sv, "0"sv, "0\x81"sv}) {
                const std::string bytes = char(b) + std::string(middle) + "<p>";
                const std::string text = toString(HtmlEncoding::decode(bytes, encoding));
                ASSERT_TRUE(text.ends_with("<p>")) << b;
            }
        }
    }
}

TEST(HtmlEncoding, EveryDecoderGivesValidUtf8)
{
    std::mt19937 random(7);
    for (const Encoding encoding : allEncodings()) {
        SCOPED_TRACE(std::string(HtmlEncoding::name(encoding)));
        EXPECT_TRUE(HtmlEncoding::decode("", encoding).isEmpty());
        for (int round = 0; round < 200; ++round) {
            std::string bytes(random() % 64, '\0');
            for (char& c : bytes)
                c = char(random() % 4 ? 0x80 + random() % 0x80 : random() % 0x80);
            ASSERT_TRUE(HtmlEncoding::isValidUtf8(toString(HtmlEncoding::decode(bytes, encoding))));
        }
    }
}

TEST(HtmlEncoding, DetectionFindsTheEncodingABrowserFinds)
{
    const std::string koi8 = "KOI8-R";
    const struct
    {
        const char* name;
        std::string_view bytes;
        std::string_view encoding;
        Source source;
    } cases[] = {
        {"meta charset", "<meta charset=koi8-r><p>\xC1", koi8, Source::Declaration},
        {"quoted, upper case", "<META CHARSET='KOI8-R'>", koi8, Source::Declaration},
        {"label with spaces", "<meta charset=\" koi8-r \">", koi8, Source::Declaration},
        {"slash after meta", "<meta/charset=koi8-r>", koi8, Source::Declaration},
        {"unknown label: valid UTF-8 continues", "<meta charset=klingon><p>\xC3\xA9", "UTF-8", Source::ValidUtf8},
        {"unknown label: invalid UTF-8 falls back", "<meta charset=klingon><p>\xE9", "windows-1252", Source::Fallback},
        {"http-equiv", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">", koi8,
         Source::Declaration},
        {"http-equiv after content", "<meta content='text/html;charset=\"koi8-r\"' http-equiv=content-type>", koi8,
         Source::Declaration},
        {"content spaces and semicolon", "<meta http-equiv=content-type content=\"charset = koi8-r;x\">", koi8,
         Source::Declaration},
        {"charset inside another word first", "<meta http-equiv=content-type content=\"charsetx; charset=koi8-r\">",
         koi8, Source::Declaration},
        {"content without http-equiv", "<meta content=\"text/html; charset=koi8-r\">", "UTF-8", Source::ValidUtf8},
        {"http-equiv without content", "<meta http-equiv=content-type><meta charset=iso-8859-5>", "ISO-8859-5",
         Source::Declaration},
        {"http-equiv of another kind", "<meta http-equiv=refresh content=\"0; charset=koi8-r\">", "UTF-8",
         Source::ValidUtf8},
        {"unmatched quote in content", "<meta http-equiv=content-type content='charset=\"koi8-r'>", "UTF-8",
         Source::ValidUtf8},
        {"charset attribute beats content",
         "<meta content=\"charset=iso-8859-5\" http-equiv=content-type charset=koi8-r>", koi8, Source::Declaration},
        {"unknown charset attribute voids the element",
         "<meta http-equiv=content-type content=\"charset=koi8-r\" charset=bogus><meta charset=iso-8859-5>",
         "ISO-8859-5", Source::Declaration},
        {"a repeated attribute counts once", "<meta charset=bogus charset=koi8-r>", "UTF-8", Source::ValidUtf8},
        {"first valid declaration wins", "<meta charset=bogus><meta charset=koi8-r><meta charset=iso-8859-5>", koi8,
         Source::Declaration},
        {"inside a comment", "<!-- a > b <meta charset=koi8-r> --><p>", "UTF-8", Source::ValidUtf8},
        {"after the shortest comment", "<!--><meta charset=koi8-r>", koi8, Source::Declaration},
        {"inside another tag's attribute", "<a title=\"<meta charset=koi8-r>\">", "UTF-8", Source::ValidUtf8},
        {"after doctype, processing instruction and end tag", "<!DOCTYPE html><?php x ?></div><meta charset=koi8-r>",
         koi8, Source::Declaration},
        {"not a meta element", "<metacharset=koi8-r><meta-x charset=koi8-r>", "UTF-8", Source::ValidUtf8},
        {"cut short", "<meta charset=koi8-r", "UTF-8", Source::ValidUtf8},
        {"UTF-16 declared means UTF-8", "<meta charset=utf-16be>\xE9", "UTF-8", Source::Declaration},
        {"x-user-defined means windows-1252", "<meta charset=x-user-defined>", "windows-1252", Source::Declaration},
        {"replacement", "<meta charset=iso-2022-kr>", "replacement", Source::Declaration},
        {"XML declaration", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><p>", koi8, Source::Declaration},
        {"meta beats XML declaration", "<?xml version='1.0' encoding='koi8-r'?><meta charset=iso-8859-5>", "ISO-8859-5",
         Source::Declaration},
        {"XML declaration not first", " <?xml version='1.0' encoding='koi8-r'?>", "UTF-8", Source::ValidUtf8},
        {"UTF-16 XML declaration without a mark", "<\0?\0x\0m\0l\0"sv, "UTF-16LE", Source::Declaration},
        {"UTF-16BE XML declaration without a mark", "\0<\0?\0x\0m\0l"sv, "UTF-16BE", Source::Declaration},
        {"UTF-8 mark beats a declaration", "\xEF\xBB\xBF<meta charset=koi8-r>", "UTF-8", Source::ByteOrderMark},
        {"UTF-16LE mark", "\xFF\xFE<\0"sv, "UTF-16LE", Source::ByteOrderMark},
        {"UTF-16BE mark", "\xFE\xFF\0<"sv, "UTF-16BE", Source::ByteOrderMark},
        {"no declaration, not UTF-8", "<p>caf\xE9", "windows-1252", Source::Fallback},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HtmlEncoding::Detected detected = HtmlEncoding::detect(c.bytes);
        EXPECT_EQ(HtmlEncoding::name(detected.encoding), c.encoding);
        EXPECT_EQ(int(detected.source), int(c.source));
    }

    // Past the first 1024 bytes a declaration is still seen while the page is in its head; after a tag of the body,
    // one whose tag starts within those bytes is seen, even if it ends past them, and a later one is not.
    const std::string late = std::string(1010, ' ') + "<meta charset=koi8-r>";
    EXPECT_EQ(HtmlEncoding::detect(late).source, Source::Declaration);
    EXPECT_EQ(HtmlEncoding::detect(late.substr(10)).source, Source::Declaration);
    EXPECT_EQ(HtmlEncoding::detect("<p>" + late.substr(3)).source, Source::Declaration);
    EXPECT_EQ(HtmlEncoding::detect("<p>" + late.substr(3) + "<meta charset=iso-8859-5>").source, Source::Declaration);
    EXPECT_EQ(HtmlEncoding::detect("<p>" + std::string(1030, ' ') + "<meta charset=koi8-r>").source, Source::ValidUtf8);
}

// Chromium goes on looking for a <meta> naming the encoding past the first 1024 bytes while the page holds only
// what a head holds, reading script, style and title text as text. Each page here was loaded in Chromium, whose
// document.characterSet and paragraph agree: KOI8-R reads the paragraph's bytes as "аб", and a page whose
// declaration is not seen falls back on windows-1252 (Chromium, guessing the encoding instead, chose EUC-KR).
TEST(HtmlEncoding, ADeclarationIsSeenFurtherOnWhileThePageIsInItsHead)
{
    const std::string meta = "<meta charset=koi8-r>";
    const std::string paragraph = "<p>\xC1\xC2</p>";
    const std::string koi8 = "\xD0\xB0\xD0\xB1";        // аб
    const std::string windows1252 = "\xC3\x81\xC3\x82"; // ÁÂ
    const auto times = [](int count, const std::string& text) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += text;
        return out;
    };
    const std::string style = "<style>" + times(78, "p { color: red; }\n") + "</style>"; // 1.4 KB
    const struct
    {
        std::string name;
        std::string bytes;
        std::string_view encoding;
        std::string text;
    } cases[] = {
        {"after 1.4 KB of style", "<html><head>" + style + meta + "</head><body>" + paragraph, "KOI8-R", koi8},
        {"after 16 KB of script",
         "<html><head><script>" + times(800, "var x = 1; // a < b\n") + "</script>" + meta + "</head><body>" +
             paragraph,
         "KOI8-R", koi8},
        {"after 2 KB of title text",
         "<html><head><title>" + times(140, "A title, long. ") + "</title>" + meta + "</head><body>" + paragraph,
         "KOI8-R", koi8},
        {"after 2 KB of comment", "<html><head><!--" + times(200, "a comment ") + "--!>" + meta + paragraph, "KOI8-R",
         koi8},
        {"after a doctype, white space and links",
         "<!DOCTYPE html>\n<html lang=en>\n<head>\n" + times(40, "<link rel=stylesheet href=a.css>\n") + meta +
             paragraph,
         "KOI8-R", koi8},
        {"after text, which leaves the head going", times(180, "plain words ") + meta + paragraph, "KOI8-R", koi8},
        {"after a script's commented-out script",
         "<script><!-- <script> x </script> " + times(1100, "y") + " --></script>" + meta + paragraph, "KOI8-R", koi8},
        {"after a stray end tag of a head element, a noscript and a second head",
         style + "</title><noscript>x</noscript><head>" + meta + paragraph, "KOI8-R", koi8},
        {"http-equiv", style + "<meta http-equiv=Content-Type content=\"text/html; charset=koi8-r\">" + paragraph,
         "KOI8-R", koi8},
        {"beating an XML declaration",
         "<?xml version=\"1.0\" encoding=\"iso-8859-5\"?><html><head>" + style + meta + paragraph, "KOI8-R", koi8},
        {"after a paragraph", "<p>" + times(100, "some words ") + "</p>" + meta + paragraph, "windows-1252",
         windows1252},
        {"in the body", style + "<body>" + meta + paragraph, "windows-1252", windows1252},
        {"after the head's end tag", style + "</head>" + meta + paragraph, "windows-1252", windows1252},
        {"after a div", style + "<div></div>" + meta + paragraph, "windows-1252", windows1252},
        {"after a template", style + "<template></template>" + meta + paragraph, "windows-1252", windows1252},
        {"after a textarea", style + "<textarea></textarea>" + meta + paragraph, "windows-1252", windows1252},
        {"in a title", "<title>" + times(80, "A title, long. ") + meta + "</title>" + paragraph, "windows-1252",
         windows1252},
        {"in a style, past what only looks like its end tag",
         "<style>" + times(78, "p { color: red; }\n") + "</styles>" + meta + "</style>" + paragraph, "windows-1252",
         windows1252},
        {"after a paragraph in a noscript", "<noscript>" + times(150, "<p>n</p>") + "</noscript>" + meta + paragraph,
         "windows-1252", windows1252},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(HtmlEncoding::name(HtmlEncoding::detect(c.bytes).encoding), c.encoding);
        const auto document = parse(page(c.bytes));
        const HtmlElementCollection paragraphs = document->getElementsByTagName("p");
        ASSERT_GT(paragraphs.length(), 0u);
        EXPECT_EQ(paragraphs.item(paragraphs.length() - 1).innerText(), c.text);
    }
}

TEST(HtmlEncoding, LegacyPagesParseIntoTheRightElements)
{
    const std::string sjisBody = "<p>\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x4C\x83\x58\x83\x67</p><p>two</p>";
    const struct
    {
        std::string name;
        std::string bytes;
        std::vector<std::string> paragraphs;
    } cases[] = {
        {"shift_jis", "<meta charset=\"shift_jis\">" + sjisBody, {"日本語のテキスト", "two"}},
        {"x-sjis", "<meta charset=\"x-sjis\">" + sjisBody, {"日本語のテキスト", "two"}},
        {"windows-31j", "<meta charset=\"windows-31j\">" + sjisBody, {"日本語のテキスト", "two"}},
        {"Shift_JIS: trail bytes '\\', a broken lead before '<'",
         "<meta charset=sjis><p>\x83\x5C\x95\x5C</p><p>\x83</p><p>ok</p>",
         {"ソ表", "\xEF\xBF\xBD", "ok"}},
        {"EUC-JP through http-equiv",
         "<meta http-equiv='Content-Type' content='text/html; charset=EUC-JP'><p>\xC6\xFC\xCB\xDC\xB8\xEC</p>",
         {"日本語"}},
        {"ISO-2022-JP",
         "<meta charset=iso-2022-jp><p>\x1B$B\x46\x7C\x4B\x5C\x38\x6C\x1B(B</p><p>\x1B(I\x31\x1B(B</p>",
         {"日本語", "ｱ"}},
        {"EUC-KR", "<meta charset=\"euc-kr\"><p>x\x81\x41y</p>", {"x갂y"}},
        {"GBK as gb2312", "<meta charset=gb2312><p>\xD6\xD0\xCE\xC4</p>", {"中文"}},
        {"gb18030 four bytes",
         "<meta charset=gb18030><p>\x81\x30\x81\x30|\x90\x30\x81\x30</p>",
         {"\xC2\x80|\xF0\x90\x80\x80"}},
        {"Big5", "<meta charset=big5><p>\xA4\xA4\xA4\xE5</p>", {"中文"}},
        {"windows-1251",
         "<meta http-equiv=content-type content=\"text/html; charset=windows-1251\"><p>\xCF\xF0\xE8</p>",
         {"При"}},
        {"UTF-16LE XML page without a mark",
         std::string("<\0?\0x\0m\0l\0?\0>\0<\0p\0>\0\xE9\0<\0/\0p\0>\0"sv),
         {"\xC3\xA9"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = parse(page(c.bytes));
        const HtmlElementCollection paragraphs = document->getElementsByTagName("p");
        std::vector<std::string> texts;
        for (const HtmlElement paragraph : paragraphs)
            texts.push_back(paragraph.innerText());
        EXPECT_EQ(texts, c.paragraphs);
    }

    // The whole page, every element in place.
    const auto document = parse(page("<meta charset=\"shift_jis\">" + sjisBody));
    std::vector<std::string> tags;
    for (const HtmlElement element : document->all())
        tags.emplace_back(element.tagName());
    EXPECT_EQ(tags, (std::vector<std::string>{"html", "head", "meta", "body", "p", "p"}));

    // A page in an encoding no browser decodes shows one U+FFFD and nothing of its markup.
    const auto replaced = parse(page("<meta charset=iso-2022-kr><p>text</p>"));
    EXPECT_EQ(replaced->getElementsByTagName("p").length(), 0u);
    EXPECT_EQ(replaced->body().innerText(), "\xEF\xBF\xBD");
}

TEST(HtmlEncoding, PlainAsciiIsParsedWithoutConversion)
{
    const struct
    {
        const char* name;
        std::string_view bytes;
        std::optional<std::string_view> converted;
    } cases[] = {
        {"ASCII Shift_JIS page", "<meta charset=shift_jis><p>plain</p>", std::nullopt},
        {"ASCII windows-1252 page", "<meta charset=latin1><p>plain</p>", std::nullopt},
        {"one byte above ASCII", "<meta charset=latin1><p>\xE9</p>", "<meta charset=latin1><p>\xC3\xA9</p>"},
        // ISO-2022-JP's escapes and UTF-16 are not ASCII as they stand.
        {"ISO-2022-JP", "<meta charset=iso-2022-jp><p>\x1B(J\\</p>", "<meta charset=iso-2022-jp><p>\xC2\xA5</p>"},
        {"replacement", "<meta charset=hz-gb-2312>", "\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QByteArray> converted = HtmlEncoding::toUtf8(c.bytes, HtmlEncoding::detect(c.bytes));
        ASSERT_EQ(converted.has_value(), c.converted.has_value());
        if (converted) {
            EXPECT_EQ(toString(*converted), *c.converted);
        }
    }
}
