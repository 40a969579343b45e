#include "WindowsFiles.h"

#include "FileNames.h"

#include <windows.h>

namespace {

const wchar_t* wide(const QString& text)
{
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

} // namespace

bool SetAttributes(const QString& path, int attributes)
{
    return ::SetFileAttributesW(wide(FileNames::extendedLengthPath(path)),
                                attributes == 0 ? FILE_ATTRIBUTE_NORMAL : DWORD(attributes)) != 0;
}

bool MakeSymbolicLink(const QString& link, const QString& target, bool folder)
{
    const QString linkPath = FileNames::extendedLengthPath(link);
    QString targetPath = FileNames::extendedLengthPath(target);
    // A folder's path as the walk spells it ends in a separator; the link names the folder itself.
    while (targetPath.endsWith(u'\\') && !targetPath.endsWith(u":\\"))
        targetPath.chop(1);
    // Without developer mode or administrator rights only the unprivileged flag lets a user make one.
    const DWORD flags = (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    if (!::CreateSymbolicLinkW(wide(linkPath), wide(targetPath), flags))
        return false;
    return ::GetFileAttributesW(wide(linkPath)) != INVALID_FILE_ATTRIBUTES;
}
