#include "ConsoleKeys.h"
#include "Messages.h"
#include "Processes.h"
#include "TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

#ifndef Q_OS_WIN
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

// A run that cannot finish before the test lets it: its rows (two megabytes of them) are more than the pipe to the
// test and the program's own output buffer hold, so it waits on its output until the test starts reading. On Windows
// QProcess drains the pipe as the rows come, so there the run is made long enough by its size.
struct HeldRun
{
#ifdef Q_OS_WIN
    static constexpr int kRows = 5'000'000;
#else
    static constexpr int kRows = 1'000'000;
#endif
    TempDir dir;
    QString first = dir.write("a.html", "<p>a</p>");
    QString many = dir.write("many.html", QByteArray("<p>x").repeated(kRows));
    QString last = dir.write("c.html", "<p>c</p>");
    QByteArray rows = "a\n" + QByteArray("x\n").repeated(kRows) + "c\n";
};

#ifndef Q_OS_WIN
// quillory-extract's command line for execv: the words, and the pointers to them.
std::vector<QByteArray> commandLine(const QStringList& arguments)
{
    std::vector<QByteArray> parts{QByteArrayLiteral(QUILLORY_EXTRACT_PATH)};
    for (const QString& argument : arguments)
        parts.push_back(QFile::encodeName(argument));
    return parts;
}

std::vector<char*> pointersTo(std::vector<QByteArray>& parts)
{
    std::vector<char*> argv;
    for (QByteArray& part : parts)
        argv.push_back(part.data());
    argv.push_back(nullptr);
    return argv;
}

// Starts quillory-extract with its standard input, output and error on the descriptors given (each above 2), or
// closed where one is -1.
pid_t startWith(const QStringList& arguments, int in, int out, int err)
{
    std::vector<QByteArray> parts = commandLine(arguments);
    std::vector<char*> argv = pointersTo(parts);
    const pid_t child = ::fork();
    if (child == 0) {
        const int streams[] = {in, out, err};
        for (int stream = 0; stream < 3; ++stream) {
            if (streams[stream] < 0)
                ::close(stream);
            else
                ::dup2(streams[stream], stream);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return child;
}

struct Ended
{
    int status = -1; // the exit status; 128 and the signal for one killed; -1 when it had to be killed
    QByteArray out;  // what came on the output pipe, when there is one
};

// Waits up to seconds for the child's end, taking what it writes on out (a pipe, or -1) meanwhile. A child still there
// then is killed: the run hung.
Ended waitForEnd(pid_t child, int seconds, int out = -1)
{
    Ended ended;
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    pid_t gone = 0;
    bool open = out >= 0;
    while ((gone = ::waitpid(child, &status, WNOHANG)) == 0 || open) {
        if (gone == 0 && timer.elapsed() > seconds * 1000) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return ended;
        }
        if (!open) {
            QThread::msleep(10);
            continue;
        }
        pollfd ready = {out, POLLIN, 0};
        if (::poll(&ready, 1, 10) > 0) {
            char block[65536];
            const ssize_t count = ::read(out, block, sizeof block);
            if (count > 0)
                ended.out.append(block, count);
            else
                open = false;
        }
    }
    ended.status = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    return ended;
}

struct TerminalOutcome
{
    int status = -1;
    QByteArray out;
    QByteArray terminal;
};

// Runs quillory-extract with its standard error on a pseudo-terminal and its standard output on a pipe that is
// read only after heldMs.
TerminalOutcome runOnTerminal(const QStringList& arguments, unsigned long heldMs)
{
    int master = -1;
    int slave = -1;
    int out[2];
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0 || ::pipe(out) != 0) {
        ADD_FAILURE() << "no pseudo-terminal or pipe: " << std::strerror(errno);
        return {};
    }
    std::vector<QByteArray> parts = commandLine(arguments);
    std::vector<char*> argv = pointersTo(parts);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(slave, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(slave);
    ::close(out[1]);
    QThread::msleep(heldMs);
    TerminalOutcome outcome;
    char block[65536];
    for (ssize_t count; (count = ::read(out[0], block, sizeof block)) > 0;)
        outcome.out.append(block, count);
    ::close(out[0]);
    // EIO once the program has gone.
    for (ssize_t count; (count = ::read(master, block, sizeof block)) > 0;)
        outcome.terminal.append(block, count);
    ::close(master);
    int status = 0;
    ::waitpid(child, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

#endif

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// One or more progress lines, each rewritten over the last, then the line cleared.
const QRegularExpression kProgress(QStringLiteral("^(\r\\d/3 files, [\\d,]+ rows, \\d+ MB/s\x1b\\[K)+\r\x1b\\[K$"));

// A pipe carries no progress line, unless asked for with --progress.
void expectNoLineOnAPipeUnlessAsked(const HeldRun& files)
{
    for (const bool forced : {false, true}) {
        SCOPED_TRACE(forced ? "--progress" : "default");
        QProcess process;
        QStringList arguments{"-j1", files.first, files.many, files.last};
        if (forced)
            arguments.prepend("--progress");
        process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted());
        QThread::msleep(1300);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(process.readAllStandardOutput(), files.rows);
        const QByteArray err = Messages(process.readAllStandardError());
        if (forced)
            EXPECT_TRUE(kProgress.match(QString::fromLatin1(err)).hasMatch()) << err.toStdString();
        else
            EXPECT_EQ(err, QByteArray());
    }
}

} // namespace

#ifdef Q_OS_WIN
TEST(QuilloryExtractProgress, NeverOnAPipeUnlessAsked)
{
    const HeldRun files;
    expectNoLineOnAPipeUnlessAsked(files);
}
#else

TEST(QuilloryExtractProgress, ALineOnATerminalForALongRunAndNeverOnAPipe)
{
    const HeldRun files;
    // On a terminal: the line appears once the run has lasted a second, and is cleared at the end; --no-progress
    // keeps it off.
    const TerminalOutcome shown = runOnTerminal({"-j1", files.first, files.many, files.last}, 1300);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.out, files.rows);
    EXPECT_TRUE(kProgress.match(QString::fromLatin1(shown.terminal)).hasMatch()) << shown.terminal.toStdString();
    const TerminalOutcome off = runOnTerminal({"-j1", "--no-progress", files.first, files.many, files.last}, 1300);
    EXPECT_EQ(off.status, 0);
    EXPECT_EQ(off.out, files.rows);
    EXPECT_EQ(off.terminal, QByteArray());

    expectNoLineOnAPipeUnlessAsked(files);
}
#endif

