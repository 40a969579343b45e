// quillory-extract against the targets and names real systems hand it: pipes and devices, folders it may not
// enter, link loops, names that are not UTF-8, and saves far larger than memory should hold.

#include "Messages.h"
#include "Processes.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#ifdef Q_OS_WIN
#include <QProcess>

#include <algorithm>
#include <memory>
#else
#include "Unprivileged.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace {

struct Outcome
{
    int status = -1;
    std::string out;
    std::string err;
    long peakKilobytes = 0;
};

std::string slurp(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    std::string bytes;
    char block[65536];
    std::size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0)
        bytes.append(block, count);
    std::fclose(file);
    return bytes;
}

struct Started
{
    pid_t process = 0;
    std::string out;
    std::string err;
#ifdef Q_OS_WIN
    std::shared_ptr<QProcess> running;
#endif
};

#ifdef Q_OS_WIN
// Windows names are UTF-16 and the arguments arrive whole; nobody is less privileged than the tests' user there.
Started start(const TempDir& dir, std::vector<std::string> arguments, bool = false)
{
    Started started{0, dir.path().toStdString() + "/.stdout", dir.path().toStdString() + "/.stderr",
                    std::make_shared<QProcess>()};
    QStringList words;
    for (const std::string& argument : arguments)
        words << QString::fromStdString(argument);
    started.running->setWorkingDirectory(dir.path());
    started.running->setStandardOutputFile(QString::fromStdString(started.out));
    started.running->setStandardErrorFile(QString::fromStdString(started.err));
    started.running->start(QStringLiteral(QUILLORY_EXTRACT_PATH), words);
    if (started.running->waitForStarted())
        started.process = pid_t(started.running->processId());
    else
        ADD_FAILURE() << "could not start " << QUILLORY_EXTRACT_PATH;
    return started;
}

// Waits for the run's end and reports its peak memory, read as it runs: Windows keeps none for a program that ended.
Outcome finish(const Started& started)
{
    Outcome outcome;
    if (started.process <= 0)
        return outcome;
    while (!started.running->waitForFinished(10))
        outcome.peakKilobytes = std::max(outcome.peakKilobytes, ResidentKilobytes(started.process));
    outcome.status = started.running->exitStatus() == QProcess::NormalExit ? started.running->exitCode() : -1;
    outcome.out = slurp(started.out);
    outcome.err = Messages(slurp(started.err));
    return outcome;
}
#else

// Starts quillory-extract with arguments passed as raw bytes (QProcess would turn a name that is not UTF-8 into
// U+FFFD), as "nobody" when asked and running as root. wrapper: the words of a command that runs the program, its
// path and the arguments following them (a shell that sets up redirections or limits first).
Started start(const TempDir& dir, std::vector<std::string> arguments, bool unprivileged = false,
              const std::vector<std::string>& wrapper = {})
{
    std::vector<std::string> command;
    if (unprivileged && geteuid() == 0)
        command = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    command.insert(command.end(), wrapper.begin(), wrapper.end());
    command.push_back(QUILLORY_EXTRACT_PATH);
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& part : command)
        argv.push_back(part.data());
    argv.push_back(nullptr);

    Started started{0, dir.path().toStdString() + "/.stdout", dir.path().toStdString() + "/.stderr"};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, started.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    posix_spawn_file_actions_addopen(&actions, 2, started.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (posix_spawn(&started.process, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        ADD_FAILURE() << "could not start " << argv[0];
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

// Waits for the run's end and reports its peak memory.
Outcome finish(const Started& started)
{
    Outcome outcome;
    if (started.process <= 0)
        return outcome;
    int status = 0;
    rusage usage = {};
    wait4(started.process, &status, 0, &usage);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.out = slurp(started.out);
    outcome.err = Messages(slurp(started.err));
    outcome.peakKilobytes = usage.ru_maxrss;
    return outcome;
}
#endif

Outcome run(const TempDir& dir, std::vector<std::string> arguments, bool unprivileged = false)
{
    return finish(start(dir, std::move(arguments), unprivileged));
}

#ifndef Q_OS_WIN
bool isFifo(const std::string& path)
{
    struct stat status;
    return ::lstat(path.c_str(), &status) == 0 && S_ISFIFO(status.st_mode);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// 300 nested elements around 2,000 characters of fill, blocks times: rows of a megabyte a block with -m 2 -t div.
QByteArray deepPage(int blocks, char fill)
{
    const QByteArray one =
        QByteArray("<div>").repeated(300) + QByteArray(2000, fill) + QByteArray("</div>").repeated(300);
    return one.repeated(blocks);
}

void link(const QString& existing, const QString& name)
{
    ASSERT_EQ(::link(QFile::encodeName(existing).constData(), QFile::encodeName(name).constData()), 0);
}

// Sets an environment variable for the programs the test starts, and puts back what it was.
class ScopedVariable
{
public:
    ScopedVariable(const char* name, const QByteArray& value) : m_name(name), m_previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_previous.isNull())
            qunsetenv(m_name);
        else
            qputenv(m_name, m_previous);
    }

private:
    const char* m_name;
    QByteArray m_previous;
};
#endif

// A path as a user types it on this system ("\\" between the names on Windows), and as the program reports it.
std::string native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdString();
}

} // namespace

