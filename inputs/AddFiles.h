#pragma once

#include <QString>
#include <QStringList>

inline const QString kTooManyFiles =
    QStringLiteral("You've selected too many files to add.\r\rPlease try adding via the \"Add All\" button.");

// What the open dialog answered, taken apart as a multi-selection dialog's one-text answer is
// laid out: one file as its full path, several as their folder and their names.
struct ChosenFiles
{
    // False when the answer would not have fitted the dialog's 30000-character buffer.
    bool fit = true;
    // The folder of several files, or the one file's full path.
    QString folder;
    // The names of several files; empty for one file.
    QStringList names;
};

ChosenFiles SplitChosenFiles(const QStringList& chosen);
