#include "MainWindow.h"

#include "AddFiles.h"
#include "AddFolder.h"
#include "ColumnHeaderProxy.h"
#include "ControlTable.h"
#include "Cursors.h"
#include "Dialogs.h"
#include "WorkerPool.h"
#include "ErrorTrap.h"
#include "EventPump.h"
#include "ExtractionRun.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "FixPath.h"
#include "HtmlDocument.h"
#include "InputFileList.h"
#include "OptionHelp.h"
#include "ProgramIcon.h"
#include "ProgressCaption.h"
#include "ResultsExport.h"
#include "ResultsList.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "Shell.h"
#include "ShortTitle.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QUrl>

namespace {

const QString kInputTip = QStringLiteral(
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of window to reveal full "
    "names.");
const QString kResultsTip = QStringLiteral("Move | line to right and out of window to reveal full names.");

QString location(const char* handler)
{
    return QStringLiteral("in Pellowin2021/08/31.Form1.%1 ").arg(QLatin1String(handler));
}

int pixels(int twips)
{
    return (twips + kTwipsPerPixel / 2) / kTwipsPerPixel;
}

QFont arialBold(qreal points)
{
    QFont font(QStringLiteral("Arial"));
    font.setPointSizeF(points);
    font.setBold(true);
    return font;
}

void paintWhite(QWidget* widget)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, Qt::white);
    widget->setPalette(palette);
    // Buttons fill with the button colour by default; these take the window colour like the frame.
    widget->setBackgroundRole(QPalette::Window);
    widget->setAutoFillBackground(true);
}

// A frame drawn as a plain line with its caption on it, filled with its own colour (white, or the
// button face once skinned) rather than the style's tinted panel.
class PlainFrame final : public QGroupBox
{
public:
    using QGroupBox::QGroupBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Window));
        const QFontMetrics metrics(font());
        const int lineY = metrics.height() / 2;
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(QRect(0, lineY, width() - 1, height() - lineY - 1));
        const QRect caption(8, 0, metrics.horizontalAdvance(title()) + 6, metrics.height());
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }
};

QString rowsProgress(int done, int all)
{
    return QStringLiteral("%1 of %2 rows").arg(GroupedNumber(done), GroupedNumber(all));
}

} // namespace

MainWindow::MainWindow(WindowServices services, QWidget* parent)
    : QWidget(parent), m_services(std::move(services)), m_inputFiles(new InputFileList(this)),
      m_results(new ResultsList(this)), m_inputView(new ColumnHeaderProxy(this)),
      m_resultsView(new ColumnHeaderProxy(this))
{
    m_inputView->setSourceModel(m_inputFiles);
    m_resultsView->setSourceModel(m_results);
    buildControls();
    wireHandlers();

    m_documents = m_services.makeDocuments ? m_services.makeDocuments()
                                           : createWorkerDocuments(DefaultDocumentWorkers(WorkerProgram()));
    RunControls controls{
        [this] {
            for (int i = 0; i < 4; ++i)
                if (m_options[i]->isChecked())
                    return i + 1;
            return 0;
        },
        [this] { return m_text1->text(); },
        [this] { return m_text2->text(); },
        [this] { m_text1->setFocus(); },
        [this] { m_text2->setFocus(); },
        [this](bool busy) { setPointer(busy ? Hourglass : DefaultPointer); },
    };
    recordSampleFiles = [this] {
        if (std::optional<Failure> failure = RecordSampleFiles(m_services.settings, samplesOwner(), m_services.events))
            Fail(*failure);
    };
    std::function<qint64()> clock = m_services.clock;
    if (!clock) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        clock = [steady] {
            return steady->elapsed();
        };
    }
    m_progress = std::make_unique<ProgressCaption>(
        m_services.events, [this](const QString& caption) { setWindowTitle(caption); }, std::move(clock));
    m_run = std::make_unique<ExtractionRun>(m_services.dialogs, *m_progress, *m_inputFiles, *m_results,
                                            std::move(controls), *m_documents);
}

MainWindow::~MainWindow() = default;

