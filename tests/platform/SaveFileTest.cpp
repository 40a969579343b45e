#include "SaveFile.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

struct stat statusOf(const QString& path)
{
    struct stat status = {};
    EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &status), 0) << path.toStdString();
    return status;
}

// Saves bytes to path; "saved" or the reason it failed.
QString save(const QString& path, const QByteArray& bytes)
{
    SaveFile file(path);
    if (!file.open() || !file.write(bytes) || !file.commit())
        return file.errorString();
    return QStringLiteral("saved");
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

TEST(SaveFile, AReplacedFileKeepsItsModeAndOwnerAndLeavesNothingBeside)
{
    TempDir dir;
    const QString path = dir.write("out.txt", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root)
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    const ino_t before = statusOf(path).st_ino;

    EXPECT_EQ(save(path, "new"), "saved");
    EXPECT_EQ(dir.read("out.txt"), "new");
    const struct stat after = statusOf(path);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(after.st_uid, 65534u);
        EXPECT_EQ(after.st_gid, 65534u);
    } else {
        // Only a save that never wrote in place gets a new file.
        EXPECT_NE(after.st_ino, before);
    }
    EXPECT_EQ(entries(dir.path()), QStringList({"out.txt"}));

    // A save given up leaves the old file and no trace of the new one.
    {
        SaveFile file(path);
        ASSERT_TRUE(file.open());
        ASSERT_TRUE(file.write(QByteArray(100000, 'x')));
        file.cancel();
    }
    EXPECT_EQ(dir.read("out.txt"), "new");
    EXPECT_EQ(entries(dir.path()), QStringList({"out.txt"}));
}

TEST(SaveFile, HardLinkedNamesAllShowTheNewContent)
{
    TempDir dir;
    const QString first = dir.write("first.txt", "old content");
    const QString second = dir.path() + "/second.txt";
    ASSERT_EQ(::link(QFile::encodeName(first).constData(), QFile::encodeName(second).constData()), 0);

    EXPECT_EQ(save(second, "new"), "saved");
    EXPECT_EQ(dir.read("first.txt"), "new");
    EXPECT_EQ(dir.read("second.txt"), "new");
    EXPECT_EQ(statusOf(first).st_ino, statusOf(second).st_ino);
    EXPECT_EQ(statusOf(first).st_nlink, 2u);
}

TEST(SaveFile, ALinkStaysALinkAndWhatItNamesIsWritten)
{
    TempDir dir;
    dir.write("real.txt", "old");
    ASSERT_TRUE(QFile::link("real.txt", dir.path() + "/link.txt"));
    ASSERT_TRUE(QFile::link("missing.txt", dir.path() + "/dangling.txt"));

    EXPECT_EQ(save(dir.path() + "/link.txt", "through the link"), "saved");
    EXPECT_TRUE(S_ISLNK(statusOf(dir.path() + "/link.txt").st_mode));
    EXPECT_EQ(dir.read("real.txt"), "through the link");

    EXPECT_EQ(save(dir.path() + "/dangling.txt", "made"), "saved");
    EXPECT_TRUE(S_ISLNK(statusOf(dir.path() + "/dangling.txt").st_mode));
    EXPECT_EQ(dir.read("missing.txt"), "made");
}

TEST(SaveFile, AFolderThatRefusesNewFilesStillLetsAWritableFileBeSaved)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    QDir(dir.path()).mkdir("locked");
    const QString writable = dir.write("locked/writable.txt", "old");
    const QString readOnly = dir.write("locked/read-only.txt", "old");
    QFile::setPermissions(writable, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
    QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadOther);
    QFile::setPermissions(dir.path() + "/locked",
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);

    const QString outcomes = AsUnprivilegedUser([&] {
        return save(writable, "new") + u'|' + save(readOnly, "new") + u'|' +
               save(dir.path() + "/locked/new.txt", "new");
    });
    EXPECT_EQ(outcomes.toStdString(), "saved|Permission denied|Permission denied");
    EXPECT_EQ(dir.read("locked/writable.txt"), "new");
    EXPECT_EQ(dir.read("locked/read-only.txt"), "old");
    EXPECT_EQ(entries(dir.path() + "/locked"), QStringList({"read-only.txt", "writable.txt"}));
    QFile::setPermissions(dir.path() + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(SaveFile, AFolderIsNotATarget)
{
    TempDir dir;
    QDir(dir.path()).mkdir("folder");
    EXPECT_EQ(save(dir.path() + "/folder", "x"), "Is a directory");
    EXPECT_EQ(save(QString(), "x"), "No such file or directory");
    EXPECT_EQ(entries(dir.path()), QStringList({"folder"}));
}
