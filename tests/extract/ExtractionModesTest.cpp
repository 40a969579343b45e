#include "ExtractionModes.h"
#include "AnsiCodec.h"
#include "DocumentWorker.h"
#include "FileExtraction.h"
#include "InProcessDocuments.h"
#include "MemoryInfo.h"
#include "TempDir.h"
#include "WorkerPool.h"

#include <QFile>

#include <gtest/gtest.h>

#include <random>

namespace {

using Rows = std::vector<std::string>;

struct ModeCase
{
    const char* name;
    ExtractionMode mode;
    QByteArray file;
    Rows expected;
    QString text = {}; // tag name for mode 2, search text for mode 3
};

// The window's way: a worker from its pool builds the document, then gives the rows asked for.
class PooledDocuments final : public DocumentSource
{
public:
    DocumentResult open(const QString& path) override
    {
        static const std::unique_ptr<DocumentService> pool =
            createWorkerDocuments(DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0});
        return pool->load(path, {})->take();
    }
};

// The rows of one file through each way the programs extract it: in this process, in a worker asked for whole files
// ahead (the command line's way) and in a worker of the window's pool. All three must agree; only the first checks
// the size of a file before reading it (a worker's own memory limit decides there).
Rows extract(ExtractionMode mode, const QString& path, const QString& text,
             std::optional<ExtractionFailure>* failure = nullptr, bool inProcessOnly = false)
{
    static std::unique_ptr<HtmlParser> parser = createHtmlParser();
    static DocumentWorker worker(DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0});
    const ExtractionTexts texts{text, text};
    const auto run = [&](DocumentSource& documents, Rows& rows) {
        return ExtractFile(path, mode, texts, documents, [&rows](std::string_view row) { rows.emplace_back(row); });
    };
    Rows rows;
    InProcessDocumentSource here(*parser);
    const std::optional<ExtractionFailure> result = run(here, rows);
    if (failure)
        *failure = result;
    else
        EXPECT_FALSE(result.has_value()) << result->description.toStdString();
    if (inProcessOnly)
        return rows;

    Rows queuedRows;
    if (IsDocumentMode(mode))
        worker.queue(path, mode, text);
    QueuedDocuments queued(worker);
    const std::optional<ExtractionFailure> queuedResult = run(queued, queuedRows);
    Rows pooledRows;
    PooledDocuments pooled;
    const std::optional<ExtractionFailure> pooledResult = run(pooled, pooledRows);
    EXPECT_EQ(queuedRows, rows) << "queued on a worker";
    EXPECT_EQ(pooledRows, rows) << "a worker of the window's pool";
    for (const std::optional<ExtractionFailure>& other : {queuedResult, pooledResult}) {
        EXPECT_EQ(other.has_value(), result.has_value());
        if (other && result) {
            EXPECT_EQ(other->stage, result->stage);
            EXPECT_EQ(other->description, result->description);
        }
    }
    return rows;
}

void checkCases(const std::vector<ModeCase>& cases)
{
    for (const ModeCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        EXPECT_EQ(extract(c.mode, dir.write("page.html", c.file), c.text), c.expected);
    }
}

constexpr auto Leaf = ExtractionMode::LeafTexts;
constexpr auto Blocks = ExtractionMode::ElementBlocks;
constexpr auto Lines = ExtractionMode::MatchingLines;
constexpr auto Tags = ExtractionMode::TagNames;

} // namespace

