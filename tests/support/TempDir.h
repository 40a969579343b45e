#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Removes everything inside the folder, by the names' own bytes: Qt's removal spells a name that is not UTF-8 with
// U+FFFD, cannot find it, and leaves the folder behind.
void RemoveContents(const QString& folder);

// A scratch folder for one test, removed with it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    QString path() const { return m_dir.path(); }
    // Writes the bytes to name inside the folder and returns the file's full path.
    QString write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};
