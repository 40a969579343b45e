#include "SaveFile.h"

#include "FileNames.h"

#ifdef Q_OS_UNIX
#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <string>
#include <utility>
#include <windows.h>
#endif

namespace {

// Rows are handed over a few bytes at a time; the system sees them in blocks of this size.
constexpr qsizetype kBufferBytes = 16384;

} // namespace

#ifdef Q_OS_UNIX

namespace {

// The descriptor a path names when it is one of the system's names for the program's own open descriptors
// (/dev/stdout, /dev/fd/N, /proc/self/fd/N); -1 for any other path. Opening such a name anew would reach the file
// behind the descriptor by its path, truncate it and lose where the descriptor appends; a pipe's has no path at all.
int namedDescriptor(const QByteArray& path)
{
    if (path == "/dev/stdin")
        return 0;
    if (path == "/dev/stdout")
        return 1;
    if (path == "/dev/stderr")
        return 2;
    QByteArray number;
    for (const QByteArray& folder :
         {QByteArray("/dev/fd/"), QByteArray("/proc/self/fd/"), "/proc/" + QByteArray::number(::getpid()) + "/fd/"})
        if (path.startsWith(folder))
            number = path.mid(folder.size());
    if (number.isEmpty() || number.size() > 9 ||
        !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return number.toInt();
}

// Takes the lock that two saves of one file share, waiting for the other to end.
bool lockExclusive(int descriptor)
{
    for (;;) {
        if (::flock(descriptor, LOCK_EX) == 0)
            return true;
        if (errno != EINTR)
            return false;
    }
}

} // namespace

class SaveFile::Writer
{
public:
    explicit Writer(const QString& path) : m_path(path) {}
    ~Writer() { cancel(); }

    bool open()
    {
        if (m_path.isEmpty())
            return fail(ENOENT);
        m_target = FileNames::toNative(m_path);
        if (const int given = namedDescriptor(m_target); given >= 0)
            return openDescriptor(given);
        struct stat link;
        if (::lstat(m_target.constData(), &link) != 0) {
            if (errno != ENOENT)
                return fail(errno);
            placeBeside();
            return openBeside(nullptr);
        }
        struct stat status = link;
        if (S_ISLNK(link.st_mode)) {
            // The link stays a link: the file it points at is the one saved over.
            if (::stat(m_target.constData(), &status) != 0) {
                if (errno != ENOENT)
                    return fail(errno);
                // A dangling link: writing through it creates the file it names.
                return openInPlace(O_CREAT | O_TRUNC);
            }
            char* resolved = ::realpath(m_target.constData(), nullptr);
            if (!resolved)
                return fail(errno);
            m_target = resolved;
            std::free(resolved);
        }
        if (S_ISDIR(status.st_mode))
            return fail(EISDIR);
        // A pipe, a device or a socket is written as it stands: replacing it would take it from whoever uses it.
        if (!S_ISREG(status.st_mode)) {
            m_special = true;
            return openInPlace(0);
        }
        placeBeside();
        // A new file in place of one of several names would leave the other names showing the old content.
        if (status.st_nlink > 1)
            return openCopyIn();
        return openBeside(&status);
    }

    bool write(const char* data, qsizetype size)
    {
        if (m_descriptor < 0)
            return fail(EBADF);
        if (m_buffer.size() + size > kBufferBytes && !flushBuffer())
            return false;
        if (size >= kBufferBytes)
            return writeAll(data, size);
        m_buffer.append(data, size);
        return true;
    }

