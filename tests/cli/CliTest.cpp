#include "Messages.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <string>

#ifndef Q_OS_WIN
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;
};

Outcome run(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            Messages(process.readAllStandardError())};
}

// A path as a user types it on this system ("\" between the names on Windows), and as the program reports it.
QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A name's bytes inside a tsv field or a JSON string, where a backslash is doubled.
QByteArray escaped(const QString& path)
{
    return path.toUtf8().replace('\\', "\\\\");
}

} // namespace

TEST(QuilloryExtract, RefusesARunWithNothingToDo)
{
    TempDir dir;
    const QString page = dir.write("p.html", "<p>x</p>");
    const struct
    {
        const char* name;
        QStringList arguments;
        QByteArray message;
    } cases[] = {
        {"no files", {}, "No files added.\n"},
        {"no files in mode 3", {"-m", "3"}, "No files added.\n"},
        {"blank tag name", {"-m", "2", "-t", "   ", page}, "You forgot to input tag name.\n"},
        {"empty tag name", {"--mode=2", "--tag=", page}, "You forgot to input tag name.\n"},
        {"blank search text", {"-m3", "-s", " ", page}, "You forgot to input tag or data.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, c.message);
        EXPECT_EQ(outcome.out, QByteArray());
    }
}

TEST(QuilloryExtract, OnlyTheSelectedModesTextIsChecked)
{
    TempDir dir;
    const QString page = dir.write("p.html", "<p>x</p>\n\tone");
    EXPECT_EQ(run({"-m", "1", "-t", "", "-s", "", page}).out, "x\n");
    EXPECT_EQ(run({"-m", "3", "-t", " ", page}).out, "one\n");
    // A tab is not blank.
    const Outcome tab = run({"-m", "3", "-s", "\t", page});
    EXPECT_EQ(tab.status, 0);
    EXPECT_EQ(tab.out, "one\n");
}

TEST(QuilloryExtract, PrintsRowsOfEveryFileInOrderAndReportsFailuresOnTheWay)
{
    TempDir dir;
    const QString first = native(dir.write("first.html", "<table><tr><td>A</td><td>b</td></tr></table>"));
    const QString second = native(dir.write("second.html", "<p>caf\xE9</p>"));
    const QString missing = native(dir.path() + "/missing.html");

    const Outcome outcome = run({first, missing, second});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "A\nb\ncaf\xC3\xA9\n");
    EXPECT_EQ(outcome.err, "quillory-extract: " + missing.toUtf8() + ": cannot read: File not found\n");

    const Outcome lines = run({"-m", "3", missing, first});
    EXPECT_EQ(lines.err, "quillory-extract: " + missing.toUtf8() + ": cannot read: File not found\n");
    EXPECT_EQ(run({"-m", "4", missing}).err,
              "quillory-extract: " + missing.toUtf8() + ": cannot read: File not found\n");
    EXPECT_EQ(run({"-m", "2", missing}).err,
              "quillory-extract: " + missing.toUtf8() + ": cannot read: File not found\n");

    const Outcome fine = run({"-m", "2", "--tag", "TR", first, second});
    EXPECT_EQ(fine.status, 0);
    EXPECT_EQ(fine.err, QByteArray());
    EXPECT_EQ(fine.out, "<tr>\n<td>a</td><td>b</td>\n</tr>\n");
}

