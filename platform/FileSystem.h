#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <limits>
#include <memory>

class QFile;

namespace FileSystem {

// The whole content of a file, or why it could not be read ("File not found", "Permission
// denied", ...), in words fit for the error report.
// A file of more than largest bytes is refused before it is read ("Out of memory", naming what
// such files are, e.g. "documents"): on Linux a read past the machine's memory does not fail, the
// program is killed.
Result<QByteArray> readAll(const QString& path, qint64 largest = std::numeric_limits<qint64>::max(),
                           const QString& what = QStringLiteral("files"));

// A file read a piece at a time, from any offset: a file need not fit in memory to be read this way. Opening fails as
// readAll does (missing, locked or unreadable, a folder, not a regular file), in the same words.
class FileReader
{
public:
    static Result<FileReader> open(const QString& path);
    FileReader(FileReader&& other) noexcept;
    FileReader& operator=(FileReader&& other) noexcept;
    ~FileReader();

    // Up to size bytes from offset into into: how many were read (fewer only at the end of the file, 0 past it), or
    // why they could not be.
    Result<qsizetype> read(qint64 offset, char* into, qsizetype size);

private:
#ifdef Q_OS_UNIX
    explicit FileReader(int descriptor) : m_descriptor(descriptor) {}
    int m_descriptor = -1;
#else
    explicit FileReader(std::unique_ptr<QFile> file);
    std::unique_ptr<QFile> m_file;
#endif
};

// The size of the file in bytes, following links; -1 when it cannot be looked at.
qint64 size(const QString& path);

// Opens the file for reading as a C stream, by a path of any length and any characters; null (errno set) when it
// cannot be opened.
std::FILE* openStream(const QString& path);

// The path with every link and "." or ".." resolved, or empty when it does not lead anywhere.
QString canonicalPath(const QString& path);

// The path leads to something (after links) that is not a folder.
bool isOpenableFile(const QString& path);

} // namespace FileSystem

// True when the system can tell the path's last-modified time: the file or folder is there and
// can be looked at. Never fails.
bool FileExists(const QString& path);
