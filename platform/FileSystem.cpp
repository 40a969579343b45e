#include "FileSystem.h"

#include "FileNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FileSystem {

namespace {

#ifdef Q_OS_UNIX
// Why a path could not be opened for reading, from the system's own answer.
Failure whyUnreadable(const QByteArray& name, int error)
{
    switch (error) {
    case ENOENT: {
        // A missing file in a folder that is there, or a folder missing on the way to it.
        const qsizetype slash = name.lastIndexOf('/');
        const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : name.left(slash);
        struct stat status;
        const bool folderThere = ::stat(folder.constData(), &status) == 0 && S_ISDIR(status.st_mode);
        return Failure{folderThere ? QStringLiteral("File not found") : QStringLiteral("Path not found")};
    }
    case ENOTDIR:
        return Failure{QStringLiteral("Path not found")};
    case EACCES:
    case EPERM:
        return Failure{QStringLiteral("Permission denied")};
    case EISDIR:
        return Failure{QStringLiteral("Permission denied (the path is a folder, not a file)")};
    default:
        // "Too many levels of symbolic links", "File name too long" and the like, in the system's words.
        return Failure{QString::fromLocal8Bit(std::strerror(error))};
    }
}

// Why an opened path holds no document.
Failure whyNotAFile(const struct stat& status)
{
    if (S_ISDIR(status.st_mode))
        return Failure{QStringLiteral("Permission denied (the path is a folder, not a file)")};
    // A device or a pipe could be read forever; only plain files hold a document.
    return Failure{QStringLiteral("Bad file mode (not a regular file)")};
}

// Opens a regular file for reading: one open and one fstat, since on thousands of small files the usual round of stat
// calls costs more than the reading. Without waiting: a pipe is refused, not waited on.
Result<int> openRegularFile(const QString& path, struct stat& status)
{
    const QByteArray name = FileNames::toNative(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return whyUnreadable(name, errno);
    if (::fstat(fd, &status) != 0) {
        const int error = errno;
        ::close(fd);
        return whyUnreadable(name, error);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return whyNotAFile(status);
    }
    return fd;
}

Failure readError(int error)
{
    return Failure{QStringLiteral("Device I/O error (%1)").arg(QString::fromLocal8Bit(std::strerror(error)))};
}
#else
// Why a path that could not be opened for reading cannot be read.
Failure whyUnreadable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Failure{info.dir().exists() ? QStringLiteral("File not found") : QStringLiteral("Path not found")};
    if (info.isDir())
        return Failure{QStringLiteral("Permission denied (the path is a folder, not a file)")};
    if (!info.isFile())
        return Failure{QStringLiteral("Bad file mode (not a regular file)")};
    return Failure{QStringLiteral("Permission denied")};
}
#endif

// The refusal of a file too large for what it is needed for.
Failure tooLarge(qint64 size, qint64 largest, const QString& what)
{
    constexpr double megabyte = 1024.0 * 1024.0;
    return Failure{QStringLiteral("Out of memory (the file is %L1 MB; %2 of more than %L3 MB do not fit in this "
                                  "machine's memory)")
                       .arg(double(size) / megabyte, 0, 'f', 0)
                       .arg(what)
                       .arg(double(largest) / megabyte, 0, 'f', 0)};
}

} // namespace

