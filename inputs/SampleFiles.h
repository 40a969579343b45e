#pragma once

#include "EventPump.h"
#include "InputFileList.h"
#include "Result.h"
#include "SettingsStore.h"

#include <QString>
#include <QStringList>

#include <optional>

// The samples that ship beside the program: their paths are remembered under "Snapshot" at a start that finds the
// record empty, lightly scrambled so that a user browsing the settings file does not take them for a list to edit.

// Each character's code-page value is shifted by the matching key character's value, the key repeating; both stay
// within 1..255 by wrapping at 255, so unscrambling with the same key gives back every character from 1 to 255.
// A character the code page cannot hold counts as "?". Lets the window breathe once per character. A text longer
// than 32767 characters fails with "Overflow", as does an empty key with "Division by zero".
Result<QString> ScrambleText(const QString& text, const QString& key, EventPump& events);
Result<QString> UnscrambleText(const QString& text, const QString& key, EventPump& events);

// The key "Snapshot" is scrambled with.
inline constexpr char kRecordKey[] = "lanterns";

// The program folder's "Samples" folder, ending in the separator: the folder the window opens for the user.
QString SamplesFolder(const QString& programFolder);

// Remembers the full path of every file now in the samples folder (hidden ones too, sub-folders not visited), in
// the order a folder scan lists them; a missing folder is remembered as no files. Paths the code page cannot spell are
// remembered by their bytes instead, so that every path can be named. Fails when the settings cannot be written.
std::optional<Failure> RecordSampleFiles(SettingsStore& settings, const QString& programFolder, EventPump& events);

// The remembered samples that still exist and are not in the list yet, in the order they were remembered. The
// comparison is the list's own, exact one.
Result<QStringList> SampleFilesToLoad(const SettingsStore& settings, const InputFileList& list, EventPump& events);