TEST(QuilloryExtract, SavesTheBytesOfTheTwoResultFiles)
{
    TempDir dir;
    const QString page = dir.write("p.html", "<ul><li>a,b</li><li></li><li>\xCE\xA9 \xE2\x82\xAC</li></ul>");
    const QString empty = dir.write("empty.html", "");

    const struct
    {
        const char* name;
        QStringList arguments;
        QByteArray bytes;
    } cases[] = {
        {"text", {"--save-text", dir.path() + "/out.txt", page}, "a,b\r\n\r\n? \x80\r\n"},
        {"comma-delimited", {"--save-csv", dir.path() + "/out.txt", page}, "a,b,,? \x80,\r\n"},
        {"empty text", {"--save-text", dir.path() + "/out.txt", empty}, ""},
        {"empty comma-delimited", {"--save-csv", dir.path() + "/out.txt", empty}, "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The old file is replaced whole, never appended to.
        dir.write("out.txt", "old content that is longer than the new one\r\n");
        const Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.out, QByteArray());
        EXPECT_EQ(dir.read("out.txt"), c.bytes);
    }

    const QString unwritablePath = native(dir.path() + "/no-such-folder/out.txt");
    const Outcome unwritable = run({"--save-text", unwritablePath, page});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(unwritable.err.startsWith("quillory-extract: " + unwritablePath.toUtf8() + ": could not be saved"))
        << unwritable.err.toStdString();

    // A full disk is played by a file size limit, which Windows does not have; a target held open stands in there.
#ifdef Q_OS_WIN
    // A target another program holds open (without letting it be deleted) cannot be replaced: the save fails, the
    // old file stays, and the file written beside it goes.
    dir.write("out.txt", "old");
    {
        QFile held(dir.path() + "/out.txt");
        ASSERT_TRUE(held.open(QIODevice::ReadOnly));
        const Outcome blocked = run({"--save-text", native(dir.path() + "/out.txt"), page});
        EXPECT_EQ(blocked.status, 1);
        EXPECT_TRUE(blocked.err.startsWith("quillory-extract: " + native(dir.path() + "/out.txt").toUtf8() +
                                           ": could not be saved: "))
            << blocked.err.toStdString();
    }
    EXPECT_EQ(dir.read("out.txt"), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name),
              QStringList({"empty.html", "out.txt", "p.html"}));
#else
    // A disk that fills up (here a file size limit of 1024 bytes) is a failed save that keeps the
    // old file, not a success with part of the new one in its place.
    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "<p>row " + std::to_string(i) + "</p>";
    const QString rows = dir.write("rows.html", QByteArray::fromStdString(many));
    dir.write("out.txt", "old");
    QProcess process;
    process.setChildProcessModifier([] {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, nullptr);
        const rlimit limit = {1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), {"--save-text", dir.path() + "/out.txt", rows});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(process.readAllStandardError(),
              "quillory-extract: " + dir.path().toUtf8() + "/out.txt: could not be saved: File too large\n");
    EXPECT_EQ(dir.read("out.txt"), "old");
#endif
}

