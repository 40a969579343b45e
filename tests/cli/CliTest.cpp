#include "TempDir.h"

#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

#include <string>

#include <signal.h>
#include <sys/resource.h>

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
            process.readAllStandardError()};
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
    const QString first = dir.write("first.html", "<table><tr><td>A</td><td>b</td></tr></table>");
    const QString second = dir.write("second.html", "<p>caf\xE9</p>");
    const QString missing = dir.path() + "/missing.html";

    const Outcome outcome = run({first, missing, second});
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.out, "A\nb\ncaf\xC3\xA9\n");
    EXPECT_EQ(outcome.err, "quillory-extract: " + missing.toUtf8() + ": File not found (step 128)\n");

    const Outcome lines = run({"-m", "3", missing, first});
    EXPECT_EQ(lines.err, "quillory-extract: " + missing.toUtf8() + ": File not found (step 168)\n");
    EXPECT_EQ(run({"-m", "4", missing}).err, "quillory-extract: " + missing.toUtf8() + ": File not found (step 180)\n");
    EXPECT_EQ(run({"-m", "2", missing}).err, "quillory-extract: " + missing.toUtf8() + ": File not found (step 144)\n");

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

    const Outcome unwritable = run({"--save-text", dir.path() + "/no-such-folder/out.txt", page});
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_TRUE(unwritable.err.startsWith("quillory-extract: " + dir.path().toUtf8() +
                                          "/no-such-folder/out.txt: could not be saved"))
        << unwritable.err.toStdString();

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
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: quillory-extract "));
    const Outcome version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillory-extract " QUILLORY_VERSION "\n");

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

    EXPECT_EQ(run({dir.path() + "/site", single}).out, "a\nb\nc\nsingle\n");
    EXPECT_EQ(run({"--jobs", "3", dir.path() + "/site", single}).out, "a\nb\nc\nsingle\n");
    const Outcome htm = run({"--ext", "htm", dir.path() + "/site"});
    EXPECT_EQ(htm.status, 0);
    EXPECT_EQ(htm.out, "a\nc\n");
}
