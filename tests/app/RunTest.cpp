#include "AddFiles.h"
#include "FileNames.h"
#include "HeldFile.h"
#include "Processes.h"
#include "ShortTitle.h"
#include "WindowHarness.h"
#include "WorkerProcess.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableView>
#include <QThread>

#include <csignal>
#include <cstdio>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <semaphore>

namespace {

// A parser that holds each document back until the test lets it through, so that a test can act
// while the window waits for a document.
class GatedParser final : public HtmlParser
{
public:
    // Only pages holding marker are held back, when one is given.
    explicit GatedParser(std::shared_ptr<std::counting_semaphore<1000>> gate, QByteArray marker = {})
        : m_gate(std::move(gate)), m_marker(std::move(marker))
    {}
    Result<std::unique_ptr<HtmlDocument>> parse(const QByteArray& bytes) override
    {
        if ((m_marker.isEmpty() || bytes.contains(m_marker)) && !m_gate->try_acquire_for(std::chrono::seconds(20)))
            return Failure{QStringLiteral("the test never let the document through")};
        return m_real->parse(bytes);
    }

private:
    std::shared_ptr<std::counting_semaphore<1000>> m_gate;
    QByteArray m_marker;
    std::unique_ptr<HtmlParser> m_real = createHtmlParser();
};

// A parser that cannot build the documents of pages holding marker, as when memory runs out.
class RefusingParser final : public HtmlParser
{
public:
    explicit RefusingParser(QByteArray marker) : m_marker(std::move(marker)) {}
    Result<std::unique_ptr<HtmlDocument>> parse(const QByteArray& bytes) override
    {
        if (bytes.contains(m_marker))
            return Failure{QStringLiteral("Out of memory")};
        return m_real->parse(bytes);
    }

private:
    QByteArray m_marker;
    std::unique_ptr<HtmlParser> m_real = createHtmlParser();
};

FakeDialogs::Box message(const QString& text)
{
    return {FakeDialogs::Kind::Message, QStringLiteral("Quillory"), text};
}

// This test program's process, whose children the window's workers are.
pid_t thisProcess()
{
    return pid_t(QCoreApplication::applicationPid());
}

QString report(const QString& description, int step)
{
    return QStringLiteral("%1\r\nin Pellowin2021/08/31.Form1.PushButton7_Click at line %2\r\rPlease email "
                          "screenshot of this message to support@quorvane.com")
        .arg(description)
        .arg(step);
}

} // namespace

class RunTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checksRefuseARunAndLeaveTheResults_data()
    {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("text2");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no files") << false << "Option1"
                                  << "tr"
                                  << "one"
                                  << "No files added."
                                  << "";
        QTest::newRow("blank tag") << true << "Option2"
                                   << "   "
                                   << "one"
                                   << "You forgot to input tag name."
                                   << "Text1";
        QTest::newRow("empty tag") << true << "Option2"
                                   << ""
                                   << ""
                                   << "You forgot to input tag name."
                                   << "Text1";
        QTest::newRow("blank search") << true << "Option3"
                                      << ""
                                      << "  "
                                      << "You forgot to input tag or data."
                                      << "Text2";
    }
    void checksRefuseARunAndLeaveTheResults()
    {
        QFETCH(bool, withFile);
        QFETCH(QString, option);
        QFETCH(QString, text1);
        QFETCH(QString, text2);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        Harness h;
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        if (withFile)
            window.inputFiles().Append(h.file("p.html", "<p>x</p>"));
        window.results().Append("earlier row");
        h.find<QRadioButton>(option.toLatin1())->setChecked(true);
        h.find<QLineEdit>("Text1")->setText(text1);
        h.find<QLineEdit>("Text2")->setText(text2);
        h.find<QPushButton>("PushButton7")->setFocus();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({::message(message)}));
        QCOMPARE(window.results().Texts(), QStringList({"earlier row"}));
        QCOMPARE(window.pointer(), 0);
        if (!focus.isEmpty())
            QCOMPARE(QApplication::focusWidget()->objectName(), focus);

        // A refused run leaves nothing behind that stops the next one.
        if (!withFile)
            window.inputFiles().Append(h.file("p.html", "<p>x</p>"));
        h.find<QRadioButton>("Option1")->setChecked(true);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().size(), 2);
        QCOMPARE(h.dialogs.transcript().back(), ::message("Done."));
        QCOMPARE(window.results().Texts(), QStringList({"x"}));
    }

    void emptyTextsOfOtherOptionsAreNoObstacle()
    {
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("p.html", "<p>one</p>"));
        h.find<QLineEdit>("Text1")->clear();
        h.find<QLineEdit>("Text2")->clear();
        h.dialogs.expectMessage();
        window.PushButton7_Click(); // option 1
        QCOMPARE(window.results().Texts(), QStringList({"one"}));
        h.find<QLineEdit>("Text2")->setText("ONE");
        h.find<QRadioButton>("Option3")->setChecked(true);
        h.dialogs.expectMessage();
        window.PushButton7_Click(); // option 3 with Text1 empty
        QCOMPARE(window.results().Texts(), QStringList({"<p>one</p>"}));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Done."), message("Done.")}));
    }

    void everyFileGivesItsRowsInListOrder_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("1") << "Option1"
                           << "" << QStringList({"a1", "a2", "b1", "b2"});
        QTest::newRow("2") << "Option2"
                           << "TD"
                           << QStringList({"<tr>", "a1", "</tr>", "<tr>", "a2", "</tr>", "<tr>", "b1", "</tr>", "<tr>",
                                           "b2", "</tr>"});
        QTest::newRow("3") << "Option3"
                           << ""
                           << QStringList({"<table><tr><td>a1</td><td>A2</td></tr></table>",
                                           "<table><tr><td>b1</td><td>b2</td></tr></table>"});
        QTest::newRow("4") << "Option4"
                           << ""
                           << QStringList({"html", "head", "body", "table", "tbody", "tr", "td", "td", "html", "head",
                                           "body", "table", "tbody", "tr", "td", "td"});
    }
    void everyFileGivesItsRowsInListOrder()
    {
        QFETCH(QString, option);
        QFETCH(QString, tag);
        QFETCH(QStringList, rows);
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("a.html", "<table><tr><td>a1</td><td>A2</td></tr></table>\n"));
        window.inputFiles().Append(h.file("b.html", "<table><tr><td>b1</td><td>b2</td></tr></table>\n"));
        window.results().Append("from the last run");
        h.find<QRadioButton>(option.toLatin1())->setChecked(true);
        h.find<QLineEdit>("Text1")->setText(tag.isEmpty() ? "tr" : tag);
        h.find<QLineEdit>("Text2")->setText("</TD>");
        if (option == "Option1")
            rows[1] = "A2";
        h.dialogs.expectMessage([&] {
            // "Done." comes after the hourglass is gone and every row is in.
            QCOMPARE(window.pointer(), 0);
            QCOMPARE(window.results().Texts(), rows);
        });
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Done.")}));
        QVERIFY(h.dialogs.unexpected().isEmpty());
        QCOMPARE(window.results().Texts(), rows);
    }

    // A Japanese page labelled Shift_JIS, and text holding a NUL beside a repeated attribute: the
    // rows a browser's DOM gives, through the window.
    void legacyCharsetsAndNulBytesGiveTheBrowsersRows_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("1") << "Option1" << QStringList({QString::fromUtf8("\u65e5\u672c\u8a9e"), "two", "ab"});
        QTest::newRow("2") << "Option2"
                           << QStringList({"<tr>", QString::fromUtf8("<p>\u65e5\u672c\u8a9e</p><p>two</p>"), "</tr>",
                                           "<tr>", "<p class=\"a\">ab</p>", "</tr>"});
    }
    void legacyCharsetsAndNulBytesGiveTheBrowsersRows()
    {
        QFETCH(QString, option);
        QFETCH(QStringList, rows);
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("ja.html", "<meta charset=x-sjis><p>\x93\xFA\x96\x7B\x8C\xEA</p><p>two</p>"));
        // Not "nul.html": Windows keeps that name for its null device.
        window.inputFiles().Append(h.file("nul-byte.html", QByteArray("<p class=A class=b>a\0b</p>", 26)));
        h.find<QRadioButton>(option.toLatin1())->setChecked(true);
        h.find<QLineEdit>("Text1")->setText("body");
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Done.")}));
        QCOMPARE(window.results().Texts(), rows);
    }

    void aFileThatCannotBeReadIsReportedOnceAndTheRunGoesOn()
    {
        const struct
        {
            const char* option;
            int step;
        } cases[] = {{"Option1", 128}, {"Option2", 144}, {"Option3", 168}, {"Option4", 180}};
        for (const auto& c : cases) {
            Harness h;
            MainWindow& window = h.load();
            window.inputFiles().Append(h.folder.filePath("missing.html"));
            window.inputFiles().Append(h.file("b.html", "<table><tr><td>one</td></tr></table>"));
            h.find<QRadioButton>(c.option)->setChecked(true);
            h.dialogs.expectMessage();
            h.dialogs.expectMessage();
            window.PushButton7_Click();
            QCOMPARE(h.dialogs.transcript(),
                     QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Application Error",
                                               report("File not found", c.step), Dialogs::Icon::Warning},
                                              message("Done.")}));
            QVERIFY(window.results().Count() > 0);
        }
    }

    void aFullResultsListEndsTheRunWithOneReport()
    {
        // The list refuses what would pass its capacity; the run reports that once and stops,
        // keeping every row that fit.
        const struct
        {
            const char* option;
            int step;
            QStringList fit;
        } cases[] = {{"Option4", 188, {"html", "head", "body", "p", "html", "head"}},
                     {"Option3", 174, {"<p>one 1</p>", "one 2", "one 3", "<p>one 1</p>"}}};
        for (const auto& c : cases) {
            Harness h;
            MainWindow& window = h.load();
            for (const char* name : {"a.html", "b.html", "c.html"})
                window.inputFiles().Append(h.file(name, "<p>one 1</p>\none 2\none 3"));
            ResultsList probe;
            for (const QString& row : c.fit)
                probe.Append(row);
            window.results().SetCapacityBytes(probe.BytesHeld());
            h.find<QRadioButton>(c.option)->setChecked(true);
            h.dialogs.expectMessage();
            window.PushButton7_Click();
            const QString description = QStringLiteral(
                "Out of memory (the results list is full at %1 rows; the rest of this extraction is left out)");
            QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Application Error",
                                                                       report(description.arg(c.fit.size()), c.step),
                                                                       Dialogs::Icon::Warning}}));
            QCOMPARE(window.results().Texts(), c.fit);
            QCOMPARE(window.pointer(), 0);
        }
    }

    void aLineTooLongForTheResultsListCostsOnlyItsFile()
    {
        // A line of 6 MB, longer than option 3 reads at once, is joined for the list, which has room for 1 MB: its
        // file is reported, and the next file's rows still fit.
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("a.html", "one a\n"));
        const QString longFile = h.file("long.html", "one " + QByteArray(6 * 1024 * 1024, 'x') + "\nlast one\n");
        window.inputFiles().Append(longFile);
        window.inputFiles().Append(h.file("c.html", "one c"));
        window.results().SetCapacityBytes(1024 * 1024);
        h.find<QRadioButton>("Option3")->setChecked(true);
        h.find<QLineEdit>("Text2")->setText("one");
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        window.PushButton7_Click();
        const QString description =
            QStringLiteral(
                "Out of memory (a line of this file is longer than the 1 MB the results list has room for) in ") +
            longFile;
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Application Error",
                                                                   report(description, 170), Dialogs::Icon::Warning},
                                                                  message("Done.")}));
        QCOMPARE(window.results().Texts(), QStringList({"one a", "one c"}));
        QCOMPARE(window.pointer(), 0);
    }

    void aRunThatFindsNothingEndsEmpty()
    {
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("empty.html", ""));
        window.results().Append("old");
        h.find<QRadioButton>("Option2")->setChecked(true);
        h.dialogs.expectMessage();
        window.PushButton7_Click();
        QCOMPARE(window.results().Count(), 0);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Done.")}));
    }

    void theWindowStaysAliveWhileADocumentLoads()
    {
        auto gate = std::make_shared<std::counting_semaphore<1000>>(0);
        Harness h;
        h.makeParser = [gate] {
            return std::make_unique<GatedParser>(gate);
        };
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("a.html", "<p>first</p>"));
        window.inputFiles().Append(h.file("b.html", "<p>second</p>"));
        window.inputFiles().Append(h.file("c.html", "<p>third</p>"));
        auto* start = h.find<QPushButton>("PushButton7");

        int waitsSeenBusy = 0;
        h.events.onCall(1, [&] {
            // Inside the first wait: busy, a second start is ignored, the input list cannot be
            // cleared, Help answers, and a new option applies from the next file on.
            QCOMPARE(window.pointer(), int(MainWindow::Hourglass));
            ++waitsSeenBusy;
            const int boxes = int(h.dialogs.transcript().size());
            QTest::mouseClick(start, Qt::LeftButton);
            QCOMPARE(int(h.dialogs.transcript().size()), boxes);
            QTest::mouseClick(h.find<QPushButton>("PushButton14"), Qt::LeftButton);
            QCOMPARE(window.inputFiles().Count(), 3);
            h.dialogs.expectMessage();
            QTest::mouseClick(h.find<QPushButton>("PushButton2"), Qt::LeftButton);
            QTest::mouseClick(h.find<QRadioButton>("Option4"), Qt::LeftButton);
            QCOMPARE(h.setting("Option"), QStringLiteral("4"));
            gate->release(3);
        });
        h.dialogs.expectMessage();
        QTest::mouseClick(start, Qt::LeftButton);

        QCOMPARE(waitsSeenBusy, 1);
        QStringList rows = {"first"};
        rows << QStringList({"html", "head", "body", "p"}) << QStringList({"html", "head", "body", "p"});
        QCOMPARE(window.results().Texts(), rows);
        const auto boxes = h.dialogs.transcript();
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes[0].text.startsWith("Extract All Between Tag\r\n"));
        QCOMPARE(boxes[1], message("Done."));
        QVERIFY(h.dialogs.unexpected().isEmpty());

        // Closing in the middle of a wait ends the program at once.
        h.events.onCall(h.events.calls() + 1, [&] {
            window.close();
            gate->release(3);
        });
        h.dialogs.expectMessage();
        window.PushButton7_Click();
        QCOMPARE(h.endCalls, 1);
    }

    void theWindowStaysAliveWhileOneFileGivesManyRows()
    {
        Harness h;
        MainWindow& window = h.load();
        const int elements = 600'000;
        window.inputFiles().Append(h.file("many.html", QByteArray("<b>").repeated(elements)));
        h.find<QRadioButton>("Option4")->setChecked(true);
        // The events processed while the file's rows were coming, seen by the rows already in the list.
        QList<int> countsSeen;
        h.events.everyCall([&] { countsSeen << window.results().Count(); });
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        QCOMPARE(window.results().Count(), elements + 3);
        QCOMPARE(h.dialogs.transcript().back(), message("Done."));
        QVERIFY2(std::any_of(countsSeen.begin(), countsSeen.end(),
                             [&](int count) { return count > 0 && count < elements + 3; }),
                 "no events were processed while the rows came");
    }

    void theCaptionShowsTheRunsProgressAndEscapeStopsIt()
    {
        auto gate = std::make_shared<std::counting_semaphore<1000>>(0);
        Harness h;
        h.makeParser = [gate] {
            return std::make_unique<GatedParser>(gate);
        };
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const char* name : {"a.html", "b.html", "c.html", "d.html"})
            window.inputFiles().Append(h.file(QString::fromLatin1(name), "<p>x</p><p>y</p>"));
        window.results().Append("left from the last run");

        // The first file loads for 600 ms before it is let through; the second for 300 ms more, then Escape.
        QStringList captions;
        int phase = 0;
        h.events.everyCall([&] {
            if (captions.isEmpty() || captions.last() != window.windowTitle())
                captions << window.windowTitle();
            if (phase == 0) {
                h.now = 600;
                phase = 1;
            } else if (phase == 1) {
                gate->release(1);
                phase = 2;
            } else if (phase == 2 && window.results().Count() == 2) {
                h.now = 900;
                phase = 3;
            } else if (phase == 3) {
                QTest::keyClick(&window, Qt::Key_Escape);
                gate->release(10);
                phase = 4;
            }
        });
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        QCOMPARE(phase, 4);
        QCOMPARE(captions, QStringList({"Quillory", "Quillory - 0 of 4 files - 0 rows - Esc stops",
                                        "Quillory - 1 of 4 files - 2 rows - Esc stops"}));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillory"));
        QCOMPARE(window.results().Texts(), QStringList({"x", "y"}));
        QCOMPARE(window.pointer(), 0);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Stopped: 1 of 4 files were extracted.")}));

        // Escape outside a run does nothing, and the next run goes through to the end.
        QTest::keyClick(&window, Qt::Key_Escape);
        gate->release(10);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().last(), message("Done."));
        QCOMPARE(window.results().Count(), 8);
    }

    void escapeEndsTheWorkerReadingTheCurrentFile()
    {
        Harness h;
        h.workers = DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0};
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.inputFiles().Append(h.file("small.html", "<p>small page</p>"));
        window.inputFiles().Append(h.file("big.html", QByteArray("<p>x").repeated(5'000'000)));
        window.inputFiles().Append(h.file("after.html", "<p>after</p>"));

        // Once the small page's row is in, the run waits for the big page: the worker reading it is one of ours.
        std::vector<pid_t> workers;
        h.events.everyCall([&] {
            if (workers.empty() && window.results().Count() == 1) {
                workers = ChildProcesses(thisProcess(), "quillory-worker");
                QTest::keyClick(&window, Qt::Key_Escape);
            }
        });
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Stopped: 1 of 3 files were extracted.")}));
        QCOMPARE(window.results().Texts(), QStringList({"small page"}));
        QVERIFY(!workers.empty());
        // The worker that was reading the big page is gone; the one that had finished stays for the next run.
        QCOMPARE(int(std::count_if(workers.begin(), workers.end(), HasEnded)), 1);

        // A fresh worker takes its place.
        window.inputFiles().RemoveAt(2);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().last(), message("Done."));
        QCOMPARE(window.results().Texts(), QStringList({"small page", "after"}));
    }

    void aStopPartWayThroughAFileSaysItsRowsAreKept_data()
    {
        QTest::addColumn<bool>("workers");
        QTest::newRow("parsed in this process") << false;
        QTest::newRow("parsed by worker processes") << true;
    }
    void aStopPartWayThroughAFileSaysItsRowsAreKept()
    {
        QFETCH(bool, workers);
        Harness h;
        if (workers)
            h.workers = DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0};
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const int many = 1'000'000;
        window.inputFiles().Append(h.file("small.html", "<p>small page</p>"));
        window.inputFiles().Append(h.file("many.html", QByteArray("<p>x").repeated(many)));
        window.inputFiles().Append(h.file("after.html", "<p>after</p>"));

        // Escape once the many rows have begun to come in, long before their end.
        int countAtEscape = 0;
        h.events.everyCall([&] {
            if (countAtEscape == 0 && window.results().Count() > 1) {
                countAtEscape = window.results().Count();
                QTest::keyClick(&window, Qt::Key_Escape);
            }
        });
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        QVERIFY(countAtEscape > 1);
        QCOMPARE(h.dialogs.transcript(),
                 QList<FakeDialogs::Box>({message(
                     "Stopped: 1 of 3 files were extracted; file 2 was stopped part-way, its rows so far are kept.")}));
        // The rows taken before the stop stay, and nothing of the file after it.
        const QStringList rows = window.results().Texts();
        QVERIFY(rows.size() >= countAtEscape && rows.size() < 1 + many);
        QCOMPARE(rows.first(), QStringLiteral("small page"));
        QVERIFY(std::all_of(rows.begin() + 1, rows.end(), [](const QString& row) { return row == u"x"; }));
        QCOMPARE(window.pointer(), 0);
    }

    void aVeryLongRowIsShownByItsBeginningAndKeptWhole()
    {
        Harness h;
        MainWindow& window = h.load();
        // One line of 30 million characters, as option 3 finds in a page written on one line.
        const QString line = QStringLiteral("<p>") + QString(30'000'000, u'x');
        window.inputFiles().Append(h.file("one-line.html", line.toLatin1()));
        h.find<QRadioButton>("Option3")->setChecked(true);
        h.find<QLineEdit>("Text2")->setText("<p>");
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().back(), message("Done."));
        QCOMPARE(window.results().Count(), 1);
        QCOMPARE(window.results().Text(1), line);

        // The view is given a screenful; a character of two UTF-16 units at the cut is left out whole.
        window.results().Flush();
        const QAbstractItemModel* shown = h.find<QTableView>("ListView2")->model();
        QCOMPARE(shown->index(0, 0).data().toString(), line.left(4096));
        window.results().Append(QString(4095, u'a') + QStringLiteral("\U0001F600 and more") + QString(5000, u'b'));
        window.results().Append(QStringLiteral("short"));
        window.results().Flush();
        QCOMPARE(shown->index(1, 0).data().toString(), QString(4095, u'a'));
        QCOMPARE(shown->index(2, 0).data().toString(), QStringLiteral("short"));
        window.show();
        QVERIFY(!window.grab().isNull());
    }

    void aChangedTagNameCountsFromTheWaitOn()
    {
        auto gate = std::make_shared<std::counting_semaphore<1000>>(0);
        Harness h;
        h.makeParser = [gate] {
            return std::make_unique<GatedParser>(gate);
        };
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("a.html", "<b>bold</b><i>italic</i>"));
        h.find<QRadioButton>("Option2")->setChecked(true);
        h.find<QLineEdit>("Text1")->setText("b");
        h.events.onCall(1, [&] {
            h.find<QLineEdit>("Text1")->setText("i");
            gate->release();
        });
        h.dialogs.expectMessage();
        window.PushButton7_Click();
        QCOMPARE(window.results().Texts(), QStringList({"<tr>", "italic", "</tr>"}));
    }

    // Files worked on ahead by several workers join the list exactly as one worker would give them: their rows in
    // file order, each failure reported at its turn, rows of many batches and rows of none.
    void severalWorkersGiveTheRowsAndReportsOfOne_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("1") << "Option1";
        QTest::newRow("2") << "Option2";
        QTest::newRow("4") << "Option4";
    }
    void severalWorkersGiveTheRowsAndReportsOfOne()
    {
        QFETCH(QString, option);
        TempDir pages;
        QStringList files;
        for (int i = 0; i < 24; ++i) {
            QByteArray page;
            switch (i % 6) {
            case 0: // rows enough for several batches
                page = "<table>" + QByteArray("<tr><td>a</td><td>\xc3\xa9</td></tr>").repeated(30'000) + "</table>";
                break;
            case 1:
                page = "";
                break;
            case 2:
                page = "<meta charset=windows-1252><table><tr><td>caf\xe9 " + QByteArray::number(i) + "</td></tr>";
                break;
            case 3: // missing
                break;
            case 4: // one long row, and a NUL
                page = "<p>" + QByteArray(200'000, 'x') + "</p><table><tr><td>" + QByteArray("n\0ul", 4) +
                       "</td></tr></table>";
                break;
            default:
                page = "<table><tr><td>" + QByteArray::number(i) + "</td></tr></table>";
            }
            const QString name = QStringLiteral("page-%1.html").arg(i, 2, 10, QLatin1Char('0'));
            files << (i % 6 == 3 ? pages.path() + "/" + name : pages.write(name, page));
        }
        const auto runWith = [&](int jobs, QStringList& rows) {
            Harness h;
            h.jobs = jobs;
            h.workers = DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0};
            MainWindow& window = h.load();
            window.inputFiles().AppendMany(natives(files));
            h.find<QRadioButton>(option.toLatin1())->setChecked(true);
            h.find<QLineEdit>("Text1")->setText("tr");
            for (int i = 0; i < 4; ++i)
                h.dialogs.expectMessage();
            h.dialogs.expectMessage();
            QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
            rows = window.results().Texts();
            return h.dialogs.transcript();
        };
        QStringList one, several;
        const QList<FakeDialogs::Box> reportsOfOne = runWith(1, one);
        const QList<FakeDialogs::Box> reportsOfSeveral = runWith(3, several);
        QCOMPARE(reportsOfOne.size(), 5);
        QCOMPARE(reportsOfOne.back(), message("Done."));
        QVERIFY(one.size() > 4 * 30'000);
        QCOMPARE(reportsOfSeveral, reportsOfOne);
        QCOMPARE(several.size(), one.size());
        QVERIFY(several == one);
    }

    // A file made into rows ahead of its turn with a tag name changed since is made again with the new one.
    void aTagNameChangedAfterAFileWasMadeAheadCountsForIt()
    {
        auto gate = std::make_shared<std::counting_semaphore<1000>>(0);
        Harness h;
        h.jobs = 2;
        h.makeParser = [gate] {
            return std::make_unique<GatedParser>(gate, "<!--held-->");
        };
        MainWindow& window = h.load();
        const int elements = 70'000;
        window.inputFiles().Append(h.file("a.html", "<b>bold</b><i>italic</i>"));
        window.inputFiles().Append(h.file("b.html", QByteArray("<b>bold</b>").repeated(elements)));
        window.inputFiles().Append(h.file("c.html", "<!--held--><b>bold</b><i>italic</i>"));
        h.find<QRadioButton>("Option2")->setChecked(true);
        h.find<QLineEdit>("Text1")->setText("b");
        bool changed = false;
        h.events.everyCall([&] {
            // While the rows of b join the list, c has been begun with "b": it is let through and given time to make
            // its rows before the tag name changes.
            if (changed || window.results().Count() <= 3)
                return;
            gate->release(1);
            QThread::msleep(300);
            h.find<QLineEdit>("Text1")->setText("i");
            changed = true;
            gate->release(10);
        });
        h.dialogs.expectMessage();
        window.PushButton7_Click();
        QVERIFY(changed);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message("Done.")}));
        const QStringList rows = window.results().Texts();
        QCOMPARE(rows.size(), 3 + 3 * elements + 3);
        QCOMPARE(rows.mid(0, 3), QStringList({"<tr>", "bold", "</tr>"}));
        QCOMPARE(rows.mid(3 * elements, 3), QStringList({"<tr>", "bold", "</tr>"}));
        QCOMPARE(rows.mid(3 + 3 * elements), QStringList({"<tr>", "italic", "</tr>"}));
    }

    void filesDeletedAfterListingAreReportedAtTheirTurn_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("yields");
        QTest::addColumn<QStringList>("rows");
        const QStringList tags = {"html", "head", "body", "table", "tbody", "tr", "td"};
        QTest::newRow("1") << "Option1" << 128 << true << QStringList({"a1", "c1"});
        QTest::newRow("2") << "Option2" << 144 << true << QStringList({"<tr>", "a1", "</tr>", "<tr>", "c1", "</tr>"});
        QTest::newRow("3") << "Option3" << 168 << false
                           << QStringList(
                                  {"<table><tr><td>a1</td></tr></table>", "<table><tr><td>c1</td></tr></table>"});
        QTest::newRow("4") << "Option4" << 180 << true << tags + tags;
    }
    void filesDeletedAfterListingAreReportedAtTheirTurn()
    {
        QFETCH(QString, option);
        QFETCH(int, step);
        QFETCH(bool, yields);
        QFETCH(QStringList, rows);
        auto gate = std::make_shared<std::counting_semaphore<1000>>(0);
        Harness h;
        h.makeParser = [gate] {
            return std::make_unique<GatedParser>(gate);
        };
        MainWindow& window = h.load();
        for (const QString name : {"a", "b", "c", "d"})
            window.inputFiles().Append(
                h.file(name + ".html", "<table><tr><td>" + name.toLatin1() + "1</td></tr></table>\n"));
        h.find<QRadioButton>(option.toLatin1())->setChecked(true);
        h.find<QLineEdit>("Text1")->setText("td");
        h.find<QLineEdit>("Text2")->setText("td");

        // b goes before the run; d while the run waits for a's document, where a mode that reads
        // documents lets the window act. A mode that reads lines never lets go, so there d goes first too.
        QVERIFY(QFile::remove(h.folder.filePath("b.html")));
        if (yields) {
            h.events.onCall(1, [&] {
                QVERIFY(QFile::remove(h.folder.filePath("d.html")));
                gate->release(10);
            });
        } else {
            QVERIFY(QFile::remove(h.folder.filePath("d.html")));
        }
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);

        const FakeDialogs::Box notFound{FakeDialogs::Kind::Message, "Application Error", report("File not found", step),
                                        Dialogs::Icon::Warning};
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({notFound, notFound, message("Done.")}));
        QCOMPARE(window.results().Texts(), rows);
        QCOMPARE(inputTexts(window).size(), 4);
        QCOMPARE(window.pointer(), 0);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void systemRefusalsAreReportedWithTheirCauseAndNamesThatAreNotUtf8AreRead_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("step");
        QTest::newRow("1") << "Option1" << 128;
        QTest::newRow("3") << "Option3" << 168;
    }
    void systemRefusalsAreReportedWithTheirCauseAndNamesThatAreNotUtf8AreRead()
    {
        QFETCH(QString, option);
        QFETCH(int, step);
        Harness h;
        MainWindow& window = h.load();
#ifdef Q_OS_WIN
        // Windows follows no chain of links and spells every name in UTF-16: its refusal here is a file another
        // program holds open without sharing, which no user may read, and the name to read is one outside the
        // code page.
        const QString refused = h.file("held.html", "<p>never</p>");
        const HeldFile held(refused);
        QVERIFY(held.isHeld());
        const QString refusal = QStringLiteral("Permission denied");
        window.inputFiles().Append(refused);
        window.inputFiles().Append(h.file(QStringLiteral("caf\u00E9 \u03A9 \u65E5\u672C.html"), "<p>one</p>\n"));
#else
        // A chain of 41 links, one more than the system follows.
        h.file("target.html", "<p>never</p>");
        for (int link = 0; link < 41; ++link)
            QVERIFY(QFile::link(link == 40 ? QStringLiteral("target.html") : QStringLiteral("link%1").arg(link + 1),
                                h.folder.filePath(QStringLiteral("link%1").arg(link))));
        const QByteArray oddName = QFile::encodeName(h.folder.path()) + "/caf\xE9.html";
        std::FILE* file = std::fopen(oddName.constData(), "wb");
        QVERIFY(file);
        std::fputs("<p>one</p>\n", file);
        std::fclose(file);
        const QString refusal = QStringLiteral("Too many levels of symbolic links");
        window.inputFiles().Append(h.folder.filePath("link0"));
        window.inputFiles().Append(FileNames::fromNative(oddName));
#endif
        h.find<QRadioButton>(option.toLatin1())->setChecked(true);
        h.find<QLineEdit>("Text2")->setText("one");

        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Application Error",
                                                                   report(refusal, step), Dialogs::Icon::Warning},
                                                                  message("Done.")}));
        QCOMPARE(window.results().Texts(), QStringList({option == "Option1" ? "one" : "<p>one</p>"}));
    }

    void aWorkerThatRunsOutOfMemoryOrIsKilledCostsOnlyItsFile_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("description");
        QTest::newRow("out of memory") << "memory"
                                       << "Out of memory (the document needs more than the 200 MB one document may "
                                          "use on this machine)";