#ifdef Q_OS_WIN
// Windows saves have no FIFO or /dev/full; its device NUL stands in: written, never replaced, nothing left beside.
TEST(QuilloryExtractTargets, TheNulDeviceIsWrittenAndNeverReplaced)
{
    TempDir dir;
    const std::string page = native(dir.write("p.html", "<p>one</p><p>two</p>"));
    for (const char* option : {"--save-text", "--save-csv"}) {
        SCOPED_TRACE(option);
        const Outcome outcome = run(dir, {option, "NUL", page});
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                  QStringList({".stderr", ".stdout", "p.html"}));
    }
}
#else
TEST(QuilloryExtractTargets, APipeOrADeviceIsWrittenAndNeverReplaced)
{
    TempDir dir;
    const std::string page = dir.write("p.html", "<p>one</p><p>two</p>").toStdString();
    const std::string pipe = dir.path().toStdString() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);

    // The reading end is open before the run, so that the writer finds a reader at once; the few bytes fit in the
    // pipe's buffer, and a run that replaced the pipe leaves nothing to read rather than a reader waiting for ever.
    const int readEnd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(readEnd, 0);
    const Outcome toPipe = run(dir, {"--save-text", pipe, page});
    std::string received;
    char block[256];
    ssize_t count;
    while ((count = ::read(readEnd, block, sizeof block)) > 0)
        received.append(block, std::size_t(count));
    ::close(readEnd);
    EXPECT_EQ(toPipe.status, 0);
    EXPECT_EQ(toPipe.err, "");
    EXPECT_EQ(received, "one\r\ntwo\r\n");
    EXPECT_TRUE(isFifo(pipe));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList({".stderr", ".stdout", "p.html", "pipe"}));

    // A device that is full says so, and stays the device it was.
    const Outcome toFull = run(dir, {"--save-csv", "/dev/full", page});
    EXPECT_EQ(toFull.status, 1);
    EXPECT_EQ(toFull.err, "quillory-extract: /dev/full: could not be saved: No space left on device\n");
    struct stat full;
    ASSERT_EQ(::stat("/dev/full", &full), 0);
    EXPECT_TRUE(S_ISCHR(full.st_mode));
}

// Opening a pipe for writing waits until something reads it; a stop signal ends that wait as it ends a run, with the
// signal's status, no message and nothing written.
TEST(QuilloryExtractTargets, AStopWhileAPipeWaitsForItsReaderEndsTheRun)
{
    TempDir dir;
    const std::string page = dir.write("p.html", "<p>one</p>").toStdString();
    const std::string pipe = dir.path().toStdString() + "/pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    const struct
    {
        int signal;
        int status;
    } cases[] = {{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        const Started started = start(dir, {"--save-text", pipe, page});
        // Until the open waits (where the system says so; else a moment).
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 2000) {
            QFile wchan(QStringLiteral("/proc/%1/wchan").arg(started.process));
            if (wchan.open(QIODevice::ReadOnly) && wchan.readAll() == "wait_for_partner")
                break;
            QThread::msleep(10);
        }
        ASSERT_EQ(::kill(started.process, c.signal), 0);
        const Outcome outcome = finish(started);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(outcome.out, "");
        EXPECT_TRUE(isFifo(pipe));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                  QStringList({".stderr", ".stdout", "p.html", "pipe"}));
    }
}
#endif

