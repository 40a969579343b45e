#include "MainWindow.h"
#include "ControlTable.h"
#include "ErrorTrap.h"
#include "FakeDialogs.h"
#include "FakeEventPump.h"
#include "HeldFile.h"
#include "InputFileList.h"
#include "ResultsList.h"
#include "SettingsStore.h"
#include "WindowHarness.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

class MainWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstStartShowsTheDefaults()
    {
        Harness h;
        MainWindow& window = h.load();
        QVERIFY(h.find<QRadioButton>("Option1")->isChecked());
        QCOMPARE(h.find<QLineEdit>("Text1")->text(), QStringLiteral("tr"));
        QCOMPARE(h.find<QLineEdit>("Text2")->text(), QStringLiteral("one"));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillory"));
        QCOMPARE(h.sampleRecords, 1);
        QCOMPARE(window.pointer(), 0);
        QCOMPARE(window.inputFiles().Count(), 0);
        QCOMPARE(window.results().Count(), 0);
        // Start-up writes back what it restored.
        QCOMPARE(h.setting("Text1"), QStringLiteral("tr"));
        QCOMPARE(h.setting("Text2"), QStringLiteral("one"));

        const struct
        {
            const char* list;
            QString header;
        } lists[] = {{"ListView1", "HTML File(s)"}, {"ListView2", "Results"}};
        for (const auto& list : lists) {
            auto* view = h.find<QTableView>(list.list);
            QCOMPARE(view->model()->columnCount(), 1);
            QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), list.header);
            QCOMPARE(view->columnWidth(0), 467);
            QVERIFY(view->columnWidth(0) < view->width());
        }
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

    void storedSettingsAreRestored_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("selected");
        QTest::newRow("3") << "3" << 3;
        QTest::newRow("4") << "4" << 4;
        QTest::newRow("2 with blanks and decimals") << " 2.0" << 2;
        QTest::newRow("number then letters") << "3abc" << 3;
        QTest::newRow("letters") << "abc" << 1;
        QTest::newRow("out of range") << "7" << 1;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("zero") << "0" << 1;
    }
    void storedSettingsAreRestored()
    {
        QFETCH(QString, option);
        QFETCH(int, selected);
        Harness h;
        h.writeSettings({{"Option", option}, {"Text1", "td"}, {"Text2", ""}, {"Snapshot", "recorded"}});
        h.load();
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(h.find<QRadioButton>(QStringLiteral("Option%1").arg(i).toLatin1())->isChecked(), i == selected);
        QCOMPARE(h.find<QLineEdit>("Text1")->text(), QStringLiteral("td"));
        // An empty stored text stays empty: the default is only for a key never written.
        QCOMPARE(h.find<QLineEdit>("Text2")->text(), QString());
        QCOMPARE(h.sampleRecords, 0);
    }

    void everyChangeIsWrittenAtOnce()
    {
        Harness h;
        h.load();
        auto* text1 = h.find<QLineEdit>("Text1");
        QStringList written;
        // Connected after the window's own handler, so it sees what each keystroke stored.
        connect(text1, &QLineEdit::textChanged, this, [&] { written << h.setting("Text1"); });
        text1->clear();
        QTest::keyClicks(text1, "td");
        QCOMPARE(written, QStringList({"", "t", "td"}));

        h.find<QLineEdit>("Text2")->clear();
        QCOMPARE(h.setting("Text2"), QString());

        QTest::mouseClick(h.find<QRadioButton>("Option3"), Qt::LeftButton);
        QCOMPARE(h.setting("Option"), QStringLiteral("3"));
        QTest::mouseClick(h.find<QRadioButton>("Option2"), Qt::LeftButton);
        QCOMPARE(h.setting("Option"), QStringLiteral("2"));

        // What the next start finds.
        Harness next;
        next.settings = std::make_unique<SettingsStore>(h.folder.filePath("settings.ini"));
        next.load();
        QVERIFY(next.find<QRadioButton>("Option2")->isChecked());
        QCOMPARE(next.find<QLineEdit>("Text1")->text(), QStringLiteral("td"));
        QCOMPARE(next.find<QLineEdit>("Text2")->text(), QString());
    }

    void anUnusableSettingsFileGivesTheDefaultsAndTheWindowWorksOn_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("writable");
        QTest::newRow("garbage in the file") << "garbage" << true;
        QTest::newRow("a folder in its place") << "folder" << false;
