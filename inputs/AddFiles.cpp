#include "AddFiles.h"

#include "FixPath.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr qsizetype kAnswerBuffer = 30000;

} // namespace

ChosenFiles SplitChosenFiles(const QStringList& chosen)
{
    ChosenFiles files;
    if (chosen.size() == 1) {
        files.file = chosen.first();
        // The path and its terminating NUL.
        files.fit = files.file.size() + 1 <= kAnswerBuffer;
        return files;
    }
    // The first file's folder, then each name after a NUL (the full path for a file outside that
    // folder), then two NULs closing the answer.
    const QString answerFolder = QFileInfo(chosen.first()).path();
    qsizetype length = QDir::toNativeSeparators(answerFolder).size() + 2;
    for (const QString& path : chosen) {
        const QFileInfo file(path);
        const QString folder = QDir::toNativeSeparators(file.path());
        files.paths.append(folder + kPathSeparator + file.fileName());
        length += 1 + (file.path() == answerFolder ? file.fileName().size() : path.size());
    }
    files.fit = length <= kAnswerBuffer;
    return files;
}