TEST(QuilloryExtractTargets, FailuresNameTheirRealCause)
{
    TempDir dir;
    const std::string page = native(dir.write("p.html", "<p>x</p>"));
    const std::string root = native(dir.path());
    const std::string separator = native("/");
#ifndef Q_OS_WIN
    // Permissions and symbolic links as POSIX has them; Windows keeps its rights in lists that the tests leave alone.
    OpenToAnyone(dir.path());
    QDir(dir.path()).mkpath("closed/inner");
    dir.write("closed/inner/page.html", "<p>x</p>");
    // Listable but not enterable: the names are there, the files cannot be reached.
    QFile::setPermissions(dir.path() + "/closed", QFile::ReadOwner | QFile::ReadOther);
    // Enterable but not listable.
    QDir(dir.path()).mkdir("unlisted");
    QFile::setPermissions(dir.path() + "/unlisted", QFile::ExeOwner | QFile::ExeOther);
    for (int link = 0; link < 41; ++link)
        QFile::link(QStringLiteral("link%1").arg(link + 1), dir.path() + QStringLiteral("/link%1").arg(link));
    QFile::link(QStringLiteral("p.html"), dir.path() + "/link41");
#endif

    const struct
    {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string err;
    } cases[] = {
        {"an empty save name",
         {"--save-text", "", page},
         2,
         "quillory-extract: option '--save-text' needs a file name, not an empty one\n"
         "Try 'quillory-extract --help'.\n"},
        {"an empty save name after =",
         {"--save-csv=", page},
         2,
         "quillory-extract: option '--save-csv' needs a file name, not an empty one\n"
         "Try 'quillory-extract --help'.\n"},
#ifndef Q_OS_WIN
        {"a folder argument that cannot be listed",
         {root + "/unlisted", page},
         1,
         "quillory-extract: " + root + "/unlisted: Permission denied\n"},
        {"a file below a folder without search permission",
         {root + "/closed/inner/page.html"},
         1,
         "quillory-extract: " + root + "/closed/inner/page.html: cannot read: Permission denied\n"},
        {"a chain of more than 40 links",
         {root + "/link0"},
         1,
         "quillory-extract: " + root + "/link0: cannot read: Too many levels of symbolic links\n"},
#endif
        {"a missing file",
         {root + separator + "gone.html"},
         1,
         "quillory-extract: " + root + separator + "gone.html: cannot read: File not found\n"},
        {"a missing folder",
         {root + separator + "gone" + separator + "page.html"},
         1,
         "quillory-extract: " + root + separator + "gone" + separator + "page.html: cannot read: Path not found\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(dir, c.arguments, true);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
    }
#ifndef Q_OS_WIN
    for (const char* folder : {"/closed", "/unlisted"})
        QFile::setPermissions(dir.path() + folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
#endif
}

#ifndef Q_OS_WIN
// A folder beneath a folder argument that cannot be read costs its files like a file that cannot be read: it is
// reported and the status is 1. What the walk's rules leave out on purpose is no failure; --verbose says how much.
// (Windows: Wine does not enforce a folder's access control list, so no folder can be made unreadable there.)
TEST(QuilloryExtractTargets, AFolderBeneathThatCannotBeReadIsReportedAndFailsTheRun)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    const std::string site = dir.path().toStdString() + "/site";
    for (const char* folder : {"site/sub", "site/locked/inner", "site/odd\x01name"})
        ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromUtf8(folder)));
    dir.write("site/a.html", "<p>a</p>");
    dir.write("site/sub/b.html", "<p>b</p>");
    dir.write("site/locked/inner/c.html", "<p>c</p>");
    // Writable by its reader: a dot-file that is read-only too is no plain hidden file, and is taken.
    QFile::setPermissions(dir.write("site/.hidden.html", "<p>hidden</p>"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
    dir.write("site/~lock.html", "<p>lock</p>");
    dir.write(QString::fromUtf8("site/odd\x01name/odd.html"), "<p>odd</p>");
    const std::string passedOver = "quillory-extract: " + site +
                                   ": passed over 1 hidden file, 1 lock file (~), 1 folder whose name the code page "
                                   "cannot spell\n";
    const std::string locked = "quillory-extract: " + site + "/locked: Permission denied\n";

    const struct
    {
        const char* name;
        bool readable;
        std::vector<std::string> arguments;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"unreadable", false, {site}, 1, "a\nb\n", locked},
        {"unreadable, verbose", false, {"--verbose", site}, 1, "a\nb\n", locked + passedOver},
        {"readable", true, {site}, 0, "a\nb\nc\n", ""},
        {"readable, verbose", true, {"-v", site}, 0, "a\nb\nc\n", passedOver},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::setPermissions(dir.path() + "/site/locked", c.readable ? QFile::ReadOwner | QFile::WriteOwner |
                                                                            QFile::ExeOwner | QFile::ReadOther |
                                                                            QFile::ExeOther
                                                                      : QFile::Permissions());
        const Outcome outcome = run(dir, c.arguments, true);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
}
#endif

#ifdef Q_OS_WIN
// Windows names are UTF-16, never bytes that are not UTF-8; what can go wrong there is a character outside the code
// page, which the C runtime's narrow calls turn into "?". Names are reported in UTF-8.
TEST(QuilloryExtractTargets, NamesOutsideTheCodePageAreFoundSavedAndReported)
{
    TempDir dir;
    const QString root = QDir::toNativeSeparators(dir.path()) + "\\";
    QDir(dir.path()).mkdir(QString::fromUtf8("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0"));
    const QString first = QString::fromUtf8("\xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE6\x97\xA5\xE6\x9C\xAC.html");
    dir.write(first, "<p>one</p>");
    dir.write(QString::fromUtf8("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0/na\xC3\xAFve \xF0\x9F\x98\x80.htm"),
              "<p>two</p>");
    const std::string gone = (root + QString::fromUtf8("gone \xCE\xA9.html")).toStdString();
    const Outcome outcome =
        run(dir, {(root + first).toStdString(),
                  (root + QString::fromUtf8("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0")).toStdString(), gone});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "one\ntwo\n");
    EXPECT_EQ(outcome.err, "quillory-extract: " + gone + ": cannot read: File not found\n");

    // A save to such a name makes exactly that name; a list of such names, with Windows line ends, finds them.
    const QString target = QString::fromUtf8("\xE5\x87\xBA\xE5\x8A\x9B \xCE\xA9.txt");
    const Outcome saved = run(dir, {"--save-text", (root + target).toStdString(), (root + first).toStdString()});
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.err, "");
    EXPECT_EQ(dir.read(target), "one\r\n");
    const QString list = dir.write(QString::fromUtf8("\xE2\x84\x96 list.txt"), (root + first).toUtf8() + "\r\n");
    const Outcome listed = run(dir, {"--files-from", native(list)});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "one\n");
}
#else
TEST(QuilloryExtractTargets, NamesThatAreNotUtf8AreFoundAndReportedByTheirBytes)
{
    TempDir dir;
    const std::string root = dir.path().toStdString();
    QDir(dir.path()).mkdir("folder");
    for (const auto& [name, content] : {std::pair{root + "/caf\xE9.html", "<p>one</p>"},
                                        std::pair{root + "/folder/na\xEFve \xFF.htm", "<p>two</p>"}}) {
        std::FILE* file = std::fopen(name.c_str(), "wb");
        ASSERT_TRUE(file);
        std::fputs(content, file);
        std::fclose(file);
    }
    const Outcome outcome = run(dir, {root + "/caf\xE9.html", root + "/folder", root + "/gone\xE9.html"});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "one\ntwo\n");
    EXPECT_EQ(outcome.err, "quillory-extract: " + root + "/gone\xE9.html: cannot read: File not found\n");

    // A save to such a name makes exactly that name.
    const Outcome saved = run(dir, {"--save-text", root + "/out\xE9.txt", root + "/caf\xE9.html"});
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(slurp(root + "/out\xE9.txt"), "one\r\n");
}
#endif

