#pragma once

#include <functional>
#include <optional>
#include <string_view>

// The four ways one input file becomes result rows, numbered as the window's option buttons and the "Option"
// setting number them.
enum class ExtractionMode
{
    LeafTexts = 1,     // "Extract all data between all tags"
    ElementBlocks = 2, // "Extract data and tag between this tag:"
    MatchingLines = 3, // "Extract entire line containing this tag or data:"
    TagNames = 4,      // "Extract all tags in file"
};

// The mode a number names, or nothing. A number comes from settings, a command line or another process, so it is
// checked where it enters, and a mode is an ExtractionMode from there on.
inline std::optional<ExtractionMode> ModeFromNumber(int number)
{
    if (number < 1 || number > 4)
        return std::nullopt;
    return ExtractionMode(number);
}

// Modes 1, 2 and 4 work on the file's parsed document; mode 3 on its raw lines.
inline bool IsDocumentMode(ExtractionMode mode)
{
    return mode != ExtractionMode::MatchingLines;
}

// Takes the rows of a mode, one at a time and in order; rows are UTF-8.
using RowSink = std::function<void(std::string_view row)>;

// Takes a row too long to be held whole, a part at a time, where the taker need not hold it whole either: begin(), the
// parts in order (UTF-8, each ending between two characters), then end(). When the file fails part-way through the
// row, abandon() comes in place of end(), after the parts given so far.
class RowParts
{
public:
    virtual ~RowParts() = default;
    virtual void begin() = 0;
    virtual void part(std::string_view part) = 0;
    virtual void end() = 0;
    virtual void abandon() = 0;
};
