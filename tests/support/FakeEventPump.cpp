#include "FakeEventPump.h"

#include <QCoreApplication>

void FakeEventPump::processEvents()
{
    const int call = ++m_calls;
    // Actions may pump again or add actions of their own, so each is taken out or copied before it runs.
    for (auto it = m_atCall.find(call); it != m_atCall.end(); it = m_atCall.find(call)) {
        const std::function<void()> action = std::move(it->second);
        m_atCall.erase(it);
        action();
    }
    const std::vector<std::function<void()>> everyCall = m_everyCall;
    for (const auto& action : everyCall)
        action();
    if (m_forwarding)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void FakeEventPump::onCall(int n, std::function<void()> action)
{
    m_atCall.emplace(n, std::move(action));
}

void FakeEventPump::everyCall(std::function<void()> action)
{
    m_everyCall.push_back(std::move(action));
}
