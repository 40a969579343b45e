#pragma once

#include "Result.h"

#include <QByteArray>
#include <QString>

namespace FileSystem {

// The whole content of a file, or why it could not be read ("File not found", "Permission
// denied", ...), in words fit for the error report.
Result<QByteArray> readAll(const QString& path);

} // namespace FileSystem

// True when the system can tell the path's last-modified time: the file or folder is there and
// can be looked at. Never fails.
bool FileExists(const QString& path);
