#pragma once

#include "ExtractionMode.h"
#include "Result.h"

#include <QString>
#include <QStringView>

#include <memory>
#include <optional>

// How far a file's extraction got before it failed: its bytes could not be read, no document could be built from
// them, or the document was lost while its rows were being made (the rows handed over before stay handed over).
enum class ExtractionStage
{
    Read,
    Parse,
    Rows,
};

struct ExtractionFailure
{
    ExtractionStage stage;
    QString description;
};

// A complete document, wherever it is held (this process or a worker process), ready to give rows.
class LoadedDocument
{
public:
    virtual ~LoadedDocument() = default;
    // The rows of a document mode, with the tag name as it stands now. A failure is always of the Rows stage.
    virtual std::optional<ExtractionFailure> extract(ExtractionMode mode, QStringView tagName, const RowSink& sink) = 0;
    // Nobody will take the rest of the rows: the work making them may be ended at once, from any thread, and the
    // extraction then fails. Work that cannot be cut short runs to its end.
    virtual void abandon() {}
};

using DocumentResult = Result<std::unique_ptr<LoadedDocument>, ExtractionFailure>;

// Where the documents of a run come from: parsed in this process, by a worker process, or waited for while the
// window goes on. open() returns once the file's document is complete, or with why there is none (of the Read or
// Parse stage).
class DocumentSource
{
public:
    virtual ~DocumentSource() = default;
    virtual DocumentResult open(const QString& path) = 0;
};
