#pragma once

#include "EventPump.h"

#include <QString>
#include <QTimer>

#include <functional>

// The window's events as long work sees them: each time the work lets events through, the window's caption shows how
// far it has come ("Quillory - 37 of 2,000 files - 81,234 rows - Esc stops"), once the work has lasted half a second
// and no more often than every 200 ms, and the plain caption again when it ends. Work that lasts less than half a
// second never changes the caption.
class ProgressCaption final : public EventPump
{
public:
    // The milliseconds of a steady clock.
    using Clock = std::function<qint64()>;

    ProgressCaption(EventPump& events, std::function<void(const QString&)> setCaption, Clock clock);

    // Work begins; progress() tells, when asked, the part of the caption after the program's name.
    void begin(std::function<QString()> progress);
    // Work ends: the plain caption comes back if it had been changed.
    void end();
    // Whether a caption update is due now: lets work that does not otherwise let events through do so at the same
    // pace.
    bool due() const;

    void processEvents() override;
    void waitForEvents() override;
    void wake() override { m_events.wake(); }

    static constexpr qint64 kFirstAfterMs = 500;
    static constexpr qint64 kEveryMs = 200;

private:
    void refresh();

    EventPump& m_events;
    std::function<void(const QString&)> m_setCaption;
    Clock m_clock;
    std::function<QString()> m_progress;
    qint64 m_begun = 0;
    qint64 m_shown = -1; // when the caption last changed; -1 while it is the plain one
    // Ends a wait for events every so often, so that the caption moves on while one long document loads.
    QTimer m_pace;
};

// The plain caption, and the caption with progress.
QString PlainCaption();
QString ProgressText(const QString& progress);
// A count with its thousands grouped by commas ("81,234"), whatever the user's locale.
QString GroupedNumber(qint64 number);