TEST(ExtractionModes, LeafTextsTakeOnlyInnermostElements)
{
    checkCases({
        {"text beside a child element is not emitted", Leaf, "<p>Hello <b>world</b></p>", {"world"}},
        {"empty cell gives an empty row", Leaf, "<table><tr><td>a</td><td></td></tr></table>", {"a", ""}},
        {"a line break makes its cell a container", Leaf, "<table><tr><td>one<br>two</td></tr></table>", {""}},
        {"the head is not visited",
         Leaf,
         "<head><title>T</title><meta charset=utf-8></head><body><p>x</p></body>",
         {"x"}},
        {"text unchanged in case, collapsed",
         Leaf,
         "<ul><li> Alpha\n  Beta </li><li>GAMMA</li></ul>",
         {"Alpha Beta", "GAMMA"}},
        {"images and inputs are innermost too", Leaf, "<p><img src=a.png></p><input value=v>", {"", ""}},
        {"script text as it stands", Leaf, "<body><script>var a = '<td>';</script>", {"var a = '<td>';"}},
        {"nothing inside the body", Leaf, "<html><head><title>T</title></head><body>only text</body></html>", {}},
        {"empty file", Leaf, "", {}},
        {"frameset pages give their frames", Leaf, "<frameset><frame src=a><frame src=b></frameset>", {"", ""}},
    });
}

TEST(ExtractionModes, ElementBlocksFrameEachMatchInMarkerRows)
{
    checkCases({
        {"one div", Blocks, "<div><b>Hi</b></div>", {"<tr>", "<b>hi</b>", "</tr>"}, "div"},
        {"two table rows",
         Blocks,
         "<table><tr><td>A</td></tr><tr><td>B</td><td>C</td></tr></table>",
         {"<tr>", "<td>a</td>", "</tr>", "<tr>", "<td>b</td><td>c</td>", "</tr>"},
         "tr"},
        {"text is lowered too",
         Blocks,
         "<table><tr><TD>Total</TD></tr></table>",
         {"<tr>", "<td>total</td>", "</tr>"},
         "TR"},
        {"empty content gives just the markers", Blocks, "<p></p>", {"<tr>", "</tr>"}, "p"},
        {"a name typed with brackets matches nothing", Blocks, "<table><tr><td>x</td></tr></table>", {}, "<tr>"},
        {"blanks around the name match nothing", Blocks, "<table><tr><td>x</td></tr></table>", {}, " tr"},
        {"no match, no rows", Blocks, "<p>x</p>", {}, "table"},
        {"markup is cut at every line break, blanks kept",
         Blocks,
         "<div>\n  <P>A</P>\n\t<p>b</p>\n</div>",
         {"<tr>", "", "  <p>a</p>", "\t<p>b</p>", "", "</tr>"},
         "div"},
        {"nested matches are each a block",
         Blocks,
         "<div>a<div>B</div></div>",
         {"<tr>", "a<div>b</div>", "</tr>", "<tr>", "b", "</tr>"},
         "div"},
        {"the markers are always tr", Blocks, "<ul><li>x</li></ul>", {"<tr>", "x", "</tr>"}, "li"},
        {"non-ASCII letters lowered",
         Blocks,
         "<p>\xC3\x89"
         "COLE \xC3\x9C</p>",
         {"<tr>",
          "\xC3\xA9"
          "cole \xC3\xBC",
          "</tr>"},
         "p"},
        {"lowered like Unicode text is",
         Blocks,
         "<p>\xC3\x80\xCE\xA9\xD0\x96\xF0\x90\x90\x80\xC4\xB0x\xE2\x82\xAC</p>",
         {"<tr>", "\xC3\xA0\xCF\x89\xD0\xB6\xF0\x90\x90\xA8i\xCC\x87x\xE2\x82\xAC", "</tr>"},
         "p"},
        {"lengths that change when lowered",
         Blocks,
         "<p>\xC8\xBA\xC4\xB0\xC4\xB0"
         "A</p>",
         {"<tr>",
          "\xE2\xB1\xA5i\xCC\x87i\xCC\x87"
          "a",
          "</tr>"},
         "p"},
        {"a carriage return from a character reference does not cut",
         Blocks,
         "<p>a&#13;b</p>",
         {"<tr>", "a\rb", "</tr>"},
         "p"},
    });
}