template <typename T> T* MainWindow::control(const char* name) const
{
    return findChild<T*>(QLatin1String(name));
}

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("MainWindow"));
    // A fixed single border: minimize, no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(pixels(kClientWidthTwips), pixels(kClientHeightTwips));
    setFont(arialBold(9));
    paintWhite(this);

    std::vector<QWidget*> tabOrder(21, nullptr);
    for (const ControlSpec& spec : kControls) {
        QWidget* parent = spec.inFrame ? static_cast<QWidget*>(m_frame1) : this;
        QWidget* widget = nullptr;
        const QString caption = QString::fromUtf8(spec.caption);
        switch (spec.kind) {
        case ControlSpec::PushButton: {
            auto* button = new QPushButton(caption, parent);
            button->setFont(arialBold(11.25));
            button->setMouseTracking(true);
            button->installEventFilter(this);
            widget = button;
            break;
        }
        case ControlSpec::ListView: {
            // A one-column report list. A table view keeps no per-row layout, so a list of a
            // million results grows as cheaply as one of ten.
            auto* view = new QTableView(parent);
            view->setFont(arialBold(9));
            view->setShowGrid(false);
            view->setWordWrap(false);
            view->setSelectionBehavior(QAbstractItemView::SelectRows);
            view->setSelectionMode(QAbstractItemView::SingleSelection);
            view->setEditTriggers(QAbstractItemView::NoEditTriggers);
            // Tab and Shift+Tab leave the list for the next control; the arrow keys move from row to row.
            view->setTabKeyNavigation(false);
            view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
            view->verticalHeader()->hide();
            view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
            view->verticalHeader()->setDefaultSectionSize(QFontMetrics(view->font()).height() + 3);
            view->horizontalHeader()->setStretchLastSection(false);
            view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
            view->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            view->horizontalHeader()->setHighlightSections(false);
            view->viewport()->setMouseTracking(true);
            view->viewport()->installEventFilter(this);
            view->installEventFilter(this);
            widget = view;
            break;
        }
        case ControlSpec::Frame: {
            m_frame1 = new PlainFrame(caption, parent);
            paintWhite(m_frame1);
            m_frame1->setMouseTracking(true);
            m_frame1->installEventFilter(this);
            widget = m_frame1;
            break;
        }
        case ControlSpec::OptionButton: {
            auto* option = new QRadioButton(caption, parent);
            paintWhite(option);
            widget = option;
            break;
        }
        case ControlSpec::TextBox:
            widget = new QLineEdit(caption, parent);
            break;
        case ControlSpec::Label: {
            auto* label = new QLabel(caption, parent);
            paintWhite(label);
            widget = label;
            break;
        }
        }
        widget->setObjectName(QString::fromUtf8(spec.name));
        widget->setGeometry(pixels(spec.left), pixels(spec.top), pixels(spec.width), pixels(spec.height));
        if (spec.tabIndex >= 0)
            tabOrder[std::size_t(spec.tabIndex)] = widget;
        else
            widget->setFocusPolicy(Qt::NoFocus);
    }

    m_listView1 = control<QTableView>("ListView1");
    m_listView2 = control<QTableView>("ListView2");
    m_listView1->setModel(m_inputView);
    m_listView1->setAcceptDrops(true);
    m_listView1->viewport()->setAcceptDrops(true);
    m_listView2->setModel(m_resultsView);
    m_listView1->setToolTip(kInputTip);
    m_listView2->setToolTip(kResultsTip);
    for (int i = 0; i < 4; ++i)
        m_options[i] = control<QRadioButton>(QStringLiteral("Option%1").arg(i + 1).toLatin1().constData());
    m_options[0]->setChecked(true);
    m_text1 = control<QLineEdit>("Text1");
    m_text2 = control<QLineEdit>("Text2");

    QWidget* previous = nullptr;
    for (QWidget* widget : tabOrder) {
        if (!widget)
            continue;
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
    setMouseTracking(true);
}

// The window's table of gestures.
void MainWindow::wireHandlers()
{
    connect(control<QPushButton>("PushButton1"), &QPushButton::clicked, this, &MainWindow::PushButton1_Click);
    connect(control<QPushButton>("PushButton2"), &QPushButton::clicked, this, &MainWindow::PushButton2_Click);
    connect(control<QPushButton>("PushButton7"), &QPushButton::clicked, this, &MainWindow::PushButton7_Click);
    connect(control<QPushButton>("PushButton5"), &QPushButton::clicked, this, &MainWindow::PushButton5_Click);
    connect(control<QPushButton>("PushButton13"), &QPushButton::clicked, this, &MainWindow::PushButton13_Click);
    connect(control<QPushButton>("PushButton6"), &QPushButton::clicked, this, &MainWindow::PushButton6_Click);
    connect(control<QPushButton>("PushButton12"), &QPushButton::clicked, this, &MainWindow::PushButton12_Click);
    connect(control<QPushButton>("PushButton11"), &QPushButton::clicked, this, &MainWindow::PushButton11_Click);
    connect(control<QPushButton>("PushButton9"), &QPushButton::clicked, this, &MainWindow::PushButton9_Click);
    connect(control<QPushButton>("PushButton14"), &QPushButton::clicked, this, &MainWindow::PushButton14_Click);
    void (MainWindow::*optionClicks[4])() = {&MainWindow::Option1_Click, &MainWindow::Option2_Click,
                                             &MainWindow::Option3_Click, &MainWindow::Option4_Click};
    for (int i = 0; i < 4; ++i) {
        const auto click = optionClicks[i];
        connect(m_options[i], &QRadioButton::toggled, this, [this, click](bool checked) {
            if (checked)
                (this->*click)();
        });
    }
    connect(m_text1, &QLineEdit::textChanged, this, &MainWindow::Text1_Change);
    connect(m_text2, &QLineEdit::textChanged, this, &MainWindow::Text2_Change);
    connect(m_listView1, &QAbstractItemView::pressed, this, &MainWindow::ListView1_ItemClick);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &MainWindow::StopWork);
}

