// The input list's gestures: adding chosen files, a folder's files, the samples and dropped files and folders;
// removing an entry or all of them, and moving an entry by dragging it.

#include "MainWindow.h"

#include "AddFiles.h"
#include "AddFolder.h"
#include "Cursors.h"
#include "Dialogs.h"
#include "ErrorTrap.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "FixPath.h"
#include "InputFileList.h"
#include "ProgressCaption.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "ShortTitle.h"
#include "StepNumberTables.h"

#include <QMimeData>
#include <QRadioButton>
#include <QTableView>
#include <QUrl>

#include <algorithm>

void MainWindow::PushButton1_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton1_Click"));
    QStringList chosen;
    trap.step(108, [&] {
        chosen =
            m_services.dialogs.openFiles(QStringLiteral("Add File(s) - Hold Ctrl to select multiple files"),
                                         QStringLiteral("HTML Files (*.htm;*.html)|*.htm;*.html|All Files (*.*)|*.*"));
    });
    if (trap.test(110, [&] { return chosen.isEmpty(); }))
        return;
    const ChosenFiles files = SplitChosenFiles(chosen);
    if (!files.fit) {
        trap.step(108, [this] { m_services.dialogs.message(ShortTitle::Get(), kTooManyFiles, Dialogs::Icon::None); });
        return;
    }
    if (trap.test(114, [&] { return files.paths.isEmpty(); })) {
        trap.step(118, [&] { m_inputFiles->Append(files.file); });
        return;
    }
    QStringList paths;
    for (const QString& path : files.paths)
        trap.step(130, [&] { paths.append(FixPath(path)); });
    trap.step(132, [&] { m_inputFiles->AppendMany(paths); });
}

void MainWindow::PushButton5_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton5_Click"));
    QString extension;
    trap.step(100, [&] {
        extension = m_services.dialogs.prompt(
            ShortTitle::Get(),
            QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt files, doc for all "
                           "doc files, etc.)"),
            m_services.settings.GetSetting(QStringLiteral("Extension"), QStringLiteral("htm")));
        if (!extension.isEmpty())
            SaveSettingOrFail(m_services.settings, QStringLiteral("Extension"), extension);
    });
    if (trap.test(102, [&] { return extension.isEmpty(); }))
        return;
    trap.step(104, [&] { SaveSettingOrFail(m_services.settings, QStringLiteral("Extension"), extension); });
    QString folder;
    trap.step(106, [&] {
        m_lastFolder = m_services.settings.GetSetting(QStringLiteral("LastFolder"), QString());
        folder = m_services.dialogs.chooseFolder(QStringLiteral("Please select folder:"), m_lastFolder);
    });
    if (trap.test(108, [&] { return folder.isEmpty(); }))
        return;
    trap.step(333, [&] { m_lastFolder = folder; });
    trap.step(334, [&] { SaveSettingOrFail(m_services.settings, QStringLiteral("LastFolder"), m_lastFolder); });
    trap.step(110, [this] { setPointer(Hourglass); });
    Steps<AddFolder::ScanStep> scan = NumberedSteps(m_services.dialogs, trap.location(), kScanStepNumbers);
    Steps<AddFolder::WalkStep> walk = NumberedSteps(m_services.dialogs, kWalkLocation, kWalkStepNumbers);
    AddFolder::ScanProgress progress;
    m_scan = &progress;
    m_progress->begin([&progress] {
        return QStringLiteral("%1 folder%2, %3 file%4 found - Esc stops")
            .arg(GroupedNumber(progress.foldersFound + 1), progress.foldersFound == 0 ? QString() : QStringLiteral("s"),
                 GroupedNumber(progress.filesFound), progress.filesFound == 1 ? QString() : QStringLiteral("s"));
    });
    const QStringList found =
        AddFolder::ScanFolder(folder, QStringLiteral("*.") + extension, *m_progress, scan, walk, &progress);
    m_progress->end();
    m_scan = nullptr;
    trap.step(128, [&] { m_inputFiles->AppendMany(found); });
    trap.step(132, [this] { setPointer(DefaultPointer); });
}