// Windows calls that take a plain path stop at 260 characters; the program's paths of any length still reach the
// file, the list and the save. The folder walk goes below folders of fewer than 260 characters (a rule of its own),
// and finds the longer paths of the files in them.
TEST(QuilloryExtractTargets, PathsLongerThan260CharactersAreReadWalkedListedAndSaved)
{
    TempDir dir;
    QString folder = dir.path();
    while (folder.size() < 200)
        folder += "/" + QString(40, u'd');
    folder += "/" + QString(250 - folder.size() - 1, u'e');
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString name = folder + "/" + QString(60, u'n');
    const QString page = name + ".html";
    const QString list = name + ".txt";
    {
        QFile file(page);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<p>deep</p>");
        QFile names(list);
        ASSERT_TRUE(names.open(QIODevice::WriteOnly));
        names.write(QDir::toNativeSeparators(page).toUtf8() + "\n");
    }
    const std::string target = native(name + ".out.txt");
    const std::string missing = native(name + ".gone.html");
    const struct
    {
        const char* name;
        std::vector<std::string> arguments;
        std::string out;
        std::string err;
    } cases[] = {
        {"the file", {native(page)}, "deep\n", ""},
        {"the folder above it", {"--ext", "html", native(dir.path() + "/" + QString(40, u'd'))}, "deep\n", ""},
        {"a list in it", {"--files-from", native(list)}, "deep\n", ""},
        {"a file not there", {missing}, "", "quillory-extract: " + missing + ": cannot read: File not found\n"},
        {"a save in it", {"--save-text", target, native(page)}, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(dir, c.arguments);
        EXPECT_EQ(outcome.out, c.out);
        EXPECT_EQ(outcome.err, c.err);
    }
    QFile saved(QString::fromStdString(target));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), "deep\r\n");
}

TEST(QuilloryExtractTargets, ASaveStreamsItsRowsInsteadOfHoldingThem)
{
    TempDir dir;
    // 300 nested elements around 2,000 characters, 100 times: 530 KB of page, 110 MB of rows.
    std::string one;
    for (int i = 0; i < 300; ++i)
        one += "<div>";
    one += std::string(2000, 'x');
    for (int i = 0; i < 300; ++i)
        one += "</div>";
    std::string page;
    for (int i = 0; i < 100; ++i)
        page += one;
    const std::string path = dir.write("deep.html", QByteArray::fromStdString(page)).toStdString();
    const std::string target = dir.path().toStdString() + "/rows.txt";

    const Outcome outcome = run(dir, {"-m", "2", "-t", "div", "-j", "1", "--save-text", target, path});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "");
    EXPECT_GT(QFileInfo(QString::fromStdString(target)).size(), 100'000'000);
    // Printing the same rows peaks at about 20 MB; holding them would take more than 110. (The sanitizers keep
    // freed memory aside for a while and memory of their own, which says nothing about the program.)
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(outcome.peakKilobytes, 64 * 1024) << "peak " << outcome.peakKilobytes << " KB";
#endif
}

