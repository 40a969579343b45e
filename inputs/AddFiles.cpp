#include "AddFiles.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr qsizetype kAnswerBuffer = 30000;

} // namespace

ChosenFiles SplitChosenFiles(const QStringList& chosen)
{
    ChosenFiles files;
    if (chosen.size() == 1) {
        files.folder = chosen.first();
        // The path and its terminating NUL.
        files.fit = files.folder.size() + 1 <= kAnswerBuffer;
        return files;
    }
    // The folder, then each name after a NUL, then two NULs closing the answer.
    files.folder = QDir::toNativeSeparators(QFileInfo(chosen.first()).path());
    qsizetype length = files.folder.size() + 2;
    for (const QString& path : chosen) {
        files.names.append(QFileInfo(path).fileName());
        length += 1 + files.names.last().size();
    }
    files.fit = length <= kAnswerBuffer;
    return files;
}
