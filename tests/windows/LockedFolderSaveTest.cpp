// Saving over a file in a folder that refuses new files. CTest gives the folder (tests/windows.cmake locks it through
// the file system, which binds an administrator too); elsewhere these skip.

#include "SaveFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

// A file's content as the transcript shows it: short ones as they stand, long ones by their size.
QString shown(const QString& path)
{
    const QByteArray bytes = contents(path);
    return bytes.size() > 100 ? QStringLiteral("%1 bytes").arg(bytes.size()) : QString::fromLatin1(bytes);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

} // namespace

// The rows wait elsewhere and reach the target only once complete: a save given up part-way leaves the old content,
// and nothing is left in the folder or the temporary folder.
TEST(LockedFolderSave, TheTargetShowsItsOldContentUntilTheRowsAreComplete)
{
    const QString folder = qEnvironmentVariable("QUILLORY_LOCKED_FOLDER");
    if (folder.isEmpty())
        GTEST_SKIP() << "the suite gives the locked folder";
    QFile probe(folder + "/probe.txt");
    if (probe.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        probe.remove();
        GTEST_SKIP() << "the folder takes new files here";
    }
    const QString target = folder + "/target.txt";
    ASSERT_EQ(contents(target), "old content\n");
    QTemporaryDir temporary;
    ASSERT_TRUE(temporary.isValid());
    const QByteArray previousTmp = qgetenv("TMP");
    qputenv("TMP", QDir::toNativeSeparators(temporary.path()).toLocal8Bit());

    QStringList transcript;
    {
        SaveFile file(target);
        ASSERT_TRUE(file.open()) << file.errorString().toStdString();
        // More than the buffer holds, so that rows reach the disk.
        ASSERT_TRUE(file.write(QByteArray(100000, 'x')));
        transcript << "while written: " + shown(target);
        file.cancel();
        transcript << "given up: " + shown(target);
    }
    for (const QByteArray& rows : {QByteArray(100000, 'y'), QByteArray("new\r\n")}) {
        SaveFile file(target);
        const bool saved = file.open() && file.write(rows) && file.commit();
        transcript << (saved ? "saved: " : "failed: ") + shown(target);
    }
    SaveFile refused(folder + "/new.txt");
    transcript << (refused.open() ? "a new file: opened" : "a new file: refused");

    EXPECT_EQ(transcript.join(u'|').toStdString(), "while written: old content\n|given up: old content\n|"
                                                   "saved: 100000 bytes|saved: new\r\n|a new file: refused");
    EXPECT_EQ(contents(target), "new\r\n");
    EXPECT_EQ(entries(folder), QStringList({"target.txt"}));
    EXPECT_EQ(entries(temporary.path()), QStringList());
    qputenv("TMP", previousTmp);
}
