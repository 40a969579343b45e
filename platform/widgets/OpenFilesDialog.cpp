#include "OpenFilesDialog.h"

#include <QFileInfo>
#include <QLineEdit>

#include <limits>

namespace {

// The names in the file-name box, read as QFileDialog reads them: "one" "two" for several (every
// second piece between quotes is a name), the whole text for one.
QStringList TypedNames(const QString& text)
{
    if (!text.contains(u'"'))
        return {text};
    QStringList names;
    const QStringList pieces = text.split(u'"');
    for (qsizetype i = 1; i < pieces.size(); i += 2)
        names.append(pieces.at(i));
    return names;
}

} // namespace

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
    return m_typedFiles.isEmpty() ? selectedFiles() : m_typedFiles;
}

void OpenFilesDialog::accept()
{
    m_typedFiles.clear();
    const auto* box = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    const QString text = box ? box->text() : QString();
    // A selection made by clicking writes its names into the box too, so the box speaks for both.
    QStringList files;
    if (!text.isEmpty()) {
        for (const QString& name : TypedNames(text)) {
            const QString path = directory().absoluteFilePath(name);
            if (!QFileInfo(path).isFile()) {
                files.clear();
                break;
            }
            files.append(path);
        }
    }
    if (files.isEmpty()) {
        // A folder to enter, "..", a name that does not exist: QFileDialog's own answer.
        QFileDialog::accept();
        return;
    }
    m_typedFiles = files;
    QDialog::accept();
}