void MainWindow::PushButton13_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton13_Click"));
    trap.step(100, [this] {
        Result<QStringList> samples = SampleFilesToLoad(m_services.settings, *m_inputFiles, m_services.events);
        m_inputFiles->AppendMany(ValueOrFail(samples));
        const Dialogs::Answer answer = m_services.dialogs.question(
            ShortTitle::Get(),
            QStringLiteral("Would you like this software to open the folder where these sample files are stored (so "
                           "that you can view them before working with them)?"),
            Dialogs::Answer::Yes);
        if (answer == Dialogs::Answer::Yes)
            m_services.shell.openFolder(SamplesFolder(samplesOwner()));
    });
    trap.step(112, [this] { m_options[0]->setChecked(true); });
}

bool MainWindow::ListView1_OLEDragOver(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return false;
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

void MainWindow::ListView1_OLEDragDrop(const QMimeData* data)
{
    if (!ListView1_OLEDragOver(data))
        return;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            addDroppedPath(FileNames::fromLocalFileUrl(url));
    }
}

void MainWindow::AddGivenPaths(const QStringList& paths)
{
    for (const QString& path : paths)
        addDroppedPath(path);
}

void MainWindow::addDroppedPath(const QString& path)
{
    // A path that vanished between the drag and the drop is passed over; a link counts even when dangling.
    if (FileAttributes(path) == -1)
        return;
    if (AddFolder::IsFolder(path)) {
        // A drop has no report of its own: a file that fails is left out. The walk reports its own failures.
        Steps<AddFolder::ScanStep> dropSteps([](AddFolder::ScanStep, const QString&) {});
        Steps<AddFolder::WalkStep> walk = NumberedSteps(m_services.dialogs, kWalkLocation, kWalkStepNumbers);
        m_inputFiles->AppendMany(
            AddFolder::ScanFolder(path, QStringLiteral("*.*"), m_services.events, dropSteps, walk));
    } else {
        m_inputFiles->Append(path);
    }
}

void MainWindow::PushButton14_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton14_Click"));
    trap.step(100, [this] {
        if (!isBusy())
            m_inputFiles->Clear();
    });
}

void MainWindow::removeSelectedInput()
{
    if (isBusy() || m_inputFiles->Count() == 0)
        return;
    const QModelIndexList selected = m_listView1->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    m_inputFiles->RemoveAt(selected.first().row() + 1);
}

void MainWindow::ListView1_KeyDown(int key)
{
    if (key == Qt::Key_Delete)
        removeSelectedInput();
}

void MainWindow::ListView1_DblClick()
{
    removeSelectedInput();
}

void MainWindow::ListView1_MouseDown()
{
    m_buttonDown = true;
}

void MainWindow::ListView1_ItemClick(const QModelIndex& item)
{
    if (!item.isValid())
        return;
    if (!m_dragCursor) {
        m_dragCursor = LoadCursorFile(besideProgram(QStringLiteral("drag.ico")));
        if (!m_dragCursor)
            m_dragCursor = QCursor(Qt::DragMoveCursor);
    }
    m_listView1->viewport()->setCursor(*m_dragCursor);
    m_currentItem = item;
}

void MainWindow::ListView1_MouseMove(const QPoint& position)
{
    Form_MouseMove();
    if (!m_buttonDown)
        return;
    const QModelIndex under = m_listView1->indexAt(position);
    if (!under.isValid() || !m_currentItem.isValid())
        return;
    const int underRow = under.row() + 1;
    const int currentRow = m_currentItem.row() + 1;
    if (underRow != currentRow && m_inputFiles->ItemText(underRow) != m_inputFiles->ItemText(currentRow)) {
        m_inputFiles->SwapTexts(currentRow, underRow);
        m_listView1->setCurrentIndex(under);
        m_currentItem = under;
    }
    // Scroll while the dragged item reaches the top or bottom edge of the list, so that it can
    // travel beyond what is shown.
    const int edge = m_listView1->visualRect(under).height();
    const int height = m_listView1->viewport()->height();
    const QModelIndex above = under.siblingAtRow(under.row() - 1);
    const QModelIndex below = under.siblingAtRow(under.row() + 1);
    if (position.y() < edge && above.isValid())
        m_listView1->scrollTo(above);
    else if (position.y() > height - edge && below.isValid())
        m_listView1->scrollTo(below);
}

void MainWindow::ListView1_MouseUp()
{
    m_buttonDown = false;
    m_listView1->viewport()->setCursor(Qt::ArrowCursor);
}
