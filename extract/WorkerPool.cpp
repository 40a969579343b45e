#include "WorkerPool.h"

#include "DocumentWorker.h"
#include "WorkerProcess.h"

#include <algorithm>
#include <iterator>
#include <mutex>
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
        // One whose process runs, where there is one: it needs no start, which the system may refuse.
        auto chosen = std::find_if(m_idle.rbegin(), m_idle.rend(),
                                   [](const std::unique_ptr<DocumentWorker>& worker) { return worker->running(); });
        if (chosen == m_idle.rend())
            chosen = m_idle.rbegin();
        std::unique_ptr<DocumentWorker> worker = std::move(*chosen);
        m_idle.erase(std::next(chosen).base());
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
    explicit WorkerDocument(std::shared_ptr<Loan> loan) : m_loan(std::move(loan)), m_processId((*m_loan)->processId())
    {}
    std::optional<ExtractionFailure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) override
    {
        return (*m_loan)->extract(mode, tagName, sink);
    }
    // The worker holding the document is ended under the rows; its loan goes back to the pool, and the next load
    // starts a fresh worker.
    void abandon() override { WorkerProcess::Interrupt(m_processId); }

private:
    std::shared_ptr<Loan> m_loan;
    // Read once, on the thread that made the document: the worker itself belongs to the thread taking the rows.
    const qint64 m_processId;
};

class WorkerDocuments final : public DocumentService
{
public:
    explicit WorkerDocuments(DocumentWorkerSettings settings)
        : m_pool(std::make_shared<WorkerPool>(std::move(settings)))
    {}

    PreparedLoad prepare(const QString& path) override
    {
        auto loan = std::make_shared<Loan>(m_pool);
        // Started here, on the caller's lasting thread, not on the load's own.
        std::optional<ExtractionFailure> notStarted = (*loan)->start();
        const qint64 processId = (*loan)->processId();
        return {[loan, path, notStarted]() mutable -> DocumentResult {
                    std::optional<ExtractionFailure> failure = notStarted ? notStarted : (*loan)->load(path);
                    if (failure)
                        return *failure;
                    return std::unique_ptr<LoadedDocument>(std::make_unique<WorkerDocument>(std::move(loan)));
                },
                // The worker is ended under the load, which then fails; its loan goes back to the pool and the next
                // load starts a fresh worker.
                [processId] { WorkerProcess::Interrupt(processId); }, notStarted};
    }

private:
    std::shared_ptr<WorkerPool> m_pool;
};

} // namespace

std::unique_ptr<DocumentService> createWorkerDocuments(DocumentWorkerSettings settings)
{
    return std::make_unique<WorkerDocuments>(std::move(settings));
}
