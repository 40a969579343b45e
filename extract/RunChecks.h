#pragma once

#include "ExtractionMode.h"

#include <QString>
#include <QStringView>

#include <optional>

inline const QString kNoFilesAdded = QStringLiteral("No files added.");
inline const QString kForgotTagName = QStringLiteral("You forgot to input tag name.");
inline const QString kForgotTagOrData = QStringLiteral("You forgot to input tag or data.");

// A text is blank when nothing is left after removing leading and trailing spaces (code 32
// only: a lone tab is not blank).
bool IsBlank(QStringView text);

// The message that stops a run before it starts, if any: "No files added.", "You forgot to
// input tag name." or "You forgot to input tag or data.".
std::optional<QString> CheckRunInputs(qsizetype fileCount, std::optional<ExtractionMode> mode, QStringView tagName,
                                      QStringView searchText);
