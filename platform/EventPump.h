#pragma once

// "Let the window process its pending events": the one place long work yields to the user.
class EventPump
{
public:
    virtual ~EventPump() = default;
    virtual void processEvents() = 0;
};

// The real one, over QCoreApplication::processEvents.
class QtEventPump final : public EventPump
{
public:
    void processEvents() override;
};
