#pragma once

#include "ExtractionMode.h"
#include "HtmlDocument.h"
#include "MatchingLines.h"

#include <QString>
#include <QStringView>

#include <optional>
#include <string_view>

// The four extraction modes over a file's document or lines. Each hands its rows, one at a time and in order, to a
// sink; rows are UTF-8.

// The text of every innermost element below the body, in document order.
void EmitLeafTexts(const HtmlDocument& document, const RowSink& sink);

// For each element with the tag name: "<tr>", its inner markup cut at every CR LF with each
// piece in lower case, then "</tr>". The name is used exactly as typed.
void EmitElementBlocks(const HtmlDocument& document, QStringView tagName, const RowSink& sink);

// Mode 3, every line holding the search text, works on the file's bytes rather than a document: MatchingLines.h.

// The lower-case tag name of every element of the document, in document order.
void EmitTagNames(const HtmlDocument& document, const RowSink& sink);

// The rows of a document mode (LeafTexts, ElementBlocks or TagNames; MatchingLines gives none here).
void EmitDocumentRows(const HtmlDocument& document, ExtractionMode mode, QStringView tagName, const RowSink& sink);