    bool commit()
    {
        if (m_descriptor < 0)
            return fail(EBADF);
        if (!flushBuffer()) {
            cancel();
            return false;
        }
        if (m_kept >= 0) {
            const bool copied = copyIn();
            const int error = m_error;
            cancel();
            return copied || fail(error);
        }
        // The new content reaches the disk before it takes the old one's name, so that a crash of the system
        // cannot leave an empty file in place of the old one. A pipe or a device has nothing to sync.
        if (!m_special && ::fsync(m_descriptor) != 0 && errno != EINVAL && errno != EROFS) {
            const int error = errno;
            cancel();
            return fail(error);
        }
        if (m_unnamed && !nameUnnamed()) {
            const int error = m_error;
            cancel();
            return fail(error);
        }
        // The descriptor stays open, and its lock held, until the file has its final name: a save that looks for
        // files left behind meanwhile sees it is still being written.
        if (!m_temporary.isEmpty()) {
            if (::rename(m_temporary.constData(), m_target.constData()) != 0) {
                const int error = errno;
                cancel();
                return fail(error);
            }
            m_temporary.clear();
        }
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        if (::close(descriptor) != 0 && errno != EINTR)
            return fail(errno);
        return true;
    }

    void cancel()
    {
        m_unnamed = false;
        if (!m_temporary.isEmpty()) {
            ::unlink(m_temporary.constData());
            m_temporary.clear();
        }
        for (int* descriptor : {&m_descriptor, &m_kept})
            if (*descriptor >= 0) {
                ::close(*descriptor);
                *descriptor = -1;
            }
        m_buffer.clear();
    }

    QString errorString() const { return QString::fromLocal8Bit(std::strerror(m_error)); }

private:
    bool fail(int error)
    {
        m_error = error;
        return false;
    }

    bool openInPlace(int flags)
    {
        m_descriptor = ::open(m_target.constData(), O_WRONLY | O_CLOEXEC | flags, 0666);
        return m_descriptor >= 0 || fail(errno);
    }

    // One of the program's own descriptors, written as it stands; the save's copy of it is closed at the end, the
    // descriptor itself stays open for whoever else writes to it.
    bool openDescriptor(int given)
    {
        const int flags = ::fcntl(given, F_GETFL);
        if (flags < 0)
            return fail(errno);
        if ((flags & O_ACCMODE) == O_RDONLY)
            return fail(EBADF);
        struct stat status;
        if (::fstat(given, &status) == 0 && S_ISDIR(status.st_mode))
            return fail(EISDIR);
        m_descriptor = ::fcntl(given, F_DUPFD_CLOEXEC, 3);
        m_special = true;
        return m_descriptor >= 0 || fail(errno);
    }

    // The folder of the target, and the start of the hidden names of the files written beside it.
    void placeBeside()
    {
        const qsizetype slash = m_target.lastIndexOf('/');
        m_folder = slash < 0 ? QByteArray() : m_target.left(slash + 1);
        const QByteArray name = m_target.mid(slash + 1);
        // Room for the process number and the random part.
        m_stem = name.size() + 20 <= NAME_MAX ? "." + name + "." : QByteArray(".quillory-save.");
        removeAbandoned();
    }

    // The new file is written beside the target, as a file without a name until it is complete where the system
    // offers that (nothing is left behind however the program ends), else under a hidden name of its own.
    // existing is the target's status when there is one.
    bool openBeside(const struct stat* existing)
    {
        const int error = createBeside(m_descriptor);
        if (m_descriptor < 0) {
            // A folder that lets nobody create files may still hold a file the user may write.
            if (existing && (error == EACCES || error == EPERM))
                return openCopyIn();
            return fail(error);
        }
        if (!existing)
            return true;

        ::fchmod(m_descriptor, existing->st_mode & 07777);
        struct stat written;
        const bool sameOwner = ::fstat(m_descriptor, &written) == 0 && written.st_uid == existing->st_uid &&
                               written.st_gid == existing->st_gid;
        if (!sameOwner && ::fchown(m_descriptor, existing->st_uid, existing->st_gid) != 0) {
            // Only the owner's own file could take the old one's place: the rows go into the old file instead.
            cancel();
            return openCopyIn();
        }
        // fchown clears the set-user and set-group bits; they are the old file's to keep.
        if (!sameOwner)
            ::fchmod(m_descriptor, existing->st_mode & 07777);
        return true;
    }

