#include "DocumentWorker.h"

#include "FileNames.h"
#include "FileSystem.h"
#include "MemoryInfo.h"
#include "WorkerProcess.h"
#include "WorkerProtocol.h"

#include <algorithm>
#include <csignal>

using WorkerProtocol::Kind;

namespace {

qint64 memoryLimitFromEnvironment()
{
    bool ok = false;
    const qint64 megabytes = qEnvironmentVariableIntValue("QUILLORY_WORKER_MEMORY_MB", &ok);
    if (!ok || megabytes <= 0)
        return 0;
    // The limit is on the worker's address space, which its libraries take a good part of before it reads a page.
    return std::max(megabytes, kSmallestWorkerMemoryMB) * 1024 * 1024;
}

QString describeEnd(const WorkerProcess::End& end, qint64 memoryLimit, bool killedForMemory)
{
    if (killedForMemory)
        return QStringLiteral("Out of memory (the system ended the parser when memory ran out)");
    if (!end.signaled && end.code == WorkerProtocol::kOutOfMemoryStatus) {
        if (memoryLimit <= 0)
            return QStringLiteral("Out of memory (the document does not fit in this machine's memory)");
        return QStringLiteral("Out of memory (the document needs more than the %L1 MB one document may use on this "
                              "machine)")
            .arg(double(memoryLimit) / (1024.0 * 1024.0), 0, 'f', 0);
    }
    return QStringLiteral("Internal error (the parser %1)").arg(WorkerProcess::Describe(end));
}

// The rows of the earliest file queued on a worker.
class QueuedDocument final : public LoadedDocument
{
public:
    explicit QueuedDocument(DocumentWorker& worker) : m_worker(worker) {}
    ~QueuedDocument() override
    {
        if (!m_taken)
            m_worker.dropQueued();
    }

    std::optional<ExtractionFailure> extract(ExtractionMode, QStringView, const RowSink& sink) override
    {
        m_taken = true;
        return m_worker.takeQueuedRows(sink);
    }

private:
    DocumentWorker& m_worker;
    bool m_taken = false;
};

} // namespace

std::chrono::milliseconds FileTimeLimit::forFile(qint64 bytes) const
{
    if (base.count() <= 0)
        return std::chrono::milliseconds::zero();
    return base + std::chrono::milliseconds(
                      qint64(double(perMegabyte.count()) * double(std::max<qint64>(bytes, 0)) / (1024.0 * 1024.0)));
}

DocumentWorkerSettings DefaultDocumentWorkers(const QString& program, const QStringList& arguments)
{
    DocumentWorkerSettings settings{program, arguments, memoryLimitFromEnvironment()};
    // A quarter of a container's small memory limit may be too little for a worker to start at all.
    if (settings.memoryLimit == 0)
        settings.memoryLimit = std::max(qint64(PhysicalMemoryBytes() / 4), kSmallestWorkerMemoryMB * 1024 * 1024);
    return settings;
}

DocumentWorker::DocumentWorker(DocumentWorkerSettings settings) : m_settings(std::move(settings)) {}

DocumentWorker::~DocumentWorker() = default;

qint64 DocumentWorker::processId() const
{
    return m_process ? m_process->processId() : 0;
}

void DocumentWorker::stop()
{
    m_process.reset();
}

ExtractionFailure DocumentWorker::lost(ExtractionStage stage)
{
    const WorkerProcess::End end = m_process->end();
    m_process.reset();
#ifdef Q_OS_LINUX
    // The kernel's out-of-memory killer, or a container's memory limit, ends a process with SIGKILL as a user's
    // kill -9 does; only its count of such ends tells them apart.
    const bool killedForMemory = end.signaled && end.code == SIGKILL && OutOfMemoryKills() > m_memoryKillsAtStart;
#else
    const bool killedForMemory = false;
#endif
    return ExtractionFailure{stage, describeEnd(end, m_settings.memoryLimit, killedForMemory)};
}

ExtractionFailure DocumentWorker::timedOut(ExtractionStage stage)
{
    // Whatever it might still say of this file is not waited for.
    m_process.reset();
    return ExtractionFailure{stage, QStringLiteral("Timed out after %L1 s (the parser made no progress on the file and "
                                                   "was ended)")
                                        .arg(qRound64(double(m_patience.count()) / 1000.0))};
}

void DocumentWorker::awaitAnswersAbout(const QString& path)
{
    m_patience = m_settings.timeLimit.forFile(FileSystem::size(path));
}

ExtractionFailure DocumentWorker::outOfTurn(ExtractionStage stage)
{
    // Whatever else it has to say cannot be trusted either.
    m_process.reset();
    return ExtractionFailure{stage, QStringLiteral("Internal error (the parser answered out of turn)")};
}

std::optional<ExtractionFailure> DocumentWorker::start()
{
    // A worker ended while it waited in the pool (by a stop that came as its file was done) would fail the next file
    // as if that file had killed it: a fresh one takes its place.
    if (m_process && m_process->hasEnded())
        m_process.reset();
    if (!m_process) {
        QStringList arguments = m_settings.arguments;
        if (m_settings.memoryLimit > 0)
            arguments << QStringLiteral("--memory-limit") << QString::number(m_settings.memoryLimit);
        Result<std::unique_ptr<WorkerProcess>> started = m_settings.startProcess
                                                             ? m_settings.startProcess(m_settings.program, arguments)
                                                             : WorkerProcess::start(m_settings.program, arguments);
        if (!started)
            return ExtractionFailure{
                ExtractionStage::Parse,
                QStringLiteral("Internal error (the parser %1 could not be started: %2)")
                    .arg(FileNames::forDisplay(m_settings.program), started.failure().description)};
        m_process = std::move(*started);
        m_memoryKillsAtStart = OutOfMemoryKills();
    }
    return std::nullopt;
}

