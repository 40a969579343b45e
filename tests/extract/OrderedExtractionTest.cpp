#include "OrderedExtraction.h"
#include "TempDir.h"
#include "WorkerProcess.h"

#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
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

// The transcript of a run that might hang: stopped after a minute, far past what it needs, so that a hang fails the
// test with what the run had written.
QByteArray transcriptOrHang(OrderedExtraction extraction, const std::vector<QString>& files)
{
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock lock(mutex);
        if (!ended.wait_for(lock, std::chrono::seconds(60), [&] { return done; }))
            stop = true;
    });
    extraction.stopRequested = &stop;
    QByteArray out = transcript(extraction, files);
    {
        const std::lock_guard lock(mutex);
        done = true;
    }
    ended.notify_all();
    watchdog.join();
    if (stop.load())
        ADD_FAILURE() << "the run hung";
    return out;
}

// Files from empty to thousands of rows, with missing ones among them.
std::vector<QString> mixedFiles(const TempDir& dir)
{
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
    return files;
}

// Workers on a system that lets the run start only `allowed` worker processes, however many it asks for: every start
// after those fails as a process limit makes it fail.
DocumentWorkerSettings workersAllowing(int allowed)
{
    DocumentWorkerSettings settings = DefaultDocumentWorkers(QStringLiteral(QUILLORY_WORKER_PATH));
    auto starts = std::make_shared<std::atomic<int>>(0);
    settings.startProcess = [starts, allowed](const QString& program,
                                              const QStringList& arguments) -> Result<std::unique_ptr<WorkerProcess>> {
        if (starts->fetch_add(1) >= allowed)
            return Failure{QStringLiteral("Resource temporarily unavailable")};
        return WorkerProcess::start(program, arguments);
    };
    return settings;
}

} // namespace

TEST(OrderedExtraction, ManyThreadsWriteTheSameBytesAsOneInEveryMode)
{
    // Files from empty to thousands of rows, with missing ones among them, and chunks and a
    // waiting budget small enough that workers keep stopping for the writer.
    TempDir dir;
    const std::vector<QString> files = mixedFiles(dir);

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

// A system that refuses processes past a few (a control group's pids.max, say) gets the same bytes from the workers it
// allows: a thread whose worker cannot start hands its file to those that run, even while they wait for the writer
// with rows of later files (a budget of a few bytes) or for their large file's turn.
TEST(OrderedExtraction, WorkersTheSystemRefusesCostNoFile)
{
    TempDir dir;
    const std::vector<QString> files = mixedFiles(dir);
    OrderedExtraction single;
    single.workers = DefaultDocumentWorkers(QStringLiteral(QUILLORY_WORKER_PATH));
    single.mode = ExtractionMode::ElementBlocks;
    single.texts = {QStringLiteral("tr"), QStringLiteral("one")};
    const QByteArray expected = transcript(single, files);
    ASSERT_EQ(expected.count('!'), 4);
    for (const int allowed : {1, 2}) {
        for (const int jobs : {3, 8}) {
            for (const qint64 large : {qint64(0), qint64(1000)}) {
                SCOPED_TRACE(testing::Message() << allowed << " workers allowed, " << jobs << " jobs, large " << large);
                OrderedExtraction limited = single;
                limited.workers = workersAllowing(allowed);
                limited.jobs = jobs;
                limited.chunkBytes = 64;
                limited.aheadBudgetBytes = 256;
                limited.largeFileBytes = large;
                EXPECT_EQ(transcriptOrHang(limited, files).toStdString(), expected.toStdString());
            }
        }
    }
}

// Only when no worker at all can be started is each file reported, with why, after the rows of the files before it.
TEST(OrderedExtraction, WithoutAnyWorkerEveryFileIsReported)
{
    TempDir dir;
    const std::vector<QString> files = {dir.write("a.htm", "<p>a</p>"), dir.path() + "/missing.htm",
                                        dir.write("c.htm", "<p>c</p>")};
    const QString why = QStringLiteral("Internal error (the parser %1 could not be started: Resource temporarily "
                                       "unavailable)")
                            .arg(QStringLiteral(QUILLORY_WORKER_PATH));
    for (const int jobs : {1, 4}) {
        SCOPED_TRACE(jobs);
        OrderedExtraction none;
        none.workers = workersAllowing(0);
        none.jobs = jobs;
        QStringList reported;
        none.run(
            files, [](QByteArray&, std::string_view, std::string_view) {},
            [](const QByteArray& chunk) { ADD_FAILURE() << "rows without a worker: " << chunk.toStdString(); },
            [&](const QString& file, const ExtractionFailure& failure) {
                reported << file.section('/', -1) + ": " + QString::number(int(failure.stage)) + " " +
                                failure.description;
            });
        EXPECT_EQ(reported, QStringList({"a.htm: 1 " + why, "missing.htm: 1 " + why, "c.htm: 1 " + why}));
    }
    // The lines of option 3 need no worker.
    OrderedExtraction lines;
    lines.workers = workersAllowing(0);
    lines.mode = ExtractionMode::MatchingLines;
    lines.texts = {QString(), QStringLiteral("<p>")};
    lines.jobs = 4;
    EXPECT_EQ(transcript(lines, files), "<p>a</p>\n!missing.htm 0\n<p>c</p>\n");
}

// A worker lost on a file whose restart the system refuses costs that file only: the thread leaves the run, and the
// files it would have taken next go to the workers that run.
TEST(OrderedExtraction, AWorkerThatCannotBeStartedAgainHandsItsFilesOn)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "The sanitizers reserve more address space than the limit allows, so the limit is off";
#endif
    // Small files, one past what a worker may hold (its worker ends on it), then files whose rows are more than the
    // writer lets wait: while the worker reads the dense page, the others run ahead and wait for the writer.
    TempDir dir;
    std::vector<QString> files;
    for (int i = 0; i < 8; ++i)
        files.push_back(dir.write(QStringLiteral("small%1.htm").arg(i),
                                  QStringLiteral("<table><tr><td>one %1</td></tr></table>").arg(i).toUtf8()));
    files.push_back(dir.write("dense.htm", QByteArray("<p>x").repeated(10 * 1024 * 256)));
    for (int i = 0; i < 24; ++i)
        files.push_back(dir.write(QStringLiteral("rows%1.htm").arg(i),
                                  "<table>" + QByteArray("<tr><td>one</td></tr>").repeated(60) + "</table>"));
    OrderedExtraction single;
    single.workers = DefaultDocumentWorkers(QStringLiteral(QUILLORY_WORKER_PATH));
    single.workers.memoryLimit = qint64(200) << 20;
    single.mode = ExtractionMode::ElementBlocks;
    single.texts = {QStringLiteral("tr"), QStringLiteral("one")};
    const QByteArray expected = transcript(single, files);
    ASSERT_TRUE(expected.contains("</tr>\n!dense.htm 1\n<tr>"));
    ASSERT_EQ(expected.count('!'), 1);
    OrderedExtraction limited = single;
    // Each of the three threads starts its worker; the one lost on the dense page cannot be started again.
    limited.workers = workersAllowing(3);
    limited.workers.memoryLimit = qint64(200) << 20;
    limited.jobs = 3;
    limited.chunkBytes = 64;
    limited.aheadBudgetBytes = 256;
    EXPECT_EQ(transcriptOrHang(limited, files).toStdString(), expected.toStdString());
}
