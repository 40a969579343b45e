#pragma once

// "Let the window process its pending events": the one place long work yields to the user.
class EventPump
{
public:
    virtual ~EventPump() = default;
    // Processes what is pending and returns.
    virtual void processEvents() = 0;
    // Processes events, first waiting for one to arrive if none is pending: for a wait whose end
    // is signalled by wake(), without spinning a core meanwhile.
    virtual void waitForEvents() = 0;
    // Makes a waitForEvents() on the window's thread return; callable from any thread.
    virtual void wake() = 0;
};

// The real one, over QCoreApplication::processEvents.
class QtEventPump final : public EventPump
{
public:
    QtEventPump();
    void processEvents() override;
    void waitForEvents() override;
    void wake() override;

private:
    class QThread* m_thread;
};