TEST(QuilloryExtractStop, CtrlCKeepsTheRowsWrittenAndTheOldTargetAndLeavesNoTemporaryFile)
{
    TempDir dir;
    const QString first = dir.write("a.html", "<p>a</p>");
    // A page whose parse takes long enough to be interrupted.
    const QString big = dir.write("big.html", QByteArray("<p>x").repeated(4'000'000));
    const QString target = dir.write("target.txt", "old\r\n");
    for (const bool saving : {false, true}) {
        SCOPED_TRACE(saving ? "saving" : "printing");
        QStringList arguments{"-j1", first, big};
        if (saving)
            arguments = QStringList{"--save-text", target} + arguments;
        QProcess process;
        ShareConsole(process);
        process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted());
        // The first page's rows are out and the worker is deep in the big one when the user presses Ctrl+C.
        ASSERT_NE(WaitForBusyChild(pid_t(process.processId()), "quillory-extrac", 100'000, 30), 0);
        ASSERT_TRUE(PressCtrlC(process.processId()));
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 130);
        EXPECT_EQ(process.readAllStandardOutput(), saving ? QByteArray() : QByteArray("a\n"));
        EXPECT_EQ(Messages(process.readAllStandardError()), QByteArray());
        EXPECT_EQ(contents(target), "old\r\n");
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name),
                  QStringList({"a.html", "big.html", "target.txt"}));
        EXPECT_TRUE(ChildProcesses(pid_t(process.processId()), "quillory-extrac").empty());
    }
}

