#pragma once

#include "Result.h"

#include <QString>
#include <QStringList>

// Windows file attribute bits. The folder walk and the file filters were written against these values, so on Linux
// they are derived from what the system does know, and the same rules work unchanged on both systems.
namespace AttributeBit {
inline constexpr int kReadOnly = 1;
inline constexpr int kHidden = 2;
inline constexpr int kSystem = 4;
inline constexpr int kFolder = 16;
inline constexpr int kArchive = 32;
inline constexpr int kReparsePoint = 1024;
} // namespace AttributeBit

// The attribute value of a file or folder, or -1 when the path cannot be examined. On Linux: folder 16, hidden 2 for
// a name beginning with ".", read-only 1 when the user cannot write it, archive 32 for every regular file, reparse
// point 1024 for a symbolic link (which also carries folder or archive after what it points at), system never. A
// trailing separator is ignored, so that "a/link/" describes the link rather than what it points at.
int FileAttributes(const QString& path);

// The names (not paths) of a folder's entries that match a wildcard pattern ("*" any run, "?" one character) without
// regard to case, hidden and system entries included, "." and ".." never. With folders true only the sub-folders
// (links to folders count as folders), otherwise only the rest. As on Windows, a three-letter extension in the
// pattern ("*.htm") also matches longer extensions beginning with it ("page.html"), and a pattern ending in ".*"
// also matches names without a dot. Names come sorted (case-insensitively, ties by exact comparison) rather than in
// the system's order, so that walks and their results are the same on every run and every file system. Fails with
// "Permission denied" when the folder cannot be read and "Path not found" when it is not there.
Result<QStringList> ListDirectory(const QString& folder, const QString& pattern, bool folders);

// The matching rule of ListDirectory on its own.
bool MatchesWildcard(const QString& name, const QString& pattern);
