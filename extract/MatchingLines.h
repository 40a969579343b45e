#pragma once

#include "ExtractionMode.h"
#include "LineList.h"
#include "Result.h"

#include <QStringView>

#include <optional>

// Option 3: every line of a file that holds the search text, compared without regard to case, as a row with its line
// feeds, carriage returns and tabs removed. The file is single-byte text in the ANSI code page (two-byte characters
// on a double-byte page): a line ends at LF or CR LF, a carriage return anywhere else stays in its line, a match
// never runs from one line into the next, and an empty file is one empty line.

// Where option 3 reads a file from: pieces of its bytes, at any offset.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Up to size bytes from offset into into: how many were read (fewer than size only at the end of the file), or
    // why they could not be.
    virtual Result<qsizetype> read(qint64 offset, char* into, qsizetype size) = 0;
};

// How much of a file option 3 holds at a time: what it reads at once, and the longest line it hands over as one row.
inline constexpr qsizetype kLineChunkBytes = qsizetype(4) << 20;

// The rows of the bytes source gives, read chunkBytes (at least 1) at a time, so that a file of any size and any line
// length costs about that much memory. A line longer than chunkBytes is searched as it is read and, when it holds the
// text, read again from its start and given to parts a piece at a time; without parts, it is joined and given to sink
// whole. The rows are those of the whole file's search below, whatever chunkBytes is. A piece that cannot be read
// ends the work with its failure; the rows given before stay given.
std::optional<Failure> EmitMatchingLines(ByteSource& source, QStringView searchText, const RowSink& sink,
                                         RowParts* parts = nullptr, qsizetype chunkBytes = kLineChunkBytes);

// The same over a file held whole.
void EmitMatchingLines(const LineList& lines, QStringView searchText, const RowSink& sink);
