#pragma once

#include "Steps.h"

#include <QString>
#include <QStringList>

class EventPump;

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

// What a scan left out: the folders it could not list, each with why, which the user may want to know of; and how
// many entries its rules passed over on purpose.
struct PassedOver
{
    struct Folder
    {
        QString path; // with its separator, as the walk holds it
        QString why;  // "Permission denied", "Path not found", ...
    };
    QList<Folder> unreadableFolders;
    qsizetype oddFolderNames = 0; // folders whose names the code page cannot spell, or that hold "?"
    qsizetype tooLong = 0;        // folders whose name or path is too long to go below
    qsizetype hiddenFiles = 0;    // plain hidden files
    qsizetype lockFiles = 0;      // files whose names begin with "~"
};

// How far a scan has come, for the window to show, and the user's wish to stop it, which the scan heeds each time it
// lets events through: it then ends with what it had found. It also gathers what the scan passed over.
struct ScanProgress
{
    qsizetype foldersFound = 0;
    qsizetype filesFound = 0;
    bool stopRequested = false;
    PassedOver passedOver;
};

// The steps of the walk, each of which may fail on its own and is then passed over. Count, last, is no step: it
// counts them, for those who give each step a number.
enum class WalkStep
{
    // Going down, for each folder of a level:
    NotAFolder,          // test: the entry is not (or no longer) a folder
    PathTooLong,         // test: its path is too long to go below
    EventsBeforeListing, // events let through
    MayBeListed,         // test: it is not a system junction
    ListFolder,          // its sub-folders listed
    DropUnlistable,      // a folder that cannot be listed (gone, or no permission) dropped from its level

    // For each sub-folder name found:
    EventsPerName,  // events let through
    NameTooLong,    // test
    OddCharacters,  // test: see HasOddCharacters
    QuestionMark,   // test: the name holds a "?"
    DotName,        // test: "." or ".."
    JoinPath,       // the sub-folder's path made
    QueueSubFolder, // queued for the next level, unless it leads back to a folder above it

    // Coming back up, for each folder of a level below the first:
    StillAFolder,          // test
    EventsBeforeHandingUp, // events let through
    MayBeHandedUp,         // test: it is not a system junction
    HandUp,                // appended to the level above

    Count
};

// The steps of a scan, each of which may fail on its own and is then passed over; the walk beneath it has its own.
// Count, last, is no step: it counts them.
enum class ScanStep
{
    StartFolder, // the chosen folder, with its separator, as the walk's first entry
    Walk,        // the walk beneath it, as a whole
    FolderEntry, // a walked folder's path without its separator
    ListFiles,   // its matching files listed
    LockFile,    // test: the name begins with "~"
    JoinPath,    // the file's path made
    TakeFile,    // the file taken, unless it cannot be opened or is a plain hidden file
    Count
};

// Extends folders (paths ending in the separator) with every folder beneath them, breadth-first: the given folders,
// then all folders one level below (grouped by parent, in the parents' order), then two levels below, and so on. A
// folder that cannot be listed is dropped from the list. With recurse false only one level is added. A folder
// reached through a symbolic link is not entered when it is really one of the folders above it on its own path, so
// a link loop ends; every other link is followed. A step that fails is reported through walk, and the walk goes on
// with the next one.
void GetSubDirectories2016(QStringList& folders, bool recurse, EventPump& events, Steps<WalkStep>& walk,
                           ScanProgress* progress = nullptr);

// Every file in the folder and the folders beneath it that matches the pattern, can be opened, does not begin with
// "~" (an editor's lock file) and is not a plain hidden file; as tidied paths, folder by folder in walk order. The
// scan's own failed steps are reported through scan, the walk's through walk; either way the scan goes on, and a
// folder or file whose step failed is left out. A scan stopped during the walk finds no files; one stopped while the
// folders' files are taken keeps those taken so far.
QStringList ScanFolder(const QString& folder, const QString& pattern, EventPump& events, Steps<ScanStep>& scan,
                       Steps<WalkStep>& walk, ScanProgress* progress = nullptr);

} // namespace AddFolder
