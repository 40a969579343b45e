#pragma once

#include <QString>

#include <chrono>
#include <cstddef>
#include <cstdio>

// One line on standard error telling how far a long run has come ("37/2000 files, 81,234 rows, 52 MB/s"),
// rewritten in place, for a user watching a terminal. It appears once the run has lasted a second, changes at most
// every 200 ms, and is cleared before any other message and at the end, so that what is left on the terminal is
// only the messages. Standard output is never touched. A console that takes no escape sequences (an older Windows
// console) has the line rewritten after a carriage return and erased with spaces.
class ProgressLine
{
public:
    using Clock = std::chrono::steady_clock;

    ProgressLine(std::FILE* terminal, bool shown, std::size_t files, bool escapes = true);

    bool shown() const { return m_shown; }
    void rowsDelivered(std::size_t rows);
    void fileFinished(qint64 bytes);
    // Takes the line off the terminal; the next change puts it back.
    void clear();

    // The line's text for a state of the run.
    static QString Text(std::size_t filesDone, std::size_t files, std::size_t rows, double bytesPerSecond);

    static constexpr std::chrono::milliseconds kFirstAfter{1000};
    static constexpr std::chrono::milliseconds kEvery{200};

private:
    void update();

    std::FILE* m_terminal;
    bool m_shown;
    std::size_t m_files;
    std::size_t m_filesDone = 0;
    std::size_t m_rows = 0;
    qint64 m_bytes = 0;
    Clock::time_point m_begun;
    Clock::time_point m_lastShown;
    bool m_onScreen = false;
    bool m_escapes;
    qsizetype m_width = 0; // of the line on screen, for the spaces that erase it
};