#ifdef Q_OS_WIN
        // Windows tells no kill from an exit: the status is the one whatever ended the worker gave, 1 from
        // TerminateProcess as Task Manager and taskkill /F use it, and never one the worker ends with itself.
        QTest::newRow("killed while the window waits")
            << "killed"
            << "Internal error (the parser was ended from outside, status 1)";
#else
        QTest::newRow("killed while the window waits") << "killed"
                                                       << "Internal error (the parser stopped with signal 9, Killed)";
#endif
    }
    void aWorkerThatRunsOutOfMemoryOrIsKilledCostsOnlyItsFile()
    {
        QFETCH(QString, fault);
        QFETCH(QString, description);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        if (fault == "memory")
            QSKIP("The sanitizers reserve more address space than the limit allows, so the limit is off");
#endif
        Harness h;
        // The killed worker gets no limit, so that only the kill can end it.
        h.workers =
            DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, fault == "memory" ? qint64(200) << 20 : 0};
        MainWindow& shown = h.load();
        shown.inputFiles().Append(h.file("a.html", "<p>before</p>"));
        shown.inputFiles().Append(
            h.file("dense.html", QByteArray("<p>x").repeated((fault == "memory" ? 10 : 40) << 18)));
        shown.inputFiles().Append(h.file("c.html", "<p>after</p>"));
        bool killed = false;
        if (fault == "killed") {
            // The window waits for the large document; its worker is ended from outside.
            h.events.everyCall([&] {
                if (killed)
                    return;
                if (const pid_t worker = WaitForBusyChild(thisProcess(), "quillory-worker", 100 * 1024, 0.05)) {
                    KillProcess(worker);
                    killed = true;
                }
            });
        }
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        // The report names the file the worker was lost on, as the command line's message does.
        const QString reported = description + QStringLiteral(" in ") + h.folder.filePath("dense.html");
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Application Error",
                                                                   report(reported, 128), Dialogs::Icon::Warning},
                                                                  message("Done.")}));
        QCOMPARE(shown.results().Texts(), QStringList({"before", "after"}));
        QCOMPARE(shown.pointer(), 0);
    }

    // A system that allows fewer worker processes than the run's jobs (a process limit) gets every file's rows from
    // the workers it allows, with no report but the missing file's; only when no worker at all can start is each
    // file reported, and the run still goes to its end.
    void workersTheSystemRefusesCostNoFile_data()
    {
        QTest::addColumn<int>("allowed");
        QTest::addColumn<int>("jobs");
        QTest::newRow("one worker of four jobs") << 1 << 4;
        QTest::newRow("two workers of four jobs") << 2 << 4;
        QTest::newRow("one worker of one job") << 1 << 1;
        QTest::newRow("no worker") << 0 << 4;
    }
    void workersTheSystemRefusesCostNoFile()
    {
        QFETCH(int, allowed);
        QFETCH(int, jobs);
        Harness h;
        h.jobs = jobs;
        h.workers = DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0};
        auto starts = std::make_shared<std::atomic<int>>(0);
        h.workers->startProcess = [starts,
                                   allowed](const QString& program,
                                            const QStringList& arguments) -> Result<std::unique_ptr<WorkerProcess>> {
            if (starts->fetch_add(1) >= allowed)
                return Failure{QStringLiteral("Resource temporarily unavailable")};
            return WorkerProcess::start(program, arguments);
        };
        MainWindow& window = h.load();
        QStringList files, rows;
        for (int i = 0; i < 12; ++i) {
            const QString name = QStringLiteral("page-%1.html").arg(i, 2, 10, QLatin1Char('0'));
            if (i == 5) {
                files << h.folder.filePath(name);
                continue;
            }
            // The first file's rows take a while, so that the files after it are begun while it holds its worker.
            const int copies = i == 0 ? 50'000 : 1;
            files << h.file(name, "<table>" + QStringLiteral("<tr><td>%1</td></tr>").arg(i).toUtf8().repeated(copies) +
                                      "</table>");
            for (int copy = 0; copy < copies; ++copy)
                rows << QString::number(i);
        }
        window.inputFiles().AppendMany(natives(files));
        const auto failed = [](const QString& description) {
            return FakeDialogs::Box{FakeDialogs::Kind::Message, "Application Error", report(description, 128),
                                    Dialogs::Icon::Warning};
        };
        QList<FakeDialogs::Box> expected;
        if (allowed == 0) {
            for (const QString& file : files)
                expected << failed(QStringLiteral("Internal error (the parser %1 could not be started: Resource "
                                                  "temporarily unavailable) in %2")
                                       .arg(QStringLiteral(QUILLORY_WORKER_PATH), native(file)));
            rows.clear();
        } else {
            expected << failed("File not found");
        }
        expected << message("Done.");
        for (qsizetype i = 0; i < expected.size(); ++i)
            h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript(), expected);
        QCOMPARE(window.results().Texts(), rows);
        QCOMPARE(window.pointer(), 0);
    }