QString MainWindow::besideProgram(const QString& name) const
{
    const QString beside = QDir(m_services.programFolder).filePath(name);
    if (m_services.dataFolder.isEmpty() || FileAttributes(beside) != -1)
        return beside;
    const QString shared = QDir(m_services.dataFolder).filePath(name);
    return FileAttributes(shared) != -1 ? shared : beside;
}

QString MainWindow::samplesOwner() const
{
    const QString samples = besideProgram(QStringLiteral("Samples"));
    return samples.left(samples.lastIndexOf(u'/'));
}

QString WorkerProgram()
{
    const QString folder = FileNames::programFolder();
    const QString beside = folder + QStringLiteral("/quillory-worker");
    const QString installed = QDir::cleanPath(folder + QStringLiteral("/../libexec/quillory/quillory-worker"));
    return !FileSystem::isOpenableFile(beside) && FileSystem::isOpenableFile(installed) ? installed : beside;
}

void MainWindow::Form_Load()
{
    ErrorTrap trap(m_services.dialogs, location("Form_Load"));
    trap.step(100, [this] { ApplySkin(); });

    const QString handFile = besideProgram(QStringLiteral("HAND-M.CUR"));
    if (trap.test(104, [&] { return FileExists(handFile); })) {
        trap.step(106, [&] {
            m_handCursor = LoadCursorFile(handFile);
            if (!m_handCursor)
                Fail(QStringLiteral("Invalid picture"));
        });
    }

    trap.step(108, [this] {
        if (m_services.settings.GetSetting(QStringLiteral("Snapshot"), QString()).isEmpty() && recordSampleFiles)
            recordSampleFiles();
    });

    trap.step(126, [this] { setWindowTitle(PlainCaption()); });
    trap.step(126, [this] { setWindowIcon(ProgramIcon()); });
    trap.step(126, [] { ShortTitle::SetShortTitle(); });

    trap.step(128, [this] { m_inputView->setHeader(QStringLiteral("HTML File(s)")); });
    trap.step(130, [this] { m_listView1->setColumnWidth(0, pixels(kColumnWidthTwips)); });
    trap.step(132, [this] { m_resultsView->setHeader(QStringLiteral("Results")); });
    trap.step(134, [this] { m_listView2->setColumnWidth(0, pixels(kColumnWidthTwips)); });

    // The stored option selects its button; anything but 1 to 4 leaves the layout's Option1.
    double option = 0;
    trap.step(136, [&] { option = NumericValue(m_services.settings.GetSetting(QStringLiteral("Option"), "1")); });
    if (option == 1)
        trap.step(138, [this] { m_options[0]->setChecked(true); });
    else if (trap.test(140, [&] { return option == 2; }))
        trap.step(142, [this] { m_options[1]->setChecked(true); });
    else if (trap.test(144, [&] { return option == 3; }))
        trap.step(146, [this] { m_options[2]->setChecked(true); });
    else if (trap.test(148, [&] { return option == 4; }))
        trap.step(150, [this] { m_options[3]->setChecked(true); });

    trap.step(152, [this] { m_text1->setText(m_services.settings.GetSetting(QStringLiteral("Text1"), "tr")); });
    trap.step(154, [this] { m_text2->setText(m_services.settings.GetSetting(QStringLiteral("Text2"), "one")); });
}

