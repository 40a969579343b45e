// Any bytes through the document loader and the three modes that work on a document. Besides not
// crashing, the element numbering must nest properly and every row must be valid UTF-8, which the
// modes' lower-casing relies on.

#include "ExtractionModes.h"
#include "FuzzCheck.h"
#include "HtmlDocument.h"
#include "HtmlEncoding.h"
#include "MyHtmlTreeRules.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Tag names for the block mode: common ones, ones with special parsing, foreign content, and
// names typed in odd case or not present at all.
const char* const kBlockTags[] = {"p", "div", "td", "TR", "table", "script", "template", "svg", "math",
                                  "foreignObject", "select", "body", "html", "frameset", "b", "nosuchtag"};

void CheckNumbering(const HtmlDocument& document)
{
    const std::uint32_t count = document.elementCount();
    const std::int64_t body = document.bodyIndex();
    FUZZ_CHECK(body >= -1 && body < std::int64_t(count));
    // Each element's descendants lie inside its parent's: the open ancestors form a stack.
    std::vector<std::uint32_t> open;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t end = document.subtreeEnd(i);
        FUZZ_CHECK(end > i && end <= count);
        while (!open.empty() && document.subtreeEnd(open.back()) <= i)
            open.pop_back();
        if (!open.empty())
            FUZZ_CHECK(end <= document.subtreeEnd(open.back()));
        open.push_back(i);
        const std::string_view name = document.tagName(i);
        FUZZ_CHECK(!name.empty() && HtmlEncoding::isValidUtf8(name));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // One parser for the whole run, as in an extraction: its trees are reused from file to file.
    static const std::unique_ptr<HtmlParser> parser = createHtmlParser();
    // The scope checks answer from an index of the stack of open elements; each answer is also
    // worked out by walking the stack, and any difference aborts.
    static const bool verifying = (MyHtmlTreeRules::setVerifying(true), true);
    (void)verifying;
    // The fuzzer's own buffer, not a copy: the parser reads the bytes in place, so any write or
    // read past either end of them meets the sanitizer's red zones.
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    auto document = parser->parse(bytes);
    FUZZ_CHECK(document);
    FUZZ_CHECK((*document)->readyState() == QStringLiteral("complete"));
    CheckNumbering(**document);

    const auto validRow = [](std::string_view row) { FUZZ_CHECK(HtmlEncoding::isValidUtf8(row)); };
    EmitLeafTexts(**document, validRow);
    EmitTagNames(**document, [](std::string_view row) {
        FUZZ_CHECK(!row.empty() && HtmlEncoding::isValidUtf8(row));
    });

    // The name depends on the length and the last byte, which leaves the start free for markup.
    const char* tag = kBlockTags[(size * 7 + (size ? data[size - 1] : 0)) % std::size(kBlockTags)];
    std::vector<std::string> block;
    EmitElementBlocks(**document, QString::fromLatin1(tag), [&](std::string_view row) {
        FUZZ_CHECK(HtmlEncoding::isValidUtf8(row));
        block.emplace_back(row);
    });
    if (!block.empty()) {
        FUZZ_CHECK(block.front() == "<tr>");
        FUZZ_CHECK(block.back() == "</tr>");
    }
    return 0;
}
