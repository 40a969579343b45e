#include "ResultsExport.h"

#include "FakeEventPump.h"
#include "QtPrinters.h"
#include "ResultsFormat.h"
#include "ResultsList.h"
#include "RowBatch.h"
#include "SampleRows.h"
#include "TempDir.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

enum class Save
{
    Text,
    CommaDelimited,
};

std::optional<ExportFailure> save(Save kind, const QString& path, const ResultsList& results, EventPump& events)
{
    return kind == Save::Text ? SaveResultsAsText(path, results, events)
                              : SaveResultsAsCommaDelimited(path, results, events);
}

QByteArray expectedFile(Save kind, const QStringList& rows)
{
    return kind == Save::Text ? ResultsFormat::textFile(rows) : ResultsFormat::commaDelimitedFile(rows);
}

void fill(ResultsList& results, int rows)
{
    for (int row = 1; row <= rows; ++row)
        ASSERT_TRUE(results.Append(QStringLiteral("row %1").arg(row)));
}

// The window numbers a failed save by its step, so each failure must name the step where it really happened.
struct Case
{
    const char* name;
    Save kind;
    int rows;
    ExportStep step;
    QString description;
};

} // namespace

TEST(ResultsExport, AFailedSaveNamesItsStepAndLeavesTheTargetAsItWas)
{
#ifdef Q_OS_WIN
    // The system's own words for ERROR_PATH_NOT_FOUND (3), which differ between Windows and Wine.
    const QString gone = QStringLiteral("Path/File access error (%1)").arg(qt_error_string(3));
#else
    const QString gone = QStringLiteral("Path/File access error (No such file or directory)");
#endif
    const QString rowGone = QStringLiteral("Invalid property value (row 2 is gone)");
    // "missing" saves into a folder that does not exist; the others over an old file, clearing the list under the
    // save after its first row.
    const std::vector<Case> cases{
        {"text, missing folder", Save::Text, 3, ExportStep::OpenTarget, gone},
        {"comma, missing folder", Save::CommaDelimited, 3, ExportStep::OpenTarget, gone},
        {"text, list cleared", Save::Text, 3, ExportStep::ReadRow, rowGone},
        {"comma, list cleared", Save::CommaDelimited, 3, ExportStep::ReadRow, rowGone},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        ResultsList results;
        fill(results, c.rows);
        FakeEventPump events;
        QString path;
        if (c.step == ExportStep::OpenTarget) {
            path = folder.path() + QStringLiteral("/missing/out.txt");
        } else {
            path = folder.write(QStringLiteral("out.txt"), "the old file\r\n");
            events.onCall(2, [&] { results.Clear(); });
        }

        const std::optional<ExportFailure> failure = save(c.kind, path, results, events);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->step, c.step);
        EXPECT_EQ(failure->description.toStdString(), c.description.toStdString());
        if (c.step == ExportStep::OpenTarget) {
            EXPECT_FALSE(QFileInfo::exists(path));
        } else {
            EXPECT_EQ(folder.read(QStringLiteral("out.txt")), QByteArray("the old file\r\n"));
            EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.txt"});
        }
    }
}

// Windows: it has no device that is always full, as /dev/full is.
#ifdef Q_OS_UNIX
// A device is written as it stands, so a full one fails at the write that reaches it: the last one, when every row
// fits in the buffer, otherwise the row's own.
TEST(ResultsExport, AFullDeviceFailsAtTheWriteThatReachesIt)
{
    const QString full = QStringLiteral("/dev/full");
    if (!QFileInfo(full).exists())
        GTEST_SKIP() << "this system has no /dev/full";
    const QString noSpace = QStringLiteral("Path/File access error (No space left on device)");
    const std::vector<Case> cases{
        {"text, a few rows", Save::Text, 2, ExportStep::CommitTextFile, noSpace},
        {"comma, a few rows", Save::CommaDelimited, 2, ExportStep::CommitCommaFile, noSpace},
        {"text, more than a buffer", Save::Text, 5000, ExportStep::WriteTextLine, noSpace},
        {"comma, more than a buffer", Save::CommaDelimited, 5000, ExportStep::WriteCommaField, noSpace},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResultsList results;
        fill(results, c.rows);
        FakeEventPump events;
        const std::optional<ExportFailure> failure = save(c.kind, full, results, events);
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->step, c.step);
        EXPECT_EQ(failure->description.toStdString(), c.description.toStdString());
    }
}
#endif

