#include "MemoryInfo.h"

#include <QFile>

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

QByteArray readSmallFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(1 << 16) : QByteArray();
}

// The value after name on one of the lines of text ("oom_kill 3"); 0 when there is none.
std::uint64_t namedCount(const QByteArray& text, const QByteArray& name)
{
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2 && fields[0] == name)
            return fields[1].toULongLong();
    }
    return 0;
}

// Where the program's version 2 group and its version 1 memory group sit under root; empty where
// there is none.
struct Groups
{
    QString unified;
    QString memory;
};

Groups groupsOf(const QString& root, const QByteArray& procSelfCgroup)
{
    Groups groups;
    for (const QByteArray& line : procSelfCgroup.split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        const QString path = QString::fromUtf8(fields.mid(2).join(':'));
        if (fields[0] == "0" && fields[1].isEmpty())
            groups.unified = root + path;
        else if (fields[1].split(',').contains("memory"))
            groups.memory = root + QStringLiteral("/memory") + path;
    }
    return groups;
}

// The group and every group above it, up to root.
QStringList upToRoot(QString group, const QString& root)
{
    QStringList groups;
    while (group.startsWith(root)) {
        groups << group;
        if (group.size() <= root.size())
            break;
        group.truncate(std::max(qsizetype(root.size()), group.lastIndexOf(u'/')));
    }
    return groups;
}

} // namespace

std::uint64_t CgroupMemoryLimit(const QString& root, const QByteArray& procSelfCgroup)
{
    const Groups groups = groupsOf(root, procSelfCgroup);
    std::uint64_t limit = 0;
    const auto take = [&limit](const QByteArray& text) {
        bool ok = false;
        const std::uint64_t value = text.trimmed().toULongLong(&ok);
        // "max", and version 1's way of saying none (the largest page-aligned value), set no limit.
        if (ok && value > 0 && value < (std::uint64_t(1) << 62))
            limit = limit == 0 ? value : std::min(limit, value);
    };
    if (!groups.unified.isEmpty())
        for (const QString& group : upToRoot(groups.unified, root))
            take(readSmallFile(group + QStringLiteral("/memory.max")));
    if (!groups.memory.isEmpty())
        for (const QString& group : upToRoot(groups.memory, root + QStringLiteral("/memory")))
            take(readSmallFile(group + QStringLiteral("/memory.limit_in_bytes")));
    return limit;
}

std::uint64_t OutOfMemoryKills(const QString& root, const QByteArray& procSelfCgroup, const QByteArray& vmstat)
{
    const Groups groups = groupsOf(root, procSelfCgroup);
    std::uint64_t kills = namedCount(vmstat, "oom_kill");
    if (!groups.unified.isEmpty())
        kills += namedCount(readSmallFile(groups.unified + QStringLiteral("/memory.events")), "oom_kill");
    if (!groups.memory.isEmpty())
        kills += namedCount(readSmallFile(groups.memory + QStringLiteral("/memory.oom_control")), "oom_kill");
    return kills;
}

std::uint64_t OutOfMemoryKills()
{
#ifdef Q_OS_LINUX
    return OutOfMemoryKills(QStringLiteral("/sys/fs/cgroup"), readSmallFile(QStringLiteral("/proc/self/cgroup")),
                            readSmallFile(QStringLiteral("/proc/vmstat")));
#else
    return 0;
#endif
}

std::uint64_t PhysicalMemoryBytes()
{
#ifdef _WIN32
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    const std::uint64_t physical = pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) : 0;
#ifdef Q_OS_LINUX
    const std::uint64_t group =
        CgroupMemoryLimit(QStringLiteral("/sys/fs/cgroup"), readSmallFile(QStringLiteral("/proc/self/cgroup")));
    if (group > 0 && (physical == 0 || group < physical))
        return group;
#endif
    return physical;
#endif
}