void MainWindow::ApplySkin()
{
    const QString skinFile = besideProgram(QStringLiteral("x/o.cjs"));
    if (!QFileInfo(skinFile).isFile())
        return;
    const QColor buttonFace = QApplication::palette().color(QPalette::Button);
    auto paint = [&buttonFace](QWidget* widget) {
        QPalette palette = widget->palette();
        palette.setColor(QPalette::Window, buttonFace);
        widget->setPalette(palette);
    };
    paint(this);
    for (QWidget* widget : findChildren<QWidget*>())
        if (qobject_cast<QRadioButton*>(widget) || qobject_cast<QGroupBox*>(widget) || qobject_cast<QLabel*>(widget))
            paint(widget);
    setStyleSheet(LoadStyleSheet(skinFile));
}

void MainWindow::setPointer(int value)
{
    m_pointer = value;
    switch (value) {
    case Hourglass:
        setCursor(Qt::WaitCursor);
        break;
    case CustomPointer:
        if (m_handCursor)
            setCursor(*m_handCursor);
        else
            setCursor(Qt::ArrowCursor);
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void MainWindow::saveSetting(const QString& key, const QString& value)
{
    // These handlers have no error trap: a write the store refuses is simply not kept, and the
    // next change writes the whole value again.
    (void)m_services.settings.SaveSetting(key, value);
}

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

void MainWindow::PushButton2_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton2_Click"));
    trap.step(126, [this] { m_services.dialogs.message(ShortTitle::Get(), OptionHelpText(), Dialogs::Icon::None); });
}

void MainWindow::PushButton7_Click()
{
    m_run->PushButton7_Click();
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
    ErrorTrap walk(m_services.dialogs, AddFolder::kWalkLocation);
    AddFolder::ScanProgress progress;
    m_scan = &progress;
    m_progress->begin([&progress] {
        return QStringLiteral("%1 folder%2, %3 file%4 found - Esc stops")
            .arg(GroupedNumber(progress.foldersFound + 1), progress.foldersFound == 0 ? QString() : QStringLiteral("s"),
                 GroupedNumber(progress.filesFound), progress.filesFound == 1 ? QString() : QStringLiteral("s"));
    });
    const QStringList found =
        AddFolder::ScanFolder(folder, QStringLiteral("*.") + extension, *m_progress, trap, walk, &progress);
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
        Steps dropSteps([](int, const QString&) {});
        ErrorTrap walk(m_services.dialogs, AddFolder::kWalkLocation);
        m_inputFiles->AppendMany(
            AddFolder::ScanFolder(path, QStringLiteral("*.*"), m_services.events, dropSteps, walk));
    } else {
        m_inputFiles->Append(path);
    }
}

QString MainWindow::chooseSaveTarget(ErrorTrap& trap)
{
    QString path;
    trap.step(114, [&] {
        path = m_services.dialogs.saveFile(QStringLiteral("Save"),
                                           QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    });
    if (trap.test(118, [&] { return path.isEmpty(); }))
        return QString();
    Dialogs::Answer answer = Dialogs::Answer::Yes;
    if (trap.test(120, [&] { return FileExists(path); })) {
        trap.step(122, [&] {
            answer = m_services.dialogs.question(
                ShortTitle::Get(), QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                Dialogs::Answer::Yes);
        });
    }
    if (trap.test(126, [&] { return answer != Dialogs::Answer::Yes; }))
        return QString();
    return path;
}

void MainWindow::PushButton6_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton6_Click"));
    const QString path = chooseSaveTarget(trap);
    if (path.isEmpty())
        return;
    trap.step(128, [this] { setPointer(Hourglass); });
    trap.step(130, [&] {
        int written = 0;
        const int rows = m_results->Count();
        m_progress->begin([&] { return rowsProgress(written, rows); });
        const std::optional<ExportFailure> failure = SaveResultsAsText(path, *m_results, *m_progress, &written);
        m_progress->end();
        if (failure)
            ErrorReport(m_services.dialogs, failure->description, trap.location(), failure->step);
    });
    trap.step(142, [this] { setPointer(DefaultPointer); });
}

void MainWindow::PushButton12_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton12_Click"));
    const QString path = chooseSaveTarget(trap);
    if (path.isEmpty())
        return;
    trap.step(128, [this] { setPointer(Hourglass); });
    trap.step(130, [&] {
        int written = 0;
        const int rows = m_results->Count();
        m_progress->begin([&] { return rowsProgress(written, rows); });
        const std::optional<ExportFailure> failure =
            SaveResultsAsCommaDelimited(path, *m_results, *m_progress, &written);
        m_progress->end();
        if (failure)
            ErrorReport(m_services.dialogs, failure->description, trap.location(), failure->step);
    });
    trap.step(144, [this] { setPointer(DefaultPointer); });
}