    // Creates the file beside the target, locked while this save writes it; 0, or the system's error.
    int createBeside(int& descriptor)
    {
        int error = 0;
#ifdef O_TMPFILE
        descriptor = ::open(m_folder.isEmpty() ? "." : m_folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        error = descriptor < 0 ? errno : 0;
        m_unnamed = descriptor >= 0;
        // File systems without unnamed files answer with one of these.
        const bool unnamedUnsupported = error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
#else
        const bool unnamedUnsupported = true;
#endif
        if (descriptor < 0 && unnamedUnsupported)
            error = createNamed(m_folder, descriptor) ? 0 : errno;
        if (descriptor >= 0)
            ::flock(descriptor, LOCK_EX | LOCK_NB);
        return error;
    }

    // The target keeps its own file: it is opened now, so that a target the user may not write is refused before
    // any row is made, and the rows go to a file of their own that is copied into it once complete.
    bool openCopyIn()
    {
        m_kept = ::open(m_target.constData(), O_WRONLY | O_CLOEXEC);
        if (m_kept < 0)
            return fail(errno);
        int error = createBeside(m_descriptor);
        if (m_descriptor >= 0 && !m_temporary.isEmpty()) {
            // Only this save's descriptor needs the file: without a name nothing is left of it however the program
            // ends.
            ::unlink(m_temporary.constData());
            m_temporary.clear();
        }
        m_unnamed = false;
        if (m_descriptor < 0 && (error == EACCES || error == EPERM || error == EROFS))
            error = createUnnamed(QFile::encodeName(QDir::tempPath()) + '/', m_descriptor);
        if (m_descriptor < 0) {
            const int kept = m_kept;
            m_kept = -1;
            ::close(kept);
            return fail(error);
        }
        return true;
    }

    // A file in folder that nothing names, for the rows to be copied from; 0, or the system's error.
    int createUnnamed(const QByteArray& folder, int& descriptor)
    {
#ifdef O_TMPFILE
        descriptor = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (descriptor >= 0)
            return 0;
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return errno;
#endif
        QByteArray name;
        if (!createNamed(folder, descriptor, &name))
            return errno;
        ::unlink(name.constData());
        return 0;
    }

    // Creates a file under a hidden name in folder that no file has yet, named for this process so that a later
    // save can tell one left behind; false, with errno set, when none can be made.
    bool createNamed(const QByteArray& folder, int& descriptor, QByteArray* name = nullptr)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray candidate = folder + newName();
            descriptor = ::open(candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor >= 0) {
                (name ? *name : m_temporary) = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    QByteArray newName() const
    {
        return m_stem + QByteArray::number(::getpid()) + '.' +
               QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000u, 36);
    }

    // Gives the complete unnamed file a hidden name beside the target, from which it takes the target's place.
    bool nameUnnamed()
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray candidate = m_folder + newName();
            if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, candidate.constData(), AT_SYMLINK_FOLLOW) == 0) {
                m_temporary = candidate;
                m_unnamed = false;
                return true;
            }
            if (errno != EEXIST)
                return fail(errno);
        }
        return fail(EEXIST);
    }

    // Removes the hidden files of this target's earlier saves whose writers were killed before they could. A file
    // is left alone while its writer's process lives, and while anyone holds its lock: a writer on another machine
    // sharing the folder has a process number that means nothing here, but its lock reaches.
    void removeAbandoned() const
    {
        DIR* folder = ::opendir(m_folder.isEmpty() ? "." : m_folder.constData());
        if (!folder)
            return;
        while (const dirent* entry = ::readdir(folder)) {
            const QByteArray name(entry->d_name);
            if (!name.startsWith(m_stem))
                continue;
            const QList<QByteArray> parts = name.mid(m_stem.size()).split('.');
            bool numbered = false;
            const qint64 writer = parts.size() == 2 ? parts[0].toLongLong(&numbered) : 0;
            if (!numbered || writer <= 0 || writer > INT_MAX || writer == ::getpid())
                continue;
            if (::kill(pid_t(writer), 0) == 0 || errno != ESRCH)
                continue;
            const int file = ::openat(::dirfd(folder), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (file < 0)
                continue;
            struct stat status;
            if (::fstat(file, &status) == 0 && S_ISREG(status.st_mode) && ::flock(file, LOCK_EX | LOCK_NB) == 0)
                ::unlinkat(::dirfd(folder), entry->d_name, 0);
            ::close(file);
        }
        ::closedir(folder);
    }

    // Copies the complete rows into the target's own file. The part past the old end goes first: it is the part
    // that needs room the disk may not have, so that a full disk or a size limit stops the copy before any of the
    // old content is overwritten, and the old length is restored.
    bool copyIn()
    {
        if (!lockExclusive(m_kept))
            return fail(errno);
        struct stat rows;
        struct stat old;
        if (::fstat(m_descriptor, &rows) != 0 || ::fstat(m_kept, &old) != 0)
            return fail(errno);
        if (rows.st_size > old.st_size && !copyRange(old.st_size, rows.st_size)) {
            const int error = m_error;
            if (::ftruncate(m_kept, old.st_size) != 0) {
                // Nothing more can be done for the old length; the error that matters is the first one.
            }
            return fail(error);
        }
        if (!copyRange(0, std::min(rows.st_size, old.st_size)))
            return false;
        if (::ftruncate(m_kept, rows.st_size) != 0)
            return fail(errno);
        if (::fsync(m_kept) != 0 && errno != EINVAL && errno != EROFS)
            return fail(errno);
        return true;
    }

    bool copyRange(off_t from, off_t to)
    {
        constexpr off_t kBlock = 1 << 20;
        std::unique_ptr<char[]> block(new char[kBlock]);
        while (from < to) {
            const ssize_t count = ::pread(m_descriptor, block.get(), std::size_t(std::min(kBlock, to - from)), from);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return fail(count < 0 ? errno : EIO);
            for (ssize_t done = 0; done < count;) {
                const ssize_t written = ::pwrite(m_kept, block.get() + done, std::size_t(count - done), from + done);
                if (written < 0 && errno == EINTR)
                    continue;
                if (written <= 0)
                    return fail(written < 0 ? errno : ENOSPC);
                done += written;
            }
            from += count;
        }
        return true;
    }

    bool flushBuffer()
    {
        if (m_buffer.isEmpty())
            return true;
        const bool done = writeAll(m_buffer.constData(), m_buffer.size());
        m_buffer.clear();
        return done;
    }

    bool writeAll(const char* data, qsizetype size)
    {
        // A pipe whose reader has gone answers with SIGPIPE, which would end the program; the write reports
        // "Broken pipe" instead.
        sigset_t pipeSignal;
        sigset_t previous;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        if (m_special)
            pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
        int error = 0;
        while (size > 0) {
            const ssize_t count = ::write(m_descriptor, data, std::size_t(size));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0) {
                error = count < 0 ? errno : ENOSPC;
                break;
            }
            data += count;
            size -= count;
        }
        if (m_special) {
            if (error == EPIPE) {
                const timespec now = {};
                sigtimedwait(&pipeSignal, nullptr, &now);
            }
            pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        }
        return error == 0 || fail(error);
    }

    QString m_path;
    QByteArray m_target;
    QByteArray m_folder;
    QByteArray m_stem;
    QByteArray m_temporary;
    QByteArray m_buffer;
    bool m_unnamed = false;
    int m_descriptor = -1; // where the rows are written
    int m_kept = -1;       // the target's own file, when the rows are copied into it at the end
    bool m_special = false;
    int m_error = 0;
};

