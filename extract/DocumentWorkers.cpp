#include "DocumentWorkers.h"

#include "FileNames.h"
#include "FileSystem.h"
#include "MemoryInfo.h"
#include "WorkerProcess.h"

#include <QtEndian>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// The requests and replies, by their kind byte.
constexpr char kLoad = 'L';     // request: the path's bytes
constexpr char kExtract = 'X';  // request: the mode (one byte), then the tag name in UTF-8
constexpr char kWhole = 'W';    // request: load and extract at once: the mode, the path's length (32 bits), the
                                // path's bytes, the tag name; answered as an extract, or with one failure
constexpr char kComplete = 'C'; // reply to a load: the document is built
constexpr char kFailed = 'F';   // reply: why not, in UTF-8
constexpr char kRows = 'R';     // reply to an extract, any number of times: rows, each a 32-bit length and bytes
constexpr char kEnd = 'E';      // reply to an extract: no more rows

// A worker whose memory ran out ends with this status, so that its file gets the out-of-memory report.
constexpr int kOutOfMemoryStatus = 3;
// Rows go out in frames of about this size.
constexpr qsizetype kRowFrameBytes = 65536;

qint64 memoryLimitFromEnvironment()
{
    bool ok = false;
    const qint64 megabytes = qEnvironmentVariableIntValue("QUILLORY_WORKER_MEMORY_MB", &ok);
    return ok && megabytes > 0 ? megabytes * 1024 * 1024 : 0;
}

QString describeEnd(const WorkerProcess::End& end, qint64 memoryLimit)
{
    if (!end.signaled && end.code == kOutOfMemoryStatus) {
        if (memoryLimit <= 0)
            return QStringLiteral("Out of memory (the document does not fit in this machine's memory)");
        return QStringLiteral("Out of memory (the document needs more than the %L1 MB one document may use on this "
                              "machine)")
            .arg(double(memoryLimit) / (1024.0 * 1024.0), 0, 'f', 0);
    }
    if (end.signaled) {
#ifdef Q_OS_UNIX
        const char* name = ::strsignal(end.code);
        return QStringLiteral("Internal error (the parser stopped with signal %1, %2)")
            .arg(end.code)
            .arg(QString::fromLocal8Bit(name ? name : "unknown"));
#else
        return QStringLiteral("Internal error (the parser stopped with code %1)").arg(end.code);
#endif
    }
    return QStringLiteral("Internal error (the parser stopped with status %1)").arg(end.code);
}

} // namespace

