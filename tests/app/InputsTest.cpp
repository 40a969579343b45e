#include "EscapedName.h"
#include "Steps.h"
#include "WindowHarness.h"

#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QUrl>

#include <cstdio>
#include <utility>

namespace {

const QString kExtensionPrompt = QStringLiteral(
    "Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all doc files, etc.)");

// A small tree: top/a.htm, top/b.txt, top/~c.htm, top/sub/d.html, top/sub/deeper/e.htm, top/other/f.htm; its path
// as the system spells it.
QString makeTree(Harness& h)
{
    for (const char* name :
         {"top/a.htm", "top/b.txt", "top/~c.htm", "top/sub/d.html", "top/sub/deeper/e.htm", "top/other/f.htm"})
        h.writeBesideProgram(name, "<p>x</p>");
    return native(h.folder.filePath("top"));
}

// Sends a drag over the input list and, when it is accepted, the drop; answers whether it was accepted.
bool dropOnList(MainWindow& window, QMimeData* data)
{
    QWidget* viewport = window.findChild<QTableView*>("ListView1")->viewport();
    const QPoint at = viewport->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &drop);
    return true;
}

} // namespace

class InputsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void folderScanAddsMatchingFilesBreadthFirst()
    {
        Harness h;
        MainWindow& window = h.load();
        const QString top = makeTree(h);
        auto* scan = h.find<QPushButton>("PushButton5");

        int busyWaits = 0;
        h.events.everyCall([&] { busyWaits += window.pointer() == MainWindow::Hourglass; });
        h.dialogs.answerPrompt("htm");
        h.dialogs.answerChooseFolder(top);
        QTest::mouseClick(scan, Qt::LeftButton);
        QCOMPARE(inputTexts(window),
                 natives({top + "/a.htm", top + "/other/f.htm", top + "/sub/d.html", top + "/sub/deeper/e.htm"}));
        QCOMPARE(h.setting("Extension"), QStringLiteral("htm"));
        QCOMPARE(h.setting("LastFolder"), top);
        QVERIFY(busyWaits > 0);
        QCOMPARE(window.pointer(), 0);
        FakeDialogs::Box prompt{FakeDialogs::Kind::Prompt, "Quillory", kExtensionPrompt};
        prompt.proposed = "htm";
        FakeDialogs::Box chooser{FakeDialogs::Kind::ChooseFolder, "Please select folder:"};
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({prompt, chooser}));

        // "*" takes every file, and the folder dialog starts where the last scan chose; scanning
        // again adds everything again.
        h.dialogs.answerPrompt("*");
        h.dialogs.answerChooseFolder(native(top + "/sub"));
        QTest::mouseClick(scan, Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript()[2].proposed, QStringLiteral("htm"));
        QCOMPARE(h.dialogs.transcript()[3].initialFolder, top);
        QCOMPARE(inputTexts(window).mid(4), natives({top + "/sub/d.html", top + "/sub/deeper/e.htm"}));

        // Cancelling the prompt stores nothing and asks for no folder; cancelling the folder
        // keeps the new extension and never shows the hourglass.
        h.dialogs.answerPrompt(QString());
        QTest::mouseClick(scan, Qt::LeftButton);
        QCOMPARE(h.setting("Extension"), QStringLiteral("*"));
        QCOMPARE(h.dialogs.transcript().size(), 5);
        busyWaits = 0;
        h.dialogs.answerPrompt("txt");
        h.dialogs.answerChooseFolder(QString());
        QTest::mouseClick(scan, Qt::LeftButton);
        QCOMPARE(h.setting("Extension"), QStringLiteral("txt"));
        QCOMPARE(busyWaits, 0);
        QCOMPARE(window.inputFiles().Count(), 6);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void aFailureInTheFolderWalkIsReportedAsTheWalksOwnAndTheScanGoesOn()
    {
        Harness h;
        MainWindow& window = h.load();
        const QString top = makeTree(h);
        // The first time the walk lets events through, for the chosen folder itself, something fails.
        bool failed = false;
        h.events.everyCall([&] {
            if (window.pointer() == MainWindow::Hourglass && !std::exchange(failed, true))
                Fail(QStringLiteral("Out of stack space"));
        });
        h.dialogs.answerPrompt("htm");
        h.dialogs.answerChooseFolder(top);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton5"), Qt::LeftButton);
        QVERIFY(failed);
        QCOMPARE(
            h.dialogs.transcript().last(),
            FakeDialogs::Box({FakeDialogs::Kind::Message, "Application Error",
                              "Out of stack space\r\nin Ostwenna2021/08/31.AddFolder.GetSubDirectories2016 at line "
                              "114\r\rPlease email screenshot of this message to support@quorvane.com",
                              Dialogs::Icon::Warning}));
        QCOMPARE(inputTexts(window),
                 natives({top + "/a.htm", top + "/other/f.htm", top + "/sub/d.html", top + "/sub/deeper/e.htm"}));
        QCOMPARE(window.pointer(), 0);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void eachStepOfTheWalkIsReportedWithItsOwnNumber_data()
    {
        QTest::addColumn<bool>("dropped");
        QTest::addColumn<int>("pass");
        QTest::addColumn<int>("step");
        // The walk of top/ with top/sub/ in it lets events through four times: before top is listed, for the name
        // sub found in it, before sub is listed, and when sub is handed up to the first level.
        for (const bool dropped : {false, true}) {
            const char* gesture = dropped ? "drop" : "scan";
            QTest::addRow("%s, before a folder is listed", gesture) << dropped << 1 << 114;
            QTest::addRow("%s, for a sub-folder's name", gesture) << dropped << 2 << 120;
            QTest::addRow("%s, before a sub-folder is listed", gesture) << dropped << 3 << 114;
            QTest::addRow("%s, when a folder is handed up", gesture) << dropped << 4 << 156;
        }
    }
    void eachStepOfTheWalkIsReportedWithItsOwnNumber()
    {
        QFETCH(bool, dropped);
        QFETCH(int, pass);
        QFETCH(int, step);
        Harness h;
        MainWindow& window = h.load();
        h.writeBesideProgram("top/a.htm", "<p>x</p>");
        h.writeBesideProgram("top/sub/b.htm", "<p>x</p>");
        const QString top = native(h.folder.filePath("top"));
        const int start = h.events.calls();
        h.events.everyCall([&] {
            if (h.events.calls() == start + pass)
                Fail(QStringLiteral("Out of stack space"));
        });
        if (dropped) {
            h.dialogs.expectMessage();
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(top)});
            QVERIFY(dropOnList(window, &data));
        } else {
            h.dialogs.answerPrompt("htm");
            h.dialogs.answerChooseFolder(top);
            h.dialogs.expectMessage();
            QTest::mouseClick(h.find<QPushButton>("PushButton5"), Qt::LeftButton);
        }
        QCOMPARE(h.dialogs.transcript().last(),
                 FakeDialogs::Box({FakeDialogs::Kind::Message, "Application Error",
                                   QStringLiteral("Out of stack space\r\nin Ostwenna2021/08/31.AddFolder."
                                                  "GetSubDirectories2016 at line %1\r\rPlease email screenshot of "
                                                  "this message to support@quorvane.com")
                                       .arg(step),
                                   Dialogs::Icon::Warning}));
        // An event pass that fails costs nothing: the walk goes on as if it had gone through.
        QCOMPARE(inputTexts(window), natives({top + "/a.htm", top + "/sub/b.htm"}));
        QCOMPARE(window.pointer(), 0);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void escapeStopsAFolderScanAndKeepsTheFilesFoundSoFar()
    {
        Harness h;
        MainWindow& window = h.load();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const char* name : {"top/a.htm", "top/one/b.htm", "top/two/c.htm"})
            h.writeBesideProgram(name, "<p>x</p>");
        const QString top = native(h.folder.filePath("top"));
        // The walk lets events through seven times here (three folders listed, two found, two copied up); then
        // once before each folder's files are taken. Escape comes before the second folder's.
        QStringList captions;
        h.events.everyCall([&] {
            if (captions.isEmpty() || captions.last() != window.windowTitle())
                captions << window.windowTitle();
        });
        h.events.onCall(8, [&] { h.now = 600; });
        h.events.onCall(9, [&] { QTest::keyClick(&window, Qt::Key_Escape); });
        h.dialogs.answerPrompt("htm");
        h.dialogs.answerChooseFolder(top);
        QTest::mouseClick(h.find<QPushButton>("PushButton5"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), natives({top + "/a.htm"}));
        QCOMPARE(captions, QStringList({"Quillory", "Quillory - 3 folders, 1 file found - Esc stops"}));
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillory"));
        QCOMPARE(window.pointer(), 0);
        QCOMPARE(h.events.calls(), 9);
        QCOMPARE(h.dialogs.transcript().size(), 2);
    }

    void dropsAddFilesAsGivenAndWalkFolders()
    {
        Harness h;
        MainWindow& window = h.load();
        const QString top = makeTree(h);
        const QString second = h.folder.filePath("second");
        h.writeBesideProgram("second/g.txt", "text");

        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(top + "/b.txt"), QUrl::fromLocalFile(top + "/~c.htm"),
                       QUrl::fromLocalFile(top + "/a.htm"), QUrl::fromLocalFile(h.folder.filePath("gone.htm"))});
        QVERIFY(dropOnList(window, &files));
        QCOMPARE(inputTexts(window), natives({top + "/b.txt", top + "/~c.htm", top + "/a.htm"}));

        window.inputFiles().Clear();
        QMimeData folders;
        folders.setUrls({QUrl::fromLocalFile(second), QUrl::fromLocalFile(top + "/sub")});
        QVERIFY(dropOnList(window, &folders));
        QCOMPARE(inputTexts(window), natives({second + "/g.txt", top + "/sub/d.html", top + "/sub/deeper/e.htm"}));
        QCOMPARE(window.pointer(), 0);

        QMimeData text;
        text.setText("/etc/passwd");
        QVERIFY(!dropOnList(window, &text));
        QCOMPARE(window.inputFiles().Count(), 3);
        QVERIFY(h.dialogs.transcript().isEmpty());
    }

