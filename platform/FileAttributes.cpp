#include "FileAttributes.h"

#include "FileNames.h"

#include <algorithm>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

bool isSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == u'\\' || c == u'/';
#else
    return c == u'/';
#endif
}

// Plain wildcard matching, case folded by the caller: '*' any run (also empty), '?' exactly one character.
bool globMatch(QStringView name, QStringView pattern)
{
    qsizetype n = 0, p = 0;
    qsizetype starPattern = -1, starName = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starPattern = p++;
            starName = n;
        } else if (starPattern >= 0) {
            p = starPattern + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

#ifndef Q_OS_WIN
Failure listingFailure(int error)
{
    if (error == EACCES || error == EPERM)
        return Failure{QStringLiteral("Permission denied")};
    return Failure{QStringLiteral("Path not found")};
}
#endif

} // namespace

bool MatchesWildcard(const QString& name, const QString& pattern)
{
    const QString foldedName = name.toCaseFolded();
    const QString foldedPattern = pattern.toCaseFolded();
    if (globMatch(foldedName, foldedPattern))
        return true;
    const qsizetype nameDot = foldedName.lastIndexOf(u'.');
    // Windows lets "x.*" see "x" as "x." with an empty extension.
    if (nameDot < 0 && globMatch(QString(foldedName + u'.'), foldedPattern))
        return true;
    // Windows also matches against the 8.3 short name, whose extension is the first three characters of the long
    // one; only the extension part of that rule is kept, which is what "*.htm" finding ".html" files depends on.
    const qsizetype patternDot = foldedPattern.lastIndexOf(u'.');
    if (patternDot < 0 || nameDot < 0 || foldedName.size() - nameDot - 1 <= 3)
        return false;
    const QStringView patternExtension = QStringView(foldedPattern).mid(patternDot + 1);
    if (patternExtension.size() != 3 || patternExtension.contains(u'*'))
        return false;
    return globMatch(QStringView(foldedName).left(nameDot + 4), foldedPattern);
}

int FileAttributes(const QString& path)
{
    if (path.isEmpty())
        return -1;
#ifdef Q_OS_WIN
    QString own = path;
    // A drive's root keeps its separator: "C:" alone names the current folder on that drive.
    while (own.size() > 1 && isSeparator(own.back()) && !(own.size() == 3 && own[1] == u':'))
        own.chop(1);
    const QString extended = FileNames::extendedLengthPath(own);
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<LPCWSTR>(extended.utf16()));
    return attributes == INVALID_FILE_ATTRIBUTES ? -1 : int(attributes);
#else
    QString own = path;
    while (own.size() > 1 && isSeparator(own.back()))
        own.chop(1);
    const QByteArray native = FileNames::toNative(own);
    struct stat status;
    if (::lstat(native.constData(), &status) != 0)
        return -1;
    int attributes = 0;
    if (S_ISLNK(status.st_mode)) {
        attributes |= AttributeBit::kReparsePoint;
        // A dangling link keeps its own status: there is nothing more to say about it.
        struct stat target;
        if (::stat(native.constData(), &target) == 0)
            status = target;
    }
    if (S_ISDIR(status.st_mode))
        attributes |= AttributeBit::kFolder;
    else if (S_ISREG(status.st_mode))
        attributes |= AttributeBit::kArchive;
    if (own.mid(own.lastIndexOf(u'/') + 1).startsWith(u'.'))
        attributes |= AttributeBit::kHidden;
    if (::access(native.constData(), W_OK) != 0 && errno != ENOENT)
        attributes |= AttributeBit::kReadOnly;
    return attributes;
#endif
}

Result<QStringList> ListDirectory(const QString& folder, const QString& pattern, bool folders)
{
    QStringList names;
#ifdef Q_OS_WIN
    // FindFirstFileExW rather than QDir, because QDir reports a folder the user may not list as an empty one, and the
    // walk must tell the two apart.
    QString base = FileNames::extendedLengthPath(folder.isEmpty() ? QStringLiteral(".") : folder);
    if (!base.endsWith(u'\\'))
        base += u'\\';
    WIN32_FIND_DATAW entry;
    const HANDLE search = ::FindFirstFileExW(reinterpret_cast<LPCWSTR>(QString(base + u'*').utf16()), FindExInfoBasic,
                                             &entry, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            return Failure{QStringLiteral("Permission denied")};
        // Only a drive's empty root has no "." to find.
        const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<LPCWSTR>(base.utf16()));
        if (error == ERROR_FILE_NOT_FOUND && attributes != INVALID_FILE_ATTRIBUTES &&
            (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            return names;
        return Failure{QStringLiteral("Path not found")};
    }
    do {
        const QString name = QString::fromWCharArray(entry.cFileName);
        if (name == u"." || name == u"..")
            continue;
        // A link to a folder carries the folder bit as well as the reparse point, so it counts as a folder.
        const bool isFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder == folders && MatchesWildcard(name, pattern))
            names.append(name);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
#else
    // readdir rather than QDir, because QDir reports an unreadable folder as an empty one, and the walk must tell
    // the two apart.
    const QByteArray native = FileNames::toNative(folder.isEmpty() ? QStringLiteral(".") : folder);
    DIR* directory = ::opendir(native.constData());
    if (!directory)
        return listingFailure(errno);
    const int descriptor = ::dirfd(directory);
    while (const dirent* entry = ::readdir(directory)) {
        const char* raw = entry->d_name;
        if (raw[0] == '.' && (raw[1] == '\0' || (raw[1] == '.' && raw[2] == '\0')))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status;
            isFolder = ::fstatat(descriptor, raw, &status, 0) == 0 && S_ISDIR(status.st_mode);
        }
        if (isFolder != folders)
            continue;
        const QString name = FileNames::fromNative(raw);
        if (MatchesWildcard(name, pattern))
            names.append(name);
    }
    ::closedir(directory);
#endif
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int folded = QString::compare(a, b, Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    return names;
}