#ifndef Q_OS_WIN
// A save over a file the run still reads would make its rows from its own output, or from nothing once the file
// is cut short: it is refused before any file is read.
TEST(QuilloryExtractTargets, ASaveOverAFileTheRunReadsIsRefusedBeforeAnythingIsRead)
{
    TempDir dir;
    const QString page = dir.write("in.html", "<p>a</p>");
    const QString other = dir.path() + "/other.html";
    link(page, other);
    ASSERT_TRUE(QFile::link("in.html", dir.path() + "/symbolic.html"));
    const QString list = dir.write("list.txt", page.toUtf8() + "\n");
    QStringList before = entries(dir.path()) + QStringList{".stderr", ".stdout"};
    before.sort();
    const struct
    {
        const char* name;
        std::vector<std::string> arguments;
        QString target;
        QString input;
    } cases[] = {
        {"its own name", {"--save-text", page.toStdString(), page.toStdString()}, page, page},
        {"a second name of it", {"--save-csv", other.toStdString(), page.toStdString()}, other, page},
        {"a symbolic link to it",
         {"--save-text", dir.path().toStdString() + "/symbolic.html", other.toStdString()},
         dir.path() + "/symbolic.html",
         other},
        {"the list of files", {"--save-text", list.toStdString(), "--files-from", list.toStdString()}, list, list},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(dir, c.arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, "");
        EXPECT_EQ(outcome.err, "quillory-extract: " + c.target.toStdString() + ": refusing to save over " +
                                   c.input.toStdString() + ", which the run reads\n");
        EXPECT_EQ(dir.read("in.html"), "<p>a</p>");
        EXPECT_EQ(dir.read("list.txt"), page.toUtf8() + "\n");
        EXPECT_EQ(entries(dir.path()), before);
    }
}

