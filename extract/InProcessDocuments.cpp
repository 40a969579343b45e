#include "InProcessDocuments.h"

#include "ExtractionModes.h"
#include "FileSystem.h"
#include "MemoryInfo.h"

#include <limits>

namespace {

// The rows of a document held in this process.
class InProcessDocument final : public LoadedDocument
{
public:
    explicit InProcessDocument(std::unique_ptr<HtmlDocument> document) : m_document(std::move(document)) {}

    std::optional<ExtractionFailure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) override
    {
        EmitDocumentRows(*m_document, mode, tagName, sink);
        return std::nullopt;
    }

private:
    std::unique_ptr<HtmlDocument> m_document;
};

} // namespace

qint64 LargestDocumentBytes()
{
    const std::uint64_t physical = PhysicalMemoryBytes();
    if (physical == 0)
        return std::numeric_limits<qint64>::max();
    return qint64(physical / 4 / kDocumentBytesPerFileByte);
}

Result<std::unique_ptr<HtmlDocument>, ExtractionFailure> LoadHtmlDocument(const QString& path, HtmlParser& parser,
                                                                          qint64 largestFileBytes)
{
    Result<QByteArray> bytes = FileSystem::readAll(path, largestFileBytes, QStringLiteral("documents"));
    if (!bytes)
        return ExtractionFailure{ExtractionStage::Read, bytes.failure().description};
    Result<std::unique_ptr<HtmlDocument>> document = parser.parse(*bytes);
    if (!document)
        return ExtractionFailure{ExtractionStage::Parse, document.failure().description};
    return std::move(*document);
}

DocumentResult InProcessDocumentSource::open(const QString& path)
{
    Result<std::unique_ptr<HtmlDocument>, ExtractionFailure> document =
        LoadHtmlDocument(path, m_parser, m_largestFileBytes);
    if (!document)
        return document.failure();
    return std::unique_ptr<LoadedDocument>(std::make_unique<InProcessDocument>(std::move(*document)));
}

namespace {

class InProcessDocuments final : public DocumentService
{
public:
    explicit InProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser)
        : m_makeParser(std::move(makeParser))
    {}

    std::unique_ptr<PendingDocument> load(const QString& path, std::function<void()> whenComplete) override
    {
        // One parser per load at a time: a load ahead and the one being read out never share one.
        std::unique_ptr<HtmlParser>& parser = m_parsers[m_turn];
        m_turn = (m_turn + 1) % 2;
        if (!parser)
            parser = m_makeParser();
        HtmlParser& used = *parser;
        return std::make_unique<PendingOnThread>([path, &used] { return InProcessDocumentSource(used).open(path); },
                                                 std::move(whenComplete));
    }

private:
    std::function<std::unique_ptr<HtmlParser>()> m_makeParser;
    std::unique_ptr<HtmlParser> m_parsers[2];
    int m_turn = 0;
};

} // namespace

std::unique_ptr<DocumentService> createInProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser)
{
    return std::make_unique<InProcessDocuments>(std::move(makeParser));
}
