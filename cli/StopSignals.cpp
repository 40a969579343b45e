#include "StopSignals.h"

#include "WorkerProcess.h"

#include <csignal>

namespace {

std::atomic<bool> g_stopRequested{false};
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    g_stopSignal = signal;
    g_stopRequested.store(true);
    WorkerProcess::InterruptAll();
}

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
    std::signal(SIGINT, onStopSignal);
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
