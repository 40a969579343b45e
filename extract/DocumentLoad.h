#pragma once

#include "HtmlDocument.h"
#include "Result.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

// One file's document, read and parsed on a worker thread while the window's thread goes on
// processing events. readyState() is "loading" until the document is built (or has failed),
// then "complete"; take() hands it over.
class DocumentLoad
{
public:
    // whenComplete runs on the worker once the document is ready, to wake the waiting thread.
    DocumentLoad(const QString& path, HtmlParser& parser, std::function<void()> whenComplete = {});
    ~DocumentLoad();
    DocumentLoad(const DocumentLoad&) = delete;
    DocumentLoad& operator=(const DocumentLoad&) = delete;

    QString readyState() const;
    Result<std::unique_ptr<HtmlDocument>> take();

private:
    std::atomic<bool> m_complete{false};
    Result<std::unique_ptr<HtmlDocument>> m_result{Failure{QStringLiteral("The document is still loading")}};
    std::thread m_worker;
};
