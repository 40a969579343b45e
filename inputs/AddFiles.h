#pragma once

#include <QString>
#include <QStringList>

inline const QString kTooManyFiles =
    QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.");

// What the open dialog answered, measured as a multi-selection dialog's one-text answer is laid
// out: one file as its full path, several as the first one's folder and their names, where a file
// from another folder is written with its full path.
struct ChosenFiles
{
    // False when the answer would not have fitted the dialog's 30000-character buffer.
    bool fit = true;
    // The one file's full path, as the dialog returned it; empty for several.
    QString file;
    // Several files, each as its own folder, a separator and its name; empty for one file. A
    // selection may span folders (typed full paths), so no file borrows another's folder.
    QStringList paths;
};

ChosenFiles SplitChosenFiles(const QStringList& chosen);
