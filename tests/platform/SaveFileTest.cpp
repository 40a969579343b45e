#include "SaveFile.h"
#include "QtPrinters.h"
#include "TempDir.h"
#include "Unprivileged.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// A file's bytes as a line of a transcript: short ones as they are, long runs of one byte by their length.
QString shown(const QByteArray& bytes)
{
    if (bytes.size() > 32 && bytes.count(bytes[0]) == bytes.size())
        return QStringLiteral("%1 x '%2'").arg(bytes.size()).arg(QLatin1Char(bytes[0]));
    return QString::fromLatin1(bytes);
}

// A process number that no process has: that of a child that has ended and been reaped.
pid_t goneProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

} // namespace

TEST(SaveFile, AReplacedFileKeepsItsModeAndOwnerAndLeavesNothingBeside)
{
    TempDir dir;
    const QString path = dir.write("out.txt", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0640), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
    }
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

// A target that keeps its own file (other names, another owner, a folder that refuses new files) shows its old
// content until the rows are complete, then exactly the new ones: a save given up, stopped or failed midway leaves
// none of its rows where the old content was.
TEST(SaveFile, ATargetThatKeepsItsOwnFileShowsTheOldContentUntilTheRowsAreComplete)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    QDir(dir.path()).mkdir("temporary");
    OpenToAnyone(dir.path() + "/temporary");
    // Where the rows wait when the target's folder refuses them; nothing may be left there.
    const QByteArray previousTemporary = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(dir.path() + "/temporary"));
    const QFile::Permissions anyone = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther;

    struct Case
    {
        const char* name;
        QString target;
        QString folder;
        bool unprivileged;
    };
    std::vector<Case> cases;
    QDir(dir.path()).mkdir("linked");
    const QString linked = dir.write("linked/target.txt", "old content\n");
    ASSERT_EQ(
        ::link(QFile::encodeName(linked).constData(), QFile::encodeName(dir.path() + "/linked/other.txt").constData()),
        0);
    QFile::setPermissions(linked, anyone);
    cases.push_back({"a file with a second name", linked, dir.path() + "/linked", false});
    QDir(dir.path()).mkdir("locked");
    const QString locked = dir.write("locked/target.txt", "old content\n");
    QFile::setPermissions(locked, anyone);
    QFile::setPermissions(dir.path() + "/locked",
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    cases.push_back({"a file in a folder that refuses new files", locked, dir.path() + "/locked", true});
    // Only root makes a file another user may write but not own.
    if (geteuid() == 0) {
        QDir(dir.path()).mkdir("owned");
        OpenToAnyone(dir.path() + "/owned");
        const QString owned = dir.write("owned/target.txt", "old content\n");
        QFile::setPermissions(owned, anyone);
        cases.push_back({"another user's file", owned, dir.path() + "/owned", true});
    }

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const struct stat before = statusOf(c.target);
        const QStringList beside = entries(c.folder);
        const auto body = [&] {
            QStringList transcript;
            {
                SaveFile file(c.target);
                if (!file.open())
                    return "open: " + file.errorString();
                // More than the buffer holds, so that rows reach the disk.
                file.write(QByteArray(100000, 'x'));
                transcript << "while written: " + shown(contents(c.target));
                file.cancel();
                transcript << "given up: " + shown(contents(c.target));
            }
            for (const QByteArray& rows : {QByteArray(100000, 'x'), QByteArray("new\n")}) {
                const QString outcome = save(c.target, rows);
                transcript << outcome + ": " + shown(contents(c.target));
            }
            return transcript.join(u'|');
        };
        const QString transcript = c.unprivileged ? AsUnprivilegedUser(body) : body();
        EXPECT_EQ(transcript.toStdString(), "while written: old content\n|given up: old content\n|"
                                            "saved: 100000 x 'x'|saved: new\n");
        const struct stat after = statusOf(c.target);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_nlink, before.st_nlink);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(entries(c.folder), beside);
        EXPECT_EQ(entries(dir.path() + "/temporary"), QStringList());
    }
    EXPECT_EQ(contents(dir.path() + "/linked/other.txt"), "new\n");
    QFile::setPermissions(dir.path() + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (previousTemporary.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", previousTemporary);
}

TEST(SaveFile, TwoSavesOfOneFileWithOtherNamesNeverMixTheirBytes)
{
    TempDir dir;
    const QString target = dir.write("target.txt", "old content\n");
    ASSERT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(dir.path() + "/other.txt").constData()),
              0);

    // Both open before either writes; the one that ends last leaves its rows whole.
    {
        SaveFile longer(target);
        SaveFile shorter(target);
        ASSERT_TRUE(longer.open());
        ASSERT_TRUE(shorter.open());
        ASSERT_TRUE(longer.write(QByteArray(100000, 'a')));
        ASSERT_TRUE(shorter.write(QByteArray(100, 'b')));
        ASSERT_TRUE(shorter.commit());
        EXPECT_EQ(contents(target), QByteArray(100, 'b'));
        ASSERT_TRUE(longer.commit());
        EXPECT_EQ(contents(target), QByteArray(100000, 'a'));
    }

    // A save waits for whoever holds the file's lock (another run copying its rows in) before it writes.
    const int held = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    SaveFile file(target);
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.write("new\n"));
    bool committed = false;
    std::thread saving([&] { committed = file.commit(); });
    ::usleep(200000);
    EXPECT_EQ(contents(target), QByteArray(100000, 'a'));
    ::flock(held, LOCK_UN);
    ::close(held);
    saving.join();
    EXPECT_TRUE(committed);
    EXPECT_EQ(contents(target), "new\n");
    EXPECT_EQ(contents(dir.path() + "/other.txt"), "new\n");
    EXPECT_EQ(entries(dir.path()), QStringList({"other.txt", "target.txt"}));
}

