// quillory-corpus: writes the benchmark corpus, many mid-sized pages plus one very large page.
//
// The pages are synthetic but carry what makes extraction slow or wrong in practice: upper-case
// tags, implied and missing end tags, misnesting, tag-like text inside scripts, styles and comments,
// entities, Windows-1252 bytes, CRLF. The output depends on nothing but the seed, so timings taken
// on different machines or days are comparing the same bytes.

#include "CorpusStamp.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kKB = 1000;
constexpr std::uint64_t kMB = 1000 * kKB;

// splitmix64 rather than <random>: the standard distributions are implementation-defined, and the
// corpus has to be byte-identical whichever library built the generator.
class Rng
{
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}

    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) { return std::uint32_t(((next() >> 32) * n) >> 32); }
    int between(int lo, int hi) { return lo + int(below(std::uint32_t(hi - lo + 1))); }
    bool percent(unsigned p) { return below(100) < p; }
    template <class T, std::size_t N> const T& pick(const T (&items)[N]) { return items[below(N)]; }
    template <class T> const T& pick(const std::vector<T>& items) { return items[below(std::uint32_t(items.size()))]; }

private:
    std::uint64_t m_state;
};

// Each page gets its own stream so that page 17 is the same whatever --files says.
std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t index)
{
    return Rng(seed ^ (index * 0xd1b54a32d192ed03ULL)).next();
}

constexpr bool containsOne(std::string_view s)
{
    for (std::size_t i = 0; i + 3 <= s.size(); ++i) {
        if ((s[i] | 0x20) == 'o' && (s[i + 1] | 0x20) == 'n' && (s[i + 2] | 0x20) == 'e')
            return true;
    }
    return false;
}

template <std::size_t N> constexpr bool noneContainsOne(const std::string_view (&words)[N])
{
    for (std::string_view w : words) {
        if (containsOne(w))
            return false;
    }
    return true;
}

// The search mode is measured with "one", so the filler vocabulary must never contain it (no
// "money", "phone", "component"): its frequency is set only by Page::word().
constexpr std::string_view kWords[] = {
    "the",      "of",       "and",      "to",       "in",        "a",         "is",       "for",      "with",
    "as",       "by",       "on",       "at",       "from",      "that",      "this",     "was",      "are",
    "be",       "it",       "or",       "an",       "not",       "which",     "all",      "new",      "more",
    "can",      "will",     "has",      "per",      "report",    "table",     "data",     "value",    "market",
    "quarter",  "revenue",  "growth",   "sales",    "region",    "total",     "customer", "order",    "product",
    "service",  "price",    "cost",     "margin",   "index",     "update",    "status",   "review",   "summary",
    "account",  "balance",  "invoice",  "shipping", "delivery",  "warehouse", "supplier", "north",    "south",
    "east",     "west",     "central",  "first",    "second",    "third",     "last",     "next",     "previous",
    "year",     "month",    "week",     "day",      "today",     "annual",    "monthly",  "weekly",   "daily",
    "average",  "median",   "high",     "low",      "open",      "close",     "net",      "gross",    "budget",
    "forecast", "actual",   "variance", "target",   "project",   "team",      "manager",  "director", "staff",
    "office",   "branch",   "city",     "country",  "address",   "email",     "contact",  "support",  "help",
    "about",    "news",     "archive",  "search",   "results",   "page",      "section",  "chapter",  "article",
    "note",     "reply",    "author",   "editor",   "published", "draft",     "approved", "pending",  "closed",
    "active",   "inactive", "yes",      "no",       "maybe",     "small",     "large",    "medium",   "red",
    "green",    "blue",     "black",    "white",    "silver",    "gold",      "paper",    "steel",    "glass",
    "wood",     "water",    "river",    "mountain", "valley",    "garden",    "house",    "street",   "station",
    "airport",  "harbour",  "bridge",   "quickly",  "slowly",    "clearly",   "simply",   "really",   "usually",
    "often",    "never",    "always",   "again",    "between",   "through",   "during",   "before",   "after",
    "under",    "over",     "within",   "without",  "across",    "widget",    "gadget",   "sprocket", "bracket",
    "module",   "system",   "network",  "server",   "client",    "cache",     "Monday",   "Tuesday",  "Friday",
    "January",  "March",    "August",   "December", "Paris",     "Berlin",    "Madrid",   "Lisbon",   "Oslo",
    "Vienna",   "Chicago",  "Toronto",  "Sydney",   "Smith",     "Taylor",    "Brown",    "Wilson",   "Clark",
    "Q3",       "ID",       "USA",      "EU",       "VAT",       "PDF",       "v2",       "(see",     "below)",
    "etc.",     "e.g.",     "i.e.",     "-",        "/",         "+"};