std::optional<QString> SaveFile::sameFileAmong(const QString& target, const QStringList& files)
{
    struct stat saved;
    if (target.isEmpty() || ::stat(FileNames::toNative(target).constData(), &saved) != 0 || !S_ISREG(saved.st_mode))
        return std::nullopt;
    for (const QString& file : files) {
        struct stat read;
        if (!file.isEmpty() && ::stat(FileNames::toNative(file).constData(), &read) == 0 &&
            read.st_dev == saved.st_dev && read.st_ino == saved.st_ino)
            return file;
    }
    return std::nullopt;
}

#else

// Windows: a file on disk is written beside the target and takes its place once every byte is there. While it is
// written it is marked for deletion, so that the system removes it if the program ends first (the window ends the
// program at once when it is closed): nothing is left beside the target either way. A target that is not a file on
// disk (NUL, CON, a pipe) is written as it stands, and one in a folder that refuses the file beside it gets the
// complete rows copied over it from a temporary file elsewhere, as on Linux; a read-only target is refused, as Windows
// programs refuse it. Failures are named in the system's own words.
namespace {

// The system's own words for its error, as Qt's file engine gives them.
QString describeError(DWORD error)
{
    return qt_error_string(int(error));
}

// A full path with backslashes as the system takes it; past MAX_PATH in its long form ("\\?\C:\..." or
// "\\?\UNC\server\share\..."), which shorter ones are not given, so that NUL and CON still name the devices.
std::wstring wide(const QString& path)
{
    // The room a folder's path leaves for a file's 8.3 name.
    constexpr qsizetype longest = MAX_PATH - 12;
    if (path.size() < longest || path.startsWith(QStringLiteral("\\\\?\\")) ||
        path.startsWith(QStringLiteral("\\\\.\\")))
        return path.toStdWString();
    if (path.startsWith(QStringLiteral("\\\\")))
        return (QStringLiteral("\\\\?\\UNC\\") + path.mid(2)).toStdWString();
    return (QStringLiteral("\\\\?\\") + path).toStdWString();
}

} // namespace

