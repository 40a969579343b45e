#include "AnsiCodec.h"
#include "HeldFile.h"
#include "ResultsExport.h"
#include "SampleRows.h"
#include "WindowHarness.h"

#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

const QString kFilter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
const QString kCopied = QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where you "
                                       "normally type and press Ctrl+V to paste the clipboard.");

FakeDialogs::Box saveBox()
{
    FakeDialogs::Box box{FakeDialogs::Kind::SaveFile, QStringLiteral("Save")};
    box.filter = kFilter;
    return box;
}

FakeDialogs::Box overwriteBox(const QString& path)
{
    FakeDialogs::Box box{FakeDialogs::Kind::Question, QStringLiteral("Quillory"),
                         "Are you sure you wish to overwrite " + path + " ?"};
    box.defaultAnswer = Dialogs::Answer::Yes;
    return box;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

FakeDialogs::Box reportBox(const QString& why, const QString& button, int step)
{
    return {FakeDialogs::Kind::Message, QStringLiteral("Application Error"),
            QStringLiteral("Path/File access error (%1)\r\nin Pellowin2021/08/31.Form1.%2_Click at line %3\r\rPlease "
                           "email screenshot of this message to support@quorvane.com")
                .arg(why, button)
                .arg(step),
            Dialogs::Icon::Warning};
}

#ifndef Q_OS_WIN
// While it lives, no file of this process may grow past the limit, the way a full disk stops
// them; a write beyond it fails with "File too large" instead of ending the process.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGXFSZ, &ignore, &m_oldAction);
        getrlimit(RLIMIT_FSIZE, &m_oldLimit);
        rlimit lowered = m_oldLimit;
        lowered.rlim_cur = limit;
        m_lowered = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_oldLimit);
        sigaction(SIGXFSZ, &m_oldAction, nullptr);
    }
    bool lowered() const { return m_lowered; }

private:
    struct sigaction m_oldAction = {};
    rlimit m_oldLimit = {};
    bool m_lowered = false;
};
#endif

} // namespace

class ExportTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void savesWriteTheExactBytes_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << "PushButton6" << QStringList({"a", "", "b"}) << QByteArray("a\r\n\r\nb\r\n");
        QTest::newRow("text, outside the code page")
            << "PushButton6" << QStringList({QStringLiteral("caf\u00E9 \u03A9\t1")}) << QByteArray("caf\xE9 ?\t1\r\n");
        QTest::newRow("text, empty") << "PushButton6" << QStringList() << QByteArray();
        QTest::newRow("comma") << "PushButton12" << QStringList({"a,b", "c"}) << QByteArray("a,b,c,\r\n");
        QTest::newRow("comma, empty row") << "PushButton12" << QStringList({"a", "", "b"}) << QByteArray("a,,b,\r\n");
        QTest::newRow("comma, empty") << "PushButton12" << QStringList() << QByteArray("\r\n");
        // Characters of one to four bytes of UTF-8, a NUL, a line break and a byte-order mark of the row's own.
        const QStringList everyKind{QStringLiteral("caf\u00E9 \u20AC\u4E2D\U0001F600"),
                                    QStringLiteral("a") + QChar(0) + "b", "x\r\ny", QStringLiteral("\uFEFFmark"),
                                    QStringLiteral("\uFFFD")};
        QTest::newRow("text, every kind of character")
            << "PushButton6" << everyKind
            << QByteArray("caf\xE9 \x80??\r\na") + '\0' + QByteArray("b\r\nx\r\ny\r\n?mark\r\n?\r\n");
        QTest::newRow("comma, every kind of character")
            << "PushButton12" << everyKind
            << QByteArray("caf\xE9 \x80??,a") + '\0' + QByteArray("b,x\r\ny,?mark,?,\r\n");
    }
    void savesWriteTheExactBytes()
    {
        QFETCH(QString, button);
        QFETCH(QStringList, rows);
        QFETCH(QByteArray, bytes);
        Harness h;
        MainWindow& window = h.load();
        for (const QString& row : rows)
            window.results().Append(row);
        const QString path = h.folder.filePath("out.txt");

        int busySeen = 0;
        h.events.everyCall([&] { busySeen += window.pointer() == MainWindow::Hourglass; });
        h.dialogs.answerSaveFile(path);
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        QCOMPARE(contents(path), bytes);
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox()}));
        QCOMPARE(window.pointer(), 0);
        QCOMPARE(h.events.calls(), int(rows.size())); // one event pass per row
        QCOMPARE(busySeen, int(rows.size()));

        // Over an existing file: No leaves it, Yes replaces all of it.
        h.dialogs.answerSaveFile(path);
        h.dialogs.answerQuestion(Dialogs::Answer::No);
        h.writeBesideProgram("out.txt", "an older, longer file\r\n");
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        QCOMPARE(contents(path), QByteArray("an older, longer file\r\n"));
        h.dialogs.answerSaveFile(path);
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        QCOMPARE(contents(path), bytes);
        QCOMPARE(h.dialogs.transcript(),
                 QList<FakeDialogs::Box>({saveBox(), saveBox(), overwriteBox(path), saveBox(), overwriteBox(path)}));

        // Cancel writes nothing and leaves the pointer alone.
        window.setPointer(MainWindow::CustomPointer);
        h.dialogs.answerSaveFile(QString());
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        QCOMPARE(window.pointer(), int(MainWindow::CustomPointer));
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    // Past the 260 characters of a plain Windows path, too.
    void aFileDeepInFoldersIsSaved()
    {
        Harness h;
        MainWindow& window = h.load();
        window.results().Append("deep");
        const QString folder =
            h.folder.filePath(QString(100, u'a') + "/" + QString(100, u'b') + "/" + QString(80, u'c'));
        QVERIFY(QDir().mkpath(folder));
        const QString path = native(folder + "/out.txt");
        QVERIFY(path.size() > 300);
        h.dialogs.answerSaveFile(path);
        QTest::mouseClick(h.find<QPushButton>("PushButton6"), Qt::LeftButton);
        QCOMPARE(contents(path), QByteArray("deep\r\n"));
        QCOMPARE(filesIn(folder), QStringList({"out.txt"}));
        h.dialogs.answerSaveFile(path);
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>("PushButton12"), Qt::LeftButton);
        QCOMPARE(contents(path), QByteArray("deep,\r\n"));
        QCOMPARE(filesIn(folder), QStringList({"out.txt"}));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox(), saveBox(), overwriteBox(path)}));
    }

    void theCaptionShowsHowManyRowsASaveOrCopyHasDone_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("text") << "PushButton6";
        QTest::newRow("comma-delimited") << "PushButton12";
        QTest::newRow("copy") << "PushButton11";
    }
    void theCaptionShowsHowManyRowsASaveOrCopyHasDone()
    {
        QFETCH(QString, button);
        Harness h;
        MainWindow& window = h.load();
        for (int row = 1; row <= 8; ++row)
            window.results().Append(QStringLiteral("row %1").arg(row));
        if (button != "PushButton11")
            h.dialogs.answerSaveFile(h.folder.filePath("out.txt"));
        else
            h.dialogs.expectMessage();
        // Each pass of the events takes 150 ms: the caption first changes at 600 ms (over half a second), then no
        // sooner than 200 ms later.
        QStringList captions;
        h.events.everyCall([&] {
            if (captions.isEmpty() || captions.last() != window.windowTitle())
                captions << window.windowTitle();
            h.now += 150;
        });
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        const QStringList expected =
            button == "PushButton11"
                // The copy measures every row before it lays them out.
                ? QStringList({"Quillory", "Quillory - 0 of 8 rows", "Quillory - 1 of 8 rows", "Quillory - 2 of 8 rows",
                               "Quillory - 3 of 8 rows", "Quillory - 4 of 8 rows", "Quillory - 5 of 8 rows",
                               "Quillory - 6 of 8 rows", "Quillory - 7 of 8 rows"})
                : QStringList({"Quillory", "Quillory - 4 of 8 rows", "Quillory - 6 of 8 rows"});
        QCOMPARE(captions, expected);
        QCOMPARE(window.windowTitle(), QStringLiteral("Quillory"));
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void aFailedSaveLeavesTheOldFileAsItWas()
    {
        for (const char* button : {"PushButton6", "PushButton12"}) {
            Harness h;
            MainWindow& window = h.load();
            window.results().Append("new 1");
            window.results().Append("new 2");
            h.writeBesideProgram("target/out.txt", "the old file\r\n");
            const QString path = h.folder.filePath("target/out.txt");
#ifdef Q_OS_WIN
            // Mid-save, another program opens the old file (Windows moves no folder with a file open in it): the
            // finished file can no longer take its place.
            const QString moved = h.folder.filePath("target");
            std::unique_ptr<HeldFile> held;
            h.events.onCall(2, [&] {
                held = std::make_unique<HeldFile>(path);
                QVERIFY(held->isHeld());
            });
#else
            // Mid-save, the folder moves away: the finished file can no longer take the old one's place.
            const QString moved = h.folder.filePath("moved");
            h.events.onCall(2, [&] { QVERIFY(QDir(h.folder.path()).rename("target", "moved")); });
#endif
            h.dialogs.answerSaveFile(path);
            h.dialogs.answerQuestion(Dialogs::Answer::Yes);
            h.dialogs.expectMessage();
            QTest::mouseClick(h.find<QPushButton>(button), Qt::LeftButton);

            const auto boxes = h.dialogs.transcript();
            QCOMPARE(boxes.size(), 3);
            QCOMPARE(boxes[2].title, QStringLiteral("Application Error"));
            const int step = QByteArray(button) == "PushButton6" ? 140 : 142;
            QVERIFY2(
                boxes[2].text.contains(
                    QStringLiteral("\r\nin Pellowin2021/08/31.Form1.%1_Click at line %2\r\r").arg(button).arg(step)),
                qPrintable(boxes[2].text));
#ifdef Q_OS_WIN
            held.reset();
#endif
            QCOMPARE(contents(moved + "/out.txt"), QByteArray("the old file\r\n"));
            QCOMPARE(QDir(moved).entryList(QDir::Files), QStringList({"out.txt"}));
            QCOMPARE(window.pointer(), 0);
        }

        // A folder that does not exist fails at the open, once.
        Harness h;
        MainWindow& window = h.load();
        window.results().Append("row");
        h.dialogs.answerSaveFile(h.folder.filePath("nowhere/out.txt"));
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton6"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().size(), 2);
        QVERIFY(h.dialogs.transcript()[1].text.contains("PushButton6_Click at line 130"));
    }

    void aSaveThatCannotBeWrittenSaysWhyAndKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<int>("step");
        QTest::addColumn<QString>("why");
        QTest::addColumn<int>("rows");
        for (const QString button : {"PushButton6", "PushButton12"}) {
            const QByteArray name = button.toLatin1();
            // A failed write shows when the file is closed: the rows wait in a buffer until then.
            const int closeStep = button == "PushButton6" ? 140 : 142;
#ifdef Q_OS_WIN
            // Windows lets an administrator create a file in any folder, and a full disk cannot be made without a
            // volume of its own: its refusals are a read-only file and a file another program holds open. The
            // reasons are the system's own words (ERROR_PATH_NOT_FOUND is 3, ERROR_ACCESS_DENIED 5), which differ
            // between Windows, its languages and Wine.
            const QString pathNotFound = qt_error_string(3);
            const QString accessDenied = qt_error_string(5);
            QTest::addRow("%s, a folder gone since the dialog", name.data())
                << button << "gone" << 130 << pathNotFound << 2;
            QTest::addRow("%s, a read-only file", name.data()) << button << "read-only" << 130 << accessDenied << 2;
            // Written beside it, the new file cannot take its place.
            QTest::addRow("%s, a file held open by another program", name.data())
                << button << "held" << closeStep << accessDenied << 2;
#else
            // More than a buffer's worth fails at the write itself: a row of the text file, the comma line.
            const int writeStep = button == "PushButton6" ? 136 : 140;
            QTest::addRow("%s, a folder that refuses even root", name.data())
                << button << "refused" << 130 << "Permission denied" << 2;
            QTest::addRow("%s, a full disk", name.data()) << button << "full" << closeStep << "File too large" << 2;
            QTest::addRow("%s, a full disk, many rows", name.data())
                << button << "full" << writeStep << "File too large" << 5000;
            QTest::addRow("%s, a folder gone since the dialog", name.data())
                << button << "gone" << 130 << "No such file or directory" << 2;
            // A writable file in such a folder is written in place; only a file that refuses too is a failure.
            QTest::addRow("%s, a folder and a file without write permission", name.data())
                << button << "read-only" << 130 << "Permission denied" << 2;
#endif
        }
    }
    void aSaveThatCannotBeWrittenSaysWhyAndKeepsTheOldFile()
    {
        QFETCH(QString, button);
        QFETCH(QString, fault);
        QFETCH(int, step);
        QFETCH(QString, why);
        QFETCH(int, rows);
#ifndef Q_OS_WIN
        if (fault == "read-only" && geteuid() == 0)
            QSKIP("root writes into a folder whatever its permission bits say; the /sys row stands in for it");
#endif
        Harness h;
        MainWindow& window = h.load();
        for (int row = 1; row <= rows; ++row)
            window.results().Append(QStringLiteral("new %1").arg(row));
        const QByteArray old = "the old file\r\n";
        QString folder = h.folder.filePath("target");
        QString path = folder + "/out.txt";
        if (fault == "refused") {
            // sysfs lets nobody create a file, so nothing can stand there before the save either.
            folder = QStringLiteral("/sys/kernel");
            path = folder + "/quillory-results.txt";
            if (!QFileInfo(folder).isDir())
                QSKIP("this system has no /sys");
        } else {
            h.writeBesideProgram("target/out.txt", old);
        }
        const QStringList before = filesIn(folder);

        h.dialogs.answerSaveFile(path);
        QList<FakeDialogs::Box> boxes = {saveBox()};
        if (fault != "refused") {
            h.dialogs.answerQuestion(Dialogs::Answer::Yes, [&] {
                if (fault == "gone") {
                    QVERIFY(QDir(h.folder.path()).rename("target", "moved"));
                    folder = h.folder.filePath("moved");
                }
            });
            boxes << overwriteBox(path);
        }
        h.dialogs.expectMessage();
#ifdef Q_OS_WIN
        // The read-only attribute, as Qt sets it for a file without write permission.
        if (fault == "read-only")
            QVERIFY(QFile::setPermissions(folder + "/out.txt", QFile::ReadOwner));
        {
            const std::unique_ptr<HeldFile> held =
                fault == "held" ? std::make_unique<HeldFile>(folder + "/out.txt") : nullptr;
            QVERIFY(fault != "held" || held->isHeld());
            QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        }
        if (fault == "read-only")
            QVERIFY(QFile::setPermissions(folder + "/out.txt", QFile::ReadOwner | QFile::WriteOwner));
#else
        if (fault == "read-only") {
            QVERIFY(QFile::setPermissions(folder + "/out.txt", QFile::ReadOwner));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }
        if (fault == "full") {
            FileSizeLimit limit(8);
            QVERIFY(limit.lowered());
            QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        } else {
            QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);
        }
        if (fault == "read-only")
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
#endif

        QCOMPARE(h.dialogs.transcript(), boxes << reportBox(why, button, step));
        if (fault != "refused")
            QCOMPARE(contents(folder + "/out.txt"), old);
        QCOMPARE(filesIn(folder), before);
        QCOMPARE(window.pointer(), 0);
        QVERIFY2(h.dialogs.unexpected().isEmpty(), qPrintable(h.dialogs.describe()));
    }

    void clearingTheResultsUnderASaveIsReportedAtTheMissingRow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::newRow("text") << "PushButton6";
        QTest::newRow("comma") << "PushButton12";
    }
    void clearingTheResultsUnderASaveIsReportedAtTheMissingRow()
    {
        QFETCH(QString, button);
        Harness h;
        MainWindow& window = h.load();
        for (const char* row : {"row 1", "row 2", "row 3"})
            window.results().Append(row);
        const QString path = h.folder.filePath("target/out.txt");
        h.writeBesideProgram("target/out.txt", "the old file\r\n");
        // The user clears the list while the save lets events through before its second row.
        h.events.onCall(2, [&] { QTest::mouseClick(h.find<QPushButton>("PushButton9"), Qt::LeftButton); });
        h.dialogs.answerSaveFile(path);
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);

        const FakeDialogs::Box report{
            FakeDialogs::Kind::Message, QStringLiteral("Application Error"),
            QStringLiteral("Invalid property value (row 2 is gone)\r\nin Pellowin2021/08/31.Form1.%1_Click at line "
                           "136\r\rPlease email screenshot of this message to support@quorvane.com")
                .arg(button),
            Dialogs::Icon::Warning};
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox(), overwriteBox(path), report}));
        QCOMPARE(contents(path), QByteArray("the old file\r\n"));
        QCOMPARE(filesIn(h.folder.filePath("target")), QStringList({"out.txt"}));
        QCOMPARE(window.results().Count(), 0);
        QCOMPARE(window.pointer(), 0);
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