TEST(ExtractionModes, MatchingLinesTakeWholeRawLines)
{
    checkCases({
        {"case is ignored", Lines, "Only ONE here\nnone\ntwo", {"Only ONE here", "none"}, "one"},
        {"search text in capitals", Lines, "Only ONE here\nnone\ntwo", {"Only ONE here", "none"}, "One"},
        {"tabs removed from the row", Lines, "a\tb\nc", {"ab"}, "a"},
        {"a tab in the search text", Lines, "x\ty\nx y", {"xy"}, "x\ty"},
        {"empty file", Lines, "", {}, "one"},
        {"markup is plain text here",
         Lines,
         "<tr><td>1</td></tr>\n<p>\n</TR>",
         {"<tr><td>1</td></tr>", "</TR>"},
         "</tr>"},
        {"once per line", Lines, "one one one\nzero", {"one one one"}, "one"},
        {"CR LF files", Lines, "one\r\ntwo\r\nthree one\r\n", {"one", "three one"}, "one"},
        {"blanks kept", Lines, "  one  \n", {"  one  "}, "one"},
        {"a lone CR is removed from the row", Lines, "a\rb\n", {"ab"}, "a\rb"},
        {"no match across a line end", Lines, "on\ne\n", {}, "one"},
        {"no match with the terminator's CR", Lines, "one\r\n", {}, "one\r"},
        {"code-page letters fold",
         Lines,
         "\xC9"
         "cole\n\xE9"
         "t\xE9",
         {"\xC3\x89"
          "cole"},
         QStringLiteral("\u00E9cole")},
        {"a character outside the code page never occurs", Lines, "a?b\n", {}, QStringLiteral("a\u03A9b")},
        {"the last line without a terminator", Lines, "x\nlast one", {"last one"}, "one"},
        {"the match at the very end", Lines, "xyz", {"xyz"}, "yz"},
        {"NUL bytes do not end a line", Lines, QByteArray("a\0one\n", 6), {std::string("a\0one", 5)}, "one"},
    });
}

TEST(ExtractionModes, TagNamesListEveryElement)
{
    checkCases({
        {"upper and lower case markup", Tags, "<P>a</P><p>b</p>", {"html", "head", "body", "p", "p"}},
        {"implied elements and the head",
         Tags,
         "<title>t</title><table><tr><td>x</table>",
         {"html", "head", "title", "body", "table", "tbody", "tr", "td"}},
        {"comments and doctype are no elements", Tags, "<!DOCTYPE html><!--x--><br>", {"html", "head", "body", "br"}},
        {"foreign elements lowered", Tags, "<svg><clipPath/></svg>", {"html", "head", "body", "svg", "clippath"}},
        {"custom elements", Tags, "<My-Widget></My-Widget>", {"html", "head", "body", "my-widget"}},
    });
}

TEST(ExtractionModes, AFileThatCannotBeReadFailsAtTheReadStage)
{
    TempDir dir;
    const QString missing = dir.path() + "/missing.html";
    for (const ExtractionMode mode : {Leaf, Blocks, Lines, Tags}) {
        SCOPED_TRACE(int(mode));
        std::optional<ExtractionFailure> failure;
        EXPECT_EQ(extract(mode, missing, "tr", &failure), Rows{});
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->stage, ExtractionStage::Read);
        EXPECT_EQ(failure->description, "File not found");
    }
}

TEST(ExtractionModes, AFileTooLargeForMemoryIsRefusedBeforeItIsRead)
{
    // Sparse files: as large as the limits, without the disk or the time to write them.
    TempDir dir;
    const qint64 megabyte = 1024 * 1024;
    const qint64 document = LargestDocumentBytes();
    ASSERT_GT(document, 0);
    const struct
    {
        ExtractionMode mode;
        qint64 size;
        qint64 largest;
        const char* what;
    } cases[] = {{Leaf, document + megabyte, document, "documents"},
                 {Tags, document + megabyte, document, "documents"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.mode));
        QFile file(dir.path() + "/huge.html");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(c.size));
        file.close();
        std::optional<ExtractionFailure> failure;
        EXPECT_EQ(extract(c.mode, file.fileName(), "tr", &failure, true), Rows{});
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->stage, ExtractionStage::Read);
        EXPECT_EQ(failure->description,
                  QStringLiteral("Out of memory (the file is %L1 MB; %2 of more than %L3 MB do not fit in this "
                                 "machine's memory)")
                      .arg(double(c.size) / double(megabyte), 0, 'f', 0)
                      .arg(c.what)
                      .arg(double(c.largest) / double(megabyte), 0, 'f', 0));
    }
}