#ifndef Q_OS_WIN
// The threads run up to 256 files ahead of the file being written, and wait there for room; a stop must reach them
// there, behind a file that takes long to parse or an output that is read slowly, and end the run at once.
TEST(QuilloryExtractStop, EverySignalEndsARunWhoseThreadsWaitFarAheadOfItsOutput)
{
    TempDir dir;
    const QString slow = dir.write("slow.html", QByteArray("<p>x").repeated(4'000'000));
    // Two megabytes of rows, more than the pipe and the program's output buffer hold.
    const QString plenty = dir.write("plenty.html", QByteArray("<p>x").repeated(1'000'000));
    QStringList small;
    for (int i = 0; i < 300; ++i)
        small << dir.write(QStringLiteral("s%1.html").arg(i, 3, 10, QLatin1Char('0')), "<p>s</p>");
    const QString errors = dir.path() + "/errors.txt";
    const struct
    {
        const char* name;
        int signal;
        int status;
        bool slowReader; // else a slow first file
    } cases[] = {
        {"SIGINT behind a slow file", SIGINT, 130, false},    {"SIGTERM behind a slow file", SIGTERM, 143, false},
        {"SIGHUP behind a slow file", SIGHUP, 129, false},    {"SIGINT behind a slow reader", SIGINT, 130, true},
        {"SIGTERM behind a slow reader", SIGTERM, 143, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const int err = ::open(QFile::encodeName(errors).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::fcntl(out[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(out[1], F_SETFD, FD_CLOEXEC);
        const pid_t child = startWith(QStringList{"-j", "2", c.slowReader ? plenty : slow} + small, in, out[1], err);
        ::close(out[1]);
        ::close(err);
        ::close(in);
        if (c.slowReader) {
            // Nothing is read until the pipe is full and the program waits on it.
            const int capacity = ::fcntl(out[0], F_GETPIPE_SZ);
            int held = 0;
            for (int tries = 0; tries < 3000 && held < capacity; ++tries) {
                QThread::msleep(10);
                ::ioctl(out[0], FIONREAD, &held);
            }
            ASSERT_GE(held, capacity);
        } else {
            ASSERT_NE(WaitForBusyChild(child, "quillory-extrac", 100'000, 30), 0);
        }
        // Long enough for the other thread to run the small files and wait for room.
        QThread::msleep(1000);
        ASSERT_EQ(::kill(child, c.signal), 0);
        const Ended ended = waitForEnd(child, 10, out[0]);
        ::close(out[0]);
        EXPECT_EQ(ended.status, c.status);
        EXPECT_EQ(Messages(contents(errors)), QByteArray());
        // What was written stays: rows of the first file, as far as the stop let them go.
        EXPECT_EQ(ended.out, QByteArray("x\n").repeated(ended.out.size() / 2));
    }
}

// A closed stream is no file for the program to write into: a descriptor opened later would take its number, and
// rows or messages would go there instead (into a worker's channel, which then waits for ever).
TEST(QuilloryExtractStreams, ClosedStandardStreamsNeitherHangNorTakeRows)
{
    TempDir dir;
    const QString a = dir.write("a.html", "<p>a</p>");
    const QString b = dir.write("b.html", "<p>b</p>");
    const QString missing = dir.path() + "/missing.html";
    const QString saved = dir.path() + "/saved.txt";
    const QString errors = dir.path() + "/errors.txt";
    const QByteArray closedOutput = "quillory-extract: could not write the rows: standard output is closed\n";
    const QByteArray missingReport =
        "quillory-extract: " + QFile::encodeName(missing) + ": cannot read: File not found\n";
    const struct
    {
        const char* name;
        bool inClosed, outClosed, errClosed;
        QStringList arguments;
        int status;
        QByteArray out;
        QByteArray err;
    } cases[] = {
        {"output closed", false, true, false, {missing, a, b}, 1, {}, closedOutput},
        {"output closed, rows saved", false, true, false, {"--save-text", saved, a, b}, 0, {}, {}},
        {"error closed", false, false, true, {missing, a, b}, 1, "a\nb\n", {}},
        {"input closed", true, false, false, {a, missing, b}, 1, "a\nb\n", missingReport},
        {"all closed", true, true, true, {a, b}, 1, {}, {}},
    };
    for (const char* jobs : {"1", "2"}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", -j" + jobs);
            QFile::remove(saved);
            int out[2];
            ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
            const int err =
                ::open(QFile::encodeName(errors).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            const pid_t child = startWith(QStringList{"-j", jobs} + c.arguments, c.inClosed ? -1 : in,
                                          c.outClosed ? -1 : out[1], c.errClosed ? -1 : err);
            ::close(out[1]);
            ::close(err);
            ::close(in);
            const Ended ended = waitForEnd(child, 20, out[0]);
            ::close(out[0]);
            EXPECT_EQ(ended.status, c.status);
            EXPECT_EQ(ended.out, c.out);
            EXPECT_EQ(Messages(contents(errors)), c.err);
            if (c.arguments.contains(saved)) {
                EXPECT_EQ(contents(saved), "a\r\nb\r\n");
            }
        }
    }
}

namespace {

struct Measured
{
    int status = -1;
    long peakKilobytes = 0;
};

// Runs quillory-extract with its output thrown away, and tells its peak memory.
Measured runMeasured(const QStringList& arguments)
{
    std::vector<QByteArray> parts = commandLine(arguments);
    std::vector<char*> argv = pointersTo(parts);
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage = {};
    ::wait4(child, &status, 0, &usage);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, usage.ru_maxrss};
}

} // namespace
#endif

TEST(QuilloryExtractLists, FilesComeFromAListOfEitherKindAfterTheArguments)
{
    TempDir dir;
    const QString a = dir.write("a.html", "<p>a</p>");
    const QString b = dir.write("b.html", "<p>b</p>");
    const QString c = dir.write("c.html", "<p>c</p>");
    const QString missing = dir.path() + "/missing.html";
    const QString lines = dir.write("lines.txt", (b + "\n\n" + missing + "\n" + c).toUtf8());
    const QString nuls =
        dir.write("nuls.txt", b.toUtf8() + QByteArray(1, '\0') + missing.toUtf8() + QByteArray(2, '\0') + c.toUtf8());
    const QByteArray report = "quillory-extract: " + missing.toUtf8() + ": cannot read: File not found\n";
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        for (const QStringList& list :
             {QStringList{"--files-from", lines}, QStringList{"-0", "--files-from=" + nuls}}) {
            SCOPED_TRACE(list.join(' ').toStdString());
            QProcess process;
            process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), QStringList{"-j", jobs, "-H"} + list + QStringList{a});
            ASSERT_TRUE(process.waitForFinished(60000));
            EXPECT_EQ(process.exitCode(), 1);
            EXPECT_EQ(process.readAllStandardOutput(),
                      a.toUtf8() + "\ta\n" + b.toUtf8() + "\tb\n" + c.toUtf8() + "\tc\n");
            EXPECT_EQ(Messages(process.readAllStandardError()), report);
        }
        // "-": the list comes on standard input.
        QProcess process;
        process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), {"-j", jobs, "--files-from", "-"});
        process.write((c + "\n" + a + "\n").toUtf8());
        process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0);
        EXPECT_EQ(process.readAllStandardOutput(), "c\na\n");
    }
    QProcess process;
    process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), {"--files-from", dir.path() + "/no-list.txt"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_EQ(Messages(process.readAllStandardError()),
              "quillory-extract: " + dir.path().toUtf8() + "/no-list.txt: No such file or directory\n");
}