#ifdef Q_OS_WIN
        // Windows lets an administrator create a file in any folder: its refusals are a file where the folder
        // should be, and a file another program holds open.
        QTest::newRow("a file where its folder should be") << "under a file" << false;
        QTest::newRow("held open by another program") << "held" << false;
#else
        QTest::newRow("a place where even root creates nothing") << "proc" << false;
        QTest::newRow("no read permission") << "unreadable" << false;
#endif
    }
    void anUnusableSettingsFileGivesTheDefaultsAndTheWindowWorksOn()
    {
        QFETCH(QString, fault);
        QFETCH(bool, writable);
#ifndef Q_OS_WIN
        if (fault == "unreadable" && geteuid() == 0)
            QSKIP("root reads a file whatever its permission bits say; the /proc row stands in for it");
#endif
        Harness h;
        h.recordSamplesForReal = true;
        h.writeBesideProgram("Samples/a.html", "<p>a</p>");
        h.writeBesideProgram("Samples/b.html", "<p>b</p>");
        h.writeBesideProgram("top/page.htm", "<p>page</p>");
        QString file = h.folder.filePath("settings.ini");
#ifdef Q_OS_WIN
        std::unique_ptr<HeldFile> held;
#endif
        const QByteArray garbage("[Quillory\nOption=3\nText1=td\n\xFF\x00\xFE[[", 30);
        if (fault == "garbage") {
            h.writeBesideProgram("settings.ini", garbage);
        } else if (fault == "folder") {
            QVERIFY(QDir(h.folder.path()).mkdir("settings.ini"));
        } else if (fault == "proc") {
            file = QStringLiteral("/proc/quillory/settings.ini");
#ifdef Q_OS_WIN
        } else if (fault == "under a file") {
            h.writeBesideProgram("Quillory", "a file, not a folder");
            file = h.folder.filePath("Quillory/settings.ini");
        } else if (fault == "held") {
            h.writeBesideProgram("settings.ini", "[Quillory]\nOption=3\nText1=td\n");
            held = std::make_unique<HeldFile>(file);
            QVERIFY(held->isHeld());
#endif
        } else {
            h.writeBesideProgram("settings.ini", "[Quillory]\nOption=3\nText1=td\n");
            QVERIFY(QFile::setPermissions(file, {}));
        }
        h.settings = std::make_unique<SettingsStore>(file);
        const QString refused =
            QStringLiteral("Permission denied (the settings file %1 could not be written)").arg(file);
        auto report = [&](const char* handler, int step) {
            return FakeDialogs::Box{FakeDialogs::Kind::Message, QStringLiteral("Application Error"),
                                    QStringLiteral("%1\r\nin Pellowin2021/08/31.Form1.%2 at line %3\r\rPlease email "
                                                   "screenshot of this message to support@quorvane.com")
                                        .arg(refused, QLatin1String(handler))
                                        .arg(step),
                                    Dialogs::Icon::Warning};
        };

        // Only the sample record, the one write start-up makes under its trap, may say the store refused it.
        QList<FakeDialogs::Box> boxes;
        if (!writable) {
            h.dialogs.expectMessage();
            boxes << report("Form_Load", 108);
        }
        MainWindow& window = h.load();
        QCOMPARE(h.dialogs.transcript(), boxes);
        // What a damaged file still holds is read; the damaged bytes are kept beside it once it is rewritten.
        const bool salvaged = fault == "garbage";
        QVERIFY(h.find<QRadioButton>(salvaged ? "Option3" : "Option1")->isChecked());
        QCOMPARE(h.find<QLineEdit>("Text1")->text(), salvaged ? QStringLiteral("td") : QStringLiteral("tr"));
        QCOMPARE(h.find<QLineEdit>("Text2")->text(), QStringLiteral("one"));
        QFile copy(file + ".damaged");
        QCOMPARE(copy.open(QIODevice::ReadOnly) ? copy.readAll() : QByteArray("<none>"),
                 salvaged ? garbage : QByteArray("<none>"));

        // The scan works on; each refused write is reported where the scan makes it.
        h.dialogs.answerPrompt("htm");
        FakeDialogs::Box prompt{FakeDialogs::Kind::Prompt, "Quillory",
                                "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all "
                                "doc files, etc.)"};
        prompt.proposed = "htm";
        boxes << prompt;
        if (!writable) {
            h.dialogs.expectMessage();
            h.dialogs.expectMessage();
            boxes << report("PushButton5_Click", 100) << report("PushButton5_Click", 104);
        }
        h.dialogs.answerChooseFolder(native(h.folder.filePath("top")));
        boxes << FakeDialogs::Box{FakeDialogs::Kind::ChooseFolder, "Please select folder:"};
        if (!writable) {
            h.dialogs.expectMessage();
            boxes << report("PushButton5_Click", 334);
        }
        QTest::mouseClick(h.find<QPushButton>("PushButton5"), Qt::LeftButton);
        QCOMPARE(h.setting("Extension"), writable ? QStringLiteral("htm") : QStringLiteral("<none>"));

        // The samples recorded at start-up load when the store could keep the record, and never anything else.
        h.dialogs.answerQuestion(Dialogs::Answer::No);
        FakeDialogs::Box question{FakeDialogs::Kind::Question, "Quillory",
                                  "Would you like this software to open the folder where these sample files are "
                                  "stored (so that you can view them before working with them)?"};
        question.defaultAnswer = Dialogs::Answer::Yes;
        boxes << question;
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QStringList inputs = {h.folder.filePath("top/page.htm")};
        if (writable)
            inputs << h.folder.filePath("Samples/a.html") << h.folder.filePath("Samples/b.html");
        QCOMPARE(inputTexts(window), natives(inputs));

        // Typing has no trap: a refused write says nothing.
        QTest::keyClicks(h.find<QLineEdit>("Text1"), "d");
        QCOMPARE(h.setting("Text1"), salvaged   ? QStringLiteral("tdd")
                                     : writable ? QStringLiteral("trd")
                                                : QStringLiteral("<none>"));
        QCOMPARE(h.dialogs.transcript(), boxes);
        QVERIFY2(h.dialogs.unexpected().isEmpty(), qPrintable(h.dialogs.describe()));
    }

    void startUpFailuresAreReportedAndStartUpGoesOn()
    {
        Harness h;
        h.writeBesideProgram("HAND-M.CUR", "not a cursor at all");
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        Harness* harness = &h;
        h.window = nullptr;
        h.window = std::make_unique<MainWindow>(WindowServices{h.dialogs, h.clipboard, h.shell, *h.settings, h.events,
                                                               [harness] { ++harness->endCalls; }, h.folder.path()});
        h.window->recordSampleFiles = [] {
            Fail(QStringLiteral("Path not found"));
        };
        h.window->Form_Load();

        const auto boxes = h.dialogs.transcript();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes[0].icon, Dialogs::Icon::Warning);
        QCOMPARE(boxes[0].text, QStringLiteral("Invalid picture\r\nin Pellowin2021/08/31.Form1.Form_Load at line "
                                               "106\r\rPlease email screenshot of this message to "
                                               "support@quorvane.com"));
        QCOMPARE(boxes[1].text, QStringLiteral("Path not found\r\nin Pellowin2021/08/31.Form1.Form_Load at line "
                                               "108\r\rPlease email screenshot of this message to "
                                               "support@quorvane.com"));
        // The later steps still ran.
        QCOMPARE(h.window->windowTitle(), QStringLiteral("Quillory"));
        QCOMPARE(h.find<QLineEdit>("Text1")->text(), QStringLiteral("tr"));
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void pruningIsRefusedWhileBusy()
    {
        Harness h;
        MainWindow& window = h.load();
        auto* list = h.find<QTableView>("ListView1");
        window.inputFiles().AppendMany({"/a.htm", "/b.htm", "/c.htm"});
        window.results().Append("row");
        list->setCurrentIndex(list->model()->index(1, 0));

        window.setPointer(MainWindow::Hourglass);
        QTest::keyClick(list, Qt::Key_Delete);
        window.ListView1_DblClick();
        QTest::mouseClick(h.find<QPushButton>("PushButton14"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), QStringList({"/a.htm", "/b.htm", "/c.htm"}));
        // Hovering never replaces the hourglass.
        window.PushButton_MouseMove();
        window.Form_MouseMove();
        QCOMPARE(window.pointer(), int(MainWindow::Hourglass));
        // The results' own "Clear List" does not look at the pointer.
        QTest::mouseClick(h.find<QPushButton>("PushButton9"), Qt::LeftButton);
        QCOMPARE(window.results().Count(), 0);

        window.setPointer(MainWindow::DefaultPointer);
        QTest::keyClick(list, Qt::Key_Delete, Qt::ShiftModifier);
        QCOMPARE(inputTexts(window), QStringList({"/a.htm", "/c.htm"}));
        QTest::keyClick(list, Qt::Key_A);
        QCOMPARE(window.inputFiles().Count(), 2);
        list->setCurrentIndex(list->model()->index(0, 0));
        const QRect first = list->visualRect(list->model()->index(0, 0));
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first.center());
        QCOMPARE(inputTexts(window), QStringList({"/c.htm"}));
        QTest::mouseClick(h.find<QPushButton>("PushButton14"), Qt::LeftButton);
        QCOMPARE(window.inputFiles().Count(), 0);
        // On an empty list nothing happens.
        QTest::keyClick(list, Qt::Key_Delete);
        window.ListView1_DblClick();
        QTest::mouseClick(h.find<QPushButton>("PushButton14"), Qt::LeftButton);
        QCOMPARE(window.inputFiles().Count(), 0);
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

    void draggingAnItemCarriesItsTextAlong()
    {
        Harness h;
        MainWindow& window = h.load();
        window.inputFiles().AppendMany({"first", "second", "third", "second"});
        auto* list = h.find<QTableView>("ListView1");
        QWidget* viewport = list->viewport();
        auto centre = [list](int row) {
            return list->visualRect(list->model()->index(row, 0)).center();
        };

        QTest::mousePress(viewport, Qt::LeftButton, {}, centre(2));
        QTest::mouseMove(viewport, centre(1));
        QTest::mouseMove(viewport, centre(0));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre(0));
        QCOMPARE(inputTexts(window), QStringList({"third", "first", "second", "second"}));
        QCOMPARE(list->currentIndex().row(), 0);

        // Across an item with the same text nothing is swapped.
        QTest::mousePress(viewport, Qt::LeftButton, {}, centre(2));
        QTest::mouseMove(viewport, centre(3));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, centre(3));
        QCOMPARE(inputTexts(window), QStringList({"third", "first", "second", "second"}));

        // Moving without the button down reorders nothing.
        QTest::mouseMove(viewport, centre(1));
        QCOMPARE(inputTexts(window), QStringList({"third", "first", "second", "second"}));
    }

    void pointerFollowsTheMouseUnlessBusy()
    {
        Harness h;
        MainWindow& window = h.load();
        window.PushButton_MouseMove();
        QCOMPARE(window.pointer(), int(MainWindow::CustomPointer));
        // Without HAND-M.CUR the custom pointer is the arrow.
        QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
        window.Form_MouseMove();
        QCOMPARE(window.pointer(), int(MainWindow::DefaultPointer));
        window.setPointer(MainWindow::Hourglass);
        QCOMPARE(window.cursor().shape(), Qt::WaitCursor);
        window.setPointer(MainWindow::DefaultPointer);
        window.PushButton_MouseMove();
        QCOMPARE(window.pointer(), int(MainWindow::CustomPointer));

        // The real movements reach the same handlers.
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto* help = h.find<QPushButton>("PushButton2");
        QTest::mouseMove(&window, {300, 380}); // between the frame and "Start Extracting"
        QTRY_COMPARE(window.pointer(), int(MainWindow::DefaultPointer));
        QTest::mouseMove(help, help->rect().center());
        QTRY_COMPARE(window.pointer(), int(MainWindow::CustomPointer));
        QTest::mouseMove(h.find<QTableView>("ListView2")->viewport(), {20, 20});
        QTRY_COMPARE(window.pointer(), int(MainWindow::DefaultPointer));
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

    void theHandPointerComesFromTheCursorFile()
    {
        // A 32 x 32 monochrome cursor with its hot spot at (5, 7).
        QByteArray cursor;
        auto put16 = [&cursor](int v) {
            cursor.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF));
        };
        auto put32 = [&](int v) {
            put16(v & 0xFFFF);
            put16(v >> 16);
        };
        put16(0);
        put16(2);
        put16(1);
        cursor.append(char(32)).append(char(32)).append(char(2)).append(char(0));
        put16(5);
        put16(7);
        const int imageSize = 40 + 8 + 128 + 128;
        put32(imageSize);
        put32(22);
        put32(40);
        put32(32);
        put32(64);
        put16(1);
        put16(1);
        put32(0);
        put32(256);
        put32(0);
        put32(0);
        put32(2);
        put32(0);
        put32(0);
        put32(0x00FFFFFF);
        cursor.append(QByteArray(128, '\x0F')).append(QByteArray(128, '\0'));

        Harness h;
        h.writeBesideProgram("HAND-M.CUR", cursor);
        MainWindow& window = h.load();
        window.PushButton_MouseMove();
        QCOMPARE(window.cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(window.cursor().hotSpot(), QPoint(5, 7));
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

    void closingLetsEventsRunTwiceThenEndsTheProgram()
    {
        Harness h;
        MainWindow& window = h.load();
        const int before = h.events.calls();
        window.close();
        QCOMPARE(h.events.calls() - before, 2);
        QCOMPARE(h.endCalls, 1);
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

    void theSkinRecoloursTheWindow()
    {
        const QColor white(Qt::white);
        {
            Harness h;
            MainWindow& window = h.load();
            QCOMPARE(window.palette().color(QPalette::Window), white);
            QCOMPARE(h.find<QGroupBox>("Frame1")->palette().color(QPalette::Window), white);
            QCOMPARE(h.find<QRadioButton>("Option2")->palette().color(QPalette::Window), white);
            QVERIFY(window.styleSheet().isEmpty());
        }
        Harness h;
        h.writeBesideProgram("x/o.cjs", "QPushButton { color: #123456; }");
        MainWindow& window = h.load();
        const QColor buttonFace = QApplication::palette().color(QPalette::Button);
        QCOMPARE(window.palette().color(QPalette::Window), buttonFace);
        QCOMPARE(h.find<QGroupBox>("Frame1")->palette().color(QPalette::Window), buttonFace);
        QCOMPARE(h.find<QRadioButton>("Option4")->palette().color(QPalette::Window), buttonFace);
        QCOMPARE(window.styleSheet(), QStringLiteral("QPushButton { color: #123456; }"));
    }

    void controlsAreLaidOutAsDesigned()
    {
        // name, caption, left, top, width, height in pixels (twips / 15), tab index
        const struct
        {
            const char* name;
            QString caption;
            QRect geometry;
            int tab;
        } expected[] = {
            {"ListView1", "", {8, 42, 520, 169}, 0},
            {"ListView2", "", {8, 440, 520, 169}, 3},
            {"PushButton1", "Add HTML Files", {8, 217, 256, 27}, 4},
            {"PushButton5", "Add All HTML Files In Folder", {272, 217, 256, 27}, 5},
            {"PushButton7", "Start Extracting", {8, 406, 520, 27}, 6},
            {"PushButton6", "Save Results As Text File", {8, 615, 256, 27}, 7},
            {"PushButton12", "Save As Comma Delimited", {272, 615, 256, 27}, 8},
            {"PushButton11", "Copy Results To Clipboard", {8, 649, 256, 27}, 9},
            {"PushButton9", "Clear List", {272, 649, 256, 27}, 10},
            {"PushButton2", "Help", {8, 8, 520, 27}, 11},
            {"Frame1", "Extract Options", {8, 282, 520, 116}, 12},
            {"Option1", "Extract all data between all tags", {16, 20, 236, 15}, 13},
            {"Option2", "Extract data and tag between this tag:", {16, 43, 246, 15}, 14},
            {"Option3", "Extract entire line containing this tag or data:", {16, 67, 288, 15}, 15},
            {"Option4", "Extract all tags in file", {16, 90, 232, 15}, 16},
            {"PushButton13", "Load Sample/Example Files", {272, 251, 256, 27}, 17},
            {"PushButton14", "Clear List", {8, 251, 256, 27}, 18},
            {"Text1", "", {256, 40, 145, 22}, 19},
            {"Text2", "", {296, 66, 145, 22}, 20},
        };
        Harness h;
        MainWindow& window = h.load();
        QCOMPARE(window.size(), QSize(536, 684));
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        for (const auto& control : expected) {
            QWidget* widget = h.find<QWidget>(control.name);
            QVERIFY2(widget, control.name);
            QCOMPARE(widget->geometry(), control.geometry);
            if (auto* button = qobject_cast<QPushButton*>(widget)) {
                QCOMPARE(button->text(), control.caption);
                QCOMPARE(button->font().family(), QStringLiteral("Arial"));
                QCOMPARE(button->font().pointSizeF(), 11.25);
                QVERIFY(button->font().bold());
            } else if (auto* option = qobject_cast<QAbstractButton*>(widget)) {
                QCOMPARE(option->text(), control.caption);
            } else if (auto* frame = qobject_cast<QGroupBox*>(widget)) {
                QCOMPARE(frame->title(), control.caption);
            }
        }
        // Tab moves through the focusable controls in their designed order.
        const QStringList order = {"ListView1",   "ListView2",    "PushButton1",  "PushButton5", "PushButton7",
                                   "PushButton6", "PushButton12", "PushButton11", "PushButton9", "PushButton2",
                                   "Option1",     "PushButton13", "PushButton14", "Text1",       "Text2"};
        h.find<QWidget>("ListView1")->setFocus();
        QApplication::processEvents();
        QStringList visited = {QApplication::focusWidget()->objectName()};
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, order);

        QCOMPARE(h.find<QTableView>("ListView1")->toolTip(),
                 QStringLiteral("Drag and drop files here. Double-click item to remove it. Move | line to right and "
                                "out of window to reveal full names."));
        QCOMPARE(h.find<QTableView>("ListView2")->toolTip(),
                 QStringLiteral("Move | line to right and out of window to reveal full names."));
        // The two hidden controls lie below the visible area.
        QVERIFY(h.find<QWidget>("Text1x")->y() >= window.height());
        QVERIFY(h.find<QWidget>("Label1")->y() >= window.height());
        QCOMPARE(h.find<QLabel>("Label1")->text(), QStringLiteral("Enter tag without < or / or > :"));
    }

    void tabMovesBetweenControlsWhileTheListsHoldRows()
    {
        Harness h;
        MainWindow& window = h.load();
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.inputFiles().AppendMany({"/a.htm", "/b.htm", "/c.htm"});
        for (const char* row : {"one", "two", "three"})
            window.results().Append(QString::fromLatin1(row));

        // From Help round the whole window and back, then the same way back again with Shift+Tab.
        const QStringList order = {"PushButton2",  "Option1",      "PushButton13", "PushButton14",
                                   "Text1",        "Text2",        "ListView1",    "ListView2",
                                   "PushButton1",  "PushButton5",  "PushButton7",  "PushButton6",
                                   "PushButton12", "PushButton11", "PushButton9",  "PushButton2"};
        h.find<QWidget>("PushButton2")->setFocus();
        QStringList forward = {QApplication::focusWidget()->objectName()};
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            forward << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(forward, order);
        QStringList backward = {QApplication::focusWidget()->objectName()};
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
            backward << QApplication::focusWidget()->objectName();
        }
        std::reverse(backward.begin(), backward.end());
        QCOMPARE(backward, order);

        // Within a list the arrow keys move from row to row.
        auto* inputs = h.find<QTableView>("ListView1");
        inputs->setFocus();
        inputs->setCurrentIndex(inputs->model()->index(0, 0));
        QTest::keyClick(inputs, Qt::Key_Down);
        QTest::keyClick(inputs, Qt::Key_Down);
        QCOMPARE(inputs->currentIndex().row(), 2);
        QCOMPARE(QApplication::focusWidget(), inputs);
        QTest::keyClick(inputs, Qt::Key_Up);
        QCOMPARE(inputs->currentIndex().row(), 1);
    }
};

std::unique_ptr<QObject> makeErrorTrapTest();
std::unique_ptr<QObject> makeRunTest();
std::unique_ptr<QObject> makeExportTest();
std::unique_ptr<QObject> makeInputsTest();
std::unique_ptr<QObject> makeQtDialogsTest();

std::vector<std::unique_ptr<QObject>> makeWindowSuites()
{
    std::vector<std::unique_ptr<QObject>> suites;
    suites.push_back(makeErrorTrapTest());
    suites.push_back(std::make_unique<MainWindowTest>());
    suites.push_back(makeRunTest());
    suites.push_back(makeExportTest());
    suites.push_back(makeInputsTest());
    suites.push_back(makeQtDialogsTest());
    return suites;
}

#include "MainWindowTest.moc"
