#include "WorkerServer.h"

#include "FileExtraction.h"
#include "FileNames.h"
#include "HtmlDocument.h"
#include "InProcessDocuments.h"
#include "WorkerProcess.h"
#include "WorkerProtocol.h"

#include <cstdlib>
#include <limits>
#include <new>
#include <string>

using WorkerProtocol::Kind;

namespace {

// The worker's own end when memory runs out, wherever that is noticed.
[[noreturn]] void endOutOfMemory()
{
    WorkerChannel::flush();
    std::_Exit(WorkerProtocol::kOutOfMemoryStatus);
}

void sendFailure(const ExtractionFailure& failure)
{
    WorkerChannel::send(char(Kind::Failed), WorkerProtocol::encode(failure));
}

// Rows into frames, each sent once it is full: the program takes them while the rest are made.
class RowFrames
{
public:
    RowFrames() { m_frame.reserve(WorkerProtocol::kRowFrameBytes * 2); }

    RowSink sink()
    {
        return [this](std::string_view row) {
            WorkerProtocol::appendRow(m_frame, row);
            if (m_frame.size() >= WorkerProtocol::kRowFrameBytes) {
                send();
                // The program stopped reading: nobody wants the rest.
                if (!WorkerChannel::flush())
                    std::_Exit(0);
            }
        };
    }

    void send()
    {
        if (!m_frame.empty()) {
            WorkerChannel::send(char(Kind::Rows), QByteArray::fromRawData(m_frame.data(), qsizetype(m_frame.size())));
            m_frame.clear();
        }
    }

private:
    std::string m_frame;
};

// Tells the program a document is complete before its rows go out.
class AnnouncedDocuments final : public DocumentSource
{
public:
    explicit AnnouncedDocuments(DocumentSource& documents) : m_documents(documents) {}
    DocumentResult open(const QString& path) override
    {
        DocumentResult opened = m_documents.open(path);
        if (opened)
            WorkerChannel::send(char(Kind::Complete), {});
        return opened;
    }

private:
    DocumentSource& m_documents;
};

class Server
{
public:
    explicit Server(DocumentSource& documents) : m_documents(documents) {}

    void answer(Kind kind, const QByteArray& request)
    {
        switch (kind) {
        case Kind::Load:
            load(request);
            return;
        case Kind::Extract:
            extract(request);
            return;
        case Kind::Whole:
            whole(request);
            return;
        default:
            sendFailure({ExtractionStage::Parse, QStringLiteral("Internal error (the parser was asked out of turn)")});
            return;
        }
    }

private:
    void load(const QByteArray& path)
    {
        m_document.reset();
        DocumentResult opened = m_documents.open(FileNames::fromNative(path));
        if (!opened) {
            sendFailure(opened.failure());
            return;
        }
        m_document = std::move(*opened);
        WorkerChannel::send(char(Kind::Complete), {});
    }

    void extract(const QByteArray& payload)
    {
        const std::optional<WorkerProtocol::ExtractRequest> request = WorkerProtocol::decodeExtract(payload);
        if (!request || !m_document) {
            sendFailure({ExtractionStage::Rows, QStringLiteral("Internal error (no document to extract from)")});
            return;
        }
        RowFrames frames;
        const std::optional<ExtractionFailure> failure =
            m_document->extract(request->mode, request->tagName, frames.sink());
        end(frames, failure);
    }

    void whole(const QByteArray& payload)
    {
        m_document.reset();
        const std::optional<WorkerProtocol::WholeRequest> request = WorkerProtocol::decodeWhole(payload);
        if (!request) {
            sendFailure({ExtractionStage::Parse, QStringLiteral("Internal error (the parser was asked out of turn)")});
            return;
        }
        AnnouncedDocuments announced(m_documents);
        RowFrames frames;
        const std::optional<ExtractionFailure> failure =
            ExtractFile(FileNames::fromNative(request->path), request->mode, ExtractionTexts{request->tagName, {}},
                        announced, frames.sink());
        // A file that gave no document has said so already and sends no rows.
        if (failure && failure->stage != ExtractionStage::Rows) {
            sendFailure(*failure);
            return;
        }
        end(frames, failure);
    }

    static void end(RowFrames& frames, const std::optional<ExtractionFailure>& failure)
    {
        frames.send();
        if (failure)
            sendFailure(*failure);
        else
            WorkerChannel::send(char(Kind::End), {});
    }

    DocumentSource& m_documents;
    std::unique_ptr<LoadedDocument> m_document;
};

struct ServeOptions
{
    qint64 parent = 0;
    qint64 memoryLimit = 0;
};

ServeOptions parseServeOptions(const QStringList& arguments)
{
    ServeOptions options;
    for (qsizetype i = 0; i + 1 < arguments.size(); ++i) {
        bool ok = false;
        const qint64 value = arguments[i + 1].toLongLong(&ok);
        if (!ok || value <= 0)
            continue;
        if (arguments[i] == QStringLiteral("--parent"))
            options.parent = value;
        else if (arguments[i] == QStringLiteral("--memory-limit"))
            options.memoryLimit = value;
    }
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // The sanitizers reserve far more address space than any limit would allow.
    options.memoryLimit = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    options.memoryLimit = 0;
#endif
#endif
    return options;
}

} // namespace

int ServeDocuments(const QStringList& arguments)
{
    const ServeOptions options = parseServeOptions(arguments);
    if (options.parent > 0)
        WorkerChannel::EndWithParent(options.parent);
    if (options.memoryLimit > 0) {
        WorkerChannel::LimitMemory(options.memoryLimit);
        SetParserMemoryLimit(std::size_t(options.memoryLimit));
    }
    SetParserOutOfMemoryHandler(endOutOfMemory);
    std::set_new_handler([] { endOutOfMemory(); });

    try {
        std::unique_ptr<HtmlParser> parser = createHtmlParser();
        // The worker's memory limit, not a guess from the file's size, decides what fits.
        InProcessDocumentSource documents(*parser, std::numeric_limits<qint64>::max());
        Server server(documents);
        char kind = 0;
        QByteArray request;
        while (WorkerChannel::receive(kind, request)) {
            server.answer(Kind(kind), request);
            if (!WorkerChannel::flush())
                return 0;
        }
    } catch (const std::bad_alloc&) {
        endOutOfMemory();
    }
    return 0;
}