#ifndef Q_OS_WIN // Windows names are UTF-16, which Qt spells exactly: none is a string of bytes that is not UTF-8.
    void aDroppedNameThatIsNotUtf8IsKeptAndShownWithAReplacementMark()
    {
        Harness h;
        MainWindow& window = h.load();
        h.writeBesideProgram("folder/x.htm", "<p>x</p>");
        const QByteArray folder = QFile::encodeName(h.folder.filePath("folder"));
        for (const QByteArray& name : {folder + "/caf\xE9.htm", folder + "/inner\xFF.htm"}) {
            std::FILE* created = std::fopen(name.constData(), "wb");
            QVERIFY(created);
            std::fclose(created);
        }
        const QString base = h.folder.filePath("folder");
        QMimeData data;
        // As a file manager sends it: the name's bytes percent-encoded.
        data.setUrls({QUrl(QString::fromLatin1("file://" + (folder + "/caf\xE9.htm").toPercentEncoding("/"))),
                      QUrl::fromLocalFile(base)});
        QVERIFY(dropOnList(window, &data));
        QCOMPARE(inputTexts(window), QStringList({base + EscapedName("/caf%E9.htm"), base + EscapedName("/caf%E9.htm"),
                                                  base + EscapedName("/inner%FF.htm"), base + "/x.htm"}));
        const QAbstractItemModel& model = window.inputFiles();
        QCOMPARE(model.data(model.index(0, 0)).toString(), base + QStringLiteral("/caf\uFFFD.htm"));
    }
