#include "StopSignals.h"

#include "WorkerProcess.h"

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

std::atomic<bool> g_stopRequested{false};
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    g_stopSignal = signal;
    g_stopRequested.store(true);
    WorkerProcess::InterruptAll();
}

#ifdef Q_OS_WIN
// A console's keys and its closing come to a thread of their own, as POSIX signals would. The statuses are those a
// POSIX shell reports for the same stops: Ctrl+C is SIGINT (130), Ctrl+Break the C runtime's SIGBREAK (149), a
// console closed or a session ending is a hang-up (129).
BOOL WINAPI onConsoleEvent(DWORD event)
{
    constexpr int kHangUp = 1;
    switch (event) {
    case CTRL_C_EVENT:
        onStopSignal(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        onStopSignal(SIGBREAK);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        onStopSignal(kHangUp);
        // The system ends the program as soon as this returns: waiting here lets the run take its save back
        // first, and the program's own end ends this wait.
        ::Sleep(INFINITE);
        return TRUE;
    default:
        return FALSE;
    }
}
#endif

} // namespace

namespace StopSignals {

void Catch()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#else
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    std::signal(SIGTERM, onStopSignal);
#endif
}

const std::atomic<bool>& Requested()
{
    return g_stopRequested;
}

int ExitStatus()
{
    return 128 + int(g_stopSignal);
}

} // namespace StopSignals
