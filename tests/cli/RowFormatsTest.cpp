#include "RowFormats.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using RowFormats::Format;

// The row as printed after one that came before it in the same chunk.
QByteArray printed(Format format, bool withFileName, const QByteArray& path, const std::string& row)
{
    const QByteArray prefix = RowFormats::Prefix(format, withFileName, path);
    QByteArray out = "before\n";
    RowFormats::AppendRow(format, out, std::string_view(prefix.constData(), std::size_t(prefix.size())), row);
    return out;
}

} // namespace

TEST(RowFormats, EachFormatWritesTheExactBytes)
{
    const struct
    {
        const char* name;
        Format format;
        bool withFileName;
        QByteArray path;
        std::string row;
        QByteArray expected;
    } cases[] = {
        {"text", Format::Text, false, "p.html", "a\tb", "a\tb\n"},
        {"text with the name", Format::Text, true, "dir/p q.html", "row", "dir/p q.html\trow\n"},
        {"text keeps other bytes", Format::Text, true, "caf\xE9.html", "x\xFFy", "caf\xE9.html\tx\xFFy\n"},
        {"tsv", Format::Tsv, false, "p.html", "plain", "p.html\tplain\n"},
        {"tsv escapes", Format::Tsv, false, "a\tb\\c.html", "1\t2\n3\r4\\5\"6",
         "a\\tb\\\\c.html\t1\\t2\\n3\\r4\\\\5\"6\n"},
        {"tsv keeps other bytes", Format::Tsv, false, "caf\xE9.html", "\xC3\xA9", "caf\xE9.html\t\xC3\xA9\n"},
        {"jsonl", Format::Jsonl, false, "p.html", "x", "{\"file\": \"p.html\", \"row\": \"x\"}\n"},
        {"jsonl escapes", Format::Jsonl, false, "q\"\\.html", "t\tn\nr\r\x01\x1F\x7F",
         "{\"file\": \"q\\\"\\\\.html\", \"row\": \"t\\tn\\nr\\r\\u0001\\u001f\x7F\"}\n"},
        {"jsonl keeps UTF-8", Format::Jsonl, false, "\xE2\x82\xAC.html", "caf\xC3\xA9 \xF0\x9F\x98\x80",
         "{\"file\": \"\xE2\x82\xAC.html\", \"row\": \"caf\xC3\xA9 \xF0\x9F\x98\x80\"}\n"},
        {"jsonl escapes bytes that are not UTF-8", Format::Jsonl, true, "caf\xE9.html",
         "\xC0\xAF\xED\xA0\x80\xF4\x90\x80\x80\xE2\x82",
         "{\"file\": \"caf\\udce9.html\", \"row\": "
         "\"\\udcc0\\udcaf\\udced\\udca0\\udc80\\udcf4\\udc90\\udc80\\udc80\\udce2\\udc82\"}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(printed(c.format, c.withFileName, c.path, c.row), "before\n" + c.expected);
    }
}

TEST(RowFormats, EscapesAreFoundAtEveryPlaceOfALongRow)
{
    // Long rows are escaped eight bytes at a time: a byte to escape, or a sequence that is not plain ASCII, at any
    // place of the row, straddling a block or in the tail, comes out as if the row were taken byte by byte.
    const struct
    {
        Format format;
        std::string special;
        std::string written;
    } cases[] = {
        {Format::Tsv, "\t", "\\t"},
        {Format::Tsv, "\n", "\\n"},
        {Format::Tsv, "\r", "\\r"},
        {Format::Tsv, "\\", "\\\\"},
        {Format::Tsv, "\x01\x0B\x0C", "\x01\x0B\x0C"},
        {Format::Tsv, "\xC3\xA9", "\xC3\xA9"},
        {Format::Jsonl, "\"", "\\\""},
        {Format::Jsonl, "\\", "\\\\"},
        {Format::Jsonl, "\x1F", "\\u001f"},
        {Format::Jsonl, "\x7F", "\x7F"},
        {Format::Jsonl, "\xC3\xA9", "\xC3\xA9"},
        {Format::Jsonl, "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"},
        {Format::Jsonl, "\xC3\xA9\t", "\xC3\xA9\\t"},
        {Format::Jsonl, "\xE2\x82", "\\udce2\\udc82"},
    };
    for (const auto& c : cases) {
        for (std::size_t at = 0; at <= 20; ++at) {
            SCOPED_TRACE(testing::Message() << "format " << int(c.format) << ", special "
                                            << testing::PrintToString(c.special) << " at " << at);
            const std::string row = std::string(at, 'a') + c.special + std::string(20 - at, 'b');
            const std::string inside = std::string(at, 'a') + c.written + std::string(20 - at, 'b');
            const QByteArray expected =
                c.format == Format::Tsv ? QByteArray::fromStdString("p\t" + inside + "\n")
                                        : QByteArray::fromStdString("{\"file\": \"p\", \"row\": \"" + inside + "\"}\n");
            EXPECT_EQ(printed(c.format, false, "p", row), "before\n" + expected);
        }
    }
}

TEST(RowFormats, ARowGivenInPartsIsWrittenAsTheWholeRow)
{
    // Rows with every byte the formats escape, and characters of two, three and four bytes, cut between every two
    // characters and at random places among them.
    const std::string rows[] = {
        "plain",
        "",
        "1\t2\n3\r4\\5\"6 \x01\x1F\x7F",
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\\\"",
        std::string(1000, 'x') + "\xE2\x82\xAC\t" + std::string(1000, 'y'),
    };
    const QByteArray prefixes[] = {"", "p.html\t", "{\"file\": \"p.html\", \"row\": \""};
    for (const Format format : {Format::Text, Format::Tsv, Format::Jsonl}) {
        for (const std::string& row : rows) {
            SCOPED_TRACE(int(format));
            SCOPED_TRACE(row.substr(0, 40));
            std::vector<std::size_t> starts; // where a character starts
            for (std::size_t i = 0; i < row.size(); ++i)
                if ((static_cast<unsigned char>(row[i]) & 0xC0) != 0x80)
                    starts.push_back(i);
            for (const QByteArray& prefix : prefixes) {
                const std::string_view prefixView(prefix.constData(), std::size_t(prefix.size()));
                QByteArray whole = "before\n";
                RowFormats::AppendRow(format, whole, prefixView, row);
                // Cut at every character, then into two at each character.
                std::vector<std::vector<std::size_t>> cuts = {starts};
                for (const std::size_t at : starts)
                    cuts.push_back({0, at});
                for (const std::vector<std::size_t>& cut : cuts) {
                    QByteArray parts = "before\n";
                    RowFormats::AppendRowStart(parts, prefixView);
                    for (std::size_t i = 0; i < cut.size(); ++i) {
                        const std::size_t end = i + 1 < cut.size() ? cut[i + 1] : row.size();
                        RowFormats::AppendRowPart(format, parts, std::string_view(row).substr(cut[i], end - cut[i]));
                    }
                    RowFormats::AppendRowEnd(format, parts);
                    ASSERT_EQ(parts, whole);
                }
            }
        }
    }
}