TEST(QuilloryExtract, RejectsBadOptionsAndAnswersHelpAndVersion)
{
    for (const QStringList& arguments :
         {QStringList{"-m", "5", "x"}, QStringList{"--mode=0", "x"}, QStringList{"--bogus", "x"}, QStringList{"-t"},
          QStringList{"--save-text", "a", "--save-csv", "b", "x"}, QStringList{"-j", "0", "x"},
          QStringList{"--jobs=2x", "x"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Outcome outcome = run(arguments);
        EXPECT_EQ(outcome.status, 2);
        EXPECT_TRUE(outcome.err.startsWith("quillory-extract: ")) << outcome.err.toStdString();
    }
    for (const char* timeout : {"-1", "1.5", "", "86401"}) {
        SCOPED_TRACE(timeout);
        const Outcome outcome = run({"--timeout", timeout, "x"});
        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.err, "quillory-extract: the timeout must be a number of seconds from 0 to 86400, not '" +
                                   QByteArray(timeout) + "'\nTry 'quillory-extract --help'.\n");
    }
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(Messages(help.out).startsWith("Usage: quillory-extract "));
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(Messages(version.out), "quillory-extract " QUILLORY_VERSION "\n");

    // Everything after "--" is a file, even when it looks like an option.
    TempDir dir;
    dir.write("-m", "<p>dash</p>");
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(QUILLORY_EXTRACT_PATH), {"--", "-m"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.readAllStandardOutput(), "dash\n");
}

TEST(QuilloryExtract, FolderArgumentsAreWalkedLikeADroppedFolder)
{
    TempDir dir;
    QDir(dir.path()).mkpath("site/sub");
    dir.write("site/a.htm", "<p>a</p>");
    dir.write("site/b.txt", "<p>b</p>");
    dir.write("site/~skip.htm", "<p>skipped</p>");
    dir.write("site/sub/c.html", "<p>c</p>");
    const QString single = dir.write("single.htm", "<p>single</p>");

    EXPECT_EQ(run({native(dir.path() + "/site"), native(single)}).out, "a\nb\nc\nsingle\n");
    EXPECT_EQ(run({"--jobs", "3", native(dir.path() + "/site"), native(single)}).out, "a\nb\nc\nsingle\n");
    const Outcome htm = run({"--ext", "htm", native(dir.path() + "/site")});
    EXPECT_EQ(htm.status, 0);
    EXPECT_EQ(htm.out, "a\nc\n");
}

TEST(QuilloryExtract, RowsCanCarryTheirFileInEachFormatWhateverTheJobs)
{
    TempDir dir;
    QDir(dir.path()).mkpath("site/sub");
    const QString site = native(dir.path() + "/site");
    dir.write("site/a.htm", "<pre>one\ttwo\\three</pre>");
    dir.write("site/sub/c.html", "<p>say \"hi\"</p><p>x</p>");
    const QString single = native(dir.write("single.htm", "<p>single</p>"));
    const QByteArray a = native(site + "/a.htm").toUtf8();
    const QByteArray c = native(site + "/sub/c.html").toUtf8();
    const QByteArray s = single.toUtf8();
    const QByteArray ae = escaped(native(site + "/a.htm"));
    const QByteArray ce = escaped(native(site + "/sub/c.html"));
    const QByteArray se = escaped(single);
    const struct
    {
        const char* name;
        QStringList options;
        QByteArray expected;
    } cases[] = {
        {"text", {}, "one\ttwo\\three\nsay \"hi\"\nx\nsingle\n"},
        {"text with names", {"-H"}, a + "\tone\ttwo\\three\n" + c + "\tsay \"hi\"\n" + c + "\tx\n" + s + "\tsingle\n"},
        {"names turned off again", {"--with-filename", "--no-filename"}, "one\ttwo\\three\nsay \"hi\"\nx\nsingle\n"},
        {"tsv",
         {"--format", "tsv"},
         ae + "\tone\\ttwo\\\\three\n" + ce + "\tsay \"hi\"\n" + ce + "\tx\n" + se + "\tsingle\n"},
        {"jsonl",
         {"--format=jsonl"},
         "{\"file\": \"" + ae + "\", \"row\": \"one\\ttwo\\\\three\"}\n{\"file\": \"" + ce +
             "\", \"row\": \"say \\\"hi\\\"\"}\n{\"file\": \"" + ce + "\", \"row\": \"x\"}\n{\"file\": \"" + se +
             "\", \"row\": \"single\"}\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* jobs : {"1", "2"}) {
            SCOPED_TRACE(jobs);
            const Outcome outcome = run(QStringList{"-j", jobs} + c.options + QStringList{site, single});
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(outcome.out, c.expected);
            EXPECT_EQ(outcome.err, QByteArray());
        }
    }

    // The formats are for printed rows.
    const Outcome unknown = run({"--format", "xml", single});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "quillory-extract: the format must be text, tsv or jsonl, not 'xml'\n"
                           "Try 'quillory-extract --help'.\n");
    const Outcome saving = run({"-H", "--save-text", dir.path() + "/out.txt", single});
    EXPECT_EQ(saving.status, 2);
    EXPECT_FALSE(QFile::exists(dir.path() + "/out.txt"));
}

