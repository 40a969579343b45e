#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"
#include "MatchingLines.h"

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
// the file's lines here, a chunk of lineChunkBytes at a time (see MatchingLines.h); the other modes take the file's
// document from the source and have it make its rows.
//
// texts is asked for once the document is ready (or the file open), not before: the window's user may edit the texts
// while a document loads, and a change made meanwhile already counts. The rows go to sink as they are made; a line
// of mode 3 too long to be held whole goes to parts, a piece at a time, or to sink joined when there are no parts.
// Running out of memory, or any other error, costs only this file and comes back as the failure of the stage it
// happened in (a piece of mode 3's file that cannot be read, of the Read stage); whatever sink, parts or the source
// throw for reasons of their own (a stop, a full list) passes through untouched.
std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode,
                                             const std::function<ExtractionTexts()>& texts, DocumentSource& documents,
                                             const RowSink& sink, RowParts* parts = nullptr,
                                             qsizetype lineChunkBytes = kLineChunkBytes);

// The same with texts settled before the file is read.
std::optional<ExtractionFailure> ExtractFile(const QString& path, ExtractionMode mode, const ExtractionTexts& texts,
                                             DocumentSource& documents, const RowSink& sink, RowParts* parts = nullptr,
                                             qsizetype lineChunkBytes = kLineChunkBytes);
