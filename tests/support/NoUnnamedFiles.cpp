// Preloaded into a program, stands for a file system without unnamed files: open() with O_TMPFILE is refused as such
// file systems refuse it, so that the program falls back on files with names, which a kill leaves behind.

#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>

namespace {

using Open = int (*)(const char*, int, ...);

int refusedOrOpened(const char* symbol, const char* path, int flags, mode_t mode)
{
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const auto real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, symbol));
    return real(path, flags, mode);
}

mode_t modeOf(int flags, va_list arguments)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? mode_t(va_arg(arguments, int)) : 0;
}

} // namespace

extern "C" {

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return refusedOrOpened("open", path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = modeOf(flags, arguments);
    va_end(arguments);
    return refusedOrOpened("open64", path, flags, mode);
}

} // extern "C"
