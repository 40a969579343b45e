#include "AddFolder.h"

#include "AnsiCodec.h"
#include "EventPump.h"
#include "FileAttributes.h"
#include "FileSystem.h"
#include "FixPath.h"
#include "Steps.h"

#include <vector>

namespace AddFolder {

namespace {

// The longest path Windows' folder functions accept; the walk never builds a longer one.
constexpr qsizetype kMaxPath = 260;
// Hidden + system + folder, with or without reparse point: the junctions Windows leaves for old programs ("Documents
// and Settings" and the like), which point back into the tree and are never entered. Linux never produces them.
constexpr int kSystemJunction = 22;
constexpr int kSystemJunctionLink = 1046;

bool isDriveRoot(const QString& path)
{
#ifdef Q_OS_WIN
    return path.size() == 3 && path[0].isLetter() && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/');
#else
    return path == QStringLiteral("/");
#endif
}

bool mayBeListed(const QString& folder)
{
    if (isDriveRoot(folder))
        return true;
    const int attributes = FileAttributes(folder);
    return attributes != kSystemJunction && attributes != kSystemJunctionLink;
}

// Where a walked folder really is, and the folder it was found in: enough to follow its chain of ancestors without
// each queued folder carrying a copy of it.
struct WalkedFolder
{
    QString canonicalPath;
    qsizetype parent;
};

// One level of the walk: the folders' paths and, in step with them, their places in the walked-folder table.
struct Level
{
    QStringList paths;
    std::vector<qsizetype> nodes;
};

bool isAncestor(const std::vector<WalkedFolder>& walked, qsizetype node, const QString& canonicalPath)
{
    for (; node >= 0; node = walked[std::size_t(node)].parent) {
        if (walked[std::size_t(node)].canonicalPath == canonicalPath)
            return true;
    }
    return false;
}

// Lists the sub-folders of one level and returns the next level. Folders that cannot be listed are dropped from the
// level itself. Each step that fails is reported and passed over, so one folder costs only itself.
Level nextLevel(Level& level, std::vector<WalkedFolder>& walked, EventPump& events, Steps<WalkStep>& walk,
                ScanProgress* progress)
{
    const auto stopped = [progress] {
        return progress && progress->stopRequested;
    };
    PassedOver* const passedOver = progress ? &progress->passedOver : nullptr;
    Level next;
    qsizetype i = 0;
    while (i < level.paths.size() && !stopped()) {
        const QString entry = level.paths[i];
        const qsizetype node = level.nodes[std::size_t(i)];
        // A test that cannot be made leaves the folder alone rather than going where it may not lead.
        if (walk.test(WalkStep::NotAFolder, [&] { return !IsFolder(entry); })) {
            ++i;
            continue;
        }
        if (walk.test(WalkStep::PathTooLong, [&] { return entry.size() >= kMaxPath; })) {
            if (passedOver)
                ++passedOver->tooLong;
            ++i;
            continue;
        }
        walk.step(WalkStep::EventsBeforeListing, [&] { events.processEvents(); });
        if (!walk.test(WalkStep::MayBeListed, [&] { return mayBeListed(entry); })) {
            ++i;
            continue;
        }
        Result<QStringList> names = Failure{QString()};
        if (!walk.step(WalkStep::ListFolder, [&] { names = ListDirectory(entry, QStringLiteral("*"), true); })) {
            ++i;
            continue;
        }
        if (!names) {
            const QString& why = names.failure().description;
            if (passedOver)
                passedOver->unreadableFolders.append({entry, why});
            if ((why == QStringLiteral("Permission denied") || why == QStringLiteral("Path not found")) &&
                walk.step(WalkStep::DropUnlistable, [&] {
                    // The first equal entry is at or before this one, so the entry that followed is now at i.
                    const qsizetype first = level.paths.indexOf(entry);
                    level.nodes.erase(level.nodes.begin() + first);
                    level.paths.removeAt(first);
                }))
                continue;
            ++i;
            continue;
        }
        for (const QString& name : *names) {
            walk.step(WalkStep::EventsPerName, [&] { events.processEvents(); });
            if (stopped())
                break;
            if (walk.test(WalkStep::NameTooLong, [&] { return name.size() >= kMaxPath; })) {
                if (passedOver)
                    ++passedOver->tooLong;
                continue;
            }
            if (walk.test(WalkStep::OddCharacters, [&] { return HasOddCharacters(name); }) ||
                walk.test(WalkStep::QuestionMark, [&] { return name.contains(u'?'); })) {
                if (passedOver)
                    ++passedOver->oddFolderNames;
                continue;
            }
            if (walk.test(WalkStep::DotName, [&] { return name == u"." || name == u".."; }))
                continue;
            QString path;
            if (!walk.step(WalkStep::JoinPath, [&] { path = entry + name + kPathSeparator; }))
                continue;
            walk.step(WalkStep::QueueSubFolder, [&] {
                // A folder that is really one of those above it would lead the walk round in a circle for ever.
                const QString canonical = FileSystem::canonicalPath(path);
                if (!canonical.isEmpty() && isAncestor(walked, node, canonical))
                    return;
                walked.push_back({canonical, node});
                next.nodes.push_back(qsizetype(walked.size()) - 1);
                try {
                    next.paths.append(path);
                } catch (...) {
                    // The two lists stay in step whatever fails.
                    next.nodes.pop_back();
                    throw;
                }
                if (progress)
                    ++progress->foldersFound;
            });
        }
        ++i;
    }
    return next;
}

} // namespace

bool FileCanBeOpened(const QString& path)
{
    return FileSystem::isOpenableFile(path);
}

bool IsFolder(const QString& path)
{
    const int attributes = FileAttributes(path);
    return attributes != -1 && (attributes & AttributeBit::kFolder) != 0;
}

bool HasOddCharacters(const QString& name)
{
    for (qsizetype i = 0; i < name.size(); ++i) {
        char32_t codePoint = name[i].unicode();
        if (name[i].isHighSurrogate() && i + 1 < name.size() && name[i + 1].isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(name[i], name[i + 1]);
            ++i;
        }
        // A character the code page cannot hold becomes '?'. On a double-byte page a lead byte's
        // stand-in is none of its characters; a character of two bytes is an ordinary one.
        const int code = AnsiCodec::fromUnicode(codePoint);
        if (code < 32 || (code >= 127 && code <= 159) || code == '?' ||
            (code < 256 && AnsiCodec::isLeadByte(static_cast<unsigned char>(code))))
            return true;
    }
    return false;
}

QStringList ListFiles(const QString& folder, const QString& pattern)
{
    QString base = folder;
    if (!base.endsWith(kPathSeparator))
        base += kPathSeparator;
    QStringList files;
    const Result<QStringList> names = ListDirectory(base, pattern, false);
    if (!names)
        return files;
    for (const QString& name : *names) {
        if (FileCanBeOpened(base + name))
            files.append(name);
    }
    return files;
}

void GetSubDirectories2016(QStringList& folders, bool recurse, EventPump& events, Steps<WalkStep>& walk,
                           ScanProgress* progress)
{
    // The walk goes level by level in a loop rather than by recursion, so that a deep tree cannot exhaust the stack.
    std::vector<WalkedFolder> walked;
    std::vector<Level> levels(1);
    levels[0].paths = folders;
    for (const QString& folder : folders) {
        walked.push_back({FileSystem::canonicalPath(folder), -1});
        levels[0].nodes.push_back(qsizetype(walked.size()) - 1);
    }
    while (true) {
        Level next = nextLevel(levels.back(), walked, events, walk, progress);
        const bool descend = recurse && !next.paths.isEmpty() && !(progress && progress->stopRequested);
        levels.push_back(std::move(next));
        if (!descend)
            break;
    }
    // Each level receives the one below it once that one holds everything beneath it, deepest first, which puts the
    // levels one after another in the outermost list.
    for (std::size_t depth = levels.size() - 1; depth > 0; --depth) {
        QStringList& parentLevel = levels[depth - 1].paths;
        for (const QString& entry : levels[depth].paths) {
            if (!walk.test(WalkStep::StillAFolder, [&] { return IsFolder(entry); }))
                continue;
            walk.step(WalkStep::EventsBeforeHandingUp, [&] { events.processEvents(); });
            if (walk.test(WalkStep::MayBeHandedUp, [&] { return mayBeListed(entry); }))
                walk.step(WalkStep::HandUp, [&] { parentLevel.append(entry); });
        }
    }
    folders = std::move(levels[0].paths);
}

QStringList ScanFolder(const QString& folder, const QString& pattern, EventPump& events, Steps<ScanStep>& scan,
                       Steps<WalkStep>& walk, ScanProgress* progress)
{
    const auto stopped = [progress] {
        return progress && progress->stopRequested;
    };
    QStringList folders;
    scan.step(ScanStep::StartFolder,
              [&] { folders = {folder.endsWith(kPathSeparator) ? folder : folder + kPathSeparator}; });
    scan.step(ScanStep::Walk, [&] { GetSubDirectories2016(folders, true, events, walk, progress); });
    QStringList paths;
    if (stopped())
        return paths;
    for (const QString& found : folders) {
        // Only a scan that can be stopped lets events through while it takes each folder's files.
        if (progress) {
            events.processEvents();
            if (stopped())
                break;
        }
        QString entry;
        // Without its own folder a name would be looked for in the root.
        if (!scan.step(ScanStep::FolderEntry, [&] { entry = found.chopped(1); }))
            continue;
        QStringList names;
        if (!scan.step(ScanStep::ListFiles, [&] { names = ListFiles(entry, pattern); }))
            continue;
        for (const QString& name : names) {
            if (scan.test(ScanStep::LockFile, [&] { return name.startsWith(u'~'); })) {
                if (progress)
                    ++progress->passedOver.lockFiles;
                continue;
            }
            QString path;
            if (!scan.step(ScanStep::JoinPath, [&] { path = entry + kPathSeparator + name; }))
                continue;
            scan.step(ScanStep::TakeFile, [&] {
                if (!FileCanBeOpened(path))
                    return;
                if (FileAttributes(path) == AttributeBit::kHidden + AttributeBit::kArchive) {
                    if (progress)
                        ++progress->passedOver.hiddenFiles;
                    return;
                }
                paths.append(FixPath(path));
                if (progress)
                    ++progress->filesFound;
            });
        }
    }
    return paths;
}

} // namespace AddFolder
