#include "TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <QDir>
#else
#include <ftw.h>
#include <stdio.h>
#endif

void RemoveContents(const QString& folder)
{
#ifdef _WIN32
    // Windows names are UTF-16, which Qt spells exactly.
    const QDir dir(folder);
    for (const QFileInfo& entry :
         dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.isDir() && !entry.isSymLink())
            QDir(entry.filePath()).removeRecursively();
        else
            QFile::remove(entry.filePath());
    }
#else
    const QByteArray root = QFile::encodeName(folder);
    // Depth first, links not followed; the folder itself stays.
    nftw(
        root.constData(),
        [](const char* path, const struct stat*, int, struct FTW* where) {
            if (where->level > 0)
                ::remove(path);
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS);
#endif
}

TempDir::TempDir()
{
    EXPECT_TRUE(m_dir.isValid());
}

TempDir::~TempDir()
{
    RemoveContents(m_dir.path());
}

QString TempDir::write(const QString& name, const QByteArray& bytes) const
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    EXPECT_EQ(file.write(bytes), bytes.size());
    return path;
}

QByteArray TempDir::read(const QString& name) const
{
    QFile file(m_dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}
