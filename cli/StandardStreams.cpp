#include "StandardStreams.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

bool g_closed[3] = {false, false, false};

} // namespace

namespace StandardStreams {

void Secure()
{
#ifdef _WIN32
    // Windows hands no stream's number to the next file opened; a stream without a handle (a program started
    // without a console or with a stream closed) is still pointed at NUL, so that what goes there is dropped.
    std::FILE* const streams[] = {stdin, stdout, stderr};
    const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int stream = 0; stream < 3; ++stream) {
        const HANDLE handle = ::GetStdHandle(handles[stream]);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE)
            continue;
        g_closed[stream] = true;
        std::freopen("NUL", stream == 0 ? "rb" : "wb", streams[stream]);
    }
#else
    for (int stream = 0; stream < 3; ++stream) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        g_closed[stream] = true;
        // The lowest free number: the stream's own, as the ones below it are open by now.
        const int null = ::open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != stream) {
            ::dup2(null, stream);
            ::close(null);
        }
    }
#endif
}

bool WasClosed(int stream)
{
    return stream >= 0 && stream < 3 && g_closed[stream];
}

} // namespace StandardStreams
