// quillory-depth-bench: what deep nesting costs next to the same number of flat elements.
//
// Each page goes through the parser and the three document options, best of --runs, each step
// timed on its own. A page nested
// 200,000 deep must cost about what 200,000 siblings do: past 512 open elements new elements are
// attached side by side, and the scope checks answer from an index instead of walking the stack.

#include "ExtractionModes.h"
#include "HtmlDocument.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

QByteArray repeated(const char* piece, int count)
{
    QByteArray page;
    page.reserve(qsizetype(std::strlen(piece)) * count);
    for (int i = 0; i < count; ++i)
        page += piece;
    return page;
}

// Formatting elements that all differ: each is checked against the earlier ones for likeness.
QByteArray numbered(const char* piece, int count)
{
    QByteArray page;
    for (int i = 0; i < count; ++i)
        page += piece + QByteArray::number(i) + ">";
    return page;
}

struct Figures
{
    std::size_t elements = 0;
    double parse = 1e9;         // building the document
    double leavesAndTags = 1e9; // options 1 and 4: a row or a look per element
    double blocks = 1e9;        // option 2 on div: every div's markup, so its cost follows the rows' bytes
    std::size_t blockBytes = 0;
};

double since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

Figures measure(HtmlParser& parser, const QByteArray& page, int runs)
{
    Figures figures;
    for (int run = 0; run < runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        auto document = parser.parse(page);
        if (!document) {
            std::fprintf(stderr, "quillory-depth-bench: %s\n", qPrintable(document.failure().description));
            std::exit(1);
        }
        figures.parse = std::min(figures.parse, since(start));
        figures.elements = (*document)->elementCount();

        start = std::chrono::steady_clock::now();
        std::size_t rows = 0;
        const auto count = [&rows](std::string_view) {
            ++rows;
        };
        EmitLeafTexts(**document, count);
        EmitTagNames(**document, count);
        figures.leavesAndTags = std::min(figures.leavesAndTags, since(start));

        start = std::chrono::steady_clock::now();
        std::size_t bytes = 0;
        EmitElementBlocks(**document, QStringLiteral("div"), [&bytes](std::string_view row) { bytes += row.size(); });
        figures.blocks = std::min(figures.blocks, since(start));
        figures.blockBytes = bytes;
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 3;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "Usage: quillory-depth-bench [--runs N]\n");
            return 2;
        }
    }

    const struct
    {
        const char* name;
        QByteArray page;
    } pages[] = {
        {"<div></div> x 200,000 (flat)", repeated("<div></div>", 200000)},
        {"<div> x 200,000 (nested)", repeated("<div>", 200000)},
        {"<font><b><i> x 30,000 (nested)", repeated("<font><b><i>", 30000)},
        {"<b id=N> x 50,000 (nested, unlike)", numbered("<b id=", 50000)},
    };
    const auto parser = createHtmlParser();
    std::printf("Seconds, best of %d; the ratio is the parse's against the flat page's\n\n", runs);
    std::printf("%-36s %9s %9s %8s %10s %10s %12s\n", "page", "elements", "parse", "ratio", "options 1+4", "option 2",
                "option 2 MB");
    double flat = 0;
    for (const auto& page : pages) {
        const Figures figures = measure(*parser, page.page, runs);
        if (flat == 0)
            flat = figures.parse;
        std::printf("%-36s %9zu %9.3f %7.2fx %10.3f %10.3f %12.1f\n", page.name, figures.elements, figures.parse,
                    figures.parse / flat, figures.leavesAndTags, figures.blocks, double(figures.blockBytes) / 1e6);
    }
    return 0;
}
