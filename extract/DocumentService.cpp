#include "DocumentService.h"

#include "DocumentLoad.h"

namespace {

class InProcessDocument final : public LoadedDocument
{
public:
    explicit InProcessDocument(std::unique_ptr<HtmlDocument> document) : m_document(std::move(document)) {}

    std::optional<Failure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) override
    {
        EmitDocumentRows(*m_document, mode, tagName, sink);
        return std::nullopt;
    }

private:
    std::unique_ptr<HtmlDocument> m_document;
};

class InProcessLoading final : public DocumentLoading
{
public:
    InProcessLoading(const QString& path, HtmlParser& parser, std::function<void()> whenComplete)
        : m_load(path, parser, std::move(whenComplete))
    {}

    QString readyState() const override { return m_load.readyState(); }

    Result<std::unique_ptr<LoadedDocument>> take() override
    {
        Result<std::unique_ptr<HtmlDocument>> document = m_load.take();
        if (!document)
            return document.failure();
        return std::unique_ptr<LoadedDocument>(std::make_unique<InProcessDocument>(std::move(*document)));
    }

private:
    DocumentLoad m_load;
};

class InProcessDocuments final : public DocumentService
{
public:
    explicit InProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser)
        : m_makeParser(std::move(makeParser))
    {}

    std::unique_ptr<DocumentLoading> load(const QString& path, std::function<void()> whenComplete) override
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
