#pragma once

#include "Dialogs.h"

class QWidget;

// The real boxes: QMessageBox, QInputDialog and QFileDialog, all modal to the parent window.
class QtDialogs final : public Dialogs
{
public:
    explicit QtDialogs(QWidget* parent);
    // The window that owns the boxes is built after its services, so it is set once it exists.
    void setParent(QWidget* parent) { m_parent = parent; }

    void message(const QString& title, const QString& text, Icon icon) override;
    Answer question(const QString& title, const QString& text, Answer defaultAnswer) override;
    QString prompt(const QString& title, const QString& text, const QString& proposed) override;
    QStringList openFiles(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& filter) override;
    QString chooseFolder(const QString& title, const QString& initialFolder) override;

private:
    QWidget* m_parent;
};