static_assert(noneContainsOne(kWords));

// Every one of these has a Windows-1252 form; they are stored as UTF-8 and converted per page.
constexpr std::string_view kAccented[] = {
    "café",    "naïve",    "résumé",   "Müller",   "Zürich",      "façade",   "señor",  "crème",
    "brûlée",  "déjà",     "Größe",    "Ångström", "smørrebrød",  "São",      "Bogotá", "Málaga",
    "Köln",    "Øresund",  "Þórsmörk", "fiancée",  "über",        "coût",     "entrée", "Kraków",
    "Curaçao", "Besançon", "Straße",   "Ærø",      "pâté",        "jalapeño", "Åland",  "€",
    "£",       "–",        "—",        "…",        "“Quarterly”", "‘draft’",  "™",      "25°C",
    "½",       "×",        "Œuvre",    "Šibenik",  "žurnal",      "•"};
static_assert(noneContainsOne(kAccented));

// Outside Windows-1252, so only ever written into UTF-8 pages.
constexpr std::string_view kWide[] = {"日本語", "東京都", "数据表", "Привет", "Москва", "таблица", "Ελληνικά",
                                      "Αθήνα",  "שלום",   "مرحبا",  "한국어", "Łódź",   "Gdańsk",  "İstanbul",
                                      "→",      "✓",      "😀",      "₹500",   "ﬁnance", "Δx≈0.5"};
static_assert(noneContainsOne(kWide));

constexpr std::string_view kOne[] = {"one", "one", "one", "One", "One", "ONE", "someone", "one-off"};

constexpr std::string_view kEntities[] = {
    "&amp;", "&nbsp;", "&eacute;", "&#8364;", "&lt;tr&gt;", "&quot;quoted&quot;", "&#x2014;", "&copy;",     "AT&amp;T",
    "R&D",   "&nbsp",  "&hellip;", "&euro;",  "&#39;",      "&Uuml;ber",          "&bogus;",  "caf&eacute;"};

constexpr std::string_view kClasses[] = {
    "row",   "cell", "card",  "card-body", "label", "value", "note",     "warning",   "nav",     "menu",  "item",
    "price", "num",  "total", "highlight", "odd",   "even",  "col-md-4", "container", "sidebar", "muted", "badge"};

constexpr std::string_view kScripts[] = {
    "// rows are built here because the server used to send <tr> fragments\n"
    "var html = \"<table class='dyn'>\";\n"
    "for (var i = 0; i < rows.length; i++) {\n"
    "  html += \"<tr><td>\" + rows[i].name + \"</td><td>\" + rows[i].qty + \"</td></tr>\";\n"
    "}\n"
    "document.getElementById(\"out\").innerHTML = html + \"</table></div>\";",

    "<!--\n"
    "if (a < b && b > c) { document.write(\"<p>legacy</p>\"); }\n"
    "document.write(\"<script src='/js/old.js'></scr\" + \"ipt>\");\n"
    "//-->",

    "window.dataLayer = window.dataLayer || [];\n"
    "function track(e) { dataLayer.push({ event: e, label: \"</div><span>\" }); }\n"
    "track('page');",

    "var tpl = '<li class=\"item\"><a href=\"#\">{name}</a></li>';\n"
    "/* closing tags in strings: </ul> </li> </body> */\n"
    "var x = 3 < 4 ? '<b>' : '</b>';"};

constexpr std::string_view kStyles[] = {"/* legacy: <tr> rows used to be striped by script; see </div> below */\n"
                                        "table.data td { padding: 2px 6px; border-bottom: 1px solid #ddd; }\n"
                                        "tr:nth-child(even) { background: #f6f6f6; }\n"
                                        ".hidden { visibility: hidden; }",

                                        "body { font: 14px/1.4 Georgia, serif; margin: 0 auto; max-width: 960px; }\n"
                                        "div.card > span.label { font-weight: bold; }\n"
                                        "a[href^=\"mailto:\"]::after { content: \" <mail>\"; }"};

