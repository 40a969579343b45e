#include "FileExtraction.h"

#include "ExtractionModes.h"
#include "FileSystem.h"
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

// The file as option 3 reads it, a piece at a time.
class FileBytes final : public ByteSource
{
public:
    explicit FileBytes(FileSystem::FileReader reader) : m_reader(std::move(reader)) {}
    Result<qsizetype> read(qint64 offset, char* into, qsizetype size) override
    {
        return m_reader.read(offset, into, size);
    }

private:
    FileSystem::FileReader m_reader;
};

std::optional<ExtractionFailure> extractLines(const QString& path, const std::function<ExtractionTexts()>& texts,
                                              const RowSink& sink, RowParts* parts, qsizetype chunkBytes)
{
    std::optional<FileBytes> bytes;
    if (std::optional<ExtractionFailure> failure =
            inStage(ExtractionStage::Read, [&]() -> std::optional<ExtractionFailure> {
                Result<FileSystem::FileReader> opened = FileSystem::FileReader::open(path);
                if (!opened)
                    return ExtractionFailure{ExtractionStage::Read, opened.failure().description};
                bytes.emplace(std::move(*opened));
                return std::nullopt;
            }))
        return failure;
    return inStage(ExtractionStage::Rows, [&]() -> std::optional<ExtractionFailure> {
        const std::optional<Failure> unread = EmitMatchingLines(*bytes, texts().searchText, sink, parts, chunkBytes);
        if (unread)
            return ExtractionFailure{ExtractionStage::Read, unread->description};
        return std::nullopt;
    });
}

} // namespace

std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode,
                                             const std::function<ExtractionTexts()>& texts, DocumentSource& documents,
                                             const RowSink& sink, RowParts* parts, qsizetype lineChunkBytes)
{
    if (!IsDocumentMode(mode))
        return extractLines(path, texts, sink, parts, lineChunkBytes);
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
                                             DocumentSource& documents, const RowSink& sink, RowParts* parts,
                                             qsizetype lineChunkBytes)
{
    return ExtractFile(
        path, mode, [&texts] { return texts; }, documents, sink, parts, lineChunkBytes);
}
