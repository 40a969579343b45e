#pragma once

#include "HtmlDocument.h"
#include "RFTSFSO.h"

#include <QString>
#include <QStringView>

#include <functional>
#include <optional>
#include <string_view>

// The four ways one input file becomes result rows. Each hands its rows, one at a time and in
// order, to a sink; rows are UTF-8.
enum class ExtractionMode
{
    LeafTexts = 1,     // "Extract all data between all tags"
    ElementBlocks = 2, // "Extract data and tag between this tag:"
    MatchingLines = 3, // "Extract entire line containing this tag or data:"
    TagNames = 4,      // "Extract all tags in file"
};

using RowSink = std::function<void(std::string_view row)>;

// The text of every innermost element below the body, in document order.
void EmitLeafTexts(const HtmlDocument& document, const RowSink& sink);

// For each element with the tag name: "<tr>", its inner markup cut at every CR LF with each
// piece in lower case, then "</tr>". The name is used exactly as typed.
void EmitElementBlocks(const HtmlDocument& document, QStringView tagName, const RowSink& sink);

// Every line holding the search text, compared without regard to case, with its line feeds,
// carriage returns and tabs removed.
void EmitMatchingLines(const LineList& lines, QStringView searchText, const RowSink& sink);

// The lower-case tag name of every element of the document, in document order.
void EmitTagNames(const HtmlDocument& document, const RowSink& sink);

// The rows of a document mode (LeafTexts, ElementBlocks or TagNames; MatchingLines gives none here).
void EmitDocumentRows(const HtmlDocument& document, ExtractionMode mode, QStringView tagName, const RowSink& sink);

// A failure that ended a file's work, with the number of the run's step that failed.
struct StepFailure
{
    int step;
    QString description;
};

struct ExtractionTexts
{
    QString tagName;    // mode 2
    QString searchText; // mode 3
};

// The step that gets a file's content in a mode: 128, 144, 168 or 180.
int contentStep(ExtractionMode mode);

// Reads or loads one file and applies one mode to it. A file that cannot be read or whose
// document cannot be created yields no rows and comes back as the failure of step 128, 144, 168
// or 180 (the step that gets the content in modes 1 to 4).
std::optional<StepFailure> ExtractFile(ExtractionMode mode, const QString& path, const ExtractionTexts& texts,
                                       HtmlParser& parser, const RowSink& sink);
