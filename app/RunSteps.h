#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"

// The step numbers the error report shows for "Start Extracting", by mode: the window's own numbering, which
// nothing below the window knows. A failure of the extraction is reported at the step of its stage.
struct ModeSteps
{
    int selectionTest; // is this the selected option?
    int content;       // reading the lines, or creating the document
    int stateTest;     // the wait for the document: is it complete? (document modes)
    int events;        // the wait for the document: the events let through (document modes)
    int loop;          // the walk that makes the rows
    int row;           // a row joining the results
    // Mode 2 only: the rows that frame each element's lines.
    int openingRow = 0;
    int closingRow = 0;
};

inline constexpr ModeSteps kLeafTextSteps{126, 128, 130, 132, 134, 138};
inline constexpr ModeSteps kElementBlockSteps{142, 144, 146, 148, 150, 158, 152, 162};
inline constexpr ModeSteps kMatchingLineSteps{166, 168, 0, 0, 170, 174};
inline constexpr ModeSteps kTagNameSteps{178, 180, 182, 184, 186, 188};

inline const ModeSteps& StepsOf(ExtractionMode mode)
{
    switch (mode) {
    case ExtractionMode::LeafTexts:
        return kLeafTextSteps;
    case ExtractionMode::ElementBlocks:
        return kElementBlockSteps;
    case ExtractionMode::MatchingLines:
        return kMatchingLineSteps;
    case ExtractionMode::TagNames:
        break;
    }
    return kTagNameSteps;
}

// A file that could not be read or parsed fails where its content is got; one lost while its rows were made, at the
// walk that makes them.
inline int StepOf(ExtractionMode mode, ExtractionStage stage)
{
    return stage == ExtractionStage::Rows ? StepsOf(mode).loop : StepsOf(mode).content;
}
