#include "HtmlDocument.h"
#include "HtmlEncoding.h"
#include "MyHtmlTreeRules.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#include <myhtml/myhtml.h>
#include <myhtml/tree.h>
#endif

#include <bit>
#include <chrono>
#include <random>

namespace {

// Bytes written as a literal, NUL characters included.
template <std::size_t N> QByteArray bytes(const char (&literal)[N])
{
    return QByteArray(literal, N - 1);
}

std::unique_ptr<HtmlDocument> parse(const QByteArray& bytes)
{
    static std::unique_ptr<HtmlParser> parser = createHtmlParser();
    // Every scope check of these small pages is also made the slow way and compared.
    static const bool verifying = (MyHtmlTreeRules::setVerifying(true), true);
    (void)verifying;
    Result<std::unique_ptr<HtmlDocument>> document = parser->parse(bytes);
    EXPECT_TRUE(document.ok());
    return document.ok() ? std::move(*document) : nullptr;
}

std::vector<std::string> tagNames(const HtmlElementCollection& elements)
{
    std::vector<std::string> names;
    for (const HtmlElement element : elements)
        names.emplace_back(element.tagName());
    return names;
}

// The first element with the tag name.
HtmlElement first(const HtmlDocument& document, const char* tag)
{
    const HtmlElementCollection found = document.getElementsByTagName(tag);
    EXPECT_GT(found.length(), 0u) << tag;
    return found.length() ? found.item(0) : HtmlElement();
}

std::string firstText(const QByteArray& html, const char* tag)
{
    const auto document = parse(html);
    return first(*document, tag).innerText();
}

} // namespace

TEST(HtmlDocument, DecodesLikeABrowserOpeningALocalFile)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
        std::string expected; // the p element's text, in UTF-8
    } cases[] = {
        {"valid UTF-8 without declaration", "<p>caf\xC3\xA9</p>", "caf\xC3\xA9"},
        {"invalid UTF-8 falls back to Windows-1252", "<p>caf\xE9 \x80</p>", "caf\xC3\xA9 \xE2\x82\xAC"},
        {"Windows-1252's undefined bytes stay", "<p>\x81\xE9</p>", "\xC2\x81\xC3\xA9"},
        {"UTF-8 mark", "\xEF\xBB\xBF<p>\xC3\xA9</p>", "\xC3\xA9"},
        {"UTF-16 LE mark", QByteArray("\xFF\xFE<\0p\0>\0\xE9\0<\0/\0p\0>\0", 18), "\xC3\xA9"},
        {"UTF-16 BE mark", QByteArray("\xFE\xFF\0<\0p\0>\0\xE9\0<\0/\0p\0>", 18), "\xC3\xA9"},
        {"the mark wins over a declaration", "\xEF\xBB\xBF<meta charset=windows-1252><p>\xC3\xA9</p>", "\xC3\xA9"},
        {"meta charset wins over valid UTF-8", "<meta charset=\"windows-1252\"><p>\xC3\xA9</p>", "\xC3\x83\xC2\xA9"},
        {"http-equiv declaration",
         "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\"><p>\xE9</p>", "\xC3\xA9"},
        {"declared UTF-8 with bad bytes gives replacement characters",
         "<meta charset=utf-8><p>a\xFF"
         "b</p>",
         "a\xEF\xBF\xBD"
         "b"},
        {"declared UTF-16 without a mark reads as UTF-8", "<meta charset=utf-16><p>\xC3\xA9</p>", "\xC3\xA9"},
        {"another declared encoding", "<meta charset=koi8-r><p>\xC1</p>", "\xD0\xB0"},
        {"a declaration after the first 1024 bytes, still in the head, is seen",
         QByteArray(1100, ' ') + "<meta charset=windows-1252><p>\xC3\xA9</p>", "\xC3\x83\xC2\xA9"},
        {"a declaration after the first 1024 bytes and a paragraph is not seen",
         "<b></b>" + QByteArray(1100, ' ') + "<meta charset=windows-1252><p>\xC3\xA9</p>", "\xC3\xA9"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(firstText(c.bytes, "p"), c.expected);
    }
}

