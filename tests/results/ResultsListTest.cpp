#include "ResultsList.h"

#include "QtPrinters.h"
#include "RowBatch.h"
#include "SampleRows.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <string_view>
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
        // b: append the next two numbers as one batch, n: append an empty batch, c: Clear, f: Flush, l: let the event
        // loop run.
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
        {"abl", {0, 0, 3}, "[1][2][3]", {{0, 2}}},
        {"blbf", {0, 2, 2, 4}, "[1][2][3][4]", {{0, 1}, {2, 3}}},
        {"nlanl", {0, 0, 0, 0, 1}, "[1]", {{0, 0}}},
        {"bcbl", {0, 0, 0, 2}, "[1][2]", {{0, 1}}},
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
            if (action == 'b') {
                RowBatch batch;
                for (int i = 0; i < 2; ++i) {
                    stored.append(QString::number(stored.size() + 1));
                    batch.append(stored.last().toStdString());
                }
                EXPECT_EQ(list.Append(std::move(batch)), 2);
            }
            if (action == 'n') {
                EXPECT_EQ(list.Append(RowBatch()), 0);
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

enum class Way
{
    OneByOne,
    Batch,
    BatchAfterBlock, // a batch copied into a block that holds rows already
    LargeBatch,      // a batch the list keeps as it stands
};

// Appends the rows the given way, with filler rows around them where the way needs them; returns the texts of every
// row of the list, as QString::fromUtf8 shows the bytes.
QStringList appendRows(ResultsList& list, const std::vector<std::string>& rows, Way way)
{
    QStringList texts;
    const auto appendFiller = [&](std::size_t size) {
        const std::string filler(size, 'f');
        EXPECT_TRUE(list.AppendUtf8(filler));
        texts.append(QString::fromStdString(filler));
    };
    if (way == Way::BatchAfterBlock)
        appendFiller(1000);
    RowBatch batch;
    for (const std::string& row : rows) {
        texts.append(QString::fromUtf8(row.data(), qsizetype(row.size())));
        if (way == Way::OneByOne)
            EXPECT_TRUE(list.AppendUtf8(row));
        else
            batch.append(row);
    }
    if (way == Way::LargeBatch) {
        const std::string filler(std::size_t(ResultsList::kAdoptedBatchBytes), 'g');
        batch.append(filler);
        texts.append(QString::fromStdString(filler));
    }
    if (way != Way::OneByOne) {
        EXPECT_EQ(list.Append(std::move(batch)), texts.size() - (way == Way::BatchAfterBlock));
        appendFiller(10);
    }
    return texts;
}

TEST(ResultsList, EveryKindOfRowReadsBackAsQStringFromUtf8ShowsIt)
{
    // A batch with a row to mend goes row by row; one without is stored as it stands: both, each way.
    std::vector<std::string> all;
    std::vector<std::string> asTheyStand;
    for (const ByteRow& row : everyKindOfRow()) {
        all.push_back(row.bytes);
        if (QString::fromStdString(row.bytes).toStdString() == row.bytes)
            asTheyStand.push_back(row.bytes);
    }
    ASSERT_LT(asTheyStand.size(), all.size());
    // Valid UTF-8 as a whole, but not row by row.
    const std::vector<std::string> splitCharacter{"x\xC3", "\xA9y"};
    const std::vector<std::string> markAfterARow{"a", "\xEF\xBB\xBF<b>"};
    for (const auto& [rows, way] : std::vector<std::pair<std::vector<std::string>, Way>>{
             {all, Way::OneByOne},
             {all, Way::Batch},
             {all, Way::LargeBatch},
             {asTheyStand, Way::Batch},
             {asTheyStand, Way::BatchAfterBlock},
             {asTheyStand, Way::LargeBatch},
             {splitCharacter, Way::Batch},
             {markAfterARow, Way::Batch},
         }) {
        SCOPED_TRACE(testing::Message() << "way " << int(way) << ", " << rows.size() << " rows");
        ResultsList list;
        Tester tester(&list, Tester::FailureReportingMode::Warning);
        const QStringList texts = appendRows(list, rows, way);
        list.Flush();
        ASSERT_EQ(list.Count(), texts.size());
        ASSERT_TRUE(list.Texts() == texts);
        std::uint64_t held = 0;
        for (int position = 1; position <= list.Count(); ++position) {
            SCOPED_TRACE(position);
            const QString text = texts[position - 1];
            EXPECT_TRUE(list.Text(position) == text);
            // The stored bytes are the text's own UTF-8; the list counts them and one start for the row.
            EXPECT_TRUE(list.Utf8(position) == text.toUtf8());
            held += std::uint64_t(text.toUtf8().size()) + 8;
            if (text.size() < 1000) {
                EXPECT_EQ(list.index(position - 1).data().toString(), text);
            }
        }
        EXPECT_EQ(list.BytesHeld(), held);
    }
}

TEST(ResultsList, TextAppendedAsAQStringReadsBackAsItWas)
{
    const QStringList texts{QStringLiteral("\uFEFFbegins with a mark"), QStringLiteral("ends with a mark\uFEFF"),
                            QStringLiteral("\u20AC \U0001F600 \u4E2D"), QString(QChar(0)), QString()};
    ResultsList list;
    for (const QString& text : texts)
        ASSERT_TRUE(list.Append(text));
    EXPECT_EQ(list.Texts(), texts);
    list.Flush();
    EXPECT_EQ(list.index(0).data().toString(), texts[0]);
}

// Blocks fill up and rows go on in the next one, never split; a row larger than a block has one of its own.
TEST(ResultsList, RowsReadBackAcrossTheEdgesOfBlocks)
{
    ResultsList list;
    QStringList texts;
    const auto row = [&](qsizetype size, char16_t fill) {
        QString text = QString::number(texts.size()) + ':';
        text += QString(size - text.size(), QChar(fill));
        texts.append(text);
        return text.toStdString();
    };
    // Nearly a block of rows of 1000 bytes, then a batch of small rows that cannot all fit in what is left.
    const qsizetype nearlyFull = ResultsList::kBlockBytes / 1000 - 100;
    for (qsizetype i = 0; i < nearlyFull; ++i)
        ASSERT_TRUE(list.AppendUtf8(row(1000, u'a')));
    RowBatch batch;
    for (int i = 0; i < 300; ++i)
        batch.append(row(999, u'b'));
    ASSERT_EQ(list.Append(std::move(batch)), 300);
    // One row larger than a block, alone and in a batch, each followed by small rows.
    ASSERT_TRUE(list.AppendUtf8(row(ResultsList::kBlockBytes + 5, u'c')));
    ASSERT_TRUE(list.AppendUtf8(row(3, u'd')));
    // The batch comes back empty, to be filled again.
    EXPECT_TRUE(batch.isEmpty() && batch.bytes.isEmpty());
    batch.append(row(ResultsList::kBlockBytes + 7, u'e'));
    batch.append(row(4, u'f'));
    ASSERT_EQ(list.Append(std::move(batch)), 2);
    ASSERT_TRUE(list.AppendUtf8(row(0, u'g')));
    ASSERT_EQ(list.Count(), texts.size());
    for (int position = 1; position <= list.Count(); ++position)
        ASSERT_TRUE(list.Text(position) == texts[position - 1]) << "row " << position;
}

// The window's run fills a probe list with the rows that should fit and takes its BytesHeld as the capacity: a batch
// must stop at exactly that row, however it is stored.
TEST(ResultsList, ABatchAtTheCapacityIsTakenUpToTheLastRowThatFits)
{
    const std::string large(std::size_t(ResultsList::kAdoptedBatchBytes), 'L');
    const struct
    {
        const char* name;
        std::vector<std::string> rows;
        int fit;
    } cases[] = {
        {"small rows", {"one", "", "caf\xC3\xA9", "four", "five"}, 3},
        {"none fits", {"one", "two"}, 0},
        {"all fit", {"one", "two"}, 2},
        {"an invalid row among them", {"a\xFF", "b", "c"}, 2},
        {"a batch kept as it stands", {large, "x", large, "y"}, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResultsList probe;
        probe.Append(QStringLiteral("before"));
        for (int i = 0; i < c.fit; ++i)
            probe.AppendUtf8(c.rows[std::size_t(i)]);

        ResultsList list;
        list.SetCapacityBytes(probe.BytesHeld());
        ASSERT_TRUE(list.Append(QStringLiteral("before")));
        RowBatch batch;
        for (const std::string& row : c.rows)
            batch.append(row);
        EXPECT_EQ(list.Append(std::move(batch)), c.fit);
        EXPECT_EQ(list.Count(), 1 + c.fit);
        EXPECT_EQ(list.BytesHeld(), probe.BytesHeld());
        EXPECT_TRUE(list.Texts() == probe.Texts());
        // Full: not even an empty row fits now.
        EXPECT_FALSE(list.AppendUtf8({}));
        EXPECT_FALSE(list.Append(QString()));
        EXPECT_EQ(list.Append(RowBatch{QByteArray(), {0}}), 0);
        EXPECT_EQ(list.Count(), 1 + c.fit);
    }
}

// A view is given the beginning of a long row, cut between two characters, never the whole row to decode.
TEST(ResultsList, AViewIsGivenTheBeginningOfALongRow)
{
    const struct
    {
        const char* name;
        QString text;
    } cases[] = {
        {"ASCII", QString(100'000, u'x')},
        {"two bytes, cut inside one", QStringLiteral("a") + QString(50'000, QChar(0xE9))},
        {"four bytes, cut inside one",
         QStringLiteral("ab").append(QString(QStringLiteral("\U0001F600")).repeated(20'000))},
        {"just short enough", QString(ResultsList::kShownBytes, u'y')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResultsList list;
        list.Append(c.text);
        list.Flush();
        // The most characters from the beginning whose UTF-8 fits.
        QString expected;
        qsizetype bytes = 0;
        for (qsizetype i = 0; i < c.text.size(); ++i) {
            const qsizetype units = c.text[i].isHighSurrogate() ? 2 : 1;
            bytes += QStringView(c.text).mid(i, units).toUtf8().size();
            if (bytes > ResultsList::kShownBytes)
                break;
            expected += QStringView(c.text).mid(i, units);
            i += units - 1;
        }
        EXPECT_TRUE(list.index(0).data().toString() == expected);
        EXPECT_TRUE(list.Text(1) == c.text);
    }
}

} // namespace
