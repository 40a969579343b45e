#pragma once

#include <QFileDialog>
#include <QStringList>

// The open dialog for several existing files, always Qt's own widgets so that it behaves the same on
// every desktop, where QFileDialog would lose part of what the user chose:
// - it writes a selection into its name box, which keeps QLineEdit's usual limit of 32767 characters:
//   a large selection (Ctrl+A in a big folder, names pasted) was cut short there, and names lost in
//   the box were lost from the answer. Here the box holds any selection, and the program's own limit
//   decides what is too many;
// - with names typed into the box, it answers with the rows its completion selected in the list, and
//   a name the file-type filter hides has no row. Here every typed name that exists comes back.
class OpenFilesDialog final : public QFileDialog
{
public:
    OpenFilesDialog(QWidget* parent, const QString& title, const QString& nameFilter);

    // After the dialog was accepted: the chosen files as full paths with '/', typed ones in the order
    // they were typed.
    QStringList chosenFiles() const;

protected:
    void accept() override;

private:
    QStringList m_typedFiles;
};
