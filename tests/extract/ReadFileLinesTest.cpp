#include "LineList.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

QStringList linesOf(const Result<LineList>& lines)
{
    QStringList texts;
    for (qsizetype k = 0; k < lines->count(); ++k)
        texts.append(lines->text(k));
    return texts;
}

} // namespace

TEST(ReadFileLines, SplitsAtLineFeedsAndKeepsEverythingElse)
{
    const struct
    {
        const char* name;
        QByteArray bytes;
        QStringList expected;
    } cases[] = {
        {"empty file gives one empty line", QByteArray(), {QString()}},
        {"three lines", "one\ntwo\nthree", {"one", "two", "three"}},
        {"CR LF terminators", "one\r\ntwo\r\n", {"one", "two"}},
        {"a final terminator opens no line", "a\n", {"a"}},
        {"a lone terminator is one empty line", "\n", {QString()}},
        {"blank lines are lines", "a\n\n\nb", {"a", "", "", "b"}},
        {"a lone CR stays in its line", "a\rb\nc\r", {"a\rb", "c\r"}},
        {"a CR before CR LF stays", "a\r\r\nb", {"a\r", "b"}},
        {"tabs and NUL bytes stay", QByteArray("a\tb\0c\n", 6), {QString("a\tb") + QChar(0) + "c"}},
        {"bytes above 127 are code-page characters",
         "caf\xE9 \x80\n\x93q\x94",
         {QStringLiteral("caf\u00E9 \u20AC"), QStringLiteral("\u201Cq\u201D")}},
        {"UTF-16 is read byte by byte, its mark too",
         QByteArray("\xFF\xFE"
                    "A\0\n\0",
                    6),
         {QStringLiteral("\u00FF\u00FEA") + QChar(0), QString(QChar(0))}},
        {"a UTF-8 mark is not honoured", "\xEF\xBB\xBFx", {QStringLiteral("\u00EF\u00BB\u00BFx")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const Result<LineList> lines = ReadFileLines(dir.write("f.txt", c.bytes));
        ASSERT_TRUE(lines.ok());
        EXPECT_EQ(linesOf(lines), c.expected);
        for (qsizetype k = 0; k < lines->count(); ++k)
            EXPECT_FALSE(lines->bytes(k).contains('\n'));
    }
}

TEST(ReadFileLines, FailsWithADescriptionForWhatCannotBeRead)
{
    TempDir dir;
    QDir(dir.path()).mkdir("folder");
    const struct
    {
        QString path;
        QString description;
    } cases[] = {
        {dir.path() + "/missing.txt", "File not found"},
        {dir.path() + "/no-such-folder/missing.txt", "Path not found"},
        {dir.path() + "/folder", "Permission denied (the path is a folder, not a file)"},
        {QString(), "Bad file name or number"},
        {"/dev/zero", "Bad file mode (not a regular file)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const Result<LineList> lines = ReadFileLines(c.path);
        ASSERT_FALSE(lines.ok());
        EXPECT_EQ(lines.failure().description, c.description);
    }
}

TEST(ReadFileLines, UnreadableFileIsPermissionDenied)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    TempDir dir;
    const QString path = dir.write("locked.txt", "x");
    QFile::setPermissions(path, QFileDevice::WriteOwner);
    const Result<LineList> lines = ReadFileLines(path);
    ASSERT_FALSE(lines.ok());
    EXPECT_EQ(lines.failure().description, "Permission denied");
}