TEST(HtmlDocument, EveryInputGivesACompleteDocumentWithABody)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
        const char* body;
    } cases[] = {
        {"empty file", "", "body"},
        {"plain text", "just some words\nand more", "body"},
        {"head only", "<head><title>t</title></head>", "body"},
        {"frameset", "<html><frameset><frame src=a></frameset></html>", "frameset"},
        {"frameset replacing a body opened by a paragraph", "<p><frameset><frame></frameset>", "frameset"},
        {"NUL bytes", QByteArray("<p>a\0b</p>\0\0", 12), "body"},
        {"stray end tags", "</div></table></body></html></p>", "body"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = parse(c.bytes);
        EXPECT_EQ(document->readyState(), "complete");
        ASSERT_FALSE(document->body().isNull());
        EXPECT_EQ(document->body().tagName(), c.body);
    }
}

TEST(HtmlDocument, ElementsComeInDocumentOrder)
{
    const auto document = parse("<!DOCTYPE html><!-- c --><title>t</title><div><p>a</p><span><i>b</i></span></div>"
                                "<TABLE><TR><TD>x</TD></TR></TABLE><template><b>hidden</b></template>");
    EXPECT_EQ(tagNames(document->all()), (std::vector<std::string>{"html", "head", "title", "body", "div", "p", "span",
                                                                   "i", "table", "tbody", "tr", "td", "template"}));
    EXPECT_EQ(tagNames(first(*document, "div").all()), (std::vector<std::string>{"p", "span", "i"}));
    EXPECT_EQ(tagNames(document->body().all()),
              (std::vector<std::string>{"div", "p", "span", "i", "table", "tbody", "tr", "td", "template"}));
    EXPECT_EQ(first(*document, "i").all().length(), 0u);
}