constexpr std::string_view kComments[] = {
    "<!-- removed: <tr><td>old price</td></tr> -->",
    "<!-- </div> closes .page further down -->",
    "<!--[if lt IE 9]><script src=\"/js/html5shiv.js\"></script><![endif]-->",
    "<!--\n<table class=\"old\">\n  <tr><td>Archived</td><td>2009</td></tr>\n</table>\n-->",
    "<!-- TODO -- check with sales -->",
    "<!---->"};

// UTF-8 to Windows-1252 for the few code points kAccented uses; anything else becomes '?'.
std::string toWindows1252(std::string_view utf8)
{
    static constexpr struct
    {
        char32_t cp;
        unsigned char byte;
    } kHigh[] = {
        {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86}, {0x2021, 0x87},
        {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C}, {0x017D, 0x8E}, {0x2018, 0x91},
        {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95}, {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98},
        {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B}, {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F},
    };
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        auto lead = static_cast<unsigned char>(utf8[i]);
        int extra = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : 3;
        char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += extra + 1;

        char byte = '?';
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
            byte = char(cp);
        for (const auto& h : kHigh) {
            if (h.cp == cp)
                byte = char(h.byte);
        }
        out += byte;
    }
    return out;
}

struct Vocabulary
{
    std::vector<std::string> accented;
    std::vector<std::string> wide; // empty for single-byte pages
    std::string euro;
};

Vocabulary makeVocabulary(bool utf8)
{
    Vocabulary v;
    for (std::string_view w : kAccented)
        v.accented.push_back(utf8 ? std::string(w) : toWindows1252(w));
    if (utf8) {
        for (std::string_view w : kWide)
            v.wide.emplace_back(w);
    }
    v.euro = utf8 ? "€" : "\x80";
    return v;
}

enum class Charset
{
    Utf8Meta,
    Utf8Bare,
    Utf8Bom,
    Windows1252Meta,
    Latin1Meta,
    Windows1252Bare
};
enum class LineEnds
{
    Lf,
    Crlf,
    Mixed
};
enum class TagCase
{
    Lower,
    Upper,
    Capitalised
};

bool isUtf8(Charset c)
{
    return c == Charset::Utf8Meta || c == Charset::Utf8Bare || c == Charset::Utf8Bom;
}

class Page
{
public:
    Page(Rng& rng, const Vocabulary& vocab, LineEnds ends) : m_rng(rng), m_vocab(vocab), m_ends(ends) {}

    std::string out;

    // An unclosed <b> or <div> pushes everything after it one level deeper. Once or twice in a page
    // that is realistic; repeated thousands of times in the big page it nests the tree hundreds deep
    // and the big-file figures would measure tree depth instead of size, so that page turns this off.
    bool leaveElementsOpen = true;

