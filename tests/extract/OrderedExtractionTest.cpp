#include "OrderedExtraction.h"
#include "TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
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

// Rows given in parts written as the transcript's format writes them whole.
OrderedExtraction::PartsFormat transcriptParts(std::function<void(std::string_view part)> onPart = {})
{
    OrderedExtraction::PartsFormat parts;
    parts.begin = [](QByteArray& chunk, std::string_view prefix) {
        chunk.append(prefix.data(), qsizetype(prefix.size()));
    };
    parts.part = [onPart](QByteArray& chunk, std::string_view part) {
        if (onPart)
            onPart(part);
        chunk.append(part.data(), qsizetype(part.size()));
    };
    parts.end = [](QByteArray& chunk) {
        chunk.append('\n');
    };
    return parts;
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

TEST(OrderedExtraction, LongLinesOfOption3ComeInPartsInTheFilesOrderOnAnyNumberOfThreads)
{
    // Lines far longer than the chunks option 3 reads, some holding the text and some not, among short ones.
    TempDir dir;
    std::mt19937 random(3);
    std::vector<QString> files;
    for (int i = 0; i < 24; ++i) {
        QByteArray text;
        for (int line = 0, lines = int(random() % 6); line < lines; ++line) {
            const QByteArray filler = QByteArray(qsizetype(random() % 3000), char('a' + line));
            text += random() % 2 ? filler + " One " + filler + "\r\n" : filler + "\n";
        }
        files.push_back(dir.write(QStringLiteral("f%1.txt").arg(i), text));
    }
    files.insert(files.begin() + 7, dir.path() + "/missing.txt");

    OrderedExtraction whole;
    whole.mode = ExtractionMode::MatchingLines;
    whole.texts = {{}, QStringLiteral("one")};
    whole.rowPrefix = [](const QString& file) {
        return file.section('/', -1).toUtf8() + ": ";
    };
    const QByteArray expected = transcript(whole, files);
    ASSERT_GT(expected.count('\n'), 20);
    for (const int jobs : {1, 2, 5}) {
        OrderedExtraction inParts = whole;
        inParts.jobs = jobs;
        inParts.lineChunkBytes = 100;
        inParts.chunkBytes = 256;
        inParts.aheadBudgetBytes = 1024;
        inParts.partsFormat = transcriptParts();
        EXPECT_EQ(transcript(inParts, files), expected) << jobs << " jobs";
    }
}

TEST(OrderedExtraction, AFileCutShortWhileItsLongLineIsWrittenFailsAloneAndTheNextFilesGoOn)
{
    // The long line is searched to its end, where the text is, then read again from its start for its row: the file
    // is cut short meanwhile, behind what the search had seen. Its row ends where it was cut, and the file is
    // reported; the next file goes on.
    TempDir dir;
    const QString first = dir.write("first.txt", "one 1\n");
    const QString cut = dir.write("cut.txt", "one 2\n" + QByteArray(5000, 'x') + " One\nlast one\n");
    const QString after = dir.write("after.txt", "one 3\n");
    for (const int jobs : {1, 2}) {
        SCOPED_TRACE(jobs);
        std::optional<bool> truncated;
        OrderedExtraction extraction;
        extraction.mode = ExtractionMode::MatchingLines;
        extraction.texts = {{}, QStringLiteral("ONE")};
        extraction.jobs = jobs;
        extraction.lineChunkBytes = 1000;
        extraction.partsFormat = transcriptParts([&](std::string_view) {
            if (!truncated)
                truncated = QFile::resize(cut, 100);
        });
        const QByteArray written = transcript(extraction, {first, cut, after});
        ASSERT_TRUE(truncated.has_value());
        // Some systems (Wine here) will not cut short a file another handle reads.
        if (!*truncated)
            GTEST_SKIP() << "the system does not cut short a file being read";
        EXPECT_EQ(written, "one 1\none 2\n" + QByteArray(1000, 'x') + "\n!cut.txt 0\none 3\n");
        dir.write("cut.txt", "one 2\n" + QByteArray(5000, 'x') + " One\nlast one\n");
    }
}
