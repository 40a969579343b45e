#pragma once

#include "DocumentSource.h"

#include <QString>

#include <functional>
#include <memory>

// One file's document on its way: readyState() is "loading" until it is built (or has failed), then "complete".
class PendingDocument
{
public:
    virtual ~PendingDocument() = default;
    virtual QString readyState() const = 0;
    // Once complete: the document, or why there is none.
    virtual DocumentResult take() = 0;
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
    virtual std::unique_ptr<PendingDocument> load(const QString& path, std::function<void()> whenComplete) = 0;
};
