#include "DocumentService.h"

#include <new>
#include <system_error>

PendingOnThread::PendingOnThread(std::function<DocumentResult()> work, std::function<void()> whenComplete,
                                 std::function<void()> interrupt)
    : m_result(ExtractionFailure{ExtractionStage::Parse, QStringLiteral("The document is still loading")}),
      m_interrupt(std::move(interrupt))
{
    auto run = [this, work = std::move(work), whenComplete = std::move(whenComplete)]() mutable {
        try {
            m_result = work();
        } catch (const std::bad_alloc&) {
            m_result = ExtractionFailure{ExtractionStage::Parse, QStringLiteral("Out of memory")};
        }
        // What the work held (a worker on loan, say) is let go now, not when the load is dropped.
        work = {};
        m_complete.store(true, std::memory_order_release);
        if (whenComplete)
            whenComplete();
    };
    // The thread is given its own copy of the work, so that the work is still here when the thread cannot start.
    try {
        m_thread = std::thread(run);
    } catch (const std::system_error&) {
        run();
    }
}

PendingOnThread::~PendingOnThread()
{
    if (m_thread.joinable())
        m_thread.join();
}

QString PendingOnThread::readyState() const
{
    return m_complete.load(std::memory_order_acquire) ? QStringLiteral("complete") : QStringLiteral("loading");
}

DocumentResult PendingOnThread::take()
{
    if (m_thread.joinable())
        m_thread.join();
    return std::move(m_result);
}

void PendingOnThread::abandon()
{
    if (m_interrupt && !m_complete.load(std::memory_order_acquire))
        m_interrupt();
}

std::unique_ptr<PendingDocument> DocumentService::load(const QString& path, std::function<void()> whenComplete)
{
    PreparedLoad prepared = prepare(path);
    return std::make_unique<PendingOnThread>(std::move(prepared.work), std::move(whenComplete),
                                             std::move(prepared.interrupt));
}