DocumentWorkerSettings DefaultDocumentWorkers(const QString& program, const QStringList& arguments)
{
    DocumentWorkerSettings settings{program, arguments, memoryLimitFromEnvironment()};
    if (settings.memoryLimit == 0)
        settings.memoryLimit = qint64(PhysicalMemoryBytes() / 4);
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

Failure DocumentWorker::lost()
{
    const WorkerProcess::End end = m_process->end();
    m_process.reset();
    return Failure{describeEnd(end, m_settings.memoryLimit)};
}

std::optional<Failure> DocumentWorker::start()
{
    if (!m_process) {
        QStringList arguments = m_settings.arguments;
        if (m_settings.memoryLimit > 0)
            arguments << QStringLiteral("--memory-limit") << QString::number(m_settings.memoryLimit);
        Result<std::unique_ptr<WorkerProcess>> started = WorkerProcess::start(m_settings.program, arguments);
        if (!started)
            return Failure{QStringLiteral("Internal error (the parser %1 could not be started: %2)")
                               .arg(FileNames::forDisplay(m_settings.program), started.failure().description)};
        m_process = std::move(*started);
    }
    return std::nullopt;
}

std::optional<Failure> DocumentWorker::load(const QString& path)
{
    if (std::optional<Failure> failure = start())
        return failure;
    if (!m_process->send(kLoad, FileNames::toNative(path)))
        return lost();
    char kind = 0;
    QByteArray payload;
    if (!m_process->receive(kind, payload))
        return lost();
    if (kind == kComplete)
        return std::nullopt;
    if (kind == kFailed)
        return Failure{QString::fromUtf8(payload)};
    m_process.reset();
    return Failure{QStringLiteral("Internal error (the parser answered out of turn)")};
}

std::optional<Failure> DocumentWorker::extract(ExtractionMode mode, QStringView tagName, const RowSink& sink)
{
    if (!m_process)
        return Failure{QStringLiteral("Internal error (the document is gone)")};
    if (!m_process->send(kExtract, char(mode) + tagName.toUtf8()))
        return lost();
    return receiveRows(sink);
}

void DocumentWorker::queue(const QString& path, ExtractionMode mode, QStringView tagName)
{
    const QByteArray native = FileNames::toNative(path);
    QByteArray request(1 + 4, Qt::Uninitialized);
    request[0] = char(mode);
    qToLittleEndian<quint32>(quint32(native.size()), request.data() + 1);
    request += native;
    request += tagName.toUtf8();
    m_queued.push_back(request);
    // Sent at once to a running worker, which reads it when it has answered the requests before it.
    if (m_process && m_sent + 1 == m_queued.size() && m_process->send(kWhole, request))
        ++m_sent;
}

std::optional<Failure> DocumentWorker::take(const RowSink& sink)
{
    if (m_queued.empty())
        return Failure{QStringLiteral("Internal error (no file was asked for)")};
    if (!m_process)
        m_sent = 0;
    std::optional<Failure> failure = start();
    for (; !failure && m_sent < m_queued.size(); ++m_sent) {
        if (!m_process->send(kWhole, m_queued[m_sent]))
            failure = lost();
    }
    if (!failure) {
        try {
            failure = receiveRows(sink);
        } catch (...) {
            m_queued.pop_front();
            m_sent = 0;
            throw;
        }
    }
    m_queued.pop_front();
    // A lost worker takes the requests it was sent with it; a fresh one is sent them again.
    if (m_process)
        --m_sent;
    else
        m_sent = 0;
    return failure;
}

std::optional<Failure> DocumentWorker::receiveRows(const RowSink& sink)
{
    char kind = 0;
    QByteArray payload;
    try {
        for (;;) {
            if (!m_process->receive(kind, payload))
                return lost();
            if (kind == kEnd)
                return std::nullopt;
            if (kind == kFailed)
                return Failure{QString::fromUtf8(payload)};
            if (kind != kRows) {
                m_process.reset();
                return Failure{QStringLiteral("Internal error (the parser answered out of turn)")};
            }
            const char* at = payload.constData();
            const char* const end = at + payload.size();
            while (end - at >= 4) {
                const quint32 length = qFromLittleEndian<quint32>(at);
                at += 4;
                if (quint32(end - at) < length)
                    break;
                sink(std::string_view(at, length));
                at += length;
            }
        }
    } catch (...) {
        // The caller stopped taking rows: the rest of them would stand between this worker and its next request.
        m_process.reset();
        throw;
    }
}

std::optional<StepFailure> ExtractFileWith(DocumentWorker& worker, ExtractionMode mode, const QString& path,
                                           const ExtractionTexts& texts, const RowSink& sink)
{
    if (mode == ExtractionMode::MatchingLines) {
        try {
            Result<LineList> lines = RFTSFSO::ReadFileLines(path);
            if (!lines)
                return StepFailure{168, lines.failure().description};
            EmitMatchingLines(*lines, texts.searchText, sink);
        } catch (const std::bad_alloc&) {
            return StepFailure{168, QStringLiteral("Out of memory")};
        }
        return std::nullopt;
    }
    if (std::optional<Failure> failure = worker.load(path))
        return StepFailure{contentStep(mode), failure->description};
    if (std::optional<Failure> failure = worker.extract(mode, texts.tagName, sink))
        return StepFailure{contentStep(mode), failure->description};
    return std::nullopt;
}

namespace {

// The workers of one window, each lent to one load and then to the document it made.
class WorkerPool : public std::enable_shared_from_this<WorkerPool>
{
public:
    explicit WorkerPool(DocumentWorkerSettings settings) : m_settings(std::move(settings)) {}

    std::unique_ptr<DocumentWorker> borrow()
    {
        const std::lock_guard lock(m_mutex);
        if (m_idle.empty())
            return std::make_unique<DocumentWorker>(m_settings);
        std::unique_ptr<DocumentWorker> worker = std::move(m_idle.back());
        m_idle.pop_back();
        return worker;
    }

    void giveBack(std::unique_ptr<DocumentWorker> worker)
    {
        const std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(worker));
    }

private:
    DocumentWorkerSettings m_settings;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<DocumentWorker>> m_idle;
};

// A worker on loan, given back to its pool however the loan ends.
class Loan
{
public:
    explicit Loan(std::shared_ptr<WorkerPool> pool) : m_pool(std::move(pool)), m_worker(m_pool->borrow()) {}
    ~Loan()
    {
        if (m_worker)
            m_pool->giveBack(std::move(m_worker));
    }
    Loan(Loan&&) = default;
    DocumentWorker& operator*() { return *m_worker; }
    DocumentWorker* operator->() { return m_worker.get(); }

private:
    std::shared_ptr<WorkerPool> m_pool;
    std::unique_ptr<DocumentWorker> m_worker;
};

class WorkerDocument final : public LoadedDocument
{
public:
    explicit WorkerDocument(std::unique_ptr<Loan> loan) : m_loan(std::move(loan)) {}
    std::optional<Failure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) override
    {
        return (*m_loan)->extract(mode, tagName, sink);
    }

private:
    std::unique_ptr<Loan> m_loan;
};

