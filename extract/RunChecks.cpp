#include "RunChecks.h"

#include <algorithm>

bool IsBlank(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u' '; });
}

std::optional<QString> CheckRunInputs(qsizetype fileCount, ExtractionMode mode, QStringView tagName,
                                      QStringView searchText)
{
    if (fileCount == 0)
        return QStringLiteral("No files added.");
    if (mode == ExtractionMode::ElementBlocks && IsBlank(tagName))
        return QStringLiteral("You forgot to input tag name.");
    if (mode == ExtractionMode::MatchingLines && IsBlank(searchText))
        return QStringLiteral("You forgot to input tag or data.");
    return std::nullopt;
}
