#include "DocumentLoad.h"

#include "DocumentLoader.h"

#include <new>

DocumentLoad::DocumentLoad(const QString& path, HtmlParser& parser, std::function<void()> whenComplete)
{
    m_worker = std::thread([this, path, &parser, whenComplete = std::move(whenComplete)] {
        try {
            m_result = LoadHtmlDocument(path, parser);
        } catch (const std::bad_alloc&) {
            m_result = Failure{QStringLiteral("Out of memory")};
        }
        m_complete.store(true, std::memory_order_release);
        if (whenComplete)
            whenComplete();
    });
}

DocumentLoad::~DocumentLoad()
{
    if (m_worker.joinable())
        m_worker.join();
}

QString DocumentLoad::readyState() const
{
    return m_complete.load(std::memory_order_acquire) ? QStringLiteral("complete") : QStringLiteral("loading");
}

Result<std::unique_ptr<HtmlDocument>> DocumentLoad::take()
{
    if (m_worker.joinable())
        m_worker.join();
    return std::move(m_result);
}
