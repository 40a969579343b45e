#include "ProgressLine.h"

#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

QByteArray contents(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    QByteArray bytes;
    char block[4096];
    for (std::size_t count; (count = std::fread(block, 1, sizeof block, file)) > 0;)
        bytes.append(block, qsizetype(count));
    return bytes;
}

} // namespace

TEST(ProgressLine, TellsTheFilesTheRowsAndTheSpeed)
{
    EXPECT_EQ(ProgressLine::Text(37, 2000, 81234, 52.4e6), "37/2000 files, 81,234 rows, 52 MB/s");
    // A list read as the run goes has no count yet.
    EXPECT_EQ(ProgressLine::Text(5, 0, 0, 0), "5 files, 0 rows, 0 MB/s");
    EXPECT_EQ(ProgressLine::Text(1, 1, 1234567, 1.5e6), "1/1 files, 1,234,567 rows, 2 MB/s");
}

// The line waits for the first second, is rewritten in place, and is taken off before other messages: with a
// terminal's escape to erase the rest of the line, or with spaces where a console takes no escapes.
TEST(ProgressLine, IsRewrittenInPlaceAndErasedWithAnEscapeOrWithSpaces)
{
    for (const bool escapes : {true, false}) {
        SCOPED_TRACE(escapes ? "escapes" : "spaces");
        std::FILE* file = std::tmpfile();
        ASSERT_TRUE(file);
        ProgressLine line(file, true, 3, escapes);
        line.fileFinished(0);
        line.clear();
        EXPECT_EQ(contents(file), QByteArray()) << "shown before a second had passed";
        QThread::msleep(1050);
        line.rowsDelivered(1234);
        // Within 200 ms of the last change: not rewritten.
        line.rowsDelivered(1);
        line.clear();
        line.fileFinished(0);
        line.clear();
        line.clear();
        const QByteArray first = "1/3 files, 1,234 rows, 0 MB/s";
        const QByteArray second = "2/3 files, 1,235 rows, 0 MB/s";
        const QByteArray erase = escapes ? QByteArray("\r\x1b[K") : "\r" + QByteArray(first.size(), ' ') + "\r";
        const QByteArray end = escapes ? QByteArray("\x1b[K") : QByteArray();
        EXPECT_EQ(contents(file), "\r" + first + end + erase + "\r" + second + end + erase);
        std::fclose(file);
    }
}