// A list may come from a program still finding the files: each name is taken as soon as its delimiter arrives, and
// the rows of the files named so far come out while the list waits for more.
TEST(QuilloryExtractLists, ANameIsTakenAsSoonAsItsDelimiterArrives)
{
    TempDir dir;
    const QString a = dir.write("a.html", "<p>a</p>");
    const QString b = dir.write("b.html", "<p>b</p>");
    for (const char* jobs : {"1", "2"}) {
        for (const bool nuls : {false, true}) {
            SCOPED_TRACE(std::string("-j") + jobs + (nuls ? " -0" : ""));
            const char delimiter = nuls ? '\0' : '\n';
            QProcess process;
            QStringList arguments{"-j", jobs, "--files-from", "-"};
            if (nuls)
                arguments << "-0";
            process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), arguments);
            ASSERT_TRUE(process.waitForStarted());
            process.write(a.toUtf8() + delimiter);
            // The list stays open: a.html's rows must not wait for what comes next.
            QByteArray out;
            QElapsedTimer waited;
            waited.start();
            while (out != "a\n" && waited.elapsed() < 10000) {
                process.waitForReadyRead(100);
                out += process.readAllStandardOutput();
            }
            EXPECT_EQ(out, QByteArray("a\n"));
            // The last name needs no delimiter.
            process.write(b.toUtf8());
            process.closeWriteChannel();
            ASSERT_TRUE(process.waitForFinished(60000));
            EXPECT_EQ(process.exitCode(), 0);
            EXPECT_EQ(out + process.readAllStandardOutput(), "a\nb\n");
            EXPECT_EQ(Messages(process.readAllStandardError()), QByteArray());
        }
    }
    // A stop while the list waits for its next name ends the run at once.
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("stopped, -j") + jobs);
        QProcess process;
        ShareConsole(process);
        process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), {"-j", jobs, "--files-from", "-"});
        ASSERT_TRUE(process.waitForStarted());
        process.write(a.toUtf8() + '\n');
        QByteArray out;
        QElapsedTimer waited;
        waited.start();
        while (out != "a\n" && waited.elapsed() < 10000) {
            process.waitForReadyRead(100);
            out += process.readAllStandardOutput();
        }
        ASSERT_TRUE(PressCtrlC(process.processId()));
        EXPECT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 130);
        EXPECT_EQ(out + process.readAllStandardOutput(), "a\n");
    }
}

