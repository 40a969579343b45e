#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// How much memory the program may use, for limits that must hold before the system runs out: on
// Linux an allocation rarely fails, the process is killed instead, so a limit has to be set
// ahead. The machine's memory, or less where the program's control group allows less (a
// container's memory limit). 0 when it cannot be told.
std::uint64_t PhysicalMemoryBytes();

// Linux control groups, read from the text of /proc/self/cgroup and the groups' files under root
// (/sys/fs/cgroup): the smallest memory limit of the program's group and the groups above it, 0
// when none is set. Version 2 ("0::/path", memory.max) and version 1 memory groups
// ("N:memory:/path", memory/path/memory.limit_in_bytes) are both read.
std::uint64_t CgroupMemoryLimit(const QString& root, const QByteArray& procSelfCgroup);

// How many processes the kernel has ended for want of memory so far, in the program's control
// group (a container's limit) and in the whole system (vmstat's oom_kill): a worker ended by
// SIGKILL while this grew was ended for memory, not from outside. 0 where it cannot be told.
std::uint64_t OutOfMemoryKills();
std::uint64_t OutOfMemoryKills(const QString& root, const QByteArray& procSelfCgroup, const QByteArray& vmstat);
