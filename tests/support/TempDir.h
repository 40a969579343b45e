#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A scratch folder for one test, removed with it.
class TempDir
{
public:
    TempDir();
    QString path() const { return m_dir.path(); }
    // Writes the bytes to name inside the folder and returns the file's full path.
    QString write(const QString& name, const QByteArray& bytes) const;
    QByteArray read(const QString& name) const;

private:
    QTemporaryDir m_dir;
};
