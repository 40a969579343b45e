#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"

#include <QString>

#include <functional>
#include <optional>

// The texts the modes use: the tag name (mode 2) and the search text (mode 3).
struct ExtractionTexts
{
    QString tagName;
    QString searchText;
};

// Extracting one file, the one way the window, the command line and the worker processes all do it: mode 3 reads
// the file's lines here; the other modes take the file's document from the source and have it make its rows.
//
// texts is asked for once the document (or the lines) is ready, not before: the window's user may edit the texts
// while a document loads, and a change made meanwhile already counts. The rows go to sink as they are made. Running
// out of memory, or any other error, costs only this file and comes back as the failure of the stage it happened
// in; whatever sink or the source throws for reasons of their own (a stop, a full list) passes through untouched.
std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode,
                                             const std::function<ExtractionTexts()>& texts, DocumentSource& documents,
                                             const RowSink& sink);

// The same with texts settled before the file is read.
std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode, const ExtractionTexts& texts,
                                             DocumentSource& documents, const RowSink& sink);