TEST(ExtractionModes, HugeFileOnOneLine)
{
    // 50 MB without a single line break, in every mode.
    const QByteArray cell = "<td>x</td>";
    const QByteArray html = "<table><tr>" + cell.repeated(5 * 1024 * 1024) + "</tr></table>";
    TempDir dir;
    const QString path = dir.write("huge.html", html);

    qsizetype leafRows = 0, tagRows = 0, blockRows = 0, lineRows = 0;
    const std::unique_ptr<HtmlParser> parser = createHtmlParser();
    InProcessDocumentSource documents(*parser);
    auto count = [](qsizetype& n) {
        return [&n](std::string_view) {
            ++n;
        };
    };
    EXPECT_FALSE(ExtractFile(path, Leaf, ExtractionTexts{}, documents, count(leafRows)));
    EXPECT_FALSE(ExtractFile(path, Tags, ExtractionTexts{}, documents, count(tagRows)));
    EXPECT_FALSE(ExtractFile(path, Blocks, ExtractionTexts{"tr", {}}, documents, count(blockRows)));
    EXPECT_FALSE(ExtractFile(path, Lines, ExtractionTexts{{}, "</TABLE>"}, documents, count(lineRows)));
    EXPECT_EQ(leafRows, 5 * 1024 * 1024);
    EXPECT_EQ(tagRows, 5 * 1024 * 1024 + 6);
    EXPECT_EQ(blockRows, 3);
    EXPECT_EQ(lineRows, 1);
}

TEST(ExtractionModes, MatchingLinesAgreeWithALineByLineSearch)
{
    // Random files over a small alphabet rich in case pairs and line breaks, against the plain
    // reading of the rule: fold each line and the search text to lower case, look for one in
    // the other, emit the line without CR, LF and tab.
    const QByteArray alphabet("aAbB \t\r\n\x8A\x9A\xC9\xE9"
                              "xX");
    const auto& lower = AnsiCodec::lowerCaseTable();
    auto fold = [&lower](QByteArray text) {
        for (char& c : text)
            c = char(lower[static_cast<unsigned char>(c)]);
        return text;
    };
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray file;
        const int length = int(random() % 3000);
        for (int i = 0; i < length; ++i)
            file.append(alphabet[qsizetype(random() % alphabet.size())]);
        QByteArray search;
        const int searchLength = 1 + int(random() % 4);
        for (int i = 0; i < searchLength; ++i)
            search.append(alphabet[qsizetype(random() % alphabet.size())]);
        if (search.trimmed().isEmpty() && search.count(' ') == search.size())
            continue;
        SCOPED_TRACE(file.toHex(' ').toStdString() + " / " + search.toHex(' ').toStdString());

        Rows expected;
        const LineList lines(file);
        for (qsizetype k = 0; k < lines.count(); ++k) {
            const QByteArray line = lines.bytes(k).toByteArray();
            if (fold(line).contains(fold(search))) {
                QByteArray kept = line;
                kept.replace('\n', "").replace('\r', "").replace('\t', "");
                std::string row;
                AnsiCodec::appendUtf8(row, std::string_view(kept.constData(), std::size_t(kept.size())));
                expected.push_back(row);
            }
        }
        Rows rows;
        EmitMatchingLines(lines, AnsiCodec::decode(search), [&rows](std::string_view row) { rows.emplace_back(row); });
        ASSERT_EQ(rows, expected);
    }
}
