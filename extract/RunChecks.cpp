#include "RunChecks.h"

#include <algorithm>

bool IsBlank(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c == u' '; });
}

std::optional<QString> CheckRunInputs(qsizetype fileCount, std::optional<ExtractionMode> mode, QStringView tagName,
                                      QStringView searchText)
{
    if (fileCount == 0)
        return kNoFilesAdded;
    if (mode == ExtractionMode::ElementBlocks && IsBlank(tagName))
        return kForgotTagName;
    if (mode == ExtractionMode::MatchingLines && IsBlank(searchText))
        return kForgotTagOrData;
    return std::nullopt;
}
