#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace FileSystem {

namespace {

// Why a path that could not be opened for reading cannot be read.
Failure whyUnreadable(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return Failure{info.dir().exists() ? QStringLiteral("File not found") : QStringLiteral("Path not found")};
    if (info.isDir())
        return Failure{QStringLiteral("Permission denied (the path is a folder, not a file)")};
    // A device or a pipe could be read forever; only plain files hold a document.
    if (!info.isFile())
        return Failure{QStringLiteral("Bad file mode (not a regular file)")};
    return Failure{QStringLiteral("Permission denied")};
}

} // namespace

Result<QByteArray> readAll(const QString& path)
{
    if (path.isEmpty())
        return Failure{QStringLiteral("Bad file name or number")};

#ifdef Q_OS_UNIX
    // One open, one fstat and the reads: on thousands of small files the usual round of stat
    // calls costs more than the reading.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return whyUnreadable(path);
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return whyUnreadable(path);
    }
    QByteArray bytes(qsizetype(status.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (true) {
        if (done == bytes.size())
            bytes.resize(done + 65536); // the file grew since fstat
        const ssize_t n = ::read(fd, bytes.data() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            return Failure{QStringLiteral("Device I/O error (%1)").arg(QString::fromLocal8Bit(std::strerror(error)))};
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return whyUnreadable(path);
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure{QStringLiteral("Device I/O error (%1)").arg(file.errorString())};
    return bytes;
#endif
}

} // namespace FileSystem

bool FileExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}
