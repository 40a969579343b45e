#pragma once

#include "DocumentSource.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

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

// A document built by work that runs on a thread of its own, while the caller's thread goes on.
class PendingOnThread final : public PendingDocument
{
public:
    // whenComplete runs on that thread once the work is done, to wake the waiting one; interrupt, if given, is how
    // abandon() cuts the work short. Where the system allows no more threads, the work runs here and now.
    PendingOnThread(std::function<DocumentResult()> work, std::function<void()> whenComplete,
                    std::function<void()> interrupt = {});
    ~PendingOnThread() override;
    PendingOnThread(const PendingOnThread&) = delete;
    PendingOnThread& operator=(const PendingOnThread&) = delete;

    QString readyState() const override;
    DocumentResult take() override;
    void abandon() override;

private:
    std::atomic<bool> m_complete{false};
    DocumentResult m_result;
    std::function<void()> m_interrupt;
    std::thread m_thread;
};

// Reads and builds documents away from the caller's thread, so that the window stays alive while they load.
class DocumentService
{
public:
    virtual ~DocumentService() = default;

    // One file's load, made ready on the caller's thread (a worker it needs is started there) and run on any other:
    // work builds the document; interrupt, when given, cuts the work short from yet another thread.
    struct PreparedLoad
    {
        std::function<DocumentResult()> work;
        std::function<void()> interrupt;
        // Set when what the work runs on could not be had (the system refused a worker process): work then gives
        // this failure. The caller may rather try again once other loads have given theirs back.
        std::optional<ExtractionFailure> notStarted = {};
    };
    virtual PreparedLoad prepare(const QString& path) = 0;

    // Starts loading on a thread of its own; whenComplete runs there once the document is ready, to wake the waiting
    // one.
    std::unique_ptr<PendingDocument> load(const QString& path, std::function<void()> whenComplete);
};