#ifndef Q_OS_WIN
    // A worker that makes no progress on a file is ended at the file's time limit: the file is reported as timed out
    // and the run goes on with the next; with no limit, Escape still stops the run. The run's first worker stops
    // itself (SIGSTOP, in a script that runs the real worker after it), before it reads the first file; the workers
    // after it run as usual.
    void aStoppedWorkersFileTimesOutAndTheRunGoesOn_data()
    {
        QTest::addColumn<bool>("limited");
        QTest::newRow("ended at the time limit") << true;
        QTest::newRow("no limit, stopped with Escape") << false;
    }
    void aStoppedWorkersFileTimesOutAndTheRunGoesOn()
    {
        QFETCH(bool, limited);
        Harness h;
        h.jobs = 1;
        const QString script =
            h.file("stopping-worker",
                   QStringLiteral("#!/bin/sh\nif mkdir '%1' 2>/dev/null; then kill -STOP $$; fi\nexec '%2' \"$@\"\n")
                       .arg(h.folder.filePath("stopped-once"), QStringLiteral(QUILLORY_WORKER_PATH))
                       .toUtf8());
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        h.workers = DocumentWorkerSettings{script, {}, 0};
        h.workers->timeLimit = FileTimeLimit{std::chrono::milliseconds(limited ? 1000 : 0), {}};
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QString stopped = h.file("a.html", "<p>a</p>");
        window.inputFiles().Append(stopped);
        window.inputFiles().Append(h.file("b.html", "<p>b</p>"));
        window.inputFiles().Append(h.file("c.html", "<p>c</p>"));
        if (!limited)
            h.events.onCall(20, [&] { QTest::keyClick(&window, Qt::Key_Escape); });
        // A minute is far past the second the file has: a run still waiting then hung, and the stopped worker is ended
        // so that the test fails rather than waits.
        QElapsedTimer took;
        took.start();
        h.events.everyCall([&] {
            if (took.elapsed() > 60'000)
                for (const pid_t worker : ChildProcesses(thisProcess(), "stopping-worker"))
                    KillProcess(worker);
        });
        h.dialogs.expectMessage();
        if (limited)
            h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        if (limited) {
            QCOMPARE(h.dialogs.transcript(),
                     QList<FakeDialogs::Box>(
                         {{FakeDialogs::Kind::Message, "Application Error",
                           report("Timed out after 1 s (the parser made no progress on the file and was ended) in " +
                                      stopped,
                                  128),
                           Dialogs::Icon::Warning},
                          message("Done.")}));
            QCOMPARE(window.results().Texts(), QStringList({"b", "c"}));
            QVERIFY(took.elapsed() >= 1000);
        } else {
            QCOMPARE(h.dialogs.transcript(),
                     QList<FakeDialogs::Box>({message("Stopped: 0 of 3 files were extracted.")}));
            QCOMPARE(window.results().Texts(), QStringList());
        }
        QCOMPARE(window.pointer(), 0);
    }
#endif

    // A file that was read but gave no document is named in its report; one that could not be read keeps the
    // system's own words.
    void aFileThatGivesNoDocumentIsNamedInItsReport()
    {
        Harness h;
        h.makeParser = [] {
            return std::make_unique<RefusingParser>("refused");
        };
        MainWindow& window = h.load();
        window.inputFiles().Append(h.file("a.html", "<p>before</p>"));
        window.inputFiles().Append(h.file("refused.html", "<p>refused</p>"));
        window.inputFiles().Append(h.folder.filePath("missing.html"));
        window.inputFiles().Append(h.file("c.html", "<p>after</p>"));
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
        const auto failed = [](const QString& description) {
            return FakeDialogs::Box{FakeDialogs::Kind::Message, "Application Error", report(description, 128),
                                    Dialogs::Icon::Warning};
        };
        QCOMPARE(h.dialogs.transcript(),
                 QList<FakeDialogs::Box>({failed("Out of memory in " + h.folder.filePath("refused.html")),
                                          failed("File not found"), message("Done.")}));
        QCOMPARE(window.results().Texts(), QStringList({"before", "after"}));
    }

    // The window closed while a worker builds a large document: the program ends at once, as the real one does at
    // the end of closing, and the worker goes with it. The window runs in a child process of this test (this same
    // test, told so by the environment), which prints its worker's process number before it closes the window.
    void closingTheWindowWhileAWorkerRunsLeavesNoProcess()
    {
        if (qEnvironmentVariableIsSet("QUILLORY_TEST_CLOSING_CHILD")) {
            Harness h;
            h.workers = DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, 0};
            h.atEnd = [] {
                std::fflush(nullptr);
                std::_Exit(0);
            };
            MainWindow& shown = h.load();
            shown.inputFiles().Append(h.file("dense.html", QByteArray("<p>x").repeated(40 << 18)));
            shown.inputFiles().Append(h.file("b.html", "<p>b</p>"));
            bool closing = false;
            h.events.everyCall([&] {
                if (closing)
                    return;
                if (const pid_t worker = WaitForBusyChild(thisProcess(), "quillory-worker", 100 * 1024, 0.05)) {
                    closing = true;
                    // Its scratch folder too, which the program's end leaves for the test to remove.
                    std::printf("folder %s\n", qPrintable(h.folder.path()));
                    std::printf("worker %d\n", int(worker));
                    std::fflush(stdout);
                    shown.close();
                }
            });
            h.dialogs.expectMessage();
            QTest::mouseClick(h.find<QPushButton>("PushButton7"), Qt::LeftButton);
            QFAIL("the run ended without the window being closed");
        }

        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QUILLORY_TEST_CLOSING_CHILD", "1");
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {"closingTheWindowWhileAWorkerRunsLeavesNoProcess"});
        QVERIFY(child.waitForFinished(120'000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
        // A Windows program's standard output ends its lines with "\r\n".
        const QRegularExpressionMatch found =
            QRegularExpression("^worker (\\d+)\\r?$", QRegularExpression::MultilineOption).match(output);
        QVERIFY2(found.hasMatch(), qPrintable(output.right(800)));
        const pid_t worker = pid_t(found.captured(1).toInt());
        QElapsedTimer clock;
        clock.start();
        while (!HasEnded(worker) && clock.elapsed() < 2000)
            QThread::msleep(5);
        QVERIFY2(HasEnded(worker), qPrintable(QStringLiteral("worker %1 outlived its window").arg(worker)));
        const QRegularExpressionMatch folder =
            QRegularExpression("^folder (.+?)\\r?$", QRegularExpression::MultilineOption).match(output);
        QVERIFY2(folder.hasMatch(), qPrintable(output.right(800)));
        QVERIFY(QDir(folder.captured(1)).removeRecursively());
    }

    void helpShowsTheSeventeenLines()
    {
        Harness h;
        MainWindow& window = h.load();
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton2"), Qt::LeftButton);
        const QString expected = QStringLiteral(
            "Extract All Between Tag\r\nTag (Input): look\r\n<look><here>hi</here></look>\r\nwill extract "
            "<here>hi</here>\r\n\r\nExtract Value Between Tag\r\nTag (Input): look\r\n<look><here>hi</here></look>\r\n"
            "will extract hi\r\n\r\nExtract Entire Line Containing Tag\r\nTag (Input): look\r\n"
            "<look><here>hi</here></look>\r\nwill extract <look><here>hi</here></look>\r\n\r\nExtract All Data "
            "Between Quotes\r\n<record from=\"53000059\" to=\"graphics/pictures/person/53000059/portrait\"/> will "
            "extract 53000059 and graphics/pictures/person/53000059/portrait");
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({message(expected)}));
        QCOMPARE(expected.split("\r\n").size(), 17);
        QCOMPARE(window.inputFiles().Count(), 0);
        QCOMPARE(window.results().Count(), 0);
    }

    void addFilesAppendsWhatTheDialogChose()
    {
        const QString filter = QStringLiteral("HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*");
        const QString title = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
        // The paths as the dialog spells them: on Windows on drive C:, with backslashes.
        const auto at = [](const QString& path) {
#ifdef Q_OS_WIN
            return QStringLiteral("C:") + native(path);
#else
            return path;
#endif
        };
        const auto all = [&](const QStringList& paths) {
            QStringList spelled;
            for (const QString& path : paths)
                spelled << at(path);
            return spelled;
        };
        Harness h;
        MainWindow& window = h.load();
        auto* add = h.find<QPushButton>("PushButton1");

        h.dialogs.answerOpenFiles(all({"/data//pages/one.htm"}));
        QTest::mouseClick(add, Qt::LeftButton);
        h.dialogs.answerOpenFiles(all({"/a.htm", "/b.html"}));
        QTest::mouseClick(add, Qt::LeftButton);
        h.dialogs.answerOpenFiles(all({"/srv/x/c.htm", "/srv/x/d.htm"}));
        QTest::mouseClick(add, Qt::LeftButton);
        h.dialogs.answerOpenFiles({});
        QTest::mouseClick(add, Qt::LeftButton);
        h.dialogs.answerOpenFiles(all({"/a.htm", "/b.html"}));
        QTest::mouseClick(add, Qt::LeftButton);
        // Typed full paths make one selection span folders: each file keeps its own.
        h.dialogs.answerOpenFiles(all({"/srv/x/e.htm", "/srv/other//f.htm", "/srv/x/sub/g.htm", "/h.htm"}));
        QTest::mouseClick(add, Qt::LeftButton);
        // A single file as returned; several as folder, separator and name, tidied; twice is twice.
        QCOMPARE(inputTexts(window),
                 all({"/data//pages/one.htm", "/a.htm", "/b.html", "/srv/x/c.htm", "/srv/x/d.htm", "/a.htm", "/b.html",
                      "/srv/x/e.htm", "/srv/other/f.htm", "/srv/x/sub/g.htm", "/h.htm"}));
        for (const FakeDialogs::Box& box : h.dialogs.transcript()) {
            QCOMPARE(box.kind, FakeDialogs::Kind::OpenFiles);
            QCOMPARE(box.title, title);
            QCOMPARE(box.filter, filter);
        }

        // A selection whose answer would overflow the dialog's buffer adds nothing.
        QStringList many;
        for (int i = 0; i < 3000; ++i)
            many << at(QStringLiteral("/srv/pages/page-%1.html").arg(i, 5, 10, QChar('0')));
        h.dialogs.answerOpenFiles(many);
        h.dialogs.expectMessage();
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().last(),
                 message("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button."));
        QCOMPARE(window.inputFiles().Count(), 11);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void theDialogBufferLimitIsTheJoinedAnswer()
    {
        // Folder "/d" (2), then for each name a NUL and the name, then two closing NULs: here
        // 2 + (1 + 14998) + (1 + 14997) + 2 = 30001 characters.
        QStringList names = {"/d/" + QString(14998, u'x'), "/d/" + QString(14997, u'y')};
        QVERIFY(!SplitChosenFiles(names).fit);
        names[1].chop(1);
        QVERIFY(SplitChosenFiles(names).fit);
        QVERIFY(SplitChosenFiles({QString(29999, u'p')}).fit);
        QVERIFY(!SplitChosenFiles({QString(30000, u'p')}).fit);

        // A file outside the first one's folder counts with its full path: here
        // 2 + (1 + 14998) + (1 + 14995 + 3) + 2 = 30002 characters.
        names = QStringList({"/d/" + QString(14998, u'x'), "/e/" + QString(14995, u'y')});
        QVERIFY(!SplitChosenFiles(names).fit);
        names[1].chop(2);
        QVERIFY(SplitChosenFiles(names).fit);
    }
};

std::unique_ptr<QObject> makeRunTest()
{
    return std::make_unique<RunTest>();
}

#include "RunTest.moc"