void MainWindow::PushButton11_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton11_Click"));
    // Copying hundreds of thousands of rows takes seconds: the busy pointer shows it, as for the saves.
    setPointer(Hourglass);
    trap.step(106, [this] {
        // The results list has no check marks and the message says the results were copied:
        // every row is taken.
        const CopyableList rows{[this] { return m_results->Count(); }, 1,
                                [this](int row, int) -> std::optional<QString> {
                                    if (row > m_results->Count())
                                        return std::nullopt;
                                    return m_results->Text(row);
                                },
                                [](int) {
                                    return true;
                                }};
        int copied = 0;
        const int count = m_results->Count();
        m_progress->begin([&] { return rowsProgress(copied, count); });
        const std::optional<Failure> failure = CopyListToClipboard(rows, m_services.clipboard, *m_progress, &copied);
        m_progress->end();
        if (failure)
            Fail(*failure);
    });
    setPointer(DefaultPointer);
    trap.step(108, [this] {
        m_services.dialogs.message(ShortTitle::Get(),
                                   QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area "
                                                  "where you normally type and press Ctrl+V to paste the clipboard."),
                                   Dialogs::Icon::None);
    });
}

void MainWindow::PushButton9_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton9_Click"));
    trap.step(100, [this] { m_results->Clear(); });
}

void MainWindow::PushButton14_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton14_Click"));
    trap.step(100, [this] {
        if (!isBusy())
            m_inputFiles->Clear();
    });
}

void MainWindow::Option1_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("1"));
}

void MainWindow::Option2_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("2"));
}

void MainWindow::Option3_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("3"));
}

void MainWindow::Option4_Click()
{
    saveSetting(QStringLiteral("Option"), QStringLiteral("4"));
}

void MainWindow::Text1_Change()
{
    saveSetting(QStringLiteral("Text1"), m_text1->text());
}

void MainWindow::Text2_Change()
{
    saveSetting(QStringLiteral("Text2"), m_text2->text());
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

void MainWindow::PushButton_MouseMove()
{
    if (m_pointer != Hourglass)
        setPointer(CustomPointer);
}

void MainWindow::Form_MouseMove()
{
    if (m_pointer != Hourglass)
        setPointer(DefaultPointer);
}

void MainWindow::StopWork()
{
    m_run->Stop();
    if (m_scan)
        m_scan->stopRequested = true;
}

void MainWindow::Form_QueryUnload()
{
    ErrorTrap trap(m_services.dialogs, location("Form_QueryUnload"));
    trap.step(100, [this] { m_services.events.processEvents(); });
    trap.step(102, [this] { m_services.events.processEvents(); });
    trap.step(104, [this] { m_services.endProgram(); });
}

void MainWindow::mouseMoveEvent(QMouseEvent* event)
{
    // A button passes on the moves it does not use; only the bare background counts here.
    if (!childAt(event->position().toPoint()))
        Form_MouseMove();
    QWidget::mouseMoveEvent(event);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    Form_QueryUnload();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (qobject_cast<QPushButton*>(watched)) {
        if (type == QEvent::MouseMove || type == QEvent::Enter)
            PushButton_MouseMove();
    } else if (watched == m_frame1 || watched == m_listView2->viewport()) {
        if (type == QEvent::MouseMove || type == QEvent::Enter)
            Form_MouseMove();
    } else if (watched == m_listView1) {
        if (type == QEvent::KeyPress)
            ListView1_KeyDown(static_cast<QKeyEvent*>(event)->key());
    } else if (watched == m_listView1->viewport()) {
        switch (type) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDropEvent*>(event);
            if (ListView1_OLEDragOver(drag->mimeData()))
                drag->acceptProposedAction();
            else
                drag->ignore(); // the no-drop cursor
            return true;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            ListView1_OLEDragDrop(drop->mimeData());
            drop->acceptProposedAction();
            return true;
        }
        case QEvent::MouseButtonPress:
            ListView1_MouseDown();
            break;
        case QEvent::MouseMove:
            ListView1_MouseMove(static_cast<QMouseEvent*>(event)->position().toPoint());
            break;
        case QEvent::MouseButtonRelease:
            ListView1_MouseUp();
            break;
        case QEvent::MouseButtonDblClick:
            // The press before it has already selected the double-clicked item.
            ListView1_DblClick();
            break;
        case QEvent::Enter:
            Form_MouseMove();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
