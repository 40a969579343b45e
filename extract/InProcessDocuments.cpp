#include "InProcessDocuments.h"

#include "ExtractionModes.h"
#include "FileSystem.h"
#include "MemoryInfo.h"

#include <limits>
#include <mutex>
#include <vector>

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

// Parsers for loads on several threads at once: each parse borrows one of its own.
class ParserPool
{
public:
    explicit ParserPool(std::function<std::unique_ptr<HtmlParser>()> makeParser) : m_makeParser(std::move(makeParser))
    {}

    std::unique_ptr<HtmlParser> borrow()
    {
        {
            const std::lock_guard lock(m_mutex);
            if (!m_idle.empty()) {
                std::unique_ptr<HtmlParser> parser = std::move(m_idle.back());
                m_idle.pop_back();
                return parser;
            }
        }
        return m_makeParser();
    }
    void giveBack(std::unique_ptr<HtmlParser> parser)
    {
        const std::lock_guard lock(m_mutex);
        m_idle.push_back(std::move(parser));
    }

private:
    std::function<std::unique_ptr<HtmlParser>()> m_makeParser;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<HtmlParser>> m_idle;
};

class InProcessDocuments final : public DocumentService
{
public:
    explicit InProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser)
        : m_parsers(std::make_shared<ParserPool>(std::move(makeParser)))
    {}

    PreparedLoad prepare(const QString& path) override
    {
        return {[parsers = m_parsers, path]() -> DocumentResult {
                    std::unique_ptr<HtmlParser> parser = parsers->borrow();
                    DocumentResult document = InProcessDocumentSource(*parser).open(path);
                    parsers->giveBack(std::move(parser));
                    return document;
                },
                {}};
    }

private:
    std::shared_ptr<ParserPool> m_parsers;
};

} // namespace

std::unique_ptr<DocumentService> createInProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser)
{
    return std::make_unique<InProcessDocuments>(std::move(makeParser));
}