// A target that keeps its own file (a second name, a folder that refuses new files) takes the rows only once they
// are complete: a run stopped or failed before then leaves it as it was, and nothing beside it or in the temporary
// folder.
TEST(QuilloryExtractTargets, ATargetThatKeepsItsOwnFileIsAsItWasAfterAStopOrAFailure)
{
    TempDir dir;
    OpenToAnyone(dir.path());
    const std::string first = dir.write("a.html", "<p>a</p>").toStdString();
    // A page whose parse takes long enough to be interrupted.
    const std::string big = dir.write("big.html", QByteArray("<p>x").repeated(4'000'000)).toStdString();
    const std::string deep = dir.write("deep.html", deepPage(2, 'x')).toStdString();
    QDir(dir.path()).mkdir("temporary");
    OpenToAnyone(dir.path() + "/temporary");
    const ScopedVariable temporary("TMPDIR", QFile::encodeName(dir.path() + "/temporary"));

    QDir(dir.path()).mkdir("linked");
    const QString linked = dir.write("linked/target.txt", "old\r\n");
    link(linked, dir.path() + "/linked/other.txt");
    QDir(dir.path()).mkdir("locked");
    const QString locked = dir.write("locked/target.txt", "old\r\n");
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::WriteOther);
    QFile::setPermissions(dir.path() + "/locked",
                          QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
    // A disk that fills midway, as a limit on the size of the files the program writes; the signal the limit sends
    // is ignored, as where a disk is full, so that the write fails instead.
    const std::vector<std::string> limited = {"/bin/sh", "-c",
                                              "trap '' XFSZ; exec prlimit --fsize=262144 \"$0\" \"$@\""};

    const struct
    {
        const char* name;
        QString target;
        std::vector<std::string> arguments;
        bool unprivileged;
        std::vector<std::string> wrapper;
        int status;
        std::string err;
    } cases[] = {
        {"Ctrl+C, a file with a second name", linked, {"-j1", first, big}, false, {}, 130, ""},
        {"Ctrl+C, another user's save into a folder that refuses new files",
         locked,
         {"-j1", first, big},
         true,
         {},
         130,
         ""},
        {"a full disk, a file with a second name",
         linked,
         {"-m", "2", "-t", "div", deep},
         false,
         limited,
         1,
         "quillory-extract: " + linked.toStdString() + ": could not be saved: File too large\n"},
        {"a full disk, a folder that refuses new files",
         locked,
         {"-m", "2", "-t", "div", deep},
         false,
         limited,
         1,
         "quillory-extract: " + locked.toStdString() + ": could not be saved: File too large\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = QFileInfo(c.target).path();
        const QStringList beside = entries(folder);
        std::vector<std::string> arguments = {"--save-text", c.target.toStdString()};
        arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
        const Started started = start(dir, arguments, c.unprivileged, c.wrapper);
        if (c.status == 130) {
            // The first page's rows are made and the worker is deep in the big one when the user presses Ctrl+C.
            ASSERT_NE(WaitForBusyChild(started.process, "quillory-extrac", 100'000, 30), 0);
            ::kill(started.process, SIGINT);
        }
        const Outcome outcome = finish(started);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.err, c.err);
        EXPECT_EQ(slurp(c.target.toStdString()), "old\r\n");
        EXPECT_EQ(entries(folder), beside);
        EXPECT_EQ(entries(dir.path() + "/temporary"), QStringList());
    }
    EXPECT_EQ(dir.read("linked/other.txt"), "old\r\n");

    // Not stopped, the rows arrive whole.
    const Outcome saved = run(dir, {"--save-text", locked.toStdString(), first}, true);
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.err, "");
    EXPECT_EQ(dir.read("locked/target.txt"), "a\r\n");
    QFile::setPermissions(dir.path() + "/locked", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The bytes a process has written so far, to files and pipes; -1 once it is gone.
long long writtenBytes(pid_t process)
{
    std::FILE* io = std::fopen(("/proc/" + std::to_string(process) + "/io").c_str(), "r");
    if (!io)
        return -1;
    long long written = -1;
    char line[128];
    while (std::fgets(line, sizeof line, io))
        if (std::sscanf(line, "wchar: %lld", &written) == 1)
            break;
    std::fclose(io);
    return written;
}

TEST(QuilloryExtractTargets, TwoRunsSavingToOneFileAtOnceLeaveTheRowsOfOneWhole)
{
    TempDir dir;
    TempDir secondRun;
    const std::string longer = dir.write("long.html", deepPage(8, 'x')).toStdString();
    const std::string shorter = dir.write("short.html", deepPage(1, 'y')).toStdString();
    const std::string alone = dir.path().toStdString() + "/alone.txt";
    std::string rows[2];
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(run(dir, {"-m", "2", "-t", "div", "-j", "1", "--save-text", alone, i == 0 ? longer : shorter}).status,
                  0);
        rows[i] = slurp(alone);
    }
    ASSERT_GT(rows[0].size(), 4'000'000u);
    const QString target = dir.write("target.txt", "old\r\n");
    link(target, dir.path() + "/other.txt");

    // The shorter run starts once the longer one has written rows, and ends while it is still writing.
    const Started first = start(dir, {"-m", "2", "-t", "div", "-j", "1", "--save-text", target.toStdString(), longer});
    QElapsedTimer clock;
    clock.start();
    while (writtenBytes(first.process) < 2'000'000 && writtenBytes(first.process) >= 0 && clock.elapsed() < 60'000)
        QThread::msleep(1);
    const Outcome second =
        run(secondRun, {"-m", "2", "-t", "div", "-j", "1", "--save-text", target.toStdString(), shorter});
    const Outcome firstOutcome = finish(first);
    EXPECT_EQ(firstOutcome.status, 0);
    EXPECT_EQ(firstOutcome.err, "");
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(second.err, "");
    const std::string saved = slurp(target.toStdString());
    EXPECT_TRUE(saved == rows[0] || saved == rows[1])
        << saved.size() << " bytes, " << std::count(saved.begin(), saved.end(), 'x') << " of them x, "
        << std::count(saved.begin(), saved.end(), 'y') << " y and " << std::count(saved.begin(), saved.end(), '\0')
        << " NUL";
    EXPECT_TRUE(slurp(dir.path().toStdString() + "/other.txt") == saved);
    EXPECT_EQ(entries(dir.path()),
              QStringList({".stderr", ".stdout", "alone.txt", "long.html", "other.txt", "short.html", "target.txt"}));
}

// /dev/stdout, /dev/stderr and the /dev/fd names a shell hands out are the descriptors the shell set up: a log it
// appends to keeps what it held, and a pipe is written as any other.
TEST(QuilloryExtractTargets, ADescriptorsNameIsWrittenThroughTheDescriptorAsItStands)
{
    TempDir dir;
    const std::string page = dir.write("p.html", "<p>one</p><p>two</p>").toStdString();
    const std::string root = dir.path().toStdString();
    const std::string text = "one\r\ntwo\r\n";
    const std::string comma = "one,two,\r\n";
    const struct
    {
        const char* name;
        std::string script;
        std::string file;
        std::string expected;
    } cases[] = {
        {"standard output appended to a log", "\"$0\" --save-text /dev/stdout \"$@\" >> " + root + "/log", "log",
         "kept\n" + text},
        {"standard error appended to a log", "\"$0\" --save-text /dev/stderr \"$@\" 2>> " + root + "/log", "log",
         "kept\n" + text},
        {"standard output into a pipe",
         "set -o pipefail; \"$0\" --save-text /dev/stdout \"$@\" | cat > " + root + "/piped", "piped", text},
        {"a process substitution",
         "\"$0\" --save-csv >(cat > " + root + "/substituted) \"$@\"; status=$?; wait $!; exit $status", "substituted",
         comma},
        {"a descriptor opened by the shell", "exec 5>> " + root + "/log; \"$0\" --save-csv /dev/fd/5 \"$@\"", "log",
         "kept\n" + comma},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        dir.write("log", "kept\n");
        const Outcome outcome = finish(start(dir, {page}, false, {"/bin/bash", "-c", c.script}));
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, "");
        EXPECT_EQ(slurp(root + "/" + c.file), c.expected);
    }
}

// Where the file system has no unnamed files, the rows are written under a hidden name beside the target, which a
// kill leaves behind; the next save of that target clears it away.
TEST(QuilloryExtractTargets, AHiddenFileLeftByAKilledSaveGoesWithTheNextSave)
{
    TempDir dir;
    const std::string page = dir.write("deep.html", deepPage(20, 'x')).toStdString();
    const QString target = dir.write("target.txt", "old\r\n");
    const ScopedVariable preload("LD_PRELOAD", QUILLORY_NO_UNNAMED_FILES_PATH);
    // The sanitizers' runtime wants to come first; here the stand-in comes before it, on purpose.
    const ScopedVariable sanitizers("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":verify_asan_link_order=0");

    const std::vector<std::string> arguments = {"-m", "2", "-t", "div", "--save-text", target.toStdString(), page};
    const Started killed = start(dir, arguments);
    QStringList hidden;
    QElapsedTimer clock;
    clock.start();
    while (hidden.isEmpty() && clock.elapsed() < 60'000) {
        hidden = QDir(dir.path()).entryList({".target.txt.*"}, QDir::Files | QDir::Hidden);
        QThread::msleep(1);
    }
    KillProcess(killed.process);
    finish(killed);
    ASSERT_EQ(hidden.size(), 1);
    EXPECT_TRUE(QFileInfo::exists(dir.path() + "/" + hidden[0]));
    EXPECT_EQ(dir.read("target.txt"), "old\r\n");

    const Outcome saved = run(dir, arguments);
    EXPECT_EQ(saved.status, 0);
    EXPECT_EQ(saved.err, "");
    EXPECT_GT(QFileInfo(target).size(), 20'000'000);
    EXPECT_EQ(entries(dir.path()), QStringList({".stderr", ".stdout", "deep.html", "target.txt"}));
}
#endif

// A page as dense as markup gets: the parser needs far more memory than its size.
QByteArray densePage(int megabytes)
{
    return QByteArray("<p>x").repeated(megabytes * 1024 * 256);
}

TEST(QuilloryExtractWorkers, APageThatExhaustsItsWorkerCostsOnlyItsFile)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "The sanitizers reserve more address space than the limit allows, so the limit is off";
#endif
    TempDir dir;
    const std::string before = dir.write("a.html", "<p>before</p>").toStdString();
    const std::string dense = dir.write("dense.html", densePage(10)).toStdString();
    const std::string after = dir.write("c.html", "<p>after</p>").toStdString();
    qputenv("QUILLORY_WORKER_MEMORY_MB", "200");
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        const Outcome outcome = run(dir, {"-j", jobs, before, dense, after});
        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(outcome.out, "before\nafter\n");
        EXPECT_EQ(outcome.err, "quillory-extract: " + dense +
                                   ": cannot parse: Out of memory (the document needs more than the 200 MB one "
                                   "document may use on this machine)\n");
    }
    qunsetenv("QUILLORY_WORKER_MEMORY_MB");
}

TEST(QuilloryExtractWorkers, AWorkerKilledMidFileCostsOnlyThatFileAndDiesWithTheProgram)
{
    TempDir dir;
    const std::string before = dir.write("a.html", "<p>before</p>").toStdString();
    const std::string dense = dir.write("dense.html", densePage(40)).toStdString();
    const std::string after = dir.write("c.html", "<p>after</p>").toStdString();

    // Killed while it builds the large document: that file is reported, the others give their rows.
    Started started = start(dir, {"-m", "4", "-j", "1", before, dense, after});
    const pid_t worker = WaitForBusyChild(started.process, "quillory-extrac", 100 * 1024, 60);
    ASSERT_NE(worker, 0);
    KillProcess(worker);
    const Outcome outcome = finish(started);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "html\nhead\nbody\np\nhtml\nhead\nbody\np\n");
#ifdef Q_OS_WIN
    // Windows tells no kill from an exit: TerminateProcess leaves status 1, which the worker never ends with itself.
    EXPECT_EQ(outcome.err, "quillory-extract: " + dense +
                               ": cannot parse: Internal error (the parser was ended from outside, status 1)\n");
#else
    EXPECT_EQ(outcome.err, "quillory-extract: " + dense +
                               ": cannot parse: Internal error (the parser stopped with signal 9, Killed)\n");
#endif

    // The program killed while its worker builds the document: the worker goes with it.
    started = start(dir, {dense});
    const pid_t orphan = WaitForBusyChild(started.process, "quillory-extrac", 100 * 1024, 60);
    ASSERT_NE(orphan, 0);
    KillProcess(started.process);
    finish(started);
    QElapsedTimer clock;
    clock.start();
    while (!HasEnded(orphan) && clock.elapsed() < 2000)
        QThread::msleep(5);
    EXPECT_TRUE(HasEnded(orphan)) << "worker " << orphan << " outlived its program";
}