    void head(Charset charset, std::uint64_t number)
    {
        m_docCase = m_rng.percent(6) ? TagCase::Upper : TagCase::Lower;
        m_case = m_docCase;
        if (charset == Charset::Utf8Bom)
            out += "\xEF\xBB\xBF";
        int doctype = m_rng.below(10);
        if (doctype < 7)
            out += "<!DOCTYPE html>";
        else if (doctype < 9)
            out += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" "
                   "\"http://www.w3.org/TR/html4/loose.dtd\">";
        if (doctype < 9)
            newline();
        open("html", " lang=\"en\"");
        newline();
        open("head");
        switch (charset) {
        case Charset::Utf8Meta:
            lineAt(1, m_rng.percent(50) ? "<meta charset=\"utf-8\">" : "<meta charset=\"UTF-8\">");
            break;
        case Charset::Windows1252Meta:
            lineAt(1, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=windows-1252\">");
            break;
        case Charset::Latin1Meta:
            lineAt(1, "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">");
            break;
        default:
            break;
        }
        startLine(1);
        open("title");
        words(m_rng.between(2, 6), false);
        out += " #";
        integer(number);
        close("title");
        if (m_rng.percent(60))
            lineAt(1, "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
        if (m_rng.percent(50))
            lineAt(1, "<link rel=\"stylesheet\" href=\"/css/site.css\">");
        if (m_rng.percent(50))
            style(1);
        if (m_rng.percent(50))
            script(1);
        startLine(0);
        close("head");
        startLine(0);
        open("body", m_rng.percent(50) ? " class=\"report\"" : "");
        startLine(0);
        open("div", " class=\"page\"");
    }

    // Appends blocks until the page (or the current chunk of the big page) reaches target bytes.
    void fill(std::size_t target)
    {
        while (out.size() + 300 < target)
            block(1, target - out.size());
    }

    void tail()
    {
        startLine(0);
        close("div");
        startLine(0);
        open("div", " class=\"footer\"");
        for (int i = m_rng.between(2, 5); i > 0; --i) {
            out += ' ';
            link(m_rng.between(1, 2));
        }
        close("div");
        if (!m_rng.percent(5)) {
            startLine(0);
            close("body");
            startLine(0);
            close("html");
        }
        if (!m_rng.percent(5))
            newline();
    }

    // Hands over the finished lines and keeps the one still being written, so the big page can go
    // to disk in chunks without its line lengths or indentation noticing.
    std::string takeFinishedLines()
    {
        std::string done = out.substr(0, m_lineStart);
        out.erase(0, m_lineStart);
        m_lineStart = 0;
        return done;
    }

private:
    Rng& m_rng;
    const Vocabulary& m_vocab;
    LineEnds m_ends;
    TagCase m_docCase = TagCase::Lower;
    TagCase m_case = TagCase::Lower;
    std::size_t m_lineStart = 0;
    std::size_t m_lineWidth = 120;
    int m_indent = 0;

    void newline()
    {
        bool crlf = m_ends == LineEnds::Crlf || (m_ends == LineEnds::Mixed && m_rng.percent(30));
        out += crlf ? "\r\n" : "\n";
        m_lineStart = out.size();
        m_lineWidth = std::size_t(m_rng.between(80, 200));
    }

    void startLine(int depth)
    {
        if (out.size() != m_lineStart)
            newline();
        m_indent = depth;
        out.append(std::size_t(2 * std::min(depth, 8)), ' ');
    }

    void lineAt(int depth, std::string_view text)
    {
        startLine(depth);
        out += text;
    }

    // Multi-line literals carry '\n'; they go through newline() so the page's line-ending style holds.
    void lines(int depth, std::string_view text)
    {
        while (!text.empty()) {
            std::size_t nl = text.find('\n');
            lineAt(depth, text.substr(0, nl));
            text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        }
    }

    void name(std::string_view tag)
    {
        for (std::size_t i = 0; i < tag.size(); ++i) {
            char c = tag[i];
            bool up = m_case == TagCase::Upper || (m_case == TagCase::Capitalised && i == 0);
            out += up && c >= 'a' && c <= 'z' ? char(c - 32) : c;
        }
    }

    void open(std::string_view tag, std::string_view attributes = {})
    {
        out += '<';
        name(tag);
        out += attributes;
        out += '>';
    }

    void close(std::string_view tag)
    {
        out += "</";
        name(tag);
        out += '>';
    }

    void integer(std::uint64_t n)
    {
        char buf[24];
        auto end = std::to_chars(buf, buf + sizeof buf, n).ptr;
        out.append(buf, end);
    }

    void figure()
    {
        switch (m_rng.below(6)) {
        case 0:
            integer(m_rng.below(100000));
            out += '.';
            integer(10 + m_rng.below(90));
            break;
        case 1:
            integer(1 + m_rng.below(99));
            out += ',';
            integer(100 + m_rng.below(900));
            break;
        case 2:
            integer(m_rng.below(100));
            out += '%';
            break;
        case 3:
            integer(1990 + m_rng.below(36));
            break;
        default:
            integer(m_rng.below(1000));
            break;
        }
    }

    void money()
    {
        switch (m_rng.below(5)) {
        case 0:
            out += "$";
            break;
        case 1:
            out += "&#8364; ";
            break;
        case 2:
            out += "&euro;";
            break;
        case 3:
            out += "EUR ";
            break;
        default:
            out += m_vocab.euro;
            out += ' ';
            break;
        }
        integer(m_rng.below(10000));
        out += '.';
        integer(10 + m_rng.below(90));
    }

    // About one prose line in seven ends up holding a form of "one"; the rest of the vocabulary never does.
    void word()
    {
        std::uint32_t r = m_rng.below(1000);
        if (r < 10)
            out += m_rng.pick(kOne);
        else if (r < 40)
            out += m_rng.pick(m_vocab.accented);
        else if (r < 50 && !m_vocab.wide.empty())
            out += m_rng.pick(m_vocab.wide);
        else if (r < 74)
            figure();
        else
            out += m_rng.pick(kWords);
    }

    void wrap()
    {
        if (out.size() - m_lineStart > m_lineWidth) {
            newline();
            out.append(std::size_t(2 * std::min(m_indent + 1, 8)), ' ');
        }
    }

    void words(int count, bool rich)
    {
        for (int i = 0; i < count; ++i) {
            wrap();
            if (i > 0 && out.back() != ' ')
                out += ' ';
            if (rich && m_rng.percent(10))
                inlineMarkup();
            else
                word();
        }
    }

    void link(int count)
    {
        switch (m_rng.below(6)) {
        case 0:
            out += "<a href=\"https://example.com/reports/";
            integer(2000 + m_rng.below(25));
            out += "/q";
            integer(1 + m_rng.below(4));
            out += ".html?id=";
            integer(m_rng.below(100000));
            out += "&amp;lang=en\">";
            break;
        case 1:
            out += "<a href=\"/products/item-";
            integer(m_rng.below(5000));
            out += ".html\" title=\"";
            words(2, false);
            out += "\">";
            break;
        case 2:
            out += "<a href=\"#section-";
            integer(m_rng.below(50));
            out += "\">";
            break;
        case 3:
            out += "<a href=\"mailto:sales@example.com\">";
            break;
        case 4:
            out += "<a href=/archive/";
            integer(m_rng.below(300));
            out += "/index.html>";
            break;
        default:
            out += "<A HREF=\"../index.html\" TARGET=\"_blank\">";
            break;
        }
        words(count, false);
        out += "</a>";
    }

    void inlineMarkup()
    {
        static constexpr std::string_view kInline[] = {"b", "i", "em", "strong", "span", "code", "small"};
        switch (m_rng.below(10)) {
        case 0:
        case 1: {
            std::string_view tag = m_rng.pick(kInline);
            open(tag, tag == "span" ? " class=\"highlight\"" : "");
            words(m_rng.between(1, 4), false);
            close(tag);
            break;
        }
        case 2:
        case 3:
            link(m_rng.between(1, 4));
            break;
        case 4:
        case 5:
            out += m_rng.pick(kEntities);
            break;
        case 6:
            out += m_rng.percent(70) ? "<br>" : "<br/>";
            break;
        case 7:
            money();
            break;
        case 8:
            // A formatting element left open: the tree builder carries it into the following blocks.
            if (leaveElementsOpen && m_rng.percent(3)) {
                out += "<b>";
                word();
            } else {
                out += "<b><i>";
                words(2, false);
                out += "</b></i>";
            }
            break;
        default:
            out += "<img src=\"/img/icon-";
            integer(m_rng.below(40));
            out += ".png\" alt=\"\" width=16 height=16>";
            break;
        }
    }

    void block(int depth, std::size_t budget)
    {
        std::uint32_t r = m_rng.below(100);
        if (r < 30)
            paragraph(depth, budget);
        else if (r < 52)
            table(depth, budget);
        else if (r < 62)
            list(depth, 0);
        else if (r < 72 && depth < 6)
            divs(depth, budget);
        else if (r < 80)
            heading(depth);
        else if (r < 84)
            lines(depth, m_rng.pick(kComments));
        else if (r < 87)
            script(depth);
        else if (r < 88)
            style(depth);
        else if (r < 94)
            malformed(depth);
        else
            miscellany(depth);
    }

    void paragraph(int depth, std::size_t budget)
    {
        startLine(depth);
        open("p", m_rng.percent(20) ? " class=\"note\"" : "");
        words(int(std::min<std::size_t>(std::size_t(m_rng.between(15, 150)), budget / 8 + 1)), true);
        if (!m_rng.percent(12))
            close("p");
    }

    void heading(int depth)
    {
        char level = char('1' + m_rng.below(4));
        std::string tag = std::string("h") + level;
        startLine(depth);
        out += '<';
        name(tag);
        out += " id=\"section-";
        integer(m_rng.below(1000));
        out += "\">";
        words(m_rng.between(2, 8), false);
        close(tag);
    }

    void cell(bool header)
    {
        std::string_view tag = header ? "th" : "td";
        std::uint32_t r = m_rng.below(100);
        if (r < 8)
            open(tag, m_case == TagCase::Upper ? " ALIGN=right" : " class=num align=right");
        else if (r < 12)
            open(tag, " colspan=\"2\"");
        else
            open(tag);
        if (header) {
            words(m_rng.between(1, 3), false);
        } else {
            r = m_rng.below(100);
            if (r < 35)
                figure();
            else if (r < 45)
                money();
            else if (r < 50)
                out += m_rng.percent(50) ? "&nbsp;" : "";
            else if (r < 56)
                link(m_rng.between(1, 3));
            else if (r < 62) {
                open("span", " class=\"badge\"");
                words(1, false);
                close("span");
            } else {
                words(m_rng.between(1, 5), m_rng.percent(15));
            }
        }
        // Cells may legally omit their end tag; real pages do so often.
        if (!m_rng.percent(4))
            close(tag);
    }

    void table(int depth, std::size_t budget)
    {
        TagCase saved = m_case;
        std::uint32_t c = m_rng.below(100);
        m_case = c < 12 ? TagCase::Upper : c < 15 ? TagCase::Capitalised : m_docCase;
        int columns = m_rng.between(2, 8);
        int rows = std::min(m_rng.between(3, 60), int(budget / std::size_t(columns * 28 + 20)) + 1);
        bool rowPerLine = m_rng.percent(85);

        startLine(depth);
        open("table", m_case == TagCase::Upper ? " BORDER=1 CELLPADDING=2" : " class=\"data\" border=\"1\"");
        if (m_rng.percent(30)) {
            startLine(depth + 1);
            open("caption");
            words(m_rng.between(2, 6), false);
            close("caption");
        }
        bool sections = m_rng.percent(50);
        if (sections) {
            startLine(depth + 1);
            open("thead");
        }
        row(depth + 1, columns, true, rowPerLine);
        if (sections) {
            startLine(depth + 1);
            close("thead");
            startLine(depth + 1);
            open("tbody");
        }
        for (int i = 0; i < rows; ++i)
            row(depth + 1, columns, false, rowPerLine);
        if (sections) {
            startLine(depth + 1);
            close("tbody");
        }
        startLine(depth);
        close("table");
        m_case = saved;
    }

    void row(int depth, int columns, bool header, bool rowPerLine)
    {
        startLine(depth);
        open("tr", m_rng.percent(20) ? (m_rng.percent(50) ? " class=\"odd\"" : " class=\"even\"") : "");
        for (int i = 0; i < columns; ++i) {
            if (!rowPerLine)
                startLine(depth + 1);
            if (!header && depth < 4 && m_rng.percent(1)) {
                // A table nested in a cell: extraction by tag must not confuse the inner rows with ours.
                open("td");
                table(depth + 2, 600);
                close("td");
            } else {
                cell(header);
            }
        }
        if (!rowPerLine)
            startLine(depth);
        if (!m_rng.percent(3))
            close("tr");
    }

    void list(int depth, int nesting)
    {
        std::string_view tag = m_rng.percent(25) ? "ol" : "ul";
        startLine(depth);
        open(tag, m_rng.percent(40) ? " class=\"nav\"" : "");
        for (int i = m_rng.between(2, 12); i > 0; --i) {
            startLine(depth + 1);
            open("li");
            if (m_rng.percent(40))
                link(m_rng.between(1, 4));
            else
                words(m_rng.between(3, 14), true);
            if (nesting < 2 && m_rng.percent(8))
                list(depth + 2, nesting + 1);
            if (!m_rng.percent(30))
                close("li");
        }
        startLine(depth);
        close(tag);
    }

    void divs(int depth, std::size_t budget)
    {
        int levels = m_rng.between(1, 4);
        for (int i = 0; i < levels; ++i) {
            startLine(depth + i);
            out += "<div class=\"";
            out += m_rng.pick(kClasses);
            out += "\">";
        }
        int inner = depth + levels;
        for (int i = m_rng.between(1, 4); i > 0; --i) {
            if (m_rng.percent(50)) {
                startLine(inner);
                out += "<span class=\"label\">";
                words(m_rng.between(1, 3), false);
                out += "</span> <span class=\"value\">";
                figure();
                out += "</span>";
            } else {
                block(inner, budget / 3);
            }
        }
        for (int i = levels - 1; i >= 0; --i) {
            startLine(depth + i);
            out += "</div>";
        }
    }

    void script(int depth)
    {
        startLine(depth);
        out += m_rng.percent(50) ? "<script type=\"text/javascript\">" : "<script>";
        lines(depth + 1, m_rng.pick(kScripts));
        lineAt(depth, "</script>");
    }

    void style(int depth)
    {
        startLine(depth);
        out += "<style type=\"text/css\">";
        lines(depth + 1, m_rng.pick(kStyles));
        lineAt(depth, "</style>");
    }

    void malformed(int depth)
    {
        startLine(depth);
        switch (m_rng.below(10)) {
        case 0: // misnested formatting
            out += "<p><b>";
            words(3, false);
            out += " <i>";
            words(3, false);
            out += "</b> ";
            words(2, false);
            out += "</i></p>";
            break;
        case 1: // span never closed; the div's end tag has to close it
            out += "<div class=\"note\"><span>";
            words(m_rng.between(4, 12), false);
            out += "</div>";
            break;
        case 2: { // end tags with nothing to close; a stray </p> even creates an empty paragraph
            static constexpr std::string_view kStray[] = {"</span>", "</td>", "</tr>", "</li>", "</font>", "</p>"};
            out += m_rng.pick(kStray);
            words(m_rng.between(3, 10), false);
            break;
        }
        case 3: // text directly inside a table gets moved out in front of it
            out += "<table class=\"x\">";
            words(3, false);
            out += "<tr><td>";
            words(2, false);
            out += "</td>";
            words(2, false);
            out += "</tr></table>";
            break;
        case 4: // a paragraph opened inside another
            out += "<p>";
            words(m_rng.between(5, 15), false);
            out += " <p>";
            words(m_rng.between(5, 15), false);
            out += "</p>";
            break;
        case 5: // a link inside a link
            link(2);
            out.resize(out.size() - 4); // take back the "</a>" so the first link stays open
            out += ' ';
            link(2);
            break;
        case 6: // bare < and & in text
            out += "<p>if a < b && c > d then ";
            words(4, false);
            out += " (x <= y, <3, 5 <> 6)</p>";
            break;
        case 7: // duplicate and unquoted attributes
            out += "<div id=main class=a class=b data-x=>";
            words(m_rng.between(3, 8), false);
            out += "</div>";
            break;
        case 8: // font closed before the bold inside it
            out += "<font color=red><b>";
            words(m_rng.between(2, 6), false);
            out += "</font></b>";
            break;
        default: // a div that is never closed, and cells outside any table
            if (leaveElementsOpen && m_rng.percent(20))
                out += "<div class=\"unclosed\">";
            out += "<td>";
            words(3, false);
            out += "</td>";
            break;
        }
    }

    void miscellany(int depth)
    {
        startLine(depth);
        switch (m_rng.below(5)) {
        case 0:
            out += "<pre>";
            for (int i = m_rng.between(2, 6); i > 0; --i) {
                newline();
                out += "  &lt;tr&gt;&lt;td&gt;";
                words(m_rng.between(1, 4), false);
                out += "&lt;/td&gt;&lt;/tr&gt;";
            }
            out += "</pre>";
            break;
        case 1:
            out += "<hr>";
            break;
        case 2:
            out += "<blockquote>";
            words(m_rng.between(10, 40), true);
            out += "</blockquote>";
            break;
        case 3:
            out += "<form action=\"/search\" method=\"get\"><input type=\"text\" name=\"q\" value=\"\">"
                   "<select name=\"s\"><option>";
            word();
            out += "<option selected>";
            word();
            out += "</select><input type=submit></form>";
            break;
        default:
            out += "<figure><img src=\"/img/chart-";
            integer(m_rng.below(500));
            out += ".png\" alt=\"";
            words(3, false);
            out += "\"><figcaption>";
            words(m_rng.between(3, 10), false);
            out += "</figcaption></figure>";
            break;
        }
    }
};

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0)
            return false;
        data.remove_prefix(std::size_t(n));
    }
    return true;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "quillory-corpus: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

