#include "TempDir.h"

#include <QFile>

#include <gtest/gtest.h>

#include <ftw.h>
#include <stdio.h>

void RemoveContents(const QString& folder)
{
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