#ifndef Q_OS_WIN
namespace {

// A control group whose processes and threads may number at most a given count, for the runs a test starts in it:
// the process limit of a container or a user's session. Unavailable where the system has no pids controller the
// tests may use (cgroup v1 at /sys/fs/cgroup/pids, written as root).
class ProcessLimit
{
public:
    ProcessLimit()
        : m_path(QStringLiteral("/sys/fs/cgroup/pids/quillory-test-%1").arg(::getpid()).toStdString()),
          m_made(::geteuid() == 0 && ::mkdir(m_path.c_str(), 0755) == 0)
    {}
    ~ProcessLimit()
    {
        // The runs have ended, their workers with them; a worker's last moments may still count for a while.
        for (int tries = 0; m_made && ::rmdir(m_path.c_str()) != 0 && tries < 200; ++tries)
            QThread::msleep(10);
    }
    bool available() const { return m_made; }

    // The processes and threads the group may hold.
    void allow(int most) const
    {
        QFile limit(QString::fromStdString(m_path + "/pids.max"));
        ASSERT_TRUE(limit.open(QIODevice::WriteOnly));
        ASSERT_GT(limit.write(QByteArray::number(most)), 0);
    }
    // The words that run a program in the group: a shell that moves itself in, then becomes the program.
    std::vector<std::string> wrapper() const
    {
        return {"/bin/sh", "-c", "echo $$ > '" + m_path + "/cgroup.procs' && exec \"$@\"", "sh"};
    }

private:
    std::string m_path;
    bool m_made;
};

} // namespace

