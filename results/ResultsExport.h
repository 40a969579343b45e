#pragma once

#include "Result.h"

#include <QString>

#include <functional>
#include <optional>

class Clipboard;
class EventPump;
class ResultsList;

// The steps of the two saves at which one can fail. Count, last, is no step: it counts them, for those who give each
// step a number.
enum class ExportStep
{
    OpenTarget, // the file written beside the target, or the target itself
    ReadRow,    // a row read afresh: it is gone when the list was cleared under the save

    // The text file:
    WriteTextLine,  // a row's line
    CommitTextFile, // the last of the buffer written, and the new file put in the target's place

    // The comma-delimited file:
    WriteCommaField, // a row's field and comma
    EndCommaLine,    // the line end after the last field
    CommitCommaFile, // the last of the buffer written, and the new file put in the target's place

    Count
};

// A save that stopped, with the step that failed.
struct ExportFailure
{
    ExportStep step;
    QString description;
};

// A row longer than this is converted and written in slices of this size (cut between characters), with an event
// pass between slices: a row of hundreds of megabytes would otherwise hold the window for seconds.
inline constexpr qsizetype kSaveSliceBytes = 1024 * 1024;

// Writes every row of the list to path as a text line ending in CR LF, letting the window
// process its events before each row (and between the slices of a long one). A regular file is written beside the
// target and replaces it only once every byte is there, so a failure (reported at the step where it happened) or an end
// of the program midway leaves the old file as it was; hard-linked files and files in folders that refuse a new file
// get the rows copied in once they are all written, and pipes and devices are written as they stand (see SaveFile).
// rowsDone, when given, counts the rows written so far, for the window to show.
std::optional<ExportFailure> SaveResultsAsText(const QString& path, const ResultsList& results, EventPump& events,
                                               int* rowsDone = nullptr);
// The same, as one line of every row followed by a comma, then CR LF.
std::optional<ExportFailure> SaveResultsAsCommaDelimited(const QString& path, const ResultsList& results,
                                                         EventPump& events, int* rowsDone = nullptr);

// Empties the clipboard, trying up to 1000 times; gives up silently.
void ClearClipboard(Clipboard& clipboard);
// Puts the text on the clipboard (format 0: plain text), trying up to 1000 times.
bool SetClipboardText(Clipboard& clipboard, const QString& text, int format);

// A list of one or more columns as the clipboard copy sees it. Rows and columns count from 1;
// cell() is empty when the row is no longer there.
struct CopyableList
{
    std::function<int()> rowCount;
    int columnCount = 1;
    std::function<std::optional<QString>(int row, int column)> cell;
    std::function<bool(int row)> taken;
};

// Lays the rows out as column-aligned text (cells padded to their column's width, a tab between
// cells, trailing blanks dropped, CR LF after each row) and puts it on the clipboard in the ANSI
// code page. An empty list leaves the clipboard alone. Fails, with the clipboard untouched, when
// a row vanishes under the copy. rowsDone, when given, counts the rows laid out so far.
std::optional<Failure> CopyListToClipboard(const CopyableList& list, Clipboard& clipboard, EventPump& events,
                                           int* rowsDone = nullptr);
