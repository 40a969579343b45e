#pragma once

#include "DocumentService.h"
#include "DocumentSource.h"
#include "HtmlDocument.h"
#include "Result.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// The parser's tree takes about this many bytes for each byte of the file.
inline constexpr std::uint64_t kDocumentBytesPerFileByte = 24;
// The largest file whose document may take up to a quarter of the machine's memory: the window
// holds two documents at once (one being read out while the next one loads).
qint64 LargestDocumentBytes();

// Reads one input file and builds its document. The parser works synchronously, so the document comes back
// complete. A file larger than largestFileBytes is refused before it is read.
Result<std::unique_ptr<HtmlDocument>, ExtractionFailure> LoadHtmlDocument(const QString& path, HtmlParser& parser,
                                                                          qint64 largestFileBytes);

// Documents parsed in this process by one parser, one at a time: what a worker process serves, and what tests and
// benchmarks use to see the extraction without a worker. A file whose document would not fit in memory is refused
// before it is read; a worker, whose own memory limit ends it cleanly, lets the parser find out instead
// (largestFileBytes of the largest qint64).
class InProcessDocumentSource final : public DocumentSource
{
public:
    explicit InProcessDocumentSource(HtmlParser& parser, qint64 largestFileBytes = LargestDocumentBytes())
        : m_parser(parser), m_largestFileBytes(largestFileBytes)
    {}
    DocumentResult open(const QString& path) override;

private:
    HtmlParser& m_parser;
    qint64 m_largestFileBytes;
};

// Documents built in this process, on a thread of their own, by parsers from makeParser: for tests that need to
// hold a parse back, and for benchmarks that compare the two ways.
std::unique_ptr<DocumentService> createInProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser);