// Under a process limit (pids.max counts threads too), -j 8 runs on the workers and threads the system allows, down to
// one worker on the program's own thread: the rows are those of -j 1, with no file lost or reported. Only when no
// worker at all can start is each file reported, and the status 1; option 3 needs none.
TEST(QuilloryExtractWorkers, AProcessLimitMeansFewerWorkersNeverLostFiles)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "The leak checker starts a thread of its own at the program's end, which the limit refuses";
#endif
    const ProcessLimit limit;
    if (!limit.available())
        GTEST_SKIP() << "no pids control group to make (cgroup v1, as root)";
    TempDir dir;
    std::vector<std::string> files;
    for (int i = 0; i < 50; ++i)
        files.push_back(
            dir.write(QStringLiteral("f%1.html").arg(i, 2, 10, QLatin1Char('0')),
                      QStringLiteral("<table><tr><td>one %1</td><td>two</td></tr></table>\n").arg(i).toUtf8())
                .toStdString());
    QByteArray list;
    for (const std::string& file : files)
        list += QByteArray::fromStdString(file) + '\n';
    const std::string listFile = dir.write("list.txt", list).toStdString();

    for (const char* mode : {"1", "3"}) {
        std::vector<std::string> alone = {"-m", mode, "-j", "1"};
        alone.insert(alone.end(), files.begin(), files.end());
        const Outcome expected = run(dir, alone);
        ASSERT_EQ(expected.status, 0);
        ASSERT_EQ(std::count(expected.out.begin(), expected.out.end(), '\n'), *mode == '1' ? 100 : 50);
        // The program alone; with one worker; with one worker and one thread; with two of each.
        for (const int most : {1, 2, 3, 5}) {
            for (const bool fromList : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << ", pids.max " << most << (fromList ? ", list" : ""));
                limit.allow(most);
                std::vector<std::string> arguments = {"-m", mode, "-j", "8"};
                if (fromList) {
                    arguments.insert(arguments.end(), {"--files-from", listFile});
                } else {
                    arguments.insert(arguments.end(), files.begin(), files.end());
                }
                const Outcome outcome = finish(start(dir, arguments, false, limit.wrapper()));
                if (most == 1 && *mode == '1') {
                    EXPECT_EQ(outcome.status, 1);
                    EXPECT_EQ(outcome.out, "");
                    std::string reported;
                    for (const std::string& file : files)
                        reported += "quillory-extract: " + file + ": cannot parse: Internal error (the parser " +
                                    QUILLORY_EXTRACT_PATH +
                                    " could not be started: Resource temporarily unavailable)\n";
                    EXPECT_EQ(outcome.err, reported);
                    continue;
                }
                EXPECT_EQ(outcome.status, 0);
                EXPECT_EQ(outcome.err, "");
                EXPECT_EQ(outcome.out, expected.out);
            }
        }
    }
}
#endif
