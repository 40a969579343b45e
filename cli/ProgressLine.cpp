#include "ProgressLine.h"

#include <QLocale>

#include <algorithm>

namespace {

// Back to the start of the line, then erase to its end.
constexpr char kClearLine[] = "\r\x1b[K";

} // namespace

ProgressLine::ProgressLine(std::FILE* terminal, bool shown, std::size_t files, bool escapes)
    : m_terminal(terminal), m_shown(shown), m_files(files), m_begun(Clock::now()), m_escapes(escapes)
{}

QString ProgressLine::Text(std::size_t filesDone, std::size_t files, std::size_t rows, double bytesPerSecond)
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    // A list read as the run goes has no count of its own until its end.
    const QString done = files > 0 ? QStringLiteral("%1/%2").arg(filesDone).arg(files) : QString::number(filesDone);
    return QStringLiteral("%1 files, %2 rows, %3 MB/s")
        .arg(done, english.toString(qulonglong(rows)))
        .arg(qint64(bytesPerSecond / 1e6 + 0.5));
}

void ProgressLine::rowsDelivered(std::size_t rows)
{
    m_rows += rows;
    update();
}

void ProgressLine::fileFinished(qint64 bytes)
{
    ++m_filesDone;
    m_bytes += bytes;
    update();
}

void ProgressLine::clear()
{
    if (!m_onScreen)
        return;
    if (m_escapes)
        std::fputs(kClearLine, m_terminal);
    else
        std::fprintf(m_terminal, "\r%s\r", QByteArray(m_width, ' ').constData());
    std::fflush(m_terminal);
    m_onScreen = false;
}

void ProgressLine::update()
{
    if (!m_shown)
        return;
    const Clock::time_point now = Clock::now();
    if (now - m_begun < kFirstAfter || (m_onScreen && now - m_lastShown < kEvery))
        return;
    m_lastShown = now;
    const double seconds = std::chrono::duration<double>(now - m_begun).count();
    const QByteArray line = Text(m_filesDone, m_files, m_rows, double(m_bytes) / seconds).toLocal8Bit();
    if (m_escapes) {
        std::fprintf(m_terminal, "\r%s\x1b[K", line.constData());
    } else {
        // Spaces over what is left of a longer line before.
        std::fprintf(m_terminal, "\r%s%s", line.constData(),
                     QByteArray(std::max<qsizetype>(0, m_width - line.size()), ' ').constData());
        m_width = std::max(m_width, line.size());
    }
    std::fflush(m_terminal);
    m_onScreen = true;
}