// /dev/stdout, /dev/fd/N and /proc/self/fd/N name descriptors the program already holds; opened anew they would
// truncate the file behind them (a log the shell appends to), and a pipe's cannot be opened by name at all.
TEST(SaveFile, ADescriptorsNameIsWrittenThroughTheDescriptorAsItStands)
{
    TempDir dir;
    const QString log = dir.write("log.txt", "kept\n");
    const int appending = ::open(QFile::encodeName(log).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(appending, 0);
    const ino_t before = statusOf(log).st_ino;
    const QString number = QString::number(appending);
    for (const QString& name :
         {"/dev/fd/" + number, "/proc/self/fd/" + number, QStringLiteral("/proc/%1/fd/").arg(::getpid()) + number}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(save(name, name.toUtf8() + "\n"), "saved");
    }
    EXPECT_EQ(contents(log), "kept\n/dev/fd/" + number.toUtf8() + "\n/proc/self/fd/" + number.toUtf8() + "\n/proc/" +
                                 QByteArray::number(::getpid()) + "/fd/" + number.toUtf8() + "\n");
    EXPECT_EQ(statusOf(log).st_ino, before);
    // The descriptor stays the program's: still open, still appending.
    EXPECT_EQ(::write(appending, "after\n", 6), 6);
    ::close(appending);
    EXPECT_EQ(contents(log).right(6), "after\n");
    EXPECT_EQ(entries(dir.path()), QStringList({"log.txt"}));

    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    EXPECT_EQ(save("/dev/fd/" + QString::number(pipe[1]), "through the pipe"), "saved");
    ::close(pipe[1]);
    char received[64] = {};
    EXPECT_EQ(::read(pipe[0], received, sizeof received), 16);
    EXPECT_STREQ(received, "through the pipe");

    // A descriptor the program does not hold, or holds only for reading, cannot take the rows.
    EXPECT_EQ(save("/dev/fd/" + QString::number(pipe[1]), "x"), "Bad file descriptor");
    EXPECT_EQ(save("/proc/self/fd/" + QString::number(pipe[0]), "x"), "Bad file descriptor");
    ::close(pipe[0]);
}

// Where the system has no unnamed files, a save killed midway leaves its hidden file beside the target.
TEST(SaveFile, HiddenFilesLeftByKilledSavesGoWithTheNextSaveOfTheirTarget)
{
    TempDir dir;
    dir.write("out.txt", "old");
    const QByteArray gone = QByteArray::number(goneProcess());
    const QByteArray living = QByteArray::number(::getppid());
    const QStringList left = {
        "." + QString::fromLatin1("out.txt." + gone + ".k3x"),   // its writer is gone: removed
        "." + QString::fromLatin1("out.txt." + gone + ".a0b1"),  // likewise
        "." + QString::fromLatin1("out.txt." + living + ".k3y"), // its writer still runs
        "." + QString::fromLatin1("out.txt." + gone + ".k3z"),   // locked: its writer runs on another machine
        "." + QString::fromLatin1("other.txt." + gone + ".k40"), // another target's
        QStringLiteral(".out.txt.backup"),                       // not a save's at all
        QStringLiteral(".out.txt.1.2.3"),
    };
    for (const QString& name : left)
        dir.write(name, "partial");
    const int locked = ::open(QFile::encodeName(dir.path() + "/" + left[3]).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(locked, 0);
    ASSERT_EQ(::flock(locked, LOCK_EX), 0);

    EXPECT_EQ(save(dir.path() + "/out.txt", "new"), "saved");
    ::close(locked);
    EXPECT_EQ(dir.read("out.txt"), "new");
    QStringList expected = QStringList({"out.txt"}) + left.mid(2);
    expected.sort();
    EXPECT_EQ(entries(dir.path()), expected);
    for (const QString& name : left.mid(2))
        EXPECT_EQ(dir.read(name), "partial") << name.toStdString();
}

TEST(SaveFile, ATargetIsFoundAmongFilesByTheFileItNamesNotByItsName)
{
    TempDir dir;
    const QString page = dir.write("page.html", "<p>a</p>");
    const QString copy = dir.write("copy.html", "<p>a</p>");
    const QString linked = dir.path() + "/linked.html";
    ASSERT_EQ(::link(QFile::encodeName(page).constData(), QFile::encodeName(linked).constData()), 0);
    ASSERT_TRUE(QFile::link("page.html", dir.path() + "/symbolic.html"));
    QDir(dir.path()).mkdir("folder");
    const QString folder = dir.path() + "/folder";
    const QString missing = dir.path() + "/missing.html";

    const struct
    {
        const char* name;
        QString target;
        QStringList files;
        std::optional<QString> found;
    } cases[] = {
        {"the same name", page, {copy, page}, page},
        {"a second name", linked, {folder, copy, page}, page},
        {"a symbolic link", dir.path() + "/symbolic.html", {page}, page},
        {"a name with a step back", dir.path() + "/folder/../page.html", {copy, linked}, linked},
        {"a copy is another file", page, {copy, folder, missing}, std::nullopt},
        {"a target not yet there", missing, {page, missing}, std::nullopt},
        {"a folder is no file read", folder, {folder}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SaveFile::sameFileAmong(c.target, c.files), c.found);
    }
}