class SaveFile::Writer
{
public:
    explicit Writer(const QString& path) : m_path(path) {}
    ~Writer() { cancel(); }

    bool open()
    {
        if (m_path.isEmpty())
            return fail(ERROR_PATH_NOT_FOUND);
        // A device (NUL, CON, a port) or a named pipe (\\.\pipe\name) is written as it stands, as redirection
        // does: nothing can take its place. The name as given, since those names are not files in a folder.
        const HANDLE given =
            CreateFileW(wide(QDir::toNativeSeparators(m_path)).c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (given != INVALID_HANDLE_VALUE) {
            if (GetFileType(given) != FILE_TYPE_DISK) {
                m_handle = given;
                m_onDisk = false;
                return true;
            }
            CloseHandle(given);
        }
        m_target = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(m_path).absoluteFilePath()));
        m_oldAttributes = GetFileAttributesW(wide(m_target).c_str());
        if (m_oldAttributes != INVALID_FILE_ATTRIBUTES && (m_oldAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return fail(ERROR_ACCESS_DENIED);
        if (m_oldAttributes != INVALID_FILE_ATTRIBUTES && (m_oldAttributes & FILE_ATTRIBUTE_READONLY))
            return fail(ERROR_ACCESS_DENIED);
        if (!createTemporary(m_target + u'.', GENERIC_WRITE | DELETE, FILE_ATTRIBUTE_NORMAL)) {
            const DWORD error = GetLastError();
            // A folder that refuses a new file may still let the file that is there be written.
            if (error == ERROR_ACCESS_DENIED && m_oldAttributes != INVALID_FILE_ATTRIBUTES)
                return openInPlace();
            return fail(error);
        }
        m_deletePending = markDeleted(true);
        return true;
    }

    bool write(const char* data, qsizetype size)
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            return fail(ERROR_INVALID_HANDLE);
        if (m_buffer.size() + size > kBufferBytes && !flushBuffer())
            return false;
        if (size >= kBufferBytes)
            return writeAll(data, size);
        m_buffer.append(data, size);
        return true;
    }