int openForWrite(const fs::path& path)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail("cannot create " + path.string());
    return fd;
}

void writeFile(const fs::path& path, std::string_view data)
{
    int fd = openForWrite(path);
    if (!writeAll(fd, data) || ::close(fd) != 0)
        fail("cannot write " + path.string());
}

Charset pickCharset(Rng& rng)
{
    std::uint32_t r = rng.below(100);
    if (r < 40)
        return Charset::Utf8Meta;
    if (r < 65)
        return Charset::Utf8Bare;
    if (r < 68)
        return Charset::Utf8Bom;
    if (r < 82)
        return Charset::Windows1252Meta;
    if (r < 87)
        return Charset::Latin1Meta;
    return Charset::Windows1252Bare;
}

LineEnds pickLineEnds(Rng& rng)
{
    std::uint32_t r = rng.below(100);
    return r < 60 ? LineEnds::Lf : r < 90 ? LineEnds::Crlf : LineEnds::Mixed;
}

bool parseNumber(const char* text, std::uint64_t& value)
{
    const char* end = text + std::strlen(text);
    auto [ptr, ec] = std::from_chars(text, end, value);
    return ec == std::errc() && ptr == end && ptr != text;
}

[[noreturn]] void usage()
{
    std::fprintf(stderr, "usage: quillory-corpus DIR [--files N (2000)] [--big-mb M (50, 0 = none)] [--seed S (1)]\n");
    std::exit(2);
}

} // namespace