#ifdef Q_OS_WIN
    // Windows' null device takes a save as redirection does: it is written as it stands, never replaced.
    void aDeviceIsWrittenAsItStands()
    {
        Harness h;
        MainWindow& window = h.load();
        window.results().Append("a");
        for (const char* button : {"PushButton6", "PushButton12"}) {
            h.dialogs.answerSaveFile("NUL");
            QTest::mouseClick(h.find<QPushButton>(button), Qt::LeftButton);
        }
        // No file stands there to be asked about, and nothing fails.
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox(), saveBox()}));
        QCOMPARE(window.pointer(), 0);
        QVERIFY2(h.dialogs.unexpected().isEmpty(), qPrintable(h.dialogs.describe()));
    }
#else
    void aPipeOrADeviceIsWrittenAsItStands()
    {
        Harness h;
        MainWindow& window = h.load();
        window.results().Append("a");
        window.results().Append("b");
        const QString pipe = h.folder.filePath("pipe");
        QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
        // Open before the save, so that the save finds its reader at once; two rows fit in the pipe's buffer.
        const int readEnd = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(readEnd >= 0);
        h.dialogs.answerSaveFile(pipe);
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>("PushButton12"), Qt::LeftButton);
        char received[64] = {};
        const ssize_t count = ::read(readEnd, received, sizeof received);
        ::close(readEnd);
        QCOMPARE(QByteArray(received, int(std::max<ssize_t>(count, 0))), QByteArray("a,b,\r\n"));
        struct stat status;
        QCOMPARE(::lstat(QFile::encodeName(pipe).constData(), &status), 0);
        QVERIFY(S_ISFIFO(status.st_mode));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox(), overwriteBox(pipe)}));

        // A full device keeps the report's own form, with the system's reason.
        h.dialogs.answerSaveFile("/dev/full");
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton6"), Qt::LeftButton);
        QCOMPARE(h.dialogs.transcript().mid(2),
                 QList<FakeDialogs::Box>(
                     {saveBox(), overwriteBox("/dev/full"), reportBox("No space left on device", "PushButton6", 140)}));
        QCOMPARE(::stat("/dev/full", &status), 0);
        QVERIFY(S_ISCHR(status.st_mode));
        QCOMPARE(window.pointer(), 0);
    }
