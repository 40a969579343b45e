#include "InputFileList.h"

#include "QtPrinters.h"

#include <QAbstractItemModelTester>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Tester = QAbstractItemModelTester;

// What the views see, each row in brackets so that empty rows show.
std::string shownRows(const InputFileList& list)
{
    QString rows;
    for (int row = 0; row < list.rowCount(); ++row)
        rows += '[' + list.index(row).data().toString() + ']';
    return rows.toStdString();
}

TEST(InputFileList, IsInListComparesWholeTextsExactly)
{
    InputFileList list;
    list.AppendMany({"/home/me/a.htm", "/home/me/Page.HTM", "/home/me/a.htm"});
    const std::vector<std::pair<QString, bool>> cases{
        {"/home/me/a.htm", true}, {"/home/me/Page.HTM", true}, {"/home/me/A.htm", false}, {"/home/me/page.htm", false},
        {"/home/me/a.ht", false}, {"/home/me/a.htm ", false},  {"home/me/a.htm", false},  {"", false},
    };
    for (const auto& [path, expected] : cases) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(list.IsInList(path), expected);
    }
}

TEST(InputFileList, RemoveAtMovesLaterItemsUp)
{
    const std::vector<std::pair<int, std::string>> cases{{1, "[b][a][]"}, {2, "[a][a][]"}, {4, "[a][b][a]"}};
    for (const auto& [position, expected] : cases) {
        SCOPED_TRACE(position);
        InputFileList list;
        Tester tester(&list, Tester::FailureReportingMode::Warning);
        list.Append("a");
        list.AppendMany({"b", "a", ""});
        QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
        list.RemoveAt(position);
        EXPECT_EQ(shownRows(list), expected);
        ASSERT_EQ(removed.count(), 1);
        EXPECT_EQ(removed[0][1].toInt(), position - 1);
    }
}

TEST(InputFileList, SwapTextsExchangesTextsInPlace)
{
    InputFileList list;
    Tester tester(&list, Tester::FailureReportingMode::Warning);
    list.AppendMany({"a", "b", "c"});
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.SwapTexts(3, 1);
    EXPECT_EQ(shownRows(list), "[c][b][a]");
    ASSERT_EQ(changed.count(), 2);
    EXPECT_EQ(changed[0][0].toModelIndex().row() + changed[1][0].toModelIndex().row(), 2);
    EXPECT_NE(changed[0][0], changed[1][0]);
}

// No model tester here: it checks the whole list after every insertion, so a fault that inserted path by path would
// run for hours instead of failing.
TEST(InputFileList, AppendManyOfAFolderScanIsOneInsertion)
{
    InputFileList list;
    list.AppendMany({"/first", "/second"});
    QStringList paths;
    for (int i = 0; i < 100'000; ++i)
        paths.append(QStringLiteral("/scan/page%1.htm").arg(i));
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QElapsedTimer clock;
    clock.start();
    list.AppendMany(paths);
    list.AppendMany({});
    EXPECT_LT(clock.elapsed(), 2000);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 2);
    EXPECT_EQ(inserted[0][2].toInt(), 100'001);
    EXPECT_EQ(list.ItemText(100'002), "/scan/page99999.htm");
}

} // namespace