// The saves read the rows' UTF-8 as the list keeps it; the files must hold the bytes that saving the rows' texts gives.
TEST(ResultsExport, EveryKindOfRowIsSavedAsItsTextWouldBe)
{
    ResultsList results;
    QStringList texts;
    RowBatch batch;
    for (const ByteRow& row : everyKindOfRow()) {
        const QString text = QString::fromUtf8(row.bytes.data(), qsizetype(row.bytes.size()));
        ASSERT_TRUE(results.AppendUtf8(row.bytes));
        batch.append(row.bytes);
        texts << text;
    }
    for (const ByteRow& row : everyKindOfRow())
        texts << QString::fromUtf8(row.bytes.data(), qsizetype(row.bytes.size()));
    ASSERT_EQ(results.Append(std::move(batch)), qsizetype(everyKindOfRow().size()));
    // A row of its own block, longer than a slice of the save, of characters of every length.
    QString large;
    while (large.toUtf8().size() <= ResultsList::kBlockBytes)
        large += QStringLiteral("a\u00E9\u20AC\u4E2D\U0001F600 ").repeated(100'000);
    ASSERT_TRUE(results.Append(large));
    texts << large;
    ASSERT_TRUE(results.Texts() == texts);

    for (const Save kind : {Save::Text, Save::CommaDelimited}) {
        SCOPED_TRACE(int(kind));
        TempDir folder;
        FakeEventPump events;
        const QString path = folder.path() + QStringLiteral("/out.txt");
        ASSERT_FALSE(save(kind, path, results, events).has_value());
        EXPECT_TRUE(folder.read(QStringLiteral("out.txt")) == expectedFile(kind, texts));
    }
}

// A long row is written in slices with an event pass between them, and is the same in the file as if written whole.
TEST(ResultsExport, ALongRowIsSavedInSlicesWithTheWindowBreathingBetween)
{
    // Ten bytes of UTF-8 a round: after "a", the slices are cut inside a character of four bytes, then of three;
    // after "abc", inside one of two bytes, then of three.
    const QString round = QStringLiteral("\u00E9\U0001F600\u4E2Dz").repeated((3 * kSaveSliceBytes + 1000) / 10);
    const struct
    {
        const char* name;
        QString row;
    } rows[] = {
        {"ASCII", QString(3 * kSaveSliceBytes + 1000, u'x')},
        {"cut after 3 and 2 bytes", QStringLiteral("a") + round},
        {"cut after 1 and 2 bytes", QStringLiteral("abc") + round},
    };
    for (const auto& [name, row] : rows) {
        for (const Save kind : {Save::Text, Save::CommaDelimited}) {
            SCOPED_TRACE(testing::Message() << name << ", save " << int(kind));
            const QStringList texts{QStringLiteral("first"), row, QStringLiteral("last")};
            ResultsList results;
            for (const QString& text : texts)
                ASSERT_TRUE(results.Append(text));
            TempDir folder;
            FakeEventPump events;
            int rowsDone = 0;
            const QString path = folder.path() + QStringLiteral("/out.txt");
            const auto failure = kind == Save::Text ? SaveResultsAsText(path, results, events, &rowsDone)
                                                    : SaveResultsAsCommaDelimited(path, results, events, &rowsDone);
            ASSERT_FALSE(failure.has_value());
            EXPECT_TRUE(folder.read(QStringLiteral("out.txt")) == expectedFile(kind, texts));
            // One pass before each row, and one between each two of the long row's four slices.
            EXPECT_EQ(events.calls(), 3 + 3);
            EXPECT_EQ(rowsDone, 3);
        }
    }
}

// The list cleared between two slices of a long row takes the row's bytes with it.
TEST(ResultsExport, ALongRowClearedAwayMidSaveFailsTheSave)
{
    for (const Save kind : {Save::Text, Save::CommaDelimited}) {
        SCOPED_TRACE(int(kind));
        ResultsList results;
        ASSERT_TRUE(results.Append(QStringLiteral("first")));
        ASSERT_TRUE(results.Append(QString(2 * kSaveSliceBytes, u'y')));
        for (const bool refilled : {false, true}) {
            TempDir folder;
            const QString path = folder.write(QStringLiteral("out.txt"), "the old file\r\n");
            FakeEventPump events;
            // Passes 1 and 2 come before the rows; pass 3 between the long row's slices.
            events.onCall(3, [&] {
                results.Clear();
                if (refilled) {
                    results.Append(QStringLiteral("a new run"));
                    results.Append(QStringLiteral("with other rows"));
                }
            });
            const std::optional<ExportFailure> failure = save(kind, path, results, events);
            ASSERT_TRUE(failure.has_value());
            EXPECT_EQ(failure->step, ExportStep::ReadRow);
            EXPECT_EQ(failure->description.toStdString(), "Invalid property value (row 2 is gone)");
            EXPECT_EQ(folder.read(QStringLiteral("out.txt")), QByteArray("the old file\r\n"));
            results.Clear();
            results.Append(QStringLiteral("first"));
            results.Append(QString(2 * kSaveSliceBytes, u'y'));
        }
    }
}