#endif

    void closingTheWindowMidSaveLeavesTheOldFile_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QByteArray>("complete");
        QTest::newRow("text") << "PushButton6" << QByteArray("row 1\r\nrow 2\r\nrow 3\r\nrow 4\r\n");
        QTest::newRow("comma") << "PushButton12" << QByteArray("row 1,row 2,row 3,row 4,\r\n");
    }
    void closingTheWindowMidSaveLeavesTheOldFile()
    {
        QFETCH(QString, button);
        QFETCH(QByteArray, complete);
#ifdef Q_OS_WIN
        // Windows cannot take the file being written beside the target out of the folder: it is marked for
        // deletion, and goes when the program does. So the program ends for real here, in a child process (this
        // same test, told so by the environment), which prints its scratch folder before it ends; what is left
        // there is what the user finds.
        if (!qEnvironmentVariableIsSet("QUILLORY_TEST_CLOSING_SAVE_CHILD")) {
            QProcess child;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QUILLORY_TEST_CLOSING_SAVE_CHILD", "1");
            child.setProcessEnvironment(environment);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("closingTheWindowMidSaveLeavesTheOldFile:") + QTest::currentDataTag()});
            QVERIFY(child.waitForFinished(120'000));
            QCOMPARE(child.exitCode(), 0);
            const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
            const QRegularExpressionMatch found =
                QRegularExpression("^folder (.+?)\\r?$", QRegularExpression::MultilineOption).match(output);
            QVERIFY2(found.hasMatch(), qPrintable(output.right(800)));
            const QString folder = found.captured(1);
            const QByteArray left = contents(folder + "/target/out.txt");
            const QStringList files = filesIn(folder + "/target");
            QDir(folder).removeRecursively();
            QCOMPARE(left, QByteArray("the old file\r\n"));
            QCOMPARE(files, QStringList({"out.txt"}));
            return;
        }
#endif
        Harness h;
        MainWindow& window = h.load();
        for (const char* row : {"row 1", "row 2", "row 3", "row 4"})
            window.results().Append(row);
        h.writeBesideProgram("target/out.txt", "the old file\r\n");
        const QString folder = h.folder.filePath("target");
        const QString path = folder + "/out.txt";

        QByteArray targetAtEnd;
        QStringList filesAtEnd;
#ifdef Q_OS_WIN
        h.atEnd = [&] {
            std::printf("folder %s\n", qPrintable(h.folder.path()));
            std::fflush(nullptr);
            std::_Exit(0);
        };
#else
        h.atEnd = [&] {
            targetAtEnd = contents(path);
            filesAtEnd = filesIn(folder);
        };
#endif
        // Halfway through the rows.
        h.events.onCall(2, [&] { window.close(); });
        h.dialogs.answerSaveFile(path);
        h.dialogs.answerQuestion(Dialogs::Answer::Yes);
        QTest::mouseClick(h.find<QPushButton>(button.toLatin1()), Qt::LeftButton);

        QCOMPARE(h.endCalls, 1);
        QCOMPARE(targetAtEnd, QByteArray("the old file\r\n"));
        QCOMPARE(filesAtEnd, QStringList({"out.txt"}));
        // Here the end returns and the save runs on to its last row, so the file is complete; the real
        // program stops at the end, so its users keep the old file. Never anything in between.
        QCOMPARE(contents(path), complete);
        QCOMPARE(filesIn(folder), QStringList({"out.txt"}));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({saveBox(), overwriteBox(path)}));
        QVERIFY(h.dialogs.unexpected().isEmpty());
    }

    void copyPutsTheRowsOnTheClipboard()
    {
        Harness h;
        MainWindow& window = h.load();
        auto* copy = h.find<QPushButton>("PushButton11");

        // Nothing to copy: the clipboard keeps what it had, the message still comes.
        h.dialogs.expectMessage();
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(h.clipboard.text, std::optional<QString>("what was there before"));

        for (const QString& row :
             {QString("abc  "), QString("x"), QString("   "), QString(), QStringLiteral("\u20AC\u03A9 a\tb ")})
            window.results().Append(row);
        // The busy pointer while the rows are copied, the ordinary one again once they are.
        int busySeen = 0;
        h.events.everyCall([&] { busySeen += window.pointer() == MainWindow::Hourglass; });
        h.dialogs.expectMessage();
        QTest::mouseClick(copy, Qt::LeftButton);
        QVERIFY(busySeen > 0);
        QCOMPARE(window.pointer(), 0);
        QCOMPARE(h.clipboard.text, std::optional<QString>(QStringLiteral("abc\r\nx\r\n\r\n\r\n\u20AC? a\tb\r\n")));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Quillory", kCopied},
                                                                  {FakeDialogs::Kind::Message, "Quillory", kCopied}}));

        // A list cleared under the copy: the report first, the clipboard untouched, then the message.
        h.clipboard.text = QStringLiteral("kept");
        h.events.onCall(h.events.calls() + 3, [&] { window.results().Clear(); });
        h.dialogs.expectMessage();
        h.dialogs.expectMessage();
        QTest::mouseClick(copy, Qt::LeftButton);
        const auto boxes = h.dialogs.transcript();
        QCOMPARE(boxes.size(), 4);
        QCOMPARE(boxes[2].title, QStringLiteral("Application Error"));
        QVERIFY(boxes[2].text.contains("\r\nin Pellowin2021/08/31.Form1.PushButton11_Click at line 106\r\r"));
        QCOMPARE(boxes[3].text, kCopied);
        QCOMPARE(h.clipboard.text, std::optional<QString>("kept"));
    }

    void everyKindOfRowIsCopiedAsItsText()
    {
        Harness h;
        MainWindow& window = h.load();
        QStringList texts;
        for (const ByteRow& row : everyKindOfRow()) {
            QVERIFY(window.results().AppendUtf8(row.bytes));
            texts << QString::fromUtf8(row.bytes.data(), qsizetype(row.bytes.size()));
        }
        // A row of a block of its own, ending in blanks.
        texts << QStringLiteral("\u00E9\u4E2D\U0001F600 ").repeated(ResultsList::kBlockBytes / 9);
        QVERIFY(window.results().Append(texts.last()));
        // One column: each row as it is, without its trailing blanks, CR LF after it, through the code page.
        QString laidOut;
        for (QString text : texts) {
            while (text.endsWith(u' '))
                text.chop(1);
            laidOut += text + QStringLiteral("\r\n");
        }
        h.dialogs.expectMessage();
        QTest::mouseClick(h.find<QPushButton>("PushButton11"), Qt::LeftButton);
        QVERIFY(h.clipboard.text == AnsiCodec::decode(AnsiCodec::encode(laidOut)));
        QCOMPARE(h.dialogs.transcript(), QList<FakeDialogs::Box>({{FakeDialogs::Kind::Message, "Quillory", kCopied}}));
    }

    void columnsAreAlignedAndTheClipboardIsRetried()
    {
        FakeEventPump events;
        const QList<QStringList> table = {{"a", "1"}, {"bbb", "22"}, {"cc ", "3 "}};
        QList<bool> taken = {true, true, true};
        const CopyableList list{
            [&] { return int(table.size()); }, 2,
            [&](int row, int column) -> std::optional<QString> { return table.value(row - 1).value(column - 1); },
            [&](int row) {
                return taken[row - 1];
            }};
        FakeClipboard clipboard;
        QVERIFY(!CopyListToClipboard(list, clipboard, events));
        QCOMPARE(clipboard.text, std::optional<QString>("a  \t1\r\nbbb\t22\r\ncc \t3\r\n"));
        // One event pass per cell of the widths pass, then per row and per cell of the text pass.
        QCOMPARE(events.calls(), 6 + 3 + 6);

        taken = {false, false, false};
        QVERIFY(!CopyListToClipboard(list, clipboard, events));
        QCOMPARE(clipboard.text, std::optional<QString>(""));

        // A busy clipboard is tried again, up to 1000 times, and then given up on in silence.
        taken = {true, false, false};
        clipboard.refusals = 999 + 999;
        QVERIFY(!CopyListToClipboard(list, clipboard, events));
        QCOMPARE(clipboard.text, std::optional<QString>("a  \t1\r\n"));
        clipboard.text = QStringLiteral("old");
        clipboard.clearAttempts = clipboard.setAttempts = 0;
        clipboard.refusals = 5000;
        QVERIFY(!CopyListToClipboard(list, clipboard, events));
        QCOMPARE(clipboard.clearAttempts, 1000);
        QCOMPARE(clipboard.setAttempts, 1000);
        QCOMPARE(clipboard.text, std::optional<QString>("old"));
    }
};

std::unique_ptr<QObject> makeExportTest()
{
    return std::make_unique<ExportTest>();
}

#include "ExportTest.moc"
