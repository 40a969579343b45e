#pragma once

#include "ExtractionModes.h"
#include "HtmlDocument.h"
#include "Result.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

// A complete document, wherever it is held (this process or a worker process), ready to give rows.
class LoadedDocument
{
public:
    virtual ~LoadedDocument() = default;
    // The rows of a document mode (not MatchingLines), with the tag name as it stands now. Fails when the document
    // is lost midway; the rows handed over before stay handed over.
    virtual std::optional<Failure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) = 0;
};

// One file's document on its way: readyState() is "loading" until it is built (or has failed), then "complete".
class DocumentLoading
{
public:
    virtual ~DocumentLoading() = default;
    virtual QString readyState() const = 0;
    // Once complete: the document, or why there is none.
    virtual Result<std::unique_ptr<LoadedDocument>> take() = 0;
    // Nobody will take the document: the load may end as soon as it can, with any answer. A load that cannot be cut
    // short runs to its end.
    virtual void abandon() {}
};

// Reads and builds documents away from the caller's thread, so that the window stays alive while they load.
class DocumentService
{
public:
    virtual ~DocumentService() = default;
    // Starts loading; whenComplete runs (on another thread) once the document is ready, to wake the waiting one.
    virtual std::unique_ptr<DocumentLoading> load(const QString& path, std::function<void()> whenComplete) = 0;
};

// Documents built in this process, on a thread of their own, by parsers from makeParser: for tests that need to
// hold a parse back, and for benchmarks that compare the two ways.
std::unique_ptr<DocumentService> createInProcessDocuments(std::function<std::unique_ptr<HtmlParser>()> makeParser);
