#include "ResultsList.h"

#include "QtPrinters.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Tester = QAbstractItemModelTester;
using Insertions = std::vector<std::pair<int, int>>;

// Long enough for the event loop to run any announcement that is due, paced ones included.
void letEventsRun()
{
    QTest::qWait(ResultsList::kPaceMs * 3);
}

// What the views see, each row in brackets so that empty rows show.
std::string shownRows(const ResultsList& list)
{
    QString rows;
    for (int row = 0; row < list.rowCount(); ++row)
        rows += '[' + list.index(row).data().toString() + ']';
    return rows.toStdString();
}

Insertions insertions(const QSignalSpy& spy)
{
    Insertions ranges;
    for (const auto& signal : spy)
        ranges.emplace_back(signal[1].toInt(), signal[2].toInt());
    return ranges;
}

TEST(ResultsList, RowsAreReadableAtOnceAndAnnouncedInBatches)
{
    struct Scenario
    {
        // a: append the next number ("1", "2", ...), e: append an empty row, d: append the last row again,
        // c: Clear, f: Flush, l: let the event loop run.
        const char* steps;
        std::vector<int> rowCountAfterEachStep;
        const char* finalRows;
        Insertions insertions;
    };
    const std::vector<Scenario> scenarios{
        {"aaal", {0, 0, 0, 3}, "[1][2][3]", {{0, 2}}},
        {"alaal", {0, 1, 1, 1, 3}, "[1][2][3]", {{0, 0}, {1, 2}}},
        {"edel", {0, 0, 0, 3}, "[][][]", {{0, 2}}},
        {"aacal", {0, 0, 0, 0, 1}, "[1]", {{0, 0}}},
        {"alcaf", {0, 1, 0, 0, 1}, "[1]", {{0, 0}, {0, 0}}},
        {"aaflc", {0, 0, 2, 2, 0}, "", {{0, 1}}},
        {"aflcf", {0, 1, 1, 0, 0}, "", {{0, 0}}},
        {"afadfl", {0, 1, 1, 1, 3, 3}, "[1][2][2]", {{0, 0}, {1, 2}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.steps);
        ResultsList list;
        Tester tester(&list, Tester::FailureReportingMode::Warning);
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        QStringList stored;
        for (int step = 0; scenario.steps[step]; ++step) {
            const char action = scenario.steps[step];
            if (action == 'a' || action == 'e' || action == 'd') {
                stored.append(action == 'a' ? QString::number(stored.size() + 1) : action == 'd' ? stored.last() : "");
                list.Append(stored.last());
            }
            if (action == 'c') {
                stored.clear();
                list.Clear();
            }
            if (action == 'f')
                list.Flush();
            if (action == 'l')
                letEventsRun();
            ASSERT_EQ(list.Count(), stored.size());
            for (int position = 1; position <= list.Count(); ++position)
                EXPECT_EQ(list.Text(position), stored[position - 1]);
            EXPECT_EQ(list.rowCount(), scenario.rowCountAfterEachStep.at(step)) << "after step " << step + 1;
        }
        EXPECT_EQ(shownRows(list), scenario.finalRows);
        EXPECT_EQ(insertions(inserted), scenario.insertions);
    }
}

// A view may append from within the model's own notifications; its row must wait for the next announcement.
TEST(ResultsList, AppendingFromANotificationKeepsTheModelConsistent)
{
    ResultsList list;
    Tester tester(&list, Tester::FailureReportingMode::Warning);
    list.Append("x");
    list.Flush();
    auto once = QObject::connect(&list, &QAbstractItemModel::rowsAboutToBeInserted, [&] { list.Append("z"); });
    QObject::connect(&list, &QAbstractItemModel::rowsInserted, [&] { QObject::disconnect(once); });
    list.Append("y");
    list.Flush();
    letEventsRun();
    EXPECT_EQ(shownRows(list), "[x][y][z]");

    QObject::connect(&list, &QAbstractItemModel::modelReset, [&] { list.Append("after"); });
    list.Clear();
    letEventsRun();
    EXPECT_EQ(shownRows(list), "[after]");
}

// No model tester here: it checks the whole list after every insertion, so a fault that inserted row by row would
// run for hours instead of failing.
TEST(ResultsList, ALargeExtractionIsOneInsertion)
{
    ResultsList list;
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 300'000; ++i)
        list.Append(QString::number(i));
    EXPECT_EQ(list.rowCount(), 0);
    letEventsRun();
    EXPECT_EQ(insertions(inserted), Insertions({{0, 299'999}}));
    EXPECT_EQ(list.index(299'999).data().toString(), "299999");

    // Rows are kept in blocks; every row reads back as appended, at the blocks' edges too.
    const QStringList texts = list.Texts();
    ASSERT_EQ(texts.size(), 300'000);
    for (int i = 0; i < 300'000; ++i) {
        ASSERT_EQ(texts[i], QString::number(i));
        ASSERT_EQ(list.Text(i + 1), texts[i]);
    }
    for (const int row : {65'535, 65'536, 131'071, 131'072, 262'144})
        EXPECT_EQ(list.index(row).data().toString(), QString::number(row));
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    list.Append("again");
    EXPECT_EQ(list.Texts(), QStringList({"again"}));
}

} // namespace