// A name cannot hold a NUL byte, and the system would take one as the name's end: a line holding one names no file,
// and is reported (by its list and line) and left out, failing the run as a missing file does.
TEST(QuilloryExtractLists, ALineHoldingANulIsReportedAndLeftOut)
{
    TempDir dir;
    const QString a = dir.write("a.html", "<p>a</p>");
    const QString b = dir.write("b.html", "<p>b</p>");
    // The line would otherwise read as a.html, a file that is there.
    const QByteArray list = a.toUtf8() + "\n\n" + a.toUtf8() + QByteArray("\0.txt\n", 6) + b.toUtf8() + "\n";
    const QString listFile = dir.write("list.txt", list);
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(jobs);
        for (const bool onInput : {false, true}) {
            SCOPED_TRACE(onInput ? "on standard input" : "in a file");
            QProcess process;
            process.start(QStringLiteral(QUILLORY_EXTRACT_PATH),
                          {"-j", jobs, "--files-from", onInput ? QStringLiteral("-") : listFile});
            process.write(list);
            process.closeWriteChannel();
            ASSERT_TRUE(process.waitForFinished(60000));
            EXPECT_EQ(process.exitCode(), 1);
            EXPECT_EQ(process.readAllStandardOutput(), "a\nb\n");
            EXPECT_EQ(Messages(process.readAllStandardError()),
                      "quillory-extract: " + (onInput ? QByteArray("(standard input)") : listFile.toUtf8()) +
                          ":3: a name holding a NUL byte is left out\n");
        }
    }
}

// A list that cannot be read is a usage error, never an empty list: a run over no files would pass for one that did
// its work.
TEST(QuilloryExtractLists, AFolderOrAClosedInputIsNoList)
{
    TempDir dir;
    const QString page = dir.write("a.html", "<p>a</p>");
    QDir(dir.path()).mkdir("folder");
    const QString folder = QDir::toNativeSeparators(dir.path() + "/folder");
    for (const QStringList& arguments :
         {QStringList{"--files-from", folder}, QStringList{"-0", "--files-from=" + folder, page}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        QProcess process;
        process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), arguments);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
        EXPECT_EQ(Messages(process.readAllStandardError()),
                  "quillory-extract: " + folder.toUtf8() + ": is a folder, not a list of files\n");
    }
