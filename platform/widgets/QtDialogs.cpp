#include "QtDialogs.h"

#include "DialogFilter.h"
#include "OpenFilesDialog.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>

namespace {

// The program's texts break lines with CR LF, and the error report with a bare CR as well; a
// message box shows a line break only for LF.
QString shownText(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

// Room a title bar takes beside the caption: the window's icon and its buttons (about 32 pixels each
// on most desktops, more on some) with the gaps between them.
constexpr int kTitleBarFurniture = 180;

// The window manager shortens a caption that does not fit beside the title bar's icon and buttons
// ("Q..." or nothing). QMessageBox sizes a short box for its text and buttons, allowing the caption only
// 50 pixels more than its text, and QInputDialog does not allow for it at all. A spacer across the box's
// layout keeps the box as wide as the caption set in a title-bar font (in bold, as many desktops show
// it) and that furniture.
void MakeRoomForTitle(QDialog& box)
{
    QLayout* layout = box.layout();
    if (!layout)
        return;
    QFont font = QApplication::font("QMdiSubWindowTitleBar");
    font.setBold(true);
    const QMargins margins = layout->contentsMargins();
    const int width =
        QFontMetrics(font).horizontalAdvance(box.windowTitle()) + kTitleBarFurniture - margins.left() - margins.right();
    auto* spacer = new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    if (auto* grid = qobject_cast<QGridLayout*>(layout))
        grid->addItem(spacer, grid->rowCount(), 0, 1, grid->columnCount());
    else
        layout->addItem(spacer);
}

} // namespace

QtDialogs::QtDialogs(QWidget* parent) : m_parent(parent) {}

void QtDialogs::message(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, shownText(text),
                    QMessageBox::Ok, m_parent);
    MakeRoomForTitle(box);
    box.exec();
}

Dialogs::Answer QtDialogs::question(const QString& title, const QString& text, Answer defaultAnswer)
{
    QMessageBox box(QMessageBox::NoIcon, title, shownText(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    // Escape and the title bar's close button give No, which is what the program treats as "leave it".
    box.setEscapeButton(QMessageBox::No);
    MakeRoomForTitle(box);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::prompt(const QString& title, const QString& text, const QString& proposed)
{
    QInputDialog box(m_parent);
    box.setWindowTitle(title);
    box.setLabelText(shownText(text));
    box.setTextValue(proposed);
    // QInputDialog lays itself out when first measured; the room for the title goes into that layout.
    box.sizeHint();
    MakeRoomForTitle(box);
    return box.exec() == QDialog::Accepted ? box.textValue() : QString();
}

// The program builds paths with the platform's own separator, while Qt's dialogs answer with '/'.
QStringList QtDialogs::openFiles(const QString& title, const QString& filter)
{
    OpenFilesDialog dialog(m_parent, title, QtFileFilter(filter));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    QStringList files = dialog.chosenFiles();
    for (QString& file : files)
        file = QDir::toNativeSeparators(file);
    return files;
}

QString QtDialogs::saveFile(const QString& title, const QString& filter)
{
    // The program asks its own overwrite question and adds no extension of its own.
    const QString file = QFileDialog::getSaveFileName(m_parent, title, QString(), QtFileFilter(filter), nullptr,
                                                      QFileDialog::DontConfirmOverwrite);
    return QDir::toNativeSeparators(file);
}

QString QtDialogs::chooseFolder(const QString& title, const QString& initialFolder)
{
    // A remembered folder that has since gone leaves the dialog where it would start by itself.
    const QString start = !initialFolder.isEmpty() && QFileInfo(initialFolder).isDir() ? initialFolder : QString();
    const QString folder = QFileDialog::getExistingDirectory(m_parent, title, start, QFileDialog::ShowDirsOnly);
    return QDir::toNativeSeparators(folder);
}
