// The real boxes and the real open dialog, shown offscreen and worked from a timer while they are
// modal: the faults here are Qt's own widgets', which the fake dialogs cannot show.

#include "QtDialogs.h"
#include "AddFiles.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace {

const QString kAddTitle = QStringLiteral("Add File(s) - Hold Ctrl to select multiple files");
const QString kAddFilter = QStringLiteral("HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*");

// Once the next modal box is up, hands it to work, then closes it if work left it open. Whatever went
// wrong is written to problem, since a failed check inside the timer could not end the test.
void whenModal(const std::function<void(QWidget&)>& work, QString& problem)
{
    QTimer::singleShot(0, [work, &problem] {
        QWidget* box = QApplication::activeModalWidget();
        if (!box) {
            problem = QStringLiteral("no modal box was shown");
            return;
        }
        work(*box);
        if (box->isVisible()) {
            problem += QStringLiteral(" the box stayed open;");
            if (auto* dialog = qobject_cast<QDialog*>(box))
                dialog->reject();
        }
    });
}

// The open dialog showing folder, its list filled.
bool showFolder(QFileDialog& dialog, const QString& folder, int rows)
{
    dialog.setDirectory(folder);
    auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
    return list && QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == rows; }, 20000);
}

void writeFile(const QString& path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("<p>x</p>");
}

} // namespace

class QtDialogsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shortBoxesShowTheirTitle_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        const char* const rows[][4] = {
            {"done", "message", "Quillory", "Done."},
            {"nothing added", "message", "Quillory", "No files added."},
            {"warning", "warning", "Quillory", "Done."},
            {"question", "question", "Quillory", "Go on?"},
            {"prompt", "prompt", "Quillory", "Name:"},
            {"a longer title", "message", "Application Error", "Done."},
            {"a longer title, asked", "question", "Replace the saved results", "Go on?"},
            {"a longer title, prompted", "prompt", "Replace the saved results", "Name:"},
        };
        for (const auto& row : rows)
            QTest::newRow(row[0]) << QString(row[1]) << QString(row[2]) << QString(row[3]);
    }

    // A box narrower than its title bar needs shows the caption cut to "Q..." or not at all.
    void shortBoxesShowTheirTitle()
    {
        QFETCH(QString, kind);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QString problem;
        int width = 0;
        whenModal(
            [&](QWidget& box) {
                width = box.width();
                static_cast<QDialog&>(box).reject();
            },
            problem);
        QtDialogs dialogs(nullptr);
        if (kind == "message" || kind == "warning")
            dialogs.message(title, text, kind == "warning" ? Dialogs::Icon::Warning : Dialogs::Icon::None);
        else if (kind == "question")
            dialogs.question(title, text, Dialogs::Answer::Yes);
        else
            dialogs.prompt(title, text, QString());
        QVERIFY2(problem.isEmpty(), qPrintable(problem));

        // Title bars commonly set the caption in bold, beside the window's icon and three buttons
        // of about 32 pixels each.
        QFont font = QApplication::font("QMdiSubWindowTitleBar");
        font.setBold(true);
        const int needed = QFontMetrics(font).horizontalAdvance(title) + 4 * 32;
        QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 < %2").arg(width).arg(needed)));
    }

    void typedNamesComeBackInTheirOrder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        // The filter shows *.htm and *.html: three.txt and the other folder's five.txt are hidden.
        QTest::newRow("hidden, then shown") << R"("three.txt" "one.html")" << QStringList({"three.txt", "one.html"});
        QTest::newRow("shown, then hidden") << R"("one.html" "three.txt")" << QStringList({"one.html", "three.txt"});
        QTest::newRow("hidden alone") << "three.txt" << QStringList({"three.txt"});
        QTest::newRow("shown, typed out of order") << R"("two.htm" "one.html")" << QStringList({"two.htm", "one.html"});
        QTest::newRow("a subfolder and another folder") << R"("sub/four.htm" "OTHER/five.txt" "one.html")"
                                                        << QStringList({"sub/four.htm", "OTHER/five.txt", "one.html"});
    }

    void typedNamesComeBackInTheirOrder()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        QTemporaryDir folder;
        QTemporaryDir other;
        QVERIFY(QDir(folder.path()).mkdir("sub"));
        for (const char* name : {"one.html", "two.htm", "three.txt", "sub/four.htm"})
            writeFile(folder.filePath(name));
        writeFile(other.filePath("five.txt"));
        typed.replace("OTHER", other.path());
        for (QString& path : expected)
            path = path.startsWith("OTHER") ? QDir::toNativeSeparators(path.replace("OTHER", other.path()))
                                            : QDir::toNativeSeparators(folder.filePath(path));

        QString problem;
        whenModal(
            [&](QWidget& box) {
                auto& dialog = static_cast<QFileDialog&>(box);
                // The list shows one.html, two.htm and sub.
                if (!showFolder(dialog, folder.path(), 3))
                    problem = QStringLiteral("the folder did not show;");
                auto* names = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                names->setFocus();
                QTest::keyClicks(names, typed);
                QTest::keyClick(names, Qt::Key_Return);
            },
            problem);
        QtDialogs dialogs(nullptr);
        const QStringList chosen = dialogs.openFiles(kAddTitle, kAddFilter);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(chosen, expected);
    }

    void aLargeSelectionComesBackWhole_data()
    {
        QTest::addColumn<QString>("gesture");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("nameLength");
        // 2,000 names of 16 characters spell more than a line edit's usual 32,767 characters, while
        // the part of them that fits in such a box would pass the Add button's 30,000-character limit.
        QTest::newRow("Ctrl+A in the list") << "select all" << 2000 << 16;
        QTest::newRow("click, then shift-click") << "shift-click" << 2000 << 16;
        // Fewer, longer names: the dialog selects pasted names one by one, which takes minutes for
        // thousands of them.
        QTest::newRow("names pasted into the box") << "paste" << 140 << 250;
    }

    void aLargeSelectionComesBackWhole()
    {
        QFETCH(QString, gesture);
        QFETCH(int, files);
        QFETCH(int, nameLength);
        const QString& folder = manyFiles(files, nameLength);
        QStringList expected;
        QString pasted;
        for (int i = 0; i < files; ++i) {
            const QString name = manyName(i, nameLength);
            expected << QDir::toNativeSeparators(QDir(folder).filePath(name));
            pasted += QStringLiteral("\"%1\" ").arg(name);
        }
        QVERIFY(pasted.size() > 32767);

        QString problem;
        qsizetype namesShown = 0;
        whenModal(
            [&](QWidget& box) {
                auto& dialog = static_cast<QFileDialog&>(box);
                if (!showFolder(dialog, folder, files))
                    problem = QStringLiteral("the folder did not show;");
                // The list or the detail view, whichever the dialog shows.
                QAbstractItemView* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
                if (!view->isVisible())
                    view = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"));
                auto* names = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                const QModelIndex root = view->rootIndex();
                auto clickRow = [&](int row, Qt::KeyboardModifiers modifiers) {
                    const QModelIndex index = view->model()->index(row, 0, root);
                    view->scrollTo(index);
                    QTest::mouseClick(view->viewport(), Qt::LeftButton, modifiers, view->visualRect(index).center());
                };
                if (gesture == "select all") {
                    clickRow(0, Qt::NoModifier);
                    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
                } else if (gesture == "shift-click") {
                    clickRow(0, Qt::NoModifier);
                    clickRow(files - 1, Qt::ShiftModifier);
                } else {
                    QApplication::clipboard()->setText(pasted);
                    names->setFocus();
                    QTest::keyClick(names, Qt::Key_V, Qt::ControlModifier);
                }
                namesShown = names->text().count(u'"') / 2;
                auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
                QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
            },
            problem);
        QtDialogs dialogs(nullptr);
        QStringList chosen = dialogs.openFiles(kAddTitle, kAddFilter);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // The box shows the whole selection, and the whole selection comes back.
        QCOMPARE(namesShown, files);
        chosen.sort();
        QCOMPARE(chosen, expected);
        // So the Add button says that this is too many.
        QVERIFY(!SplitChosenFiles(chosen).fit);
    }

private:
    // "0001-xxx.html", nameLength characters long.
    static QString manyName(int i, int nameLength)
    {
        return QStringLiteral("%1-").arg(i, 4, 10, QChar('0')) + QString(nameLength - 10, u'x') + ".html";
    }

    // A folder of that many files, made once for every case that needs it.
    const QString& manyFiles(int files, int nameLength)
    {
        auto& folder = m_manyFiles[{files, nameLength}];
        if (!folder) {
            folder = std::make_unique<QTemporaryDir>();
            for (int i = 0; i < files; ++i)
                writeFile(folder->filePath(manyName(i, nameLength)));
        }
        m_lastPath = folder->path();
        return m_lastPath;
    }

    std::map<std::pair<int, int>, std::unique_ptr<QTemporaryDir>> m_manyFiles;
    QString m_lastPath;
};

std::unique_ptr<QObject> makeQtDialogsTest()
{
    return std::make_unique<QtDialogsTest>();
}

#include "QtDialogsTest.moc"
