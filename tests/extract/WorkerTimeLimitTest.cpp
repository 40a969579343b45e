// A worker that gives no word about a file for longer than its limit is ended and the file reported; one that keeps
// sending frames is making progress, however long it takes.

#include "DocumentWorker.h"
#include "TempDir.h"
#include "WorkerProcess.h"
#include "WorkerProtocol.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#ifndef Q_OS_WIN
#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>
#endif

using namespace std::chrono_literals;

namespace {

const char* const kTimedOutAfter1s = "Timed out after 1 s (the parser made no progress on the file and was ended)";

#ifndef Q_OS_WIN
// A worker whose files get one second without a word, whatever their size.
DocumentWorkerSettings workerWithOneSecond(const QString& program = QStringLiteral(QUILLORY_WORKER_PATH),
                                           const QStringList& arguments = {})
{
    DocumentWorkerSettings settings{program, arguments, 0};
    settings.timeLimit = FileTimeLimit{1000ms, 0ms};
    return settings;
}

// Ends a stopped worker a minute on, far past the second its file has, unless dropped before: a worker left to wait
// for ever then fails the test instead of hanging it.
class Watchdog
{
public:
    explicit Watchdog(qint64 processId)
        : m_thread([this, processId] {
              std::unique_lock lock(m_mutex);
              if (!m_dropped.wait_for(lock, 60s, [this] { return m_done; }))
                  ::kill(pid_t(processId), SIGKILL);
          })
    {}
    ~Watchdog()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_dropped.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_dropped;
    bool m_done = false;
    std::thread m_thread;
};

// Stops the worker, and has a watchdog end it a minute on.
std::unique_ptr<Watchdog> stop(const DocumentWorker& worker)
{
    ::kill(pid_t(worker.processId()), SIGSTOP);
    return std::make_unique<Watchdog>(worker.processId());
}
#endif

} // namespace

// A receive that waits for a frame nobody sends gives up at its limit and leaves the worker as it was: the next
// request is answered as if nothing had happened.
TEST(WorkerTimeLimit, AReceiveGivesUpAtItsLimitAndTheWorkerGoesOn)
{
    TempDir dir;
    const QString page = dir.write("p.html", "<p>one</p>");
    Result<std::unique_ptr<WorkerProcess>> started = WorkerProcess::start(QStringLiteral(QUILLORY_WORKER_PATH), {});
    ASSERT_TRUE(started.ok());
    WorkerProcess& worker = **started;
    char kind = 0;
    QByteArrayView payload;
    QElapsedTimer waited;
    waited.start();
    EXPECT_EQ(worker.receive(kind, payload, 300ms), WorkerProcess::Received::TimedOut);
    EXPECT_GE(waited.elapsed(), 300);
    ASSERT_TRUE(worker.send(char(WorkerProtocol::Kind::Whole), WorkerProtocol::encode(WorkerProtocol::WholeRequest{
                                                                   ExtractionMode::LeafTexts, page.toUtf8(), {}})));
    std::string kinds;
    for (int frame = 0; frame < 3; ++frame) {
        ASSERT_EQ(worker.receive(kind, payload, 60s), WorkerProcess::Received::Frame);
        kinds += kind;
    }
    EXPECT_EQ(kinds, "CRE");
    // Gone is told from a limit reached.
    worker.kill();
    EXPECT_EQ(worker.receive(kind, payload, 60s), WorkerProcess::Received::Gone);
}

TEST(WorkerTimeLimit, TheLimitGrowsWithTheFile)
{
    const FileTimeLimit defaults;
    EXPECT_EQ(defaults.forFile(0), 60s);
    EXPECT_EQ(defaults.forFile(-1), 60s);
    EXPECT_EQ(defaults.forFile(10 * 1024 * 1024), 80s);
    EXPECT_EQ(defaults.forFile(512 * 1024), 61s);
    EXPECT_EQ((FileTimeLimit{0ms, 2000ms}.forFile(10 * 1024 * 1024)), 0ms);
}

