#include "ProgressCaption.h"

#include <QLocale>

ProgressCaption::ProgressCaption(EventPump& events, std::function<void(const QString&)> setCaption, Clock clock)
    : m_events(events), m_setCaption(std::move(setCaption)), m_clock(std::move(clock))
{
    m_pace.setInterval(int(kEveryMs));
}

QString PlainCaption()
{
    return QStringLiteral("Quillory");
}

QString ProgressText(const QString& progress)
{
    return PlainCaption() + QStringLiteral(" - ") + progress;
}

void ProgressCaption::begin(std::function<QString()> progress)
{
    m_progress = std::move(progress);
    m_begun = m_clock();
    m_shown = -1;
    m_pace.start();
}

void ProgressCaption::end()
{
    m_pace.stop();
    m_progress = nullptr;
    if (m_shown >= 0)
        m_setCaption(PlainCaption());
    m_shown = -1;
}

bool ProgressCaption::due() const
{
    if (!m_progress)
        return false;
    const qint64 now = m_clock();
    return now - m_begun >= kFirstAfterMs && (m_shown < 0 || now - m_shown >= kEveryMs);
}

void ProgressCaption::refresh()
{
    if (!due())
        return;
    m_shown = m_clock();
    m_setCaption(ProgressText(m_progress()));
}

void ProgressCaption::processEvents()
{
    refresh();
    m_events.processEvents();
}

void ProgressCaption::waitForEvents()
{
    refresh();
    m_events.waitForEvents();
}

QString GroupedNumber(qint64 number)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    return english.toString(number);
}