std::optional<ExtractionFailure> DocumentWorker::receiveComplete()
{
    char kind = 0;
    QByteArrayView payload;
    switch (m_process->receive(kind, payload, m_patience)) {
    case WorkerProcess::Received::Frame:
        break;
    case WorkerProcess::Received::Gone:
        return lost(ExtractionStage::Parse);
    case WorkerProcess::Received::TimedOut:
        return timedOut(ExtractionStage::Parse);
    }
    if (Kind(kind) == Kind::Complete)
        return std::nullopt;
    if (Kind(kind) == Kind::Failed) {
        if (std::optional<ExtractionFailure> failure = WorkerProtocol::decodeFailure(payload))
            return failure;
    }
    return outOfTurn(ExtractionStage::Parse);
}

std::optional<ExtractionFailure> DocumentWorker::load(const QString& path)
{
    if (std::optional<ExtractionFailure> failure = start())
        return failure;
    awaitAnswersAbout(path);
    if (!m_process->send(char(Kind::Load), FileNames::toNative(path)))
        return lost(ExtractionStage::Parse);
    return receiveComplete();
}

std::optional<ExtractionFailure> DocumentWorker::extract(ExtractionMode mode, QStringView tagName, const RowSink& sink)
{
    if (!m_process)
        return ExtractionFailure{ExtractionStage::Rows, QStringLiteral("Internal error (the document is gone)")};
    if (!m_process->send(char(Kind::Extract),
                         WorkerProtocol::encode(WorkerProtocol::ExtractRequest{mode, tagName.toString()})))
        return lost(ExtractionStage::Rows);
    return receiveRows(sink);
}

void DocumentWorker::queue(const QString& path, ExtractionMode mode, QStringView tagName)
{
    m_queued.push_back(Queued{path, WorkerProtocol::encode(WorkerProtocol::WholeRequest{mode, FileNames::toNative(path),
                                                                                        tagName.toString()})});
    // Sent at once to a running worker, which reads it when it has answered the requests before it.
    if (m_process && m_sent + 1 == m_queued.size() && m_process->send(char(Kind::Whole), m_queued.back().request))
        ++m_sent;
}

std::optional<ExtractionFailure> DocumentWorker::openQueued(const QString& path)
{
    if (m_queued.empty() || m_queued.front().path != path)
        return ExtractionFailure{ExtractionStage::Parse, QStringLiteral("Internal error (the file was not asked for)")};
    if (!m_process)
        m_sent = 0;
    awaitAnswersAbout(path);
    std::optional<ExtractionFailure> failure = start();
    for (; !failure && m_sent < m_queued.size(); ++m_sent) {
        if (!m_process->send(char(Kind::Whole), m_queued[m_sent].request))
            failure = lost(ExtractionStage::Parse);
    }
    if (!failure)
        failure = receiveComplete();
    if (failure)
        finishQueued();
    return failure;
}

std::optional<ExtractionFailure> DocumentWorker::takeQueuedRows(const RowSink& sink)
{
    std::optional<ExtractionFailure> failure;
    try {
        failure = receiveRows(sink);
    } catch (...) {
        finishQueued();
        throw;
    }
    finishQueued();
    return failure;
}

void DocumentWorker::dropQueued()
{
    // The rows it is sending would stand between the worker and its next request.
    m_process.reset();
    finishQueued();
}

void DocumentWorker::finishQueued()
{
    m_queued.pop_front();
    // A lost worker takes the requests it was sent with it; a fresh one is sent them again.
    if (m_process)
        --m_sent;
    else
        m_sent = 0;
}

std::optional<ExtractionFailure> DocumentWorker::receiveRows(const RowSink& sink)
{
    char kind = 0;
    // Rows are handed on from where they were read: a view, not a copy.
    QByteArrayView payload;
    try {
        for (;;) {
            // A worker sending rows is making progress: each frame has the whole limit.
            switch (m_process->receive(kind, payload, m_patience)) {
            case WorkerProcess::Received::Frame:
                break;
            case WorkerProcess::Received::Gone:
                return lost(ExtractionStage::Rows);
            case WorkerProcess::Received::TimedOut:
                return timedOut(ExtractionStage::Rows);
            }
            switch (Kind(kind)) {
            case Kind::End:
                return std::nullopt;
            case Kind::Rows:
                if (!WorkerProtocol::forEachRow(payload, sink))
                    return outOfTurn(ExtractionStage::Rows);
                break;
            case Kind::Failed:
                if (std::optional<ExtractionFailure> failure = WorkerProtocol::decodeFailure(payload))
                    return failure;
                return outOfTurn(ExtractionStage::Rows);
            default:
                return outOfTurn(ExtractionStage::Rows);
            }
        }
    } catch (...) {
        // The caller stopped taking rows: the rest of them would stand between this worker and its next request.
        m_process.reset();
        throw;
    }
}

DocumentResult QueuedDocuments::open(const QString& path)
{
    if (std::optional<ExtractionFailure> failure = m_worker.openQueued(path))
        return *failure;
    return std::unique_ptr<LoadedDocument>(std::make_unique<QueuedDocument>(m_worker));
}