// The cases that once came out wrong, end to end: a Japanese page whose decoding lost step after
// the first character (and every element after it), text holding NUL bytes, repeated and nameless
// attributes, and a page nested deeper than a browser nests.
TEST(QuilloryExtract, PagesComeOutAsABrowserBuildsThem)
{
    TempDir dir;
    const QString japanese =
        dir.write("ja.html", "<meta charset=\"shift_jis\"><p>\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65"
                             "\x83\x4C\x83\x58\x83\x67</p><p>two</p>");
    const QString korean =
        dir.write("ko.html", "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=euc-kr\">"
                             "<p>x\x81\x41y</p>");
    const QString nul = dir.write("nulbytes.html", QByteArray("<p>a\0b</p><p class=\"A\" id=\"x\" class=\"b\">t</p>"
                                                              "<input type=\"checkbox\" checked />",
                                                              78));
    QByteArray deepPage;
    for (int i = 0; i < 515; ++i)
        deepPage += "<div>";
    const QString deep = dir.write("deep.html", deepPage + "x");

    const struct
    {
        const char* name;
        QStringList arguments;
        QByteArray out;
    } cases[] = {
        {"Shift_JIS text",
         {"-m", "1", japanese},
         "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xAE\xE3\x83\x86\xE3\x82\xAD\xE3\x82\xB9\xE3\x83\x88\ntwo\n"},
        {"every element after it", {"-m", "4", japanese}, "html\nhead\nmeta\nbody\np\np\n"},
        {"windows-949 under the label euc-kr", {"-m", "1", korean}, "x\xEA\xB0\x82y\n"},
        {"NUL dropped, first attribute kept, no nameless one",
         {"-m", "2", "-t", "body", nul},
         "<tr>\n<p>ab</p><p class=\"a\" id=\"x\">t</p><input type=\"checkbox\" checked=\"\">\n</tr>\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = run(c.arguments);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.err, QByteArray());
        EXPECT_EQ(outcome.out, c.out);
    }
    // Option 2 on the deep page: the 510th div holds the last five side by side, and text still
    // goes into the last one opened.
    const QByteArray rows = run({"-m", "2", "-t", "div", deep}).out;
    EXPECT_TRUE(rows.endsWith("<tr>\n<div></div><div></div><div></div><div></div><div>x</div>\n</tr>\n"
                              "<tr>\n</tr>\n<tr>\n</tr>\n<tr>\n</tr>\n<tr>\n</tr>\n<tr>\nx\n</tr>\n"));
}

// Option 3 reads a file a few megabytes at a time: a matching line longer than that is written as it is read again,
// and must come out as the whole row would, byte for byte, in every format.
TEST(QuilloryExtract, AMatchingLineLongerThanWhatOption3HoldsComesOutWholeInEveryFormat)
{
    TempDir dir;
    // 12 MB on one line, holding what the formats escape and characters the code page spells in one byte and UTF-8
    // in two or three; the text at its very end.
    const QByteArray unit = "ab\tc\\d\"e\x80\xE9\r";
    const QByteArray longLine = unit.repeated(12 * 1024 * 1024 / unit.size()) + "One";
    const QString first = native(dir.write("first.txt", "one 1\n"));
    const QString big = native(dir.write("big.txt", "two\r\n" + longLine + "\r\nlast one\n"));
    const QByteArray row = QByteArray("abc\\d\"e\xE2\x82\xAC\xC3\xA9").repeated(longLine.size() / unit.size()) + "One";
    // The row of the long line as each format writes it.
    const QByteArray tsvRow = QByteArray(row).replace("\\", "\\\\");
    const QByteArray jsonRow = QByteArray(tsvRow).replace("\"", "\\\"");
    const QByteArray ansiRow = QByteArray("abc\\d\"e\x80\xE9").repeated(longLine.size() / unit.size()) + "One";
    const QByteArray f = first.toUtf8();
    const QByteArray b = big.toUtf8();
    const QByteArray fe = escaped(first);
    const QByteArray be = escaped(big);
    const auto json = [](const QByteArray& file, const QByteArray& row) {
        return "{\"file\": \"" + file + "\", \"row\": \"" + row + "\"}\n";
    };
    const struct
    {
        const char* name;
        QStringList options;
        QByteArray expected;
        bool saved = false;
    } cases[] = {
        {"text", {}, "one 1\n" + row + "\nlast one\n"},
        {"text with names", {"-H"}, f + "\tone 1\n" + b + "\t" + row + "\n" + b + "\tlast one\n"},
        {"tsv", {"--format", "tsv"}, fe + "\tone 1\n" + be + "\t" + tsvRow + "\n" + be + "\tlast one\n"},
        {"jsonl", {"--format", "jsonl"}, json(fe, "one 1") + json(be, jsonRow) + json(be, "last one")},
        {"text save", {"--save-text", dir.path() + "/out.txt"}, "one 1\r\n" + ansiRow + "\r\nlast one\r\n", true},
        {"comma-delimited save", {"--save-csv", dir.path() + "/out.txt"}, "one 1," + ansiRow + ",last one,\r\n", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* jobs : {"1", "2"}) {
            SCOPED_TRACE(jobs);
            const Outcome outcome =
                run(QStringList{"-j", jobs, "-m", "3", "-s", "ONE"} + c.options + QStringList{first, big});
            EXPECT_EQ(outcome.status, 0);
            EXPECT_EQ(outcome.err, QByteArray());
            const QByteArray written = c.saved ? dir.read("out.txt") : outcome.out;
            // Not EXPECT_EQ: a failure would print megabytes.
            EXPECT_EQ(written.size(), c.expected.size());
            EXPECT_TRUE(written == c.expected);
        }
    }
}

#ifdef Q_OS_LINUX
// The command line in a memory control group (a container's limit) of 256 MB, over a line of 120 MB that matches
// between two small files: held whole, the file, its row and the row's output would take three times the line, and
// the kernel would end the program with nothing written. Read a piece at a time, every row comes out. The test makes
// a group of its own, when it may.
TEST(QuilloryExtract, ALongMatchingLineFitsInAMemoryGroupSmallerThanItsCopies)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own memory would be counted against the group";
#endif
    QFile self(QStringLiteral("/proc/self/cgroup"));
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    QString memoryGroup;
    for (const QByteArray& line : self.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() >= 3 && fields[1].split(',').contains("memory"))
            memoryGroup = QStringLiteral("/sys/fs/cgroup/memory") + QString::fromUtf8(fields[2]);
    }
    const QString group = memoryGroup + QStringLiteral("/quillory-lines-%1").arg(QCoreApplication::applicationPid());
    if (memoryGroup.isEmpty() || !QDir().mkdir(group))
        GTEST_SKIP() << "no memory group can be made here";
    QFile limit(group + "/memory.limit_in_bytes");
    if (!limit.open(QIODevice::WriteOnly) || limit.write("268435456") != 9 || !limit.flush()) {
        QDir().rmdir(group);
        GTEST_SKIP() << "the memory group cannot be limited";
    }
    limit.close();

    TempDir dir;
    const QString small = dir.write("small.html", "<p>one</p>\n<p>two</p>\n");
    const qsizetype lineBytes = qsizetype(120) << 20;
    {
        QFile big(dir.path() + "/big.html");
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 20, 'x');
        ASSERT_EQ(big.write("<p>One "), 7);
        for (qsizetype written = 0; written < lineBytes; written += block.size())
            ASSERT_EQ(big.write(block), block.size());
        ASSERT_EQ(big.write("</p>\n"), 5);
    }
    // The shell joins the group and becomes the program, whose output goes to this process, outside the group.
    QProcess process;
    process.start("/bin/sh",
                  {"-c", "echo $$ > \"$0/cgroup.procs\" && exec \"$@\"", group, QStringLiteral(QUILLORY_EXTRACT_PATH),
                   "-m", "3", "-s", "one", small, dir.path() + "/big.html", small});
    const bool finished = process.waitForFinished(120000);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QDir().rmdir(group);
    ASSERT_TRUE(finished);
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(err, QByteArray());
    const QByteArray expected = "<p>one</p>\n<p>One " + QByteArray(lineBytes, 'x') + "</p>\n<p>one</p>\n";
    EXPECT_EQ(out.size(), expected.size());
    EXPECT_TRUE(out == expected);
}
#endif
