#include "FileExtraction.h"

#include "ExtractionModes.h"
#include "LineList.h"
#include "Steps.h"

namespace {

// Runs one stage of a file's work; an error it raises becomes that stage's failure.
template <typename Action> std::optional<ExtractionFailure> inStage(ExtractionStage stage, Action&& action)
{
    std::optional<ExtractionFailure> failure;
    if (const std::optional<QString> description = FailureOf([&] { failure = action(); }))
        return ExtractionFailure{stage, *description};
    return failure;
}

std::optional<ExtractionFailure> extractLines(const QString& path, const std::function<ExtractionTexts()>& texts,
                                              const RowSink& sink)
{
    std::optional<LineList> lines;
    if (std::optional<ExtractionFailure> failure =
            inStage(ExtractionStage::Read, [&]() -> std::optional<ExtractionFailure> {
                Result<LineList> read = ReadFileLines(path);
                if (!read)
                    return ExtractionFailure{ExtractionStage::Read, read.failure().description};
                lines.emplace(std::move(*read));
                return std::nullopt;
            }))
        return failure;
    return inStage(ExtractionStage::Rows, [&]() -> std::optional<ExtractionFailure> {
        EmitMatchingLines(*lines, texts().searchText, sink);
        return std::nullopt;
    });
}

} // namespace

std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode,
                                             const std::function<ExtractionTexts()>& texts, DocumentSource& documents,
                                             const RowSink& sink)
{
    if (!IsDocumentMode(mode))
        return extractLines(path, texts, sink);
    std::unique_ptr<LoadedDocument> document;
    if (std::optional<ExtractionFailure> failure =
            inStage(ExtractionStage::Parse, [&]() -> std::optional<ExtractionFailure> {
                DocumentResult opened = documents.open(path);
                if (!opened)
                    return opened.failure();
                document = std::move(*opened);
                return std::nullopt;
            }))
        return failure;
    return inStage(ExtractionStage::Rows, [&] { return document->extract(mode, texts().tagName, sink); });
}

std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode, const ExtractionTexts& texts,
                                             DocumentSource& documents, const RowSink& sink)
{
    return ExtractFile(
        path, mode, [&texts] { return texts; }, documents, sink);
}