    bool commit()
    {
        if (m_handle == INVALID_HANDLE_VALUE)
            return fail(ERROR_INVALID_HANDLE);
        if (!flushBuffer()) {
            cancel();
            return false;
        }
        if (m_kept != INVALID_HANDLE_VALUE)
            return copyIn();
        // The new content reaches the disk before it takes the old one's name, so that a crash of the system cannot
        // leave an empty file in place of the old one. A device has nothing to flush.
        if (m_onDisk && !FlushFileBuffers(m_handle))
            return failAndCancel(GetLastError());
        if (m_deletePending && !markDeleted(false))
            return failAndCancel(GetLastError());
        m_deletePending = false;
        const HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        if (!CloseHandle(handle))
            return failAndCancel(GetLastError());
        if (!m_temporary.isEmpty()) {
            if (!MoveFileExW(wide(m_temporary).c_str(), wide(m_target).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                return failAndCancel(GetLastError());
            m_temporary.clear();
        }
        // The new file shows as the old one did: hidden, say.
        constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
        if (m_onDisk && !m_inPlace && m_oldAttributes != INVALID_FILE_ATTRIBUTES && (m_oldAttributes & kept))
            SetFileAttributesW(wide(m_target).c_str(), (m_oldAttributes & kept) | FILE_ATTRIBUTE_ARCHIVE);
        return true;
    }

    void cancel()
    {
        if (m_kept != INVALID_HANDLE_VALUE) {
            CloseHandle(m_kept);
            m_kept = INVALID_HANDLE_VALUE;
        }
        if (m_handle != INVALID_HANDLE_VALUE) {
            CloseHandle(m_handle);
            m_handle = INVALID_HANDLE_VALUE;
        }
        // Marked for deletion, it went with its handle.
        if (!m_temporary.isEmpty() && !m_deletePending)
            DeleteFileW(wide(m_temporary).c_str());
        m_temporary.clear();
        m_deletePending = false;
        m_buffer.clear();
    }

    QString errorString() const { return describeError(m_error); }

private:
    bool fail(DWORD error)
    {
        m_error = error;
        return false;
    }

    bool failAndCancel(DWORD error)
    {
        cancel();
        return fail(error);
    }

    // The folder refuses a file beside the target, yet the target itself may be written. The target is held open
    // (no other program writes it meanwhile) but left as it is; the rows wait in a temporary file in the temporary
    // folder and are copied over the target only once they are complete, so that a failure or a stop part-way
    // leaves the old content.
    bool openInPlace()
    {
        m_kept = CreateFileW(wide(m_target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_kept == INVALID_HANDLE_VALUE)
            return fail(GetLastError());
        m_inPlace = true;
        const QString folder = QDir::toNativeSeparators(QDir::cleanPath(QDir::tempPath()));
        if (!createTemporary(folder + QStringLiteral("\\quillory-"), GENERIC_READ | GENERIC_WRITE | DELETE,
                             FILE_ATTRIBUTE_TEMPORARY))
            return failAndCancel(GetLastError());
        m_deletePending = markDeleted(true);
        return true;
    }

    // The complete rows over the target's old content, read back from the temporary file, which goes with its
    // handle.
    bool copyIn()
    {
        LARGE_INTEGER start{};
        if (!SetFilePointerEx(m_handle, start, nullptr, FILE_BEGIN) ||
            !SetFilePointerEx(m_kept, start, nullptr, FILE_BEGIN))
            return failAndCancel(GetLastError());
        QByteArray block(qsizetype(1) << 20, Qt::Uninitialized);
        for (;;) {
            DWORD count = 0;
            if (!ReadFile(m_handle, block.data(), DWORD(block.size()), &count, nullptr))
                return failAndCancel(GetLastError());
            if (count == 0)
                break;
            for (DWORD done = 0; done < count;) {
                DWORD written = 0;
                if (!WriteFile(m_kept, block.constData() + done, count - done, &written, nullptr))
                    return failAndCancel(GetLastError());
                done += written;
            }
        }
        if (!SetEndOfFile(m_kept) || !FlushFileBuffers(m_kept))
            return failAndCancel(GetLastError());
        const HANDLE kept = m_kept;
        m_kept = INVALID_HANDLE_VALUE;
        const bool closed = CloseHandle(kept) != 0;
        const DWORD error = GetLastError();
        cancel();
        return closed || fail(error);
    }

    // A new file named prefix, eight random hex digits and ".tmp", as m_handle and m_temporary; false, with the
    // system's error left for GetLastError(), when none could be made.
    bool createTemporary(const QString& prefix, DWORD access, DWORD attributes)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            m_temporary =
                prefix + QStringLiteral("%1.tmp").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
            m_handle = CreateFileW(wide(m_temporary).c_str(), access, 0, nullptr, CREATE_NEW, attributes, nullptr);
            if (m_handle != INVALID_HANDLE_VALUE)
                return true;
            if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
                break;
        }
        const DWORD error = GetLastError();
        m_temporary.clear();
        SetLastError(error);
        return false;
    }

    bool markDeleted(bool deleted)
    {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = deleted ? TRUE : FALSE;
        return SetFileInformationByHandle(m_handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }

    bool writeAll(const char* data, qsizetype size)
    {
        while (size > 0) {
            DWORD written = 0;
            const DWORD chunk = DWORD(std::min<qsizetype>(size, 1 << 30));
            if (!WriteFile(m_handle, data, chunk, &written, nullptr))
                return fail(GetLastError());
            data += written;
            size -= written;
        }
        return true;
    }

    bool flushBuffer()
    {
        const bool written = writeAll(m_buffer.constData(), m_buffer.size());
        m_buffer.clear();
        return written;
    }

    QString m_path;
    QString m_target;    // the target's full path, with backslashes
    QString m_temporary; // the file written beside it, until it takes the target's name
    HANDLE m_handle = INVALID_HANDLE_VALUE;
    DWORD m_oldAttributes = INVALID_FILE_ATTRIBUTES;
    bool m_onDisk = true;                 // false for a device or a pipe
    bool m_inPlace = false;               // written over the target itself, once complete
    HANDLE m_kept = INVALID_HANDLE_VALUE; // the target, held open until the rows are copied over it
    bool m_deletePending = false;
    QByteArray m_buffer;
    DWORD m_error = 0;
};

namespace {

// The volume and the file's number on it, which every name of a file shares; nothing for a file that cannot be
// reached.
std::optional<std::pair<DWORD, quint64>> fileIdentity(const QString& path)
{
    const HANDLE handle = CreateFileW(wide(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(handle, &information) && GetFileType(handle) == FILE_TYPE_DISK &&
                       !(information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return std::pair{information.dwVolumeSerialNumber,
                     (quint64(information.nFileIndexHigh) << 32) | information.nFileIndexLow};
}

} // namespace

std::optional<QString> SaveFile::sameFileAmong(const QString& target, const QStringList& files)
{
    const std::optional<std::pair<DWORD, quint64>> saved = target.isEmpty() ? std::nullopt : fileIdentity(target);
    if (!saved)
        return std::nullopt;
    for (const QString& file : files)
        if (!file.isEmpty() && fileIdentity(file) == saved)
            return file;
    return std::nullopt;
}

#endif

SaveFile::SaveFile(const QString& path) : m_writer(std::make_unique<Writer>(path)) {}

SaveFile::~SaveFile() = default;

bool SaveFile::open()
{
    return m_writer->open();
}

bool SaveFile::write(const char* data, qsizetype size)
{
    return m_writer->write(data, size);
}

bool SaveFile::commit()
{
    return m_writer->commit();
}

void SaveFile::cancel()
{
    m_writer->cancel();
}

QString SaveFile::errorString() const
{
    return m_writer->errorString();
}