int main(int argc, char** argv)
{
    const char* dirArg = nullptr;
    std::uint64_t files = 2000, bigMb = 50, seed = 1;
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::uint64_t* target = arg == "--files"    ? &files
                                : arg == "--big-mb" ? &bigMb
                                : arg == "--seed"   ? &seed
                                                    : nullptr;
        if (target) {
            if (i + 1 >= argc || !parseNumber(argv[++i], *target))
                usage();
        } else if (!arg.starts_with('-') && !dirArg) {
            dirArg = argv[i];
        } else {
            usage();
        }
    }
    if (!dirArg || files > 999999 || bigMb > 100000)
        usage();

    const fs::path dir = dirArg;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "quillory-corpus: cannot create %s: %s\n", dirArg, ec.message().c_str());
        return 1;
    }
    // The stamp goes first and comes back last, so an interrupted run never looks complete. Pages from
    // an earlier, larger corpus are removed too, or they would be measured along with the new ones.
    fs::remove(dir / kCorpusStampName, ec);
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if ((name.starts_with("page-") && name.ends_with(".html")) || name == "big.html")
            fs::remove(entry.path(), ec);
    }

    const auto started = std::chrono::steady_clock::now();
    const Vocabulary utf8 = makeVocabulary(true);
    const Vocabulary windows1252 = makeVocabulary(false);
    const int width = std::max<int>(4, int(std::to_string(files).size()));
    std::uint64_t bytes = 0;

    for (std::uint64_t i = 1; i <= files; ++i) {
        Rng rng(streamSeed(seed, i));
        const Charset charset = pickCharset(rng);
        Page page(rng, isUtf8(charset) ? utf8 : windows1252, pickLineEnds(rng));
        page.out.reserve(210 * kKB);
        page.head(charset, i);
        page.fill(std::size_t(rng.between(5 * kKB, 200 * kKB)));
        page.tail();

        char buf[32];
        std::snprintf(buf, sizeof buf, "page-%0*llu.html", width, static_cast<unsigned long long>(i));
        writeFile(dir / buf, page.out);
        bytes += page.out.size();
    }

    if (bigMb > 0) {
        // One document, written in chunks so memory stays flat however large it is asked to be.
        Rng rng(streamSeed(seed, 0));
        Page page(rng, utf8, LineEnds::Lf);
        page.leaveElementsOpen = false;
        const fs::path path = dir / "big.html";
        const int fd = openForWrite(path);
        const std::uint64_t target = bigMb * kMB;
        const std::size_t chunk = 4 * kMB;
        std::uint64_t written = 0;
        page.out.reserve(chunk + 300 * kKB);
        page.head(Charset::Utf8Meta, 0);
        while (written + chunk < target) {
            page.fill(chunk);
            const std::string lines = page.takeFinishedLines();
            if (!writeAll(fd, lines))
                fail("cannot write " + path.string());
            written += lines.size();
        }
        page.fill(std::size_t(target - written));
        page.tail();
        written += page.out.size();
        if (!writeAll(fd, page.out) || ::close(fd) != 0)
            fail("cannot write " + path.string());
        bytes += written;
    }

    writeFile(dir / kCorpusStampName, corpusStamp(unsigned(files), unsigned(bigMb), seed));

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("wrote %llu files, %llu bytes (%.1f MB) to %s in %.2f s\n",
                static_cast<unsigned long long>(files + (bigMb > 0 ? 1 : 0)), static_cast<unsigned long long>(bytes),
                double(bytes) / double(kMB), dirArg, seconds);
    return 0;
}
