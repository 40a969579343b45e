#include "InProcessDocuments.h"

#include "ExtractionModes.h"
#include "FileSystem.h"
#include "MemoryInfo.h"

#include <atomic>
#include <limits>
#include <new>
#include <thread>

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

std::optional<ExtractionFailure> InProcessDocument::extract(ExtractionMode mode, QStringView tagName,
                                                            const RowSink& sink)
{
    EmitDocumentRows(*m_document, mode, tagName, sink);
    return std::nullopt;
}

namespace {

// One file's document, read and parsed on a thread of its own while the caller's thread goes on.
class InProcessLoading final : public PendingDocument
{
public:
    InProcessLoading(const QString& path, HtmlParser& parser, std::function<void()> whenComplete)
    {
        m_thread = std::thread([this, path, &parser, whenComplete = std::move(whenComplete)] {
            try {
                m_result = InProcessDocumentSource(parser).open(path);
            } catch (const std::bad_alloc&) {
                m_result = ExtractionFailure{ExtractionStage::Parse, QStringLiteral("Out of memory")};
            }
            m_complete.store(true, std::memory_order_release);
            if (whenComplete)
                whenComplete();
        });
    }
    ~InProcessLoading() override
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    QString readyState() const override
    {
        return m_complete.load(std::memory_order_acquire) ? QStringLiteral("complete") : QStringLiteral("loading");
    }

    DocumentResult take() override
    {
        if (m_thread.joinable())
            m_thread.join();
        return std::move(m_result);
    }

private:
    std::atomic<bool> m_complete{false};
    DocumentResult m_result{ExtractionFailure{ExtractionStage::Parse, QStringLiteral("The document is still loading")}};
    std::thread m_thread;
};

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
        return std::make_unique<InProcessLoading>(path, *parser, std::move(whenComplete));
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
