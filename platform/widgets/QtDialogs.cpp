#include "QtDialogs.h"

#include "DialogFilter.h"
#include "OpenFilesDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
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

} // namespace

QtDialogs::QtDialogs(QWidget* parent) : m_parent(parent) {}

void QtDialogs::message(const QString& title, const QString& text, Icon icon)
{
    QMessageBox box(icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, title, shownText(text),
                    QMessageBox::Ok, m_parent);
    box.exec();
}

Dialogs::Answer QtDialogs::question(const QString& title, const QString& text, Answer defaultAnswer)
{
    QMessageBox box(QMessageBox::NoIcon, title, shownText(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setDefaultButton(defaultAnswer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No);
    // Escape and the title bar's close button give No, which is what the program treats as "leave it".
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

QString QtDialogs::prompt(const QString& title, const QString& text, const QString& proposed)
{
    bool accepted = false;
    const QString answer =
        QInputDialog::getText(m_parent, title, shownText(text), QLineEdit::Normal, proposed, &accepted);
    return accepted ? answer : QString();
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
