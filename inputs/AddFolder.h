#pragma once

#include <QString>
#include <QStringList>

class EventPump;
class Steps;

// Adding a whole folder to the input list: the walk over every folder beneath the chosen one and the files taken from
// each. Used by the folder-scan button, by drops of folders and by the command-line extractor.
namespace AddFolder {

// The path exists and is not a folder. No read permission is needed: a file the run cannot read is reported then.
bool FileCanBeOpened(const QString& path);

// The path's attributes include the folder bit; false when the path cannot be examined.
bool IsFolder(const QString& path);

// Some character of the name, in the ANSI code page, is a control character (below 32 or from 127 to 159) or "?",
// which is also what a character the code page cannot hold becomes. A folder with such a name could not be reached
// again through its ANSI spelling, so the walk passes it over.
bool HasOddCharacters(const QString& name);

// The names of the files (not folders) in the folder that match the pattern and can be opened.
QStringList ListFiles(const QString& folder, const QString& pattern);

// How far a scan has come, for the window to show, and the user's wish to stop it, which the scan heeds each time it
// lets events through: it then ends with what it had found.
struct ScanProgress
{
    qsizetype foldersFound = 0;
    qsizetype filesFound = 0;
    bool stopRequested = false;
};

// Where the walk's own failures are reported.
inline const QString kWalkLocation = QStringLiteral("in Ostwenna2021/08/31.AddFolder.GetSubDirectories2016 ");

// Extends folders (paths ending in the separator) with every folder beneath them, breadth-first: the given folders,
// then all folders one level below (grouped by parent, in the parents' order), then two levels below, and so on. A
// folder that cannot be listed is dropped from the list. With recurse false only one level is added. A folder
// reached through a symbolic link is not entered when it is really one of the folders above it on its own path, so
// a link loop ends; every other link is followed. A step that fails is reported through walk, with its number, and
// the walk goes on with the next one.
void GetSubDirectories2016(QStringList& folders, bool recurse, EventPump& events, Steps& walk,
                           ScanProgress* progress = nullptr);

// Every file in the folder and the folders beneath it that matches the pattern, can be opened, does not begin with
// "~" (an editor's lock file) and is not a plain hidden file; as tidied paths, folder by folder in walk order. The
// scan's own failed steps are reported through scan, the walk's through walk; either way the scan goes on, and a
// folder or file whose step failed is left out. A scan stopped during the walk finds no files; one stopped while the
// folders' files are taken keeps those taken so far.
QStringList ScanFolder(const QString& folder, const QString& pattern, EventPump& events, Steps& scan, Steps& walk,
                       ScanProgress* progress = nullptr);

} // namespace AddFolder
