#pragma once

#include "EventPump.h"

#include <functional>
#include <map>
#include <vector>

// Counts the times long work lets the window breathe, and acts at chosen ones: the place where a
// test clicks another button in the middle of a run. Forwarding to Qt lets queued signals through.
class FakeEventPump final : public EventPump
{
public:
    void processEvents() override;
    // Counted like processEvents: in tests a wait never blocks, the loop just asks again.
    void waitForEvents() override { processEvents(); }
    void wake() override {}

    int calls() const { return m_calls; }
    // Runs action at the nth call (1-based), once.
    void onCall(int n, std::function<void()> action);
    // Runs action at every call, after those for that call in particular.
    void everyCall(std::function<void()> action);
    void setForwarding(bool forward) { m_forwarding = forward; }

private:
    int m_calls = 0;
    bool m_forwarding = false;
    std::multimap<int, std::function<void()>> m_atCall;
    std::vector<std::function<void()>> m_everyCall;
};
