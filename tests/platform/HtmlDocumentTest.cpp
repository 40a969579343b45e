#include "HtmlDocument.h"
#include "HtmlEncoding.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>

namespace {

std::unique_ptr<HtmlDocument> parse(const QByteArray& bytes)
{
    static std::unique_ptr<HtmlParser> parser = createHtmlParser();
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
        {"a declaration after the first 1024 bytes is not seen",
         QByteArray(1100, ' ') + "<meta charset=windows-1252><p>\xC3\xA9</p>", "\xC3\xA9"},
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

TEST(HtmlDocument, DeepNestingIsWalkedWithoutRecursion)
{
    // Far deeper than any stack would allow a recursive walk on a small thread stack.
    constexpr int depth = 20000;
    QByteArray html = "<body>";
    for (int i = 0; i < depth; ++i)
        html += "<div>";
    html += "x";
    const auto document = parse(html);
    const HtmlElementCollection divs = document->getElementsByTagName("div");
    ASSERT_EQ(divs.length(), std::uint32_t(depth));
    EXPECT_EQ(divs.item(0).all().length(), std::uint32_t(depth - 1));
    EXPECT_EQ(divs.item(depth - 1).innerText(), "x");
    const std::string markup = divs.item(0).innerHTML();
    EXPECT_EQ(markup.size(), std::size_t(depth - 1) * 11 + 1);
    EXPECT_EQ(markup.substr(std::size_t(depth - 1) * 5, 7), "x</div>");
}

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
    auto load = [&parser](const QByteArray& html) { return std::move(*parser->parse(html)); };
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
