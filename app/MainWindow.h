#pragma once

#include <QCursor>
#include <QPersistentModelIndex>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class Clipboard;
class Shell;
class Dialogs;
class EventPump;
class InputFileList;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTableView;
class ResultsList;
class SettingsStore;
class ColumnHeaderProxy;
class ExtractionRun;
class ProgressCaption;
struct ExportFailure;
namespace AddFolder {
struct ScanProgress;
}
class DocumentService;

// What the window needs of the system, created in main() and by the tests.
struct WindowServices
{
    Dialogs& dialogs;
    Clipboard& clipboard;
    Shell& shell;
    SettingsStore& settings;
    EventPump& events;
    // Ends the program at once, wherever it stands.
    std::function<void()> endProgram;
    // Where HAND-M.CUR, x/o.cjs, drag.ico and Samples/ are looked for first.
    QString programFolder;
    // Makes the service that reads and builds the window's documents; worker processes of the program's
    // quillory-worker when left empty.
    std::function<std::unique_ptr<DocumentService>()> makeDocuments = {};
    // The milliseconds of a steady clock, which paces the progress shown in the caption; a real one when left empty.
    std::function<qint64()> clock = {};
    // Where the files looked for beside the program are looked for next: the program's shared data folder
    // (share/quillory) once it is installed; empty when there is none.
    QString dataFolder = {};
    // How many files a run works on at once, each in a worker of its own; the machine's cores when 0.
    int jobs = 0;
};

// The window's worker program: beside the program in a build tree or an unpacked copy, in libexec/quillory/ once
// installed.
QString WorkerProgram();

class MainWindow : public QWidget
{
    Q_OBJECT

public:
    // The window's pointer, which is also its busy flag.
    enum Pointer
    {
        DefaultPointer = 0,
        Hourglass = 11,
        CustomPointer = 99,
    };

    explicit MainWindow(WindowServices services, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Start-up: skin, pointer image, first-run sample record, caption, list columns, the
    // option and texts restored from the settings.
    void Form_Load();

    int pointer() const { return m_pointer; }
    void setPointer(int value);
    bool isBusy() const { return m_pointer == Hourglass; }

    InputFileList& inputFiles() { return *m_inputFiles; }
    ResultsList& results() { return *m_results; }

    // The gestures, by the names of their controls and events.
    void PushButton1_Click();
    void PushButton2_Click();
    void PushButton5_Click();
    void PushButton6_Click();
    void PushButton7_Click();
    void PushButton9_Click();
    void PushButton11_Click();
    void PushButton12_Click();
    void PushButton13_Click();
    // Drops of files and folders on the input list.
    bool ListView1_OLEDragOver(const class QMimeData* data);
    void ListView1_OLEDragDrop(const class QMimeData* data);
    // Files and folders given to the program when it was started ("Open with"), taken as a drop of them.
    void AddGivenPaths(const QStringList& paths);
    void PushButton14_Click();
    void Option1_Click();
    void Option2_Click();
    void Option3_Click();
    void Option4_Click();
    void Text1_Change();
    void Text2_Change();
    void ListView1_KeyDown(int key);
    void ListView1_DblClick();
    void ListView1_MouseDown();
    void ListView1_ItemClick(const QModelIndex& item);
    void ListView1_MouseMove(const QPoint& position);
    void ListView1_MouseUp();
    void PushButton_MouseMove();
    void Form_MouseMove();
    void Form_QueryUnload();
    // Escape: stops a run or a folder scan in progress; does nothing otherwise.
    void StopWork();

    // Called at start-up when no sample record exists yet; records the files of Samples/.
    std::function<void()> recordSampleFiles;

protected:
    void closeEvent(QCloseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Where a handler's error report says the failure happened.
    static QString location(const char* handler);

    // The controls of the layout table (ControlTable.h), and the look a skin file gives them.
    void buildControls();
    void findControls();
    void ApplySkin();
    void wireHandlers();
    template <typename T> T* control(const char* name) const { return findChild<T*>(QLatin1String(name)); }

    QString besideProgram(const QString& name) const;
    // The folder whose Samples/ the program offers: its own, or the shared data folder's when it has none.
    QString samplesOwner() const;

    void saveSetting(const QString& key, const QString& value);
    void addDroppedPath(const QString& path);
    void removeSelectedInput();
    // The save dialog and the overwrite question; empty when the save should not go on.
    QString chooseSaveTarget(class ErrorTrap& trap);
    // Runs one of the saves, showing in the caption how many rows it has written; its failure is reported at the
    // handler's location.
    void saveResults(ErrorTrap& trap, const std::function<std::optional<ExportFailure>(int* written)>& save);

    WindowServices m_services;
    InputFileList* m_inputFiles;
    ResultsList* m_results;
    ColumnHeaderProxy* m_inputView;
    ColumnHeaderProxy* m_resultsView;

    QTableView* m_listView1 = nullptr;
    QTableView* m_listView2 = nullptr;
    QGroupBox* m_frame1 = nullptr;
    QRadioButton* m_options[4] = {};
    QLineEdit* m_text1 = nullptr;
    QLineEdit* m_text2 = nullptr;

    std::unique_ptr<DocumentService> m_documents;
    std::unique_ptr<ProgressCaption> m_progress;
    std::unique_ptr<ExtractionRun> m_run;
    // The folder scan in progress, if any, for Escape to stop.
    AddFolder::ScanProgress* m_scan = nullptr;
    // The folder the last scan was of, where the next one's folder dialog starts.
    QString m_lastFolder;
    int m_pointer = DefaultPointer;
    std::optional<QCursor> m_handCursor;
    std::optional<QCursor> m_dragCursor;

    // Drag-reordering of the input list.
    bool m_buttonDown = false;
    QPersistentModelIndex m_currentItem;
};
