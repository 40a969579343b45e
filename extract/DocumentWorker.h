#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"
#include "Result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class WorkerProcess;

// Pages are parsed, and their rows made, in worker processes: MyHTML is fed pages from anywhere, and a page that
// crashes it or exhausts its memory then costs exactly its own file, never the rows already made or the run.
//
// The conversation with a worker is WorkerProtocol's. A worker keeps one document at a time and is reused for file
// after file; one that has ended is replaced for the next file.

struct DocumentWorkerSettings
{
    QString program;        // the worker executable
    QStringList arguments;  // what puts it in worker mode
    qint64 memoryLimit = 0; // bytes of address space per worker; 0: none
    // Starts a worker process; WorkerProcess::start when empty. Tests stand in a system that refuses processes.
    std::function<Result<std::unique_ptr<WorkerProcess>>(const QString& program, const QStringList& arguments)>
        startProcess = {};
};

// The worker executable named; its address-space limit is a quarter of the machine's memory, or the number of
// megabytes in the environment variable QUILLORY_WORKER_MEMORY_MB where that is set (for tests), raised to
// kSmallestWorkerMemoryMB: less than that, and not even a worker that reads nothing could start.
inline constexpr qint64 kSmallestWorkerMemoryMB = 128;
DocumentWorkerSettings DefaultDocumentWorkers(const QString& program, const QStringList& arguments = {});

// One worker process, started when first needed and again after it ends. Used by one thread at a time.
class DocumentWorker
{
public:
    explicit DocumentWorker(DocumentWorkerSettings settings);
    ~DocumentWorker();

    // Starts the worker unless it is running. On Linux a worker ends when the thread that started it ends, so a
    // caller that loads on short-lived threads starts it first on a thread that lasts.
    std::optional<ExtractionFailure> start();
    // Has the worker build the file's document and keep it; its rows are asked for with extract().
    std::optional<ExtractionFailure> load(const QString& path);
    std::optional<ExtractionFailure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink);

    // Whole files asked for ahead, for a caller whose mode and tag name are settled before the files are read: the
    // worker reads and parses the next file while the rows of this one are being used. openQueued() waits for the
    // document of the earliest file queued, and takeQueuedRows() gives its rows; a worker lost on that file costs
    // only it, and the files queued after it go to a fresh worker.
    void queue(const QString& path, ExtractionMode mode, QStringView tagName);
    std::optional<ExtractionFailure> openQueued(const QString& path);
    std::optional<ExtractionFailure> takeQueuedRows(const RowSink& sink);
    // The earliest file queued will not be taken: the worker is ended, and the files after it go to a fresh one.
    void dropQueued();

    // Whether the worker process is there (started, and not lost since).
    bool running() const { return m_process != nullptr; }
    // The running worker's process number, 0 when there is none.
    qint64 processId() const;
    // Ends the worker at once; the next load starts a new one.
    void stop();

private:
    ExtractionFailure lost(ExtractionStage stage);
    ExtractionFailure outOfTurn(ExtractionStage stage);
    // Waits for the answer to a load: Complete, or why not.
    std::optional<ExtractionFailure> receiveComplete();
    std::optional<ExtractionFailure> receiveRows(const RowSink& sink);
    // The earliest queued file is done with, one way or another.
    void finishQueued();

    DocumentWorkerSettings m_settings;
    std::unique_ptr<WorkerProcess> m_process;
    struct Queued
    {
        QString path;
        QByteArray request;
    };
    std::deque<Queued> m_queued;            // the files of queue() not yet taken, the earliest first
    std::size_t m_sent = 0;                 // how many of them the running worker has been sent
    std::uint64_t m_memoryKillsAtStart = 0; // the system's count of processes ended for memory, when it started
};

// The documents of the files queued on one worker, opened in the order they were queued; their mode and tag name are
// the ones they were queued with.
class QueuedDocuments final : public DocumentSource
{
public:
    explicit QueuedDocuments(DocumentWorker& worker) : m_worker(worker) {}
    DocumentResult open(const QString& path) override;

private:
    DocumentWorker& m_worker;
};
