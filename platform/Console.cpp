#include "Console.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace Console {

#ifdef Q_OS_WIN

namespace {

HANDLE handleOf(std::FILE* stream)
{
    return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

} // namespace

bool IsConsole(std::FILE* stream)
{
    DWORD mode = 0;
    return ::GetConsoleMode(handleOf(stream), &mode) != 0;
}

bool TakesEscapes(std::FILE* stream)
{
    const HANDLE console = handleOf(stream);
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode))
        return true;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

#else

bool IsConsole(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

bool TakesEscapes(std::FILE*)
{
    return true;
}

#endif

} // namespace Console
