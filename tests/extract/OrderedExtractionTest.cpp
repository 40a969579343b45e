#include "OrderedExtraction.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Everything the writer was handed, in the order it was handed: output bytes, and each failure
// as a marker at the point it was reported.
QByteArray transcript(const OrderedExtraction& extraction, const std::vector<QString>& files)
{
    QByteArray out;
    extraction.run(
        files,
        [](QByteArray& chunk, std::string_view prefix, std::string_view row) {
            chunk.append(prefix.data(), qsizetype(prefix.size()));
            chunk.append(row.data(), qsizetype(row.size()));
            chunk.append('\n');
        },
        [&out](const QByteArray& chunk) { out.append(chunk); },
        [&out](const QString& file, const ExtractionFailure& failure) {
            out.append("!" + file.section('/', -1).toUtf8() + " " + QByteArray::number(int(failure.stage)) + "\n");
        });
    return out;
}

} // namespace

TEST(OrderedExtraction, ManyThreadsWriteTheSameBytesAsOneInEveryMode)
{
    // Files from empty to thousands of rows, with missing ones among them, and chunks and a
    // waiting budget small enough that workers keep stopping for the writer.
    TempDir dir;
    std::mt19937 random(7);
    std::vector<QString> files;
    for (int i = 0; i < 60; ++i) {
        const QString name = QStringLiteral("f%1.htm").arg(i);
        if (i % 17 == 5) {
            files.push_back(dir.path() + "/missing-" + name);
            continue;
        }
        std::string page = "<table>";
        const int rows = i % 7 == 0 ? 0 : int(random() % (i % 5 == 0 ? 3000 : 40));
        for (int r = 0; r < rows; ++r)
            page += "<tr><td>one " + std::to_string(i) + "." + std::to_string(r) + "</td></tr>\r\n";
        page += "</table>";
        files.push_back(dir.write(name, QByteArray::fromStdString(page)));
    }

    for (const ExtractionMode mode : {ExtractionMode::LeafTexts, ExtractionMode::ElementBlocks,
                                      ExtractionMode::MatchingLines, ExtractionMode::TagNames}) {
        SCOPED_TRACE(int(mode));
        OrderedExtraction single;
        single.workers = DefaultDocumentWorkers(QStringLiteral(QUILLORY_WORKER_PATH));
        single.mode = mode;
        single.texts = {QStringLiteral("tr"), QStringLiteral("one")};
        const QByteArray expected = transcript(single, files);
        ASSERT_GT(expected.count('\n'), 5000);
        ASSERT_EQ(expected.count('!'), 4);
        for (const int jobs : {2, 5}) {
            OrderedExtraction parallel = single;
            parallel.jobs = jobs;
            parallel.chunkBytes = 64;
            parallel.aheadBudgetBytes = 256;
            EXPECT_EQ(transcript(parallel, files), expected) << jobs << " jobs";
            // Large files wait for their turn; many of them must not hold the others up.
            parallel.largeFileBytes = 1000;
            EXPECT_EQ(transcript(parallel, files), expected) << jobs << " jobs, large files in turn";
        }
    }
}
