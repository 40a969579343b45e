#include "ResultsExport.h"

#include "FakeEventPump.h"
#include "QtPrinters.h"
#include "ResultsList.h"
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
