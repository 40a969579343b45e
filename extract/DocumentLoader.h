#pragma once

#include "HtmlDocument.h"
#include "Result.h"

#include <QString>

#include <memory>

// Reads one input file and builds its document with the run's parser. The parser works
// synchronously, so the document comes back complete.
Result<std::unique_ptr<HtmlDocument>> LoadHtmlDocument(const QString& path, HtmlParser& parser);
