#pragma once

#include "Clipboard.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "Shell.h"

#include <QElapsedTimer>

#include <algorithm>

// Stand-ins for the services a benchmark of the window does not exercise.
class NoClipboard final : public Clipboard
{
public:
    bool clear() override { return true; }
    bool setText(const QString&) override { return true; }
};

class NoShell final : public Shell
{
public:
    void openFolder(const QString&) override {}
};

// Answers every box at once: OK, the default button, and the folder, extension and save target
// a benchmark sets.
class BenchDialogs final : public Dialogs
{
public:
    void message(const QString&, const QString& text, Icon) override
    {
        last = text;
        shown << text;
    }
    Answer question(const QString&, const QString&, Answer answer) override { return answer; }
    QString prompt(const QString&, const QString&, const QString& proposed) override
    {
        return extension.isEmpty() ? proposed : extension;
    }
    QStringList openFiles(const QString&, const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return saveTarget; }
    QString chooseFolder(const QString&, const QString&) override { return folder; }

    QString extension;
    QString saveTarget;
    QString folder;
    QString last;
    QStringList shown; // every message, in order
};

// The real pump, noting how long the thread went between two visits to the event loop.
class TimedPump final : public EventPump
{
public:
    void processEvents() override
    {
        around([this] { m_real.processEvents(); });
    }
    void waitForEvents() override
    {
        around([this] { m_real.waitForEvents(); });
    }
    void wake() override { m_real.wake(); }

    void start()
    {
        m_clock.start();
        m_lastReturn = 0;
        m_longestGap = 0;
        m_calls = 0;
    }
    void finish() { note(m_clock.nsecsElapsed()); }
    double longestGapMs() const { return double(m_longestGap) / 1e6; }
    long calls() const { return m_calls; }

private:
    // Only the outermost calls count: a call made by a handler that the event loop is running
    // (closing the window during a wait, say) happens inside the loop, not in a gap.
    template <typename F> void around(F call)
    {
        if (m_depth == 0)
            note(m_clock.nsecsElapsed());
        ++m_depth;
        call();
        if (--m_depth == 0)
            m_lastReturn = m_clock.nsecsElapsed();
        ++m_calls;
    }
    void note(qint64 now) { m_longestGap = std::max(m_longestGap, now - m_lastReturn); }

    QtEventPump m_real;
    QElapsedTimer m_clock;
    qint64 m_lastReturn = 0;
    qint64 m_longestGap = 0;
    long m_calls = 0;
    int m_depth = 0;
};