class WorkerLoading final : public DocumentLoading
{
public:
    WorkerLoading(std::shared_ptr<WorkerPool> pool, const QString& path, std::function<void()> whenComplete)
        : m_loan(std::make_unique<Loan>(std::move(pool)))
    {
        // Started here, on the caller's lasting thread, not on the load's own.
        m_failure = (*m_loan)->start();
        m_processId = (*m_loan)->processId();
        m_thread = std::thread([this, path, whenComplete = std::move(whenComplete)] {
            if (!m_failure)
                m_failure = (*m_loan)->load(path);
            m_complete.store(true, std::memory_order_release);
            if (whenComplete)
                whenComplete();
        });
    }
    ~WorkerLoading() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    QString readyState() const override
    {
        return m_complete.load(std::memory_order_acquire) ? QStringLiteral("complete") : QStringLiteral("loading");
    }

    // The worker is ended under the load, which then fails; its loan goes back to the pool and the next load starts
    // a fresh worker.
    void abandon() override
    {
        if (!m_complete.load(std::memory_order_acquire))
            WorkerProcess::Interrupt(m_processId);
    }

    Result<std::unique_ptr<LoadedDocument>> take() override
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_failure)
            return *m_failure;
        return std::unique_ptr<LoadedDocument>(std::make_unique<WorkerDocument>(std::move(m_loan)));
    }

private:
    std::unique_ptr<Loan> m_loan;
    std::optional<Failure> m_failure;
    std::atomic<bool> m_complete{false};
    qint64 m_processId = 0;
    std::thread m_thread;
};

class WorkerDocuments final : public DocumentService
{
public:
    explicit WorkerDocuments(DocumentWorkerSettings settings)
        : m_pool(std::make_shared<WorkerPool>(std::move(settings)))
    {}

    std::unique_ptr<DocumentLoading> load(const QString& path, std::function<void()> whenComplete) override
    {
        return std::make_unique<WorkerLoading>(m_pool, path, std::move(whenComplete));
    }

private:
    std::shared_ptr<WorkerPool> m_pool;
};