#endif

    void anInstalledProgramFindsItsSamplesInItsDataFolder()
    {
        Harness h;
        h.recordSamplesForReal = true;
        h.dataFolder = native(h.folder.filePath("share/quillory"));
        for (const char* name : {"share/quillory/Samples/figures.html", "share/quillory/Samples/notes.txt"})
            h.writeBesideProgram(name, "<p>sample</p>");
        MainWindow& window = h.load();
        const QString samples = native(h.dataFolder + "/Samples/");
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), QStringList({samples + "figures.html", samples + "notes.txt"}));
        QCOMPARE(h.shell.opened, QStringList({samples}));

        // Files and folders handed to the program when it starts join the list as a drop of them would.
        window.inputFiles().Clear();
        window.AddGivenPaths({samples + "notes.txt", h.dataFolder, native(h.folder.filePath("gone.html"))});
        QCOMPARE(inputTexts(window),
                 QStringList({samples + "notes.txt", samples + "figures.html", samples + "notes.txt"}));
    }

    void samplesBesideTheProgramComeBeforeThoseOfTheDataFolder()
    {
        Harness h;
        h.recordSamplesForReal = true;
        h.dataFolder = native(h.folder.filePath("share/quillory"));
        h.writeBesideProgram("share/quillory/Samples/shared.html", "<p>sample</p>");
        h.writeBesideProgram("Samples/own.html", "<p>sample</p>");
        MainWindow& window = h.load();
        h.dialogs.answerQuestion(Dialogs::Answer::No);
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), natives({h.folder.path() + "/Samples/own.html"}));
    }

    void samplesAreRecordedAtStartAndLoadedOnce()
    {
        Harness h;
        h.recordSamplesForReal = true;
        for (const char* name : {"Samples/figures.html", "Samples/links.html", "Samples/notes.txt"})
            h.writeBesideProgram(name, "<p>sample</p>");
        MainWindow& window = h.load();
        QVERIFY(h.setting("Snapshot") != QStringLiteral("<none>"));
        QVERIFY(!h.setting("Snapshot").isEmpty());
        h.find<QRadioButton>("Option3")->setChecked(true);
        const QString samples = native(h.folder.path() + "/Samples/");

        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QCOMPARE(inputTexts(window),
                 QStringList({samples + "figures.html", samples + "links.html", samples + "notes.txt"}));
        QCOMPARE(h.shell.opened, QStringList({samples}));
        QVERIFY(h.find<QRadioButton>("Option1")->isChecked());
        FakeDialogs::Box question{FakeDialogs::Kind::Question, "Quillory",
                                  "Would you like this software to open the folder where these sample files are "
                                  "stored (so that you can view them before working with them)?"};
        question.defaultAnswer = Dialogs::Answer::Yes;
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({question}));

        // Again: nothing new, the question again, and No opens nothing.
        QFile::remove(samples + "links.html");
        window.inputFiles().RemoveAt(2);
        h.dialogs.answerQuestion(Dialogs::Answer::No);
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), QStringList({samples + "figures.html", samples + "notes.txt"}));
        QCOMPARE(h.shell.opened.size(), 1);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void aSamplesFolderThatVanishedAddsNothing_data()
    {
        QTest::addColumn<bool>("midLoad");
        QTest::newRow("between the recording and the click") << false;
        QTest::newRow("while the record is read") << true;
    }
    void aSamplesFolderThatVanishedAddsNothing()
    {
        QFETCH(bool, midLoad);
        Harness h;
        h.recordSamplesForReal = true;
        for (const char* name : {"Samples/figures.html", "Samples/links.html"})
            h.writeBesideProgram(name, "<p>sample</p>");
        MainWindow& window = h.load();
        window.inputFiles().Append("/chosen/before.htm");
        h.find<QRadioButton>("Option3")->setChecked(true);
        auto vanish = [&] {
            QVERIFY(QDir(h.folder.path()).rename("Samples", "Gone"));
        };
        if (midLoad)
            h.events.onCall(h.events.calls() + 5, vanish); // a few characters into the record
        else
            vanish();

        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>("PushButton13"), Qt::LeftButton);
        QCOMPARE(inputTexts(window), QStringList({"/chosen/before.htm"}));
        // As after any load: the offer to show the folder, whose failure to open is not the program's to report,
        // and the first option ready for a run.
        FakeDialogs::Box question{FakeDialogs::Kind::Question, "Quillory",
                                  "Would you like this software to open the folder where these sample files are "
                                  "stored (so that you can view them before working with them)?"};
        question.defaultAnswer = Dialogs::Answer::Yes;
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({question}));
        QCOMPARE(h.shell.opened, natives({h.folder.path() + "/Samples/"}));
        QVERIFY(h.find<QRadioButton>("Option1")->isChecked());
        QVERIFY(!QDir(h.folder.filePath("Samples")).exists());
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }
};

std::unique_ptr<QObject> makeInputsTest()
{
    return std::make_unique<InputsTest>();
}

#include "InputsTest.moc"
