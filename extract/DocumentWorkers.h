#pragma once

#include "DocumentService.h"
#include "ExtractionModes.h"
#include "Result.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>

class WorkerProcess;

// Pages are parsed, and their rows made, in worker processes: MyHTML is fed pages from anywhere, and a page that
// crashes it or exhausts its memory then costs exactly its own file, never the rows already made or the run.
//
// The conversation with a worker: the caller sends a file's path and is told when its document is complete (or why
// there is none); then it sends a mode and the tag name as they stand at that moment and receives the rows. A worker
// keeps one document at a time and is reused for file after file; one that has ended is replaced for the next file.

struct DocumentWorkerSettings
{
    QString program;        // the worker executable
    QStringList arguments;  // what puts it in worker mode
    qint64 memoryLimit = 0; // bytes of address space per worker; 0: none
};

// The worker executable beside the program; its address-space limit is a quarter of the machine's memory, or the
// number of megabytes in the environment variable QUILLORY_WORKER_MEMORY_MB where that is set (for tests).
DocumentWorkerSettings DefaultDocumentWorkers(const QString& program, const QStringList& arguments = {});

// One worker process, started when first needed and again after it ends. Used by one thread at a time.
class DocumentWorker
{
public:
    explicit DocumentWorker(DocumentWorkerSettings settings);
    ~DocumentWorker();

    // Starts the worker unless it is running. On Linux a worker ends when the thread that started it ends, so a
    // caller that loads on short-lived threads starts it first on a thread that lasts.
    std::optional<Failure> start();
    std::optional<Failure> load(const QString& path);
    std::optional<Failure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink);

    // A whole file asked for at once, for a caller whose mode and tag name are settled before the file is read.
    // Files are queued ahead of taking their rows, so that the worker reads and parses the next file while the
    // rows of this one are being used. take() gives the rows of the earliest file queued, or why there are none;
    // a worker lost on that file costs only it, and the files queued after it go to a fresh worker.
    void queue(const QString& path, ExtractionMode mode, QStringView tagName);
    std::optional<Failure> take(const RowSink& sink);
    // The running worker's process number, 0 when there is none.
    qint64 processId() const;
    // Ends the worker at once; the next load starts a new one.
    void stop();

private:
    Failure lost();
    std::optional<Failure> receiveRows(const RowSink& sink);

    DocumentWorkerSettings m_settings;
    std::unique_ptr<WorkerProcess> m_process;
    std::deque<QByteArray> m_queued; // requests of queue() not yet taken, the earliest first
    std::size_t m_sent = 0;          // how many of them the running worker has been sent
};

// Reads or loads one file through the worker and applies one mode to it, as ExtractFile does in this process;
// mode 3 reads the file's lines here.
std::optional<StepFailure> ExtractFileWith(DocumentWorker& worker, ExtractionMode mode, const QString& path,
                                           const ExtractionTexts& texts, const RowSink& sink);

// Documents built by a pool of workers, for the window.
std::unique_ptr<DocumentService> createWorkerDocuments(DocumentWorkerSettings settings);

// The worker's side: answers requests on standard input and output until the input ends. arguments are the
// worker's command-line arguments after its mode switch ("--parent PID" among them). Returns the exit status.
int ServeDocuments(const QStringList& arguments);
