#include "SaveFile.h"

#include "FileNames.h"

#ifdef Q_OS_UNIX
#include <QRandomGenerator>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace {

// Rows are handed over a few bytes at a time; the system sees them in blocks of this size.
constexpr qsizetype kBufferBytes = 16384;

} // namespace

#ifdef Q_OS_UNIX

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
        struct stat link;
        if (::lstat(m_target.constData(), &link) != 0) {
            if (errno != ENOENT)
                return fail(errno);
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
        // A new file in place of one of several names would leave the other names showing the old content.
        if (status.st_nlink > 1)
            return openInPlace(O_TRUNC);
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
        const int descriptor = m_descriptor;
        m_descriptor = -1;
        if (::close(descriptor) != 0 && errno != EINTR) {
            const int error = errno;
            cancel();
            return fail(error);
        }
        if (!m_temporary.isEmpty()) {
            if (::rename(m_temporary.constData(), m_target.constData()) != 0) {
                const int error = errno;
                cancel();
                return fail(error);
            }
            m_temporary.clear();
        }
        return true;
    }

    void cancel()
    {
        m_unnamed = false;
        if (m_descriptor >= 0) {
            ::close(m_descriptor);
            m_descriptor = -1;
        }
        if (!m_temporary.isEmpty()) {
            ::unlink(m_temporary.constData());
            m_temporary.clear();
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

    // The new file is written beside the target, as a file without a name until it is complete where the system
    // offers that (nothing is left behind however the program ends), else under a hidden name of its own.
    // existing is the target's status when there is one.
    bool openBeside(const struct stat* existing)
    {
        const qsizetype slash = m_target.lastIndexOf('/');
        m_folder = slash < 0 ? QByteArray() : m_target.left(slash + 1);
        const QByteArray name = m_target.mid(slash + 1);
        m_stem = name.size() + 8 <= NAME_MAX ? "." + name + "." : QByteArray(".quillory-save.");
        int error = 0;
#ifdef O_TMPFILE
        m_descriptor = ::open(m_folder.isEmpty() ? "." : m_folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        error = m_descriptor < 0 ? errno : 0;
        m_unnamed = m_descriptor >= 0;
        // File systems without unnamed files answer with one of these.
        const bool unnamedUnsupported = error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
#else
        const bool unnamedUnsupported = true;
#endif
        if (m_descriptor < 0 && unnamedUnsupported)
            error = createNamed(m_descriptor) ? 0 : errno;
        if (m_descriptor < 0) {
            // A folder that lets nobody create files may still hold a file the user may write.
            if (existing && (error == EACCES || error == EPERM))
                return openInPlace(O_TRUNC);
            return fail(error);
        }
        if (!existing)
            return true;

        ::fchmod(m_descriptor, existing->st_mode & 07777);
        struct stat written;
        const bool sameOwner = ::fstat(m_descriptor, &written) == 0 && written.st_uid == existing->st_uid &&
                               written.st_gid == existing->st_gid;
        if (!sameOwner && ::fchown(m_descriptor, existing->st_uid, existing->st_gid) != 0) {
            // Only the owner's own file could take the old one's place: write over it instead.
            cancel();
            return openInPlace(O_TRUNC);
        }
        // fchown clears the set-user and set-group bits; they are the old file's to keep.
        if (!sameOwner)
            ::fchmod(m_descriptor, existing->st_mode & 07777);
        return true;
    }

    // Creates the new file under a hidden name beside the target that no file has yet; false, with errno set,
    // when none can be made.
    bool createNamed(int& descriptor)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray candidate =
                m_folder + m_stem + QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000u, 36);
            descriptor = ::open(candidate.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor >= 0) {
                m_temporary = candidate;
                return true;
            }
            if (errno != EEXIST)
                return false;
        }
        return false;
    }

    // Gives the complete unnamed file a hidden name beside the target, from which it takes the target's place.
    bool nameUnnamed()
    {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_descriptor);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QByteArray candidate =
                m_folder + m_stem + QByteArray::number(QRandomGenerator::global()->generate() % 0x1000000u, 36);
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
    int m_descriptor = -1;
    bool m_special = false;
    int m_error = 0;
};

#else

// Windows has no pipes or devices among saved files and no hard-linked documents to speak of; Qt's own save
// writes in place where the folder refuses the file beside the target.
class SaveFile::Writer
{
public:
    explicit Writer(const QString& path) : m_file(path) { m_file.setDirectWriteFallback(true); }
    bool open() { return m_file.open(QIODevice::WriteOnly); }
    bool write(const char* data, qsizetype size) { return m_file.write(data, size) == size; }
    bool commit() { return (m_file.flush() || m_file.flush()) && m_file.commit(); }
    void cancel() { m_file.cancelWriting(); }
    QString errorString() const { return m_file.errorString(); }

private:
    QSaveFile m_file;
};

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
