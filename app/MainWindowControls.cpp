// The window's controls, built from the layout table, and the look a skin file gives them.

#include "MainWindow.h"

#include "ColumnHeaderProxy.h"
#include "ControlTable.h"
#include "Cursors.h"
#include "PlainFrame.h"

#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include <vector>

namespace {

const QString kInputTip = QStringLiteral(
    "Drag and drop files here. Double-click item to remove it. Move | line to right and out of window to reveal full "
    "names.");
const QString kResultsTip = QStringLiteral("Move | line to right and out of window to reveal full names.");

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

// The watcher sees the moves over a button, which change the pointer.
QPushButton* createPushButton(const QString& caption, QWidget* parent, QObject* watcher)
{
    auto* button = new QPushButton(caption, parent);
    button->setFont(arialBold(11.25));
    button->setMouseTracking(true);
    button->installEventFilter(watcher);
    return button;
}

// A one-column report list. A table view keeps no per-row layout, so a list of a million results grows as cheaply
// as one of ten. The watcher sees its keys, and the presses, moves and drops on its rows.
QTableView* createListView(QWidget* parent, QObject* watcher)
{
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
    view->viewport()->installEventFilter(watcher);
    view->installEventFilter(watcher);
    return view;
}

// The watcher sees the moves over the frame, which give the pointer back.
QGroupBox* createFrame(const QString& caption, QWidget* parent, QObject* watcher)
{
    auto* frame = new PlainFrame(caption, parent);
    paintWhite(frame);
    frame->setMouseTracking(true);
    frame->installEventFilter(watcher);
    return frame;
}

QWidget* createControl(const ControlSpec& control, QWidget* parent, QObject* watcher)
{
    const QString caption = QString::fromUtf8(control.caption);
    switch (control.kind) {
    case ControlSpec::PushButton:
        return createPushButton(caption, parent, watcher);
    case ControlSpec::ListView:
        return createListView(parent, watcher);
    case ControlSpec::Frame:
        return createFrame(caption, parent, watcher);
    case ControlSpec::OptionButton: {
        auto* option = new QRadioButton(caption, parent);
        paintWhite(option);
        return option;
    }
    case ControlSpec::TextBox:
        return new QLineEdit(caption, parent);
    case ControlSpec::Label: {
        auto* label = new QLabel(caption, parent);
        paintWhite(label);
        return label;
    }
    }
    return nullptr;
}

// Tab goes from control to control in the order of their tab indexes; the gaps are controls that take no focus.
void chainTabOrder(const std::vector<QWidget*>& byTabIndex)
{
    QWidget* previous = nullptr;
    for (QWidget* widget : byTabIndex) {
        if (!widget)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

} // namespace

void MainWindow::buildControls()
{
    setObjectName(QStringLiteral("MainWindow"));
    // A fixed single border: minimize, no maximize, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(pixels(kClientWidthTwips), pixels(kClientHeightTwips));
    setFont(arialBold(9));
    paintWhite(this);

    // Every tab index is below the number of controls.
    std::vector<QWidget*> byTabIndex(kControls.size(), nullptr);
    for (const ControlSpec& entry : kControls) {
        QWidget* widget = createControl(entry, entry.inFrame ? static_cast<QWidget*>(m_frame1) : this, this);
        // The frame comes before the controls it holds.
        if (entry.kind == ControlSpec::Frame)
            m_frame1 = static_cast<QGroupBox*>(widget);
        widget->setObjectName(QString::fromUtf8(entry.name));
        widget->setGeometry(pixels(entry.left), pixels(entry.top), pixels(entry.width), pixels(entry.height));
        if (entry.tabIndex >= 0)
            byTabIndex[std::size_t(entry.tabIndex)] = widget;
        else
            widget->setFocusPolicy(Qt::NoFocus);
    }
    findControls();
    chainTabOrder(byTabIndex);
    setMouseTracking(true);
}

// The controls the handlers read, and the two lists' models.
void MainWindow::findControls()
{
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
