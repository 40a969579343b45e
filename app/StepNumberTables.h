#pragma once

#include "AddFolder.h"
#include "ResultsExport.h"
#include "StepNumbers.h"

#include <QString>

// The numbers the error report shows for the steps the lower layers name, and where it says the walk's own failures
// happened. A number may stand for more than one step.

// The folder walk's failures have a location of their own, whichever gesture started the walk.
inline const QString kWalkLocation = QStringLiteral("in Ostwenna2021/08/31.AddFolder.GetSubDirectories2016 ");

inline constexpr StepNumbers<AddFolder::WalkStep> kWalkStepNumbers{{
    {AddFolder::WalkStep::NotAFolder, 108},
    {AddFolder::WalkStep::PathTooLong, 110},
    {AddFolder::WalkStep::EventsBeforeListing, 114},
    {AddFolder::WalkStep::MayBeListed, 116},
    {AddFolder::WalkStep::ListFolder, 118},
    {AddFolder::WalkStep::DropUnlistable, 148},
    {AddFolder::WalkStep::EventsPerName, 120},
    {AddFolder::WalkStep::NameTooLong, 124},
    {AddFolder::WalkStep::OddCharacters, 126},
    {AddFolder::WalkStep::QuestionMark, 128},
    {AddFolder::WalkStep::DotName, 130},
    {AddFolder::WalkStep::JoinPath, 132},
    {AddFolder::WalkStep::QueueSubFolder, 134},
    {AddFolder::WalkStep::StillAFolder, 154},
    {AddFolder::WalkStep::EventsBeforeHandingUp, 156},
    {AddFolder::WalkStep::MayBeHandedUp, 158},
    {AddFolder::WalkStep::HandUp, 160},
}};

// A scan's own failures are reported at the location of the gesture that started it.
inline constexpr StepNumbers<AddFolder::ScanStep> kScanStepNumbers{{
    {AddFolder::ScanStep::StartFolder, 112},
    {AddFolder::ScanStep::Walk, 114},
    {AddFolder::ScanStep::FolderEntry, 118},
    {AddFolder::ScanStep::ListFiles, 120},
    {AddFolder::ScanStep::LockFile, 124},
    {AddFolder::ScanStep::JoinPath, 126},
    {AddFolder::ScanStep::TakeFile, 128},
}};

// The saves' failures are reported at the location of the save's button.
inline constexpr StepNumbers<ExportStep> kExportStepNumbers{{
    {ExportStep::OpenTarget, 130},
    {ExportStep::ReadRow, 136},
    {ExportStep::WriteTextLine, 136},
    {ExportStep::CommitTextFile, 140},
    {ExportStep::WriteCommaField, 140},
    {ExportStep::EndCommaLine, 140},
    {ExportStep::CommitCommaFile, 142},
}};
