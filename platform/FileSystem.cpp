#include "FileSystem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FileSystem {

Result<QByteArray> readAll(const QString& path)
{
    if (path.isEmpty())
        return Failure{QStringLiteral("Bad file name or number")};
    const QFileInfo info(path);
    if (!info.exists())
        return Failure{info.dir().exists() ? QStringLiteral("File not found") : QStringLiteral("Path not found")};
    if (info.isDir())
        return Failure{QStringLiteral("Permission denied (the path is a folder, not a file)")};
    // A device or a pipe could be read forever; only plain files hold a document.
    if (!info.isFile())
        return Failure{QStringLiteral("Bad file mode (not a regular file)")};

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.error() == QFileDevice::PermissionsError || !info.isReadable())
            return Failure{QStringLiteral("Permission denied")};
        return Failure{QStringLiteral("File could not be opened: %1").arg(file.errorString())};
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Failure{QStringLiteral("Device I/O error: %1").arg(file.errorString())};
    return bytes;
}

} // namespace FileSystem