TEST(HtmlDocument, GetElementsByTagNameIgnoresCase)
{
    const auto document = parse("<table><tr><td>1</td></tr><TR><TD>2</TD></TR></table><svg><clipPath/></svg>");
    for (const char* name : {"tr", "TR", "Tr"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(document->getElementsByTagName(name).length(), 2u);
    }
    for (const char* name : {"<tr>", " tr", "tr ", "/tr", "", "t"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(document->getElementsByTagName(name).length(), 0u);
    }
    EXPECT_EQ(document->getElementsByTagName("CLIPPATH").length(), 1u);
    EXPECT_EQ(document->getElementsByTagName("*").length(), document->all().length());
}

TEST(HtmlDocument, InnerHtmlIsTheFragmentSerialisationWithCrLfLineBreaks)
{
    const struct
    {
        const char* name;
        QByteArray html;
        std::string expected;
    } cases[] = {
        {"LF becomes CR LF", "<div>a\nb\n</div>", "a\r\nb\r\n"},
        {"CR LF and lone CR in the source are line breaks too", "<div>a\r\nb\rc</div>", "a\r\nb\r\nc"},
        {"tag names lower case, attributes quoted", "<DIV><B CLASS=x ID='y'>T</B></DIV>",
         "<b class=\"x\" id=\"y\">T</b>"},
        {"text escaping", "<div>1 &lt; 2 &amp;&amp; 3 &gt; 0&nbsp;&quot;</div>",
         "1 &lt; 2 &amp;&amp; 3 &gt; 0&nbsp;\""},
        {"attribute escaping", "<div><a title='say \"hi\" &amp; <go>'>l</a></div>",
         "<a title=\"say &quot;hi&quot; &amp; &lt;go&gt;\">l</a>"},
        {"void elements have no end tag", "<div>a<br>b<img src=x><hr/></div>", "a<br>b<img src=\"x\"><hr>"},
        {"raw text is not escaped", "<div><script>if (a<b && c>d) x='&amp;'</script><style>p>b{}</style></div>",
         "<script>if (a<b && c>d) x='&amp;'</script><style>p>b{}</style>"},
        {"comments", "<div>a<!-- <b> -->b</div>", "a<!-- <b> -->b"},
        {"SVG keeps its names", "<div><svg viewBox='0 0 1 1'><clipPath></clipPath><a xlink:href=u></a></svg></div>",
         "<svg viewBox=\"0 0 1 1\"><clipPath></clipPath><a xlink:href=\"u\"></a></svg>"},
        {"template content", "<div><template><i>t</i></template></div>", "<template><i>t</i></template>"},
        {"names only seen inside a template", "<div><template><x-y><svg><clipPath/></svg></x-y></template></div>",
         "<template><x-y><svg><clipPath></clipPath></svg></x-y></template>"},
        {"repaired markup", "<div><b><i>x</b>y</i></div>", "<b><i>x</i></b><i>y</i>"},
        {"non-ASCII text as UTF-8", "<div>\xC3\xA9t\xC3\xA9</div>", "\xC3\xA9t\xC3\xA9"},
        {"empty", "<div></div>", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = parse(c.html);
        EXPECT_EQ(first(*document, "div").innerHTML(), c.expected);
    }
}

TEST(HtmlDocument, InnerTextOfAnInnermostElementIsWhatABrowserShows)
{
    const struct
    {
        const char* name;
        QByteArray html;
        const char* tag;
        std::string expected;
    } cases[] = {
        {"white space collapsed and trimmed", "<p>  a \n\t b  </p>", "p", "a b"},
        {"entities decoded, no-break space kept", "<p>&eacute;&nbsp;x&amp;</p>", "p", "\xC3\xA9\xC2\xA0x&"},
        {"comments are not text", "<p>a<!--c-->b</p>", "p", "ab"},
        {"pre keeps its white space", "<pre>  a\n  b </pre>", "pre", "  a\n  b "},
        {"inside pre too", "<pre><b> x  y </b></pre>", "b", " x  y "},
        {"textarea", "<textarea> a  b </textarea>", "textarea", " a  b "},
        {"listing", "<listing>a  b</listing>", "listing", "a  b"},
        {"script unchanged", "<body><script> if (a  <b) </script>", "script", " if (a  <b) "},
        {"style unchanged", "<body><style>\n p {}\n</style>", "style", "\n p {}\n"},
        {"template unchanged", "<template> <i>t</i>  u </template>", "template", " t  u "},
        {"line break", "<p>a<br>b</p>", "br", ""},
        {"empty cell", "<table><tr><td></td></tr></table>", "td", ""},
        {"only white space", "<p> \n </p>", "p", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(firstText(c.html, c.tag), c.expected);
    }
}

TEST(HtmlDocument, AFileCutShortInATagEndsTheWayABrowserEndsIt)
{
    const struct
    {
        const char* name;
        QByteArray html;
        std::string body;
    } cases[] = {
        {"a final '<' is text", "<div>ab<", "<div>ab&lt;</div>"},
        {"so are several", "<div>ab<<<", "<div>ab&lt;&lt;&lt;</div>"},
        {"after non-ASCII text", "<p>\xC3\xA9<", "<p>\xC3\xA9&lt;</p>"},
        {"cut in the tag name", "<div>ab<sp", "<div>ab</div>"},
        {"cut after the name", "<div>ab<span ", "<div>ab</div>"},
        {"cut in an attribute name", "<div>ab<span cl", "<div>ab</div>"},
        {"cut before a value", "<div>ab<span class=", "<div>ab</div>"},
        {"cut in an unquoted value", "<div>ab<span class=x", "<div>ab</div>"},
        {"cut in a quoted value", "<div>ab<span class=\"x", "<div>ab</div>"},
        {"cut after a quoted value", "<div>ab<span class=\"x\"", "<div>ab</div>"},
        {"cut in a self-closing tag", "<div>ab<br/", "<div>ab</div>"},
        {"cut in an end tag", "<div>ab</div x", "<div>ab</div>"},
        {"a cut end tag opening is text", "<div>ab</", "<div>ab&lt;/</div>"},
        {"raw text keeps its '<'", "<script>a<", ""},
        {"so does a text area", "<textarea>a<", "<textarea>a&lt;</textarea>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = parse(c.html);
        EXPECT_EQ(first(*document, "body").innerHTML(), c.body);
    }
    EXPECT_EQ(firstText("<script>a<", "script"), "a<");
}

TEST(HtmlDocument, HostileInputNeitherCrashesNorBreaksUtf8)
{
    std::mt19937 random(2026);
    QByteArray binary(256 * 1024, '\0');
    for (char& c : binary)
        c = char(random());
    binary.replace(1000, 5, "<p>x<");

    const auto document = parse(binary);
    ASSERT_FALSE(document->body().isNull());
    for (const HtmlElement element : document->all()) {
        EXPECT_TRUE(HtmlEncoding::isValidUtf8(element.innerText()));
        EXPECT_TRUE(HtmlEncoding::isValidUtf8(element.innerHTML()));
        EXPECT_FALSE(element.tagName().empty());
    }
}

// Past 512 open elements a new element goes to the current node's parent, as in Chromium, so the
// 510th div of the body holds every later one side by side; text still goes into the current node.
// The expected markup was checked against Chromium's DOM.
TEST(HtmlDocument, DeepNestingStopsGrowingAtTheBrowsersDepth)
{
    const auto nested = [](int count, const char* tag) {
        QByteArray html;
        for (int i = 0; i < count; ++i)
            html += QByteArray("<") + tag + ">";
        return html;
    };
    const auto repeated = [](int count, const std::string& text) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += text;
        return out;
    };

    const auto document = parse(nested(520, "div") + "<!--c-->x<p>y<b>z");
    EXPECT_EQ(document->body().innerHTML(), repeated(510, "<div>") + repeated(9, "<div></div>") +
                                                "<div>x</div><!--c--><p>y</p><b>z</b>" + repeated(510, "</div>"));

    // Deep enough to take minutes if each start tag walked the stack of open elements, or each
    // formatting element was compared with every earlier one (which the checking of every answer
    // the slow way would do).
    MyHtmlTreeRules::setVerifying(false);
    constexpr int depth = 200000;
    QByteArray unlike; // formatting elements that all differ, each checked against every other
    for (int i = 0; i < 30000; ++i)
        unlike += "<b id=" + QByteArray::number(i) + ">";
    const auto deep = parse(nested(depth, "div") + "x" + nested(30000, "font><b><i") + unlike);
    const HtmlElementCollection divs = deep->getElementsByTagName("div");
    ASSERT_EQ(divs.length(), std::uint32_t(depth));
    EXPECT_EQ(divs.item(0).all().length(), std::uint32_t(depth - 1 + 120000));
    EXPECT_EQ(divs.item(depth - 1).innerText(), "x");
    EXPECT_EQ(deep->getElementsByTagName("i").length(), 30000u);
    EXPECT_EQ(deep->getElementsByTagName("b").length(), 60000u);
    // No element lies deeper than the limit: at most 513 elements enclose one another (html,
    // body, and the divs down to the 510th and its children).
    std::vector<std::uint32_t> open;
    std::size_t deepest = 0;
    for (std::uint32_t i = 0; i < deep->elementCount(); ++i) {
        while (!open.empty() && open.back() <= i)
            open.pop_back();
        open.push_back(deep->subtreeEnd(i));
        deepest = std::max(deepest, open.size());
    }
    EXPECT_EQ(deepest, 513u);
    MyHtmlTreeRules::setVerifying(true);
}

// A formatting element alike to three others since the last marker pushes the earliest out of the
// list that reopens them: alike means the same attributes with the same values, exactly and in any
// order. Each expected tree was checked against Chromium's DOM.
TEST(HtmlDocument, FormattingElementsAreReopenedAsABrowserReopensThem)
{
    const struct
    {
        const char* name;
        QByteArray html;
        std::string body;
    } cases[] = {
        {"values differing in case are not alike", "<p><b class=x><b class=x><b class=X><b class=x><b class=x><p>z",
         "<p><b class=\"x\"><b class=\"x\"><b class=\"X\"><b class=\"x\"><b class=\"x\"></b></b></b></b></b></p>"
         "<p><b class=\"x\"><b class=\"X\"><b class=\"x\"><b class=\"x\">z</b></b></b></b></p>"},
        {"attributes in another order are", "<p><b a=1 c=2><b c=2 a=1><b a=1 c=2><b a=1 c=2><p>s",
         "<p><b a=\"1\" c=\"2\"><b c=\"2\" a=\"1\"><b a=\"1\" c=\"2\"><b a=\"1\" c=\"2\"></b></b></b></b></p>"
         "<p><b c=\"2\" a=\"1\"><b a=\"1\" c=\"2\"><b a=\"1\" c=\"2\">s</b></b></b></p>"},
        {"a marker ends the count", "<b>1<button><b>2<b>3<b>4<b>5</button><p>u",
         "<b>1<button><b>2<b>3<b>4<b>5</b></b></b></b></button><p><b><b><b>u</b></b></b></p></b>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(c.html)->body().innerHTML(), c.body);
    }
}

// The rows a browser gives for text holding NUL characters and for repeated or nameless
// attributes; each expected tree was checked against Chromium's DOM.
TEST(HtmlDocument, NulCharactersAndAttributesAsTheTokenizerReadsThem)
{
    const struct
    {
        const char* name;
        QByteArray html;
        std::string markup; // the html element's inner markup
    } cases[] = {
        {"NUL in text is dropped", bytes("<p>a\0b</p><p>c\0\0d\0e</p><p>\0\0\0</p>"),
         "<head></head><body><p>ab</p><p>cde</p><p></p></body>"},
        {"NUL elsewhere becomes U+FFFD",
         bytes("<title>t\0i</title><textarea>x\0y</textarea><script>s\0c</script><p title=\"a\0b\" \0x=1>q</p>"
               "<!-- c\0m --><p\0q>z</p>"),
         "<head><title>t\xEF\xBF\xBDi</title></head><body><textarea>x\xEF\xBF\xBDy</textarea><script>s\xEF\xBF\xBD"
         "c</script><p title=\"a\xEF\xBF\xBD"
         "b\" \xEF\xBF\xBDx=\"1\">q</p><!-- c\xEF\xBF\xBDm --><p\xEF\xBF\xBDq>z<p></p></p\xEF\xBF\xBDq></body>"},
        {"dropped in tables and selects, kept as U+FFFD in SVG",
         bytes("<table>\0<tr><td>a\0b</td></tr>x\0y</table><select><option>o\0p</select><svg>s\0v</svg>"),
         "<head></head><body>xy<table><tbody><tr><td>ab</td></tr></tbody></table><select><option>op</option>"
         "</select><svg>s\xEF\xBF\xBDv</svg></body>"},
        {"a NUL alone does not rule out a frameset", bytes(" \0 <frameset><frame></frameset>"),
         "<head></head><frameset><frame></frameset>"},
        {"nor reopens formatting elements", bytes("<p><b>x</p>\0<i>y"),
         "<head></head><body><p><b>x</b></p><b><i>y</i></b></body>"},
        {"the first of two attributes wins", "<p class=\"a\" id=\"x\" class=\"b\" CLASS=\"c\">t</p>",
         "<head></head><body><p class=\"a\" id=\"x\">t</p></body>"},
        {"also for adjusted foreign names", "<svg xlink:href=\"a\" xlink:href=\"b\" viewbox=\"0\" viewBox=\"1\"></svg>",
         "<head></head><body><svg xlink:href=\"a\" viewBox=\"0\"></svg></body>"},
        {"also merged into html and body", "<html a=1><body x=1><html a=2 b=3><body x=2 y=3>",
         "<head></head><body x=\"1\" y=\"3\"></body>"},
        {"a valueless attribute before '/'", "<input type=\"checkbox\" checked /><br clear />",
         "<head></head><body><input type=\"checkbox\" checked=\"\"><br clear=\"\"></body>"},
        {"an attribute named '='", "<p =a>q</p>", "<head></head><body><p =a=\"\">q</p></body>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(first(*parse(c.html), "html").innerHTML(), c.markup);
    }
    // Thousands of attributes on one tag are sorted out without a quadratic search.
    QByteArray many = "<p";
    std::string kept = "<p";
    for (int i = 0; i < 3000; ++i) {
        many += " a" + QByteArray::number(i % 1000) + "=" + QByteArray::number(i);
        if (i < 1000)
            kept += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    }
    EXPECT_EQ(parse(many + ">")->body().innerHTML(), kept + "></p>");
}

// A file's last '<' reaches the parser as a chunk of its own, so a character reference just before
// it runs across two chunks. A browser reads the longest name that has a meaning (&not in &noti)
// and keeps the rest as text.
TEST(HtmlDocument, ACharacterReferenceAcrossTheLastChunkKeepsWhatFollowsIt)
{
    const struct
    {
        const char* name;
        QByteArray html;
        const char* tag;
        std::string text;
    } cases[] = {
        {"after text", "x&noti<", "body", "x\xC2\xACi<"},
        {"opening the text", "<p>&noti<", "p", "\xC2\xACi<"},
        {"a longer name cut short", "<p>x&copys<", "p", "x\xC2\xA9s<"},
        {"several letters after the name", "<p>5&parall<", "p", "5\xC2\xB6ll<"},
        {"in a title", "<title>x&noti<", "title", "x\xC2\xACi<"},
        {"in a textarea", "<textarea>ab&noti<", "textarea", "ab\xC2\xACi<"},
        {"a whole reference", "<p>x&not;i<", "p", "x\xC2\xACi<"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(firstText(c.html, c.tag), c.text);
    }
}

// A text or attribute value that ends inside a reference name without a semicolon keeps the letters read past the
// longest name; in an attribute a name followed by a letter stays as written. (The page ends right there, so the
// parser's own end of input is what ends the text.)
TEST(HtmlDocument, AReferenceCutShortByTheEndKeepsTheLettersAfterItsName)
{
    const struct
    {
        QByteArray html;
        std::string body;
    } cases[] = {
        {"<p>x&noti", "<p>x\xC2\xACi</p>"},
        {"<p>x&notin", "<p>x\xC2\xACin</p>"},
        {"<p>x&copys", "<p>x\xC2\xA9s</p>"},
        {"<p>x&amp", "<p>x&amp;</p>"},
        {"<p>x&nq", "<p>x&amp;nq</p>"},
        {"<textarea>x&noti", "<textarea>x\xC2\xACi</textarea>"},
        {"<p title=\"a&noti\">", "<p title=\"a&amp;noti\"></p>"},
        {"<p title=\"a&not\">", "<p title=\"a\xC2\xAC\"></p>"},
        {"<p title=\"a&notin;\">", "<p title=\"a\xE2\x88\x89\"></p>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.html.toStdString());
        EXPECT_EQ(parse(c.html)->body().innerHTML(), c.body);
    }
}

// White space cut from the start of a text (split off to the head, the newline after <pre>, the
// white space before the first text), then more text merged into it: the merged bytes stay within
// the text's own block and leave the strings next to it as they were.
TEST(HtmlDocument, WhiteSpaceCutFromATextLeavesTheStringsBesideItIntact)
{
    const std::string tabs(13, '\t');
    const struct
    {
        const char* name;
        QByteArray html;
        std::string head;
        std::string body;
    } cases[] = {
        {"white space split off to the head", QByteArray("<link>") + tabs.c_str() + "66<head>;cdefghijkl",
         "<link>" + tabs, "66;cdefghijkl"},
        {"the newline after pre", "<pre>\nab<head>cdefghijklmnop</pre>", "", "<pre>abcdefghijklmnop</pre>"},
        {"white space before the first text", "          ab<head>cdefghijklmnop", "", "abcdefghijklmnop"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto document = parse(c.html);
        EXPECT_EQ(first(*document, "head").innerHTML(), c.head);
        EXPECT_EQ(document->body().innerHTML(), c.body);
    }
}

// Each MyHTML routine the program replaces is the program's own, found ahead of the library's: nothing but MyHTML
// calls them, so a file of them the linker left out of the program would otherwise go unnoticed, the library's
// versions quietly taking their place. (On Windows MyHTML is static, with its versions renamed: a routine left out
// there fails the link.)
#ifndef _WIN32
TEST(HtmlDocument, EveryReplacedMyHtmlRoutineIsTheProgramsOwn)
{
    Dl_info library{};
    ASSERT_NE(dladdr(dlsym(RTLD_DEFAULT, "myhtml_create"), &library), 0);
    void* myhtml = dlopen(library.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(myhtml, nullptr);
    for (const char* name : {
             "mchar_async_crop_first_chars_without_cache",
             "mchar_async_realloc",
             "mchar_async_cache_add",
             "mchar_async_cache_delete",
             "mycore_malloc",
             "mycore_realloc",
             "mycore_calloc",
             "mycore_free",
             "myhtml_tree_appropriate_place_inserting",
             "myhtml_tree_node_insert_text",
             "myhtml_tree_list_insert_by_index",
             "myhtml_tree_element_in_scope",
             "myhtml_tree_element_in_scope_by_node",
             "myhtml_tree_open_elements_find",
             "myhtml_tree_open_elements_remove",
             "myhtml_tree_open_elements_append_after_index",
             "myhtml_tree_active_formatting_append_with_check",
             "myhtml_tree_active_formatting_find",
             "myhtml_tree_active_formatting_remove",
             "myhtml_tree_active_formatting_remove_by_index",
             "myhtml_insertion_fix_for_null_char_drop_all",
             "myhtml_parser_token_data_to_string_charef",
         }) {
        SCOPED_TRACE(name);
        void* own = dlsym(RTLD_DEFAULT, name);
        EXPECT_NE(own, nullptr);
        EXPECT_NE(own, dlsym(myhtml, name));
    }
    dlclose(myhtml);
}
#endif

TEST(HtmlEncoding, ValidUtf8IsTheStrictDefinition)
{
    const struct
    {
        std::string bytes;
        bool valid;
    } cases[] = {
        {"", true},
        {"plain ascii text longer than eight bytes", true},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {"\xC3", false},
        {"\xC0\xAF", false},         // overlong
        {"\xED\xA0\x80", false},     // surrogate
        {"\xF4\x90\x80\x80", false}, // beyond U+10FFFF
        {"abcdefgh\xE9", false},
        {"\xE2\x82", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(HtmlEncoding::isValidUtf8(c.bytes), c.valid);
    }
}

TEST(HtmlDocument, DocumentsOfOneParserStayIntactWhileOthersComeAndGo)
{
    // The parser recycles the memory of documents that are gone; documents still held must not
    // notice.
    const std::unique_ptr<HtmlParser> parser = createHtmlParser();
    auto load = [&parser](const QByteArray& html) {
        return std::move(*parser->parse(html));
    };
    auto texts = [](const HtmlDocument& document) {
        std::vector<std::string> all;
        for (const HtmlElement element : document.body().all())
            all.push_back(element.innerText());
        return all;
    };

    auto first = load("<p>one</p><p>two</p>");
    auto second = load("<ul><li>three</li></ul>");
    EXPECT_EQ(texts(*first), (std::vector<std::string>{"one", "two"}));
    first.reset();
    auto third = load("<b>four</b><i>five</i><s>six</s>");
    EXPECT_EQ(texts(*second), (std::vector<std::string>{"three", "three"}));
    EXPECT_EQ(texts(*third), (std::vector<std::string>{"four", "five", "six"}));
    second.reset();
    third.reset();
    auto fourth = load("<td>seven");
    EXPECT_EQ(tagNames(fourth->all()), (std::vector<std::string>{"html", "head", "body"}));
    EXPECT_EQ(fourth->body().innerText(), "seven");
}

// The parser's own memory limit ends a parse that needs more, and counts blocks out as they are freed: a limit a
// document fits in is never reached however many such documents come and go, or a long-lived worker would refuse
// small files after enough of them. Each case runs in a process of its own, as the limit holds for the process.
TEST(HtmlDocumentDeathTest, TheParsersMemoryLimitEndsOnlyTheParseThatPassesIt)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto withLimit = [](std::size_t bytes, const QByteArray& page, int times) {
        SetParserOutOfMemoryHandler([] { std::_Exit(3); });
        SetParserMemoryLimit(bytes);
        std::unique_ptr<HtmlParser> parser = createHtmlParser();
        for (int i = 0; i < times; ++i)
            if (!parser->parse(page).ok())
                std::_Exit(4);
        std::_Exit(0);
    };
    // About 10 MB of the parser's blocks a time.
    const QByteArray dense = QByteArray("<p>x").repeated(20000);
    EXPECT_EXIT(withLimit(64 << 20, dense, 20), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(withLimit(64 << 20, dense.repeated(40), 1), testing::ExitedWithCode(3), "");
}

// Text that the tree builder's ignored tokens (stray end tags, a second head, a late doctype) split into pieces is
// one text in the tree, each piece appended to the one before. The parser's memory grows with the page, not with its
// square (were the text copied whole for each piece, a 300 KB page of "word </span>" would take half a gigabyte).
// Measured in a process of its own, where the parser's blocks are counted under a limit no linear parse comes near.
TEST(HtmlDocumentDeathTest, TextSplitByIgnoredTagsTakesMemoryInProportionToThePage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto repeated = [](int count, const std::string& text) {
        std::string out;
        for (int i = 0; i < count; ++i)
            out += text;
        return out;
    };
    const struct
    {
        const char* name;
        QByteArray piece;
    } cases[] = {
        {"stray end tags", "word </span>"},
        {"a head inside the body", "word <head>"},
        {"a late doctype", "word <!DOCTYPE html>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        constexpr int pieces = 10000;
        const auto document = parse(c.piece.repeated(pieces));
        EXPECT_EQ(tagNames(document->all()), (std::vector<std::string>{"html", "head", "body"}));
        EXPECT_EQ(document->body().innerHTML(), repeated(pieces, "word "));
        EXPECT_EQ(document->body().innerText(), repeated(pieces - 1, "word ") + "word");

        const auto growth = [&c] {
            SetParserOutOfMemoryHandler([] { std::_Exit(3); });
            SetParserMemoryLimit(std::size_t(1) << 30);
            std::size_t peaks[2] = {};
            for (int i = 0; i < 2; ++i) {
                {
                    Result<std::unique_ptr<HtmlDocument>> document =
                        createHtmlParser()->parse(c.piece.repeated(pieces << (2 * i)));
                    if (!document.ok())
                        std::_Exit(4);
                }
                peaks[i] = TakeParserMemoryPeak();
            }
            std::fprintf(stderr, "the parser's peak: %zu bytes, four times the page: %zu bytes\n", peaks[0], peaks[1]);
            std::_Exit(peaks[1] <= 5 * peaks[0] ? 0 : 1);
        };
        EXPECT_EXIT(growth(), testing::ExitedWithCode(0), "");
    }
}

#ifndef _WIN32
namespace {

// The longest walk from the root of the cache in which MyHTML keeps the blocks its strings gave back, after it
// parsed the page: every allocation of a string searches that cache, and a search follows one such walk at most.
// The parse is made by a MyHTML tree of the test's own (with the program's routines in place, as in every parse),
// whose cache can be read through MyHTML's headers.
std::size_t longestFreeBlockSearch(const QByteArray& page, std::size_t& blocks)
{
    myhtml_t* myhtml = myhtml_create();
    myhtml_init(myhtml, MyHTML_OPTIONS_PARSE_MODE_SINGLE, 1, 0);
    myhtml_tree_t* tree = myhtml_tree_create();
    myhtml_tree_init(tree, myhtml);
    myhtml_parse(tree, MyENCODING_UTF_8, page.constData(), std::size_t(page.size()));
    const mchar_async_cache_t& cache = tree->mchar->nodes[tree->mchar_node_id].cache;
    blocks = cache.count;
    std::size_t longest = 0;
    std::vector<std::pair<std::size_t, std::size_t>> pending; // a slot and its depth
    if (cache.nodes_root != 0)
        pending.emplace_back(cache.nodes_root, 1);
    while (!pending.empty()) {
        const auto [slot, depth] = pending.back();
        pending.pop_back();
        longest = std::max(longest, depth);
        for (const std::size_t child : {cache.nodes[slot].left, cache.nodes[slot].right})
            if (child != 0)
                pending.emplace_back(child, depth + 1);
    }
    myhtml_tree_destroy(tree);
    myhtml_destroy(myhtml);
    return longest;
}

} // namespace

// A page of many attributes, each key and value a string of its own, leaves blocks too small for any later string in
// MyHTML's cache of given-back blocks (the last bytes of each chunk). The search through the cache grows with the
// logarithm of what it holds, not with all of it (searched from the smallest, 4.8 million id attributes would take
// twelve times as long as as many title attributes, the only difference the size of the blocks left over).
TEST(HtmlDocument, ManyAttributesKeepTheSearchForAFreeBlockShort)
{
    const auto page = [](int count, const char* attribute) {
        QByteArray html;
        for (int i = 0; i < count; ++i)
            html += QByteArray("<p ") + attribute + "=i" + QByteArray::number(i) + ">x</p>";
        return html;
    };
    for (const char* attribute : {"id", "xy"}) {
        SCOPED_TRACE(attribute);
        std::size_t blocks[2] = {}, longest[2] = {};
        for (int i = 0; i < 2; ++i) {
            longest[i] = longestFreeBlockSearch(page(100000 << (2 * i), attribute), blocks[i]);
            EXPECT_LE(longest[i], 3 * std::bit_width(blocks[i])) << blocks[i] << " blocks held";
        }
        EXPECT_GE(blocks[1], 3 * blocks[0]);
    }

    // The strings in blocks taken from the cache stay whole.
    const QByteArray html = page(100000, "id");
    const auto document = parse(html);
    EXPECT_EQ(document->getElementsByTagName("p").length(), 100000u);
    EXPECT_EQ(document->body().innerHTML(), QByteArray(html).replace("=i", "=\"i").replace(">x", "\">x").toStdString());
}
#endif
