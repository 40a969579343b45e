#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Writes a file so that the user never loses what the target held, and the target stays what it was:
// - a regular file is written beside the target and put in its place only once every byte is there, so a failure
//   (or an end of the program midway) leaves the old file as it was; the new file keeps the old one's mode bits;
// - a target that is not a regular file (a pipe, a device, a socket) is written directly, as shell redirection
//   does, and is never removed or replaced; so is a name of one of the program's open descriptors (/dev/stdout,
//   /dev/fd/N, /proc/self/fd/N), which is written through that descriptor as it stands: where it appends, the rows
//   are appended;
// - a file with other hard links, one whose owner or group the program could not give the new file, and one in a
//   folder that refuses the file beside it keep their own file, so that every name keeps showing it and the owner
//   stays who it was: the rows are written to a file of their own first (beside the target, else in the system's
//   temporary folder) and copied into the target only once complete, under a lock that keeps two saves of the
//   target from mixing their bytes;
// - a symbolic link keeps being a link: what it points at is written;
// - where the system has no unnamed files, the file beside the target has a hidden name holding its writer's process
//   number; one left by a writer that was killed is removed by the next save of that target.
// Writes are buffered; a write that fails names the system's reason ("No space left on device").
class SaveFile
{
public:
    explicit SaveFile(const QString& path);
    ~SaveFile(); // gives up an unfinished save, as cancel() does
    SaveFile(const SaveFile&) = delete;
    SaveFile& operator=(const SaveFile&) = delete;

    bool open();
    bool write(const char* data, qsizetype size);
    bool write(const QByteArray& bytes) { return write(bytes.constData(), bytes.size()); }
    // Writes out the buffer and makes the new content the target's. After a failure the target is untouched (short
    // of the disk failing while the complete rows are copied over a target that keeps its own file).
    bool commit();
    // Gives up: the file written for the target is removed; the target stays as it was.
    void cancel();

    // The system's reason for the last failure.
    QString errorString() const;

    // The one of files that is the same file as target (the same device and file, by whatever name or link), if
    // any: a save over a file the same run still reads would read its own rows.
    static std::optional<QString> sameFileAmong(const QString& target, const QStringList& files);

    class Writer;

private:
    std::unique_ptr<Writer> m_writer;
};
