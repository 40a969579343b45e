#include "ConsoleKeys.h"

#include <QProcess>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#endif

#ifdef Q_OS_WIN

namespace {

BOOL WINAPI swallowStops(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

} // namespace

void ShareConsole(QProcess& process)
{
    static const bool ready = [] {
        // A console window of the tests' own is kept. Without one (under Wine, whose console for a program started
        // from pipes takes no events) a new one is made. The tests' own output stays where it went.
        if (!::GetConsoleWindow()) {
            const DWORD streams[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
            HANDLE kept[3];
            for (int i = 0; i < 3; ++i)
                kept[i] = ::GetStdHandle(streams[i]);
            ::FreeConsole();
            ::AllocConsole();
            for (int i = 0; i < 3; ++i)
                ::SetStdHandle(streams[i], kept[i]);
        }
        // A program inherits whether Ctrl+C is ignored: it is not, here; the tests' own handler keeps them running.
        ::SetConsoleCtrlHandler(nullptr, FALSE);
        ::SetConsoleCtrlHandler(swallowStops, TRUE);
        return true;
    }();
    Q_UNUSED(ready);
    // QProcess starts a program without a console of its own when the caller's has no window (as under Wine).
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* arguments) {
        arguments->flags &= ~DWORD(CREATE_NO_WINDOW | DETACHED_PROCESS | CREATE_NEW_CONSOLE | CREATE_NEW_PROCESS_GROUP);
    });
}

bool PressCtrlC(qint64)
{
    return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0;
}

#else

void ShareConsole(QProcess&) {}

bool PressCtrlC(qint64 process)
{
    return ::kill(pid_t(process), SIGINT) == 0;
}

#endif
