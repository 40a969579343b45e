#pragma once

#include "HtmlDocument.h"
#include "Result.h"

#include <QString>

#include <cstdint>
#include <memory>

// Reads one input file and builds its document with the run's parser. The parser works
// synchronously, so the document comes back complete. A file whose document would not fit in
// memory is refused before it is read.
Result<std::unique_ptr<HtmlDocument>> LoadHtmlDocument(const QString& path, HtmlParser& parser);

// The parser's tree takes about this many bytes for each byte of the file.
inline constexpr std::uint64_t kDocumentBytesPerFileByte = 24;
// The largest file whose document may take up to a quarter of the machine's memory: the window
// holds two documents at once (one being read out while the next one loads).
qint64 LargestDocumentBytes();