// The worker's own end when memory runs out, wherever that is noticed.
[[noreturn]] void endOutOfMemory()
{
    WorkerChannel::flush();
    std::_Exit(kOutOfMemoryStatus);
}

void sendRows(std::string& frame)
{
    if (!frame.empty()) {
        WorkerChannel::send(kRows, QByteArray::fromRawData(frame.data(), qsizetype(frame.size())));
        frame.clear();
    }
}

} // namespace

std::unique_ptr<DocumentService> createWorkerDocuments(DocumentWorkerSettings settings)
{
    return std::make_unique<WorkerDocuments>(std::move(settings));
}

int ServeDocuments(const QStringList& arguments)
{
    qint64 parent = 0;
    qint64 memoryLimit = 0;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QStringLiteral("--parent"))
            parent = arguments[i + 1].toLongLong();
        else if (arguments[i] == QStringLiteral("--memory-limit"))
            memoryLimit = arguments[i + 1].toLongLong();
    }
    if (parent > 0)
        WorkerChannel::EndWithParent(parent);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers reserve far more address space than any limit would allow.
    memoryLimit = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    memoryLimit = 0;
#endif
#endif
    if (memoryLimit > 0)
        WorkerChannel::LimitMemory(memoryLimit);
    SetParserOutOfMemoryHandler(endOutOfMemory);
    std::set_new_handler([] { endOutOfMemory(); });

    try {
        std::unique_ptr<HtmlParser> parser = createHtmlParser();
        std::unique_ptr<HtmlDocument> document;
        // Builds the file's document, or tells why there is none.
        const auto load = [&](const QByteArray& path) {
            document.reset();
            Result<QByteArray> bytes = FileSystem::readAll(FileNames::fromNative(path));
            if (!bytes) {
                WorkerChannel::send(kFailed, bytes.failure().description.toUtf8());
                return false;
            }
            Result<std::unique_ptr<HtmlDocument>> built = parser->parse(*bytes);
            *bytes = QByteArray();
            if (!built) {
                WorkerChannel::send(kFailed, built.failure().description.toUtf8());
                return false;
            }
            document = std::move(*built);
            return true;
        };
        const auto extract = [&](ExtractionMode mode, const QString& tagName) {
            std::string frame;
            frame.reserve(std::size_t(kRowFrameBytes) * 2);
            const RowSink sink = [&](std::string_view row) {
                char length[4];
                qToLittleEndian<quint32>(quint32(row.size()), length);
                frame.append(length, 4);
                frame.append(row);
                if (frame.size() >= std::size_t(kRowFrameBytes)) {
                    sendRows(frame);
                    if (!WorkerChannel::flush())
                        std::_Exit(0);
                }
            };
            EmitDocumentRows(*document, mode, tagName, sink);
            sendRows(frame);
            WorkerChannel::send(kEnd, {});
        };
        char kind = 0;
        QByteArray request;
        while (WorkerChannel::receive(kind, request)) {
            if (kind == kLoad) {
                if (load(request))
                    WorkerChannel::send(kComplete, {});
            } else if (kind == kExtract && document && !request.isEmpty()) {
                extract(ExtractionMode(request[0]), QString::fromUtf8(request.mid(1)));
            } else if (kind == kWhole && request.size() >= 5 &&
                       qFromLittleEndian<quint32>(request.constData() + 1) <= quint32(request.size() - 5)) {
                const quint32 pathBytes = qFromLittleEndian<quint32>(request.constData() + 1);
                if (load(request.mid(5, pathBytes)))
                    extract(ExtractionMode(request[0]), QString::fromUtf8(request.mid(5 + pathBytes)));
            } else {
                WorkerChannel::send(kFailed, QByteArrayLiteral("Internal error (no document to extract from)"));
            }
            if (!WorkerChannel::flush())
                return 0;
        }
    } catch (const std::bad_alloc&) {
        endOutOfMemory();
    }
    return 0;
}