Result<QByteArray> readAll(const QString& path, qint64 largest, const QString& what)
{
    if (path.isEmpty())
        return Failure{QStringLiteral("Bad file name or number")};

#ifdef Q_OS_UNIX
    struct stat status;
    const Result<int> opened = openRegularFile(path, status);
    if (!opened)
        return opened.failure();
    const int fd = *opened;
    if (status.st_size > largest) {
        ::close(fd);
        return tooLarge(status.st_size, largest, what);
    }
    QByteArray bytes(qsizetype(status.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (true) {
        if (done == bytes.size()) {
            // The file grew since fstat; one that keeps growing is still held to the limit.
            if (done > largest) {
                ::close(fd);
                return tooLarge(done, largest, what);
            }
            bytes.resize(std::min<qint64>(done + std::max<qint64>(65536, done / 8), largest) + 1);
        }
        const ssize_t n = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return readError(error);
        }
        if (n == 0)
            break;
        done += n;
    }
    ::close(fd);
    bytes.resize(done);
    return bytes;
#else
    const QFileInfo info(path);
    if (!info.isFile())
        return whyUnreadable(path);
    if (info.size() > largest)
        return tooLarge(info.size(), largest, what);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return whyUnreadable(path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure{QStringLiteral("Device I/O error (%1)").arg(file.errorString())};
    return bytes;
#endif
}

#ifdef Q_OS_UNIX
Result<FileReader> FileReader::open(const QString& path)
{
    if (path.isEmpty())
        return Failure{QStringLiteral("Bad file name or number")};
    struct stat status;
    const Result<int> opened = openRegularFile(path, status);
    if (!opened)
        return opened.failure();
    return FileReader(*opened);
}

FileReader::FileReader(FileReader&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}

FileReader& FileReader::operator=(FileReader&& other) noexcept
{
    std::swap(m_descriptor, other.m_descriptor);
    return *this;
}

FileReader::~FileReader()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

Result<qsizetype> FileReader::read(qint64 offset, char* into, qsizetype size)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t n = ::pread(m_descriptor, into + done, std::size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return readError(errno);
        if (n == 0)
            break;
        done += n;
    }
    return done;
}
#else
Result<FileReader> FileReader::open(const QString& path)
{
    if (path.isEmpty())
        return Failure{QStringLiteral("Bad file name or number")};
    const QFileInfo info(path);
    if (!info.isFile())
        return whyUnreadable(path);
    auto file = std::make_unique<QFile>(path);
    // Unbuffered: the pieces are read where they are asked for, as the file is now, with no copy on the way.
    if (!file->open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return whyUnreadable(path);
    return FileReader(std::move(file));
}

FileReader::FileReader(std::unique_ptr<QFile> file) : m_file(std::move(file)) {}
FileReader::FileReader(FileReader&& other) noexcept = default;
FileReader& FileReader::operator=(FileReader&& other) noexcept = default;
FileReader::~FileReader() = default;

Result<qsizetype> FileReader::read(qint64 offset, char* into, qsizetype size)
{
    if (!m_file->seek(offset))
        return Failure{QStringLiteral("Device I/O error (%1)").arg(m_file->errorString())};
    qsizetype done = 0;
    while (done < size) {
        const qint64 n = m_file->read(into + done, size - done);
        if (n < 0)
            return Failure{QStringLiteral("Device I/O error (%1)").arg(m_file->errorString())};
        if (n == 0)
            break;
        done += qsizetype(n);
    }
    return done;
}
#endif

std::FILE* openStream(const QString& path)
{
#ifdef Q_OS_WIN
    return ::_wfopen(reinterpret_cast<const wchar_t*>(FileNames::extendedLengthPath(path).utf16()), L"rb");
#else
    return std::fopen(FileNames::toNative(path).constData(), "rb");
#endif
}

qint64 size(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status;
    if (path.isEmpty() || ::stat(FileNames::toNative(path).constData(), &status) != 0)
        return -1;
    return status.st_size;
#else
    const QFileInfo info(path);
    return info.exists() ? info.size() : -1;
#endif
}

QString canonicalPath(const QString& path)
{
#ifdef Q_OS_UNIX
    if (path.isEmpty())
        return QString();
    char* resolved = ::realpath(FileNames::toNative(path).constData(), nullptr);
    if (!resolved)
        return QString();
    const QString canonical = FileNames::fromNative(resolved);
    std::free(resolved);
    return canonical;
#else
    return QFileInfo(path).canonicalFilePath();
#endif
}

bool isOpenableFile(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status;
    return !path.isEmpty() && ::stat(FileNames::toNative(path).constData(), &status) == 0 && !S_ISDIR(status.st_mode);
#else
    const QFileInfo info(path);
    return info.exists() && !info.isDir();
#endif
}

} // namespace FileSystem

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    // What stat answers for carries the last-modified time; a dangling link has none.
    struct stat status;
    return ::stat(FileNames::toNative(path).constData(), &status) == 0;
#else
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
#endif
}
