#include "OpenFilesDialog.h"

#include <QLineEdit>

#include <limits>

OpenFilesDialog::OpenFilesDialog(QWidget* parent, const QString& title, const QString& nameFilter) : QFileDialog(parent)
{
    // Set first: the widgets must exist before the other settings reach them.
    setOption(DontUseNativeDialog);
    setWindowTitle(title);
    setNameFilter(nameFilter);
    setFileMode(ExistingFiles);
    if (auto* names = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        names->setMaxLength(std::numeric_limits<int>::max());
}

QStringList OpenFilesDialog::chosenFiles() const
{
    return selectedFiles();
}