#ifndef Q_OS_WIN
// A worker stopped (SIGSTOP) while it reads a file, or before it gets the file, is ended at the file's limit; the
// message names the limit the file had, its size counted. The next file gets a fresh worker.
TEST(WorkerTimeLimit, AStoppedWorkerIsEndedAndItsFileReported)
{
    TempDir dir;
    const QString small = dir.write("small.html", "<p>a</p><p>b</p>");
    // Half a megabyte with half a second a megabyte: a quarter of a second more, and 1 s rounded.
    const QString larger = dir.write("larger.html", "<p>c</p>" + QByteArray(512 * 1024, ' '));
    DocumentWorkerSettings settings = workerWithOneSecond();
    settings.timeLimit.perMegabyte = 500ms;
    DocumentWorker worker(settings);
    std::vector<std::string> rows;
    const RowSink sink = [&](std::string_view row) {
        rows.emplace_back(row);
    };

    // Before the load.
    ASSERT_FALSE(worker.start());
    std::unique_ptr<Watchdog> watchdog = stop(worker);
    QElapsedTimer waited;
    waited.start();
    std::optional<ExtractionFailure> failure = worker.load(larger);
    ASSERT_TRUE(failure);
    EXPECT_GE(waited.elapsed(), 1250);
    EXPECT_EQ(failure->stage, ExtractionStage::Parse);
    EXPECT_EQ(failure->description.toStdString(), kTimedOutAfter1s);
    EXPECT_FALSE(worker.running());

    // Between the document and its rows.
    ASSERT_FALSE(worker.load(small));
    watchdog = stop(worker);
    failure = worker.extract(ExtractionMode::LeafTexts, {}, sink);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->stage, ExtractionStage::Rows);
    EXPECT_EQ(failure->description.toStdString(), kTimedOutAfter1s);
    EXPECT_TRUE(rows.empty());

    // Files queued, as the command line asks for them: the stopped worker's file is reported, the next one read.
    ASSERT_FALSE(worker.start());
    watchdog = stop(worker);
    worker.queue(small, ExtractionMode::LeafTexts, {});
    worker.queue(larger, ExtractionMode::LeafTexts, {});
    failure = worker.openQueued(small);
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->description.toStdString(), kTimedOutAfter1s);
    ASSERT_FALSE(worker.openQueued(larger));
    EXPECT_FALSE(worker.takeQueuedRows(sink));
    EXPECT_EQ(rows, std::vector<std::string>({"c"}));
}

// Each frame of rows is progress: a worker that takes longer than the limit over a file, but never that long without
// a frame, is not ended. The stand-in worker (a shell) answers the load, then sends a frame of rows every quarter of a
// second for twice the limit; one that then falls silent is ended.
TEST(WorkerTimeLimit, AWorkerSendingRowsIsMakingProgress)
{
    const QString program = QStringLiteral("/bin/sh");
    const QString frames = QStringLiteral("printf 'C\\000\\000\\000\\000'; "
                                          "for i in 1 2 3 4 5 6 7 8; do sleep 0.25; "
                                          "printf 'R\\006\\000\\000\\000\\002\\000\\000\\000r%s' \"$i\"; done; ");
    TempDir dir;
    const QString page = dir.write("p.html", "<p>x</p>");
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "falls silent" : "ends");
        const QString script =
            frames + (silent ? QStringLiteral("exec sleep 30") : QStringLiteral("printf 'E\\000\\000\\000\\000'"));
        DocumentWorker worker(workerWithOneSecond(program, {QStringLiteral("-c"), script, QStringLiteral("sh")}));
        std::vector<std::string> rows;
        ASSERT_FALSE(worker.load(page));
        const std::optional<ExtractionFailure> failure =
            worker.extract(ExtractionMode::LeafTexts, {}, [&](std::string_view row) { rows.emplace_back(row); });
        if (silent) {
            ASSERT_TRUE(failure);
            EXPECT_EQ(failure->stage, ExtractionStage::Rows);
            EXPECT_EQ(failure->description.toStdString(), kTimedOutAfter1s);
            EXPECT_EQ(rows.size(), 8u);
        } else {
            EXPECT_FALSE(failure) << failure->description.toStdString();
            EXPECT_EQ(rows, std::vector<std::string>({"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8"}));
        }
    }
}
#endif

#ifndef Q_OS_WIN
// Whether the process has ended and waits to be reaped by its parent.
static bool hasEnded(pid_t process)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process));
    if (!stat.open(QIODevice::ReadOnly))
        return true;
    const QByteArray fields = stat.readAll();
    const qsizetype state = fields.lastIndexOf(')') + 2;
    return state < fields.size() && fields[state] == 'Z';
}

// A worker ended while it waits between files (a stop that came as its file was done ends it in the pool) is
// replaced for the next file, which would otherwise be reported as if it had killed the worker.
TEST(DocumentWorker, AWorkerEndedBetweenFilesIsReplacedForTheNext)
{
    TempDir dir;
    const QString page = dir.write("page.htm", "<p>one</p><p>two</p>");
    DocumentWorker worker(DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0});
    for (int file = 0; file < 2; ++file) {
        SCOPED_TRACE(file);
        const std::optional<ExtractionFailure> loaded = worker.load(page);
        ASSERT_FALSE(loaded) << loaded->description.toStdString();
        std::vector<std::string> rows;
        ASSERT_FALSE(
            worker.extract(ExtractionMode::LeafTexts, {}, [&](std::string_view row) { rows.emplace_back(row); }));
        EXPECT_EQ(rows, std::vector<std::string>({"one", "two"}));
        // Killed as Escape kills it, and given the time to be gone.
        const pid_t process = pid_t(worker.processId());
        ASSERT_GT(process, 0);
        WorkerProcess::Interrupt(process);
        QElapsedTimer clock;
        clock.start();
        while (!hasEnded(process) && clock.elapsed() < 10'000)
            std::this_thread::sleep_for(1ms);
    }
}
#endif
