// The window: its construction, the table of its gestures, start-up, the pointer and closing.

#include "MainWindow.h"

#include "AddFolder.h"
#include "ColumnHeaderProxy.h"
#include "ControlTable.h"
#include "Cursors.h"
#include "ErrorTrap.h"
#include "EventPump.h"
#include "ExtractionRun.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "InputFileList.h"
#include "ProgramIcon.h"
#include "ProgressCaption.h"
#include "ResultsList.h"
#include "SampleFiles.h"
#include "SettingsStore.h"
#include "ShortTitle.h"
#include "WorkerPool.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTableView>
#include <QThread>

QString MainWindow::location(const char* handler)
{
    return QStringLiteral("in Pellowin2021/08/31.Form1.%1 ").arg(QLatin1String(handler));
}

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
        [this]() -> std::optional<ExtractionMode> {
            for (int i = 0; i < 4; ++i)
                if (m_options[i]->isChecked())
                    return ModeFromNumber(i + 1);
            return std::nullopt;
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
                                            std::move(controls), *m_documents,
                                            m_services.jobs > 0 ? m_services.jobs : QThread::idealThreadCount());
}

MainWindow::~MainWindow() = default;

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
    // As the system spells it, as the sample files' paths in the list and the folder shown are: with backslashes on
    // Windows.
    return QDir::toNativeSeparators(samples.left(samples.lastIndexOf(u'/')));
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
    std::optional<ExtractionMode> stored;
    trap.step(136, [&] {
        const double option = NumericValue(m_services.settings.GetSetting(QStringLiteral("Option"), "1"));
        if (option >= 1 && option <= 4 && option == int(option))
            stored = ModeFromNumber(int(option));
    });
    if (stored == ExtractionMode::LeafTexts)
        trap.step(138, [this] { m_options[0]->setChecked(true); });
    else if (trap.test(140, [&] { return stored == ExtractionMode::ElementBlocks; }))
        trap.step(142, [this] { m_options[1]->setChecked(true); });
    else if (trap.test(144, [&] { return stored == ExtractionMode::MatchingLines; }))
        trap.step(146, [this] { m_options[2]->setChecked(true); });
    else if (trap.test(148, [&] { return stored == ExtractionMode::TagNames; }))
        trap.step(150, [this] { m_options[3]->setChecked(true); });

    trap.step(152, [this] { m_text1->setText(m_services.settings.GetSetting(QStringLiteral("Text1"), "tr")); });
    trap.step(154, [this] { m_text2->setText(m_services.settings.GetSetting(QStringLiteral("Text2"), "one")); });
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
