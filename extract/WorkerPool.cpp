#include "WorkerPool.h"

#include "DocumentWorker.h"
#include "WorkerProcess.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

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
    std::optional<ExtractionFailure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) override
    {
        return (*m_loan)->extract(mode, tagName, sink);
    }

private:
    std::unique_ptr<Loan> m_loan;
};

class WorkerLoading final : public PendingDocument
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

    DocumentResult take() override
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_failure)
            return *m_failure;
        return std::unique_ptr<LoadedDocument>(std::make_unique<WorkerDocument>(std::move(m_loan)));
    }

private:
    std::unique_ptr<Loan> m_loan;
    std::optional<ExtractionFailure> m_failure;
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

    std::unique_ptr<PendingDocument> load(const QString& path, std::function<void()> whenComplete) override
    {
        return std::make_unique<WorkerLoading>(m_pool, path, std::move(whenComplete));
    }

private:
    std::shared_ptr<WorkerPool> m_pool;
};

} // namespace

std::unique_ptr<DocumentService> createWorkerDocuments(DocumentWorkerSettings settings)
{
    return std::make_unique<WorkerDocuments>(std::move(settings));
}