#ifndef Q_OS_WIN
    const QString errors = dir.path() + "/errors.txt";
    for (const QStringList& arguments : {QStringList{"--files-from", "-"}, QStringList{"--files-from", "-", page}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        const int err = ::open(QFile::encodeName(errors).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t child = startWith(arguments, -1, out[1], err);
        ::close(out[1]);
        ::close(err);
        const Ended ended = waitForEnd(child, 20, out[0]);
        ::close(out[0]);
        EXPECT_EQ(ended.status, 2);
        EXPECT_EQ(ended.out, QByteArray());
        EXPECT_EQ(Messages(contents(errors)),
                  QByteArray("quillory-extract: --files-from -: standard input is closed\n"));
    }
#endif
}

// Left out on Windows: a million file lookups through Wine take longer than the suite may run.
#ifndef Q_OS_WIN
TEST(QuilloryExtractLists, AListOfAMillionNamesIsReadWithFlatMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers hold freed memory back in quarantine, so peak memory grows with the number of allocations.
    GTEST_SKIP() << "peak memory means nothing under the sanitizers";
#endif
    TempDir dir;
    // Missing files, so that the run stays quick: each is reported (to nowhere here) and passed over.
    const auto writeList = [&](const QString& name, int count) {
        QFile file(dir.path() + "/" + name);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QByteArray block;
        for (int i = 0; i < count; ++i) {
            block += "/nonexistent/folder/page-" + QByteArray::number(i).rightJustified(7, '0') + ".html\n";
            if (block.size() > (1 << 20)) {
                file.write(block);
                block.clear();
            }
        }
        file.write(block);
        return file.fileName();
    };
    const QString few = writeList("few.txt", 1000);
    const QString many = writeList("many.txt", 1'000'000);
    const Measured small = runMeasured({"-j2", "-m", "3", "--files-from", few});
    const Measured large = runMeasured({"-j2", "-m", "3", "--files-from", many});
    EXPECT_EQ(small.status, 1);
    EXPECT_EQ(large.status, 1);
    // Holding the names would take over 100 MB; reading them as the run goes takes what a short list takes.
    EXPECT_LT(large.peakKilobytes, small.peakKilobytes + 16 * 1024)
        << small.peakKilobytes << " KB for 1,000 names, " << large.peakKilobytes << " KB for 1,000,000";
}
#endif

#ifndef Q_OS_WIN
namespace {

// A run whose list of files comes on a pipe the test writes: its first worker is started before the first name is
// read, so that the test can stop it (SIGSTOP) before it is given a file. The run's output comes on a pipe, its
// messages in a file.
struct StoppedWorkerRun
{
    TempDir dir;
    QString errors = dir.path() + "/errors.txt";
    int list[2] = {-1, -1};
    int out[2] = {-1, -1};
    pid_t child = 0;

    explicit StoppedWorkerRun(const QStringList& arguments)
    {
        if (::pipe(list) != 0 || ::pipe(out) != 0)
            return;
        for (const int end : {list[0], list[1], out[0], out[1]})
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
        const int err = ::open(QFile::encodeName(errors).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        child = startWith(arguments + QStringList{"--files-from", "-"}, list[0], out[1], err);
        ::close(err);
        ::close(list[0]);
        ::close(out[1]);
    }
    ~StoppedWorkerRun()
    {
        if (list[1] >= 0)
            ::close(list[1]);
        if (out[0] >= 0)
            ::close(out[0]);
    }

    // Stops the run's one worker; false when none came within a minute.
    bool stopTheWorker() const
    {
        QElapsedTimer waited;
        waited.start();
        std::vector<pid_t> workers;
        while ((workers = ChildProcesses(child, "quillory-extrac")).empty() && waited.elapsed() < 60'000)
            QThread::msleep(5);
        return workers.size() == 1 && ::kill(workers[0], SIGSTOP) == 0;
    }
    void name(const QStringList& files, bool last)
    {
        const QByteArray names = QFile::encodeName(files.join('\n')) + '\n';
        EXPECT_EQ(::write(list[1], names.constData(), std::size_t(names.size())), names.size());
        if (last) {
            ::close(list[1]);
            list[1] = -1;
        }
    }
};

} // namespace

// A worker that makes no progress (stopped here) is ended at the file's time limit: that file is reported as timed
// out, every other file gives its rows in order, and the status is 1.
TEST(QuilloryExtractTimeLimit, AStoppedWorkersFileTimesOutAndTheRunGoesOn)
{
    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(jobs);
        StoppedWorkerRun run({"-j", jobs, "--timeout", "1"});
        const QStringList files = {run.dir.write("a.html", "<p>a</p>"), run.dir.write("b.html", "<p>b</p>"),
                                   run.dir.write("c.html", "<p>c</p>")};
        ASSERT_TRUE(run.stopTheWorker());
        run.name(files, true);
        // A minute is far past the one second the file has: a run still going then hung.
        const Ended ended = waitForEnd(run.child, 60, run.out[0]);
        EXPECT_EQ(ended.status, 1);
        EXPECT_EQ(ended.out, "b\nc\n");
        EXPECT_EQ(Messages(contents(run.errors)),
                  "quillory-extract: " + QFile::encodeName(files[0]) +
                      ": cannot parse: Timed out after 1 s (the parser made no progress on the file and was ended)\n");
    }
}

// Ctrl+C ends a run that waits on a stopped worker at once, with no time limit to end the wait.
TEST(QuilloryExtractTimeLimit, CtrlCEndsARunWaitingOnAStoppedWorker)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "Under ThreadSanitizer this run has not ended within 30 s of Ctrl+C; the other builds end it";
#endif
    StoppedWorkerRun run({"-j", "2", "--timeout", "0"});
    const QStringList files = {run.dir.write("a.html", "<p>a</p>"), run.dir.write("b.html", "<p>b</p>")};
    ASSERT_TRUE(run.stopTheWorker());
    run.name(files, false);
    ASSERT_EQ(::kill(run.child, SIGINT), 0);
    const Ended ended = waitForEnd(run.child, 30, run.out[0]);
    EXPECT_EQ(ended.status, 130);
    EXPECT_EQ(ended.out, "");
    EXPECT_EQ(Messages(contents(run.errors)), "");
}
#endif
