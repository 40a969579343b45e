#include "MemoryInfo.h"
#include "DocumentWorker.h"
#include "TempDir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

} // namespace

TEST(MemoryInfo, TheSmallestLimitOfTheProgramsControlGroupsCounts)
{
    const struct
    {
        const char* name;
        QByteArray procSelfCgroup;
        QList<QPair<QString, QByteArray>> files;
        std::uint64_t limit;
    } cases[] = {
        {"version 2, the group's own", "0::/box/app\n", {{"box/app/memory.max", "209715200\n"}}, 209715200},
        {"version 2, a group above is smaller",
         "0::/box/app\n",
         {{"box/app/memory.max", "max\n"}, {"box/memory.max", "104857600\n"}},
         104857600},
        {"version 2, none set", "0::/box/app\n", {{"box/app/memory.max", "max\n"}}, 0},
        {"version 1 memory group",
         "12:pids:/x\n4:memory:/process_api/abc\n0::/\n",
         {{"memory/process_api/abc/memory.limit_in_bytes", "157286400\n"}},
         157286400},
        {"version 1 saying none", "4:memory:/a\n", {{"memory/a/memory.limit_in_bytes", "9223372036854771712\n"}}, 0},
        {"both, the smaller",
         "4:cpu,memory:/a\n0::/b\n",
         {{"memory/a/memory.limit_in_bytes", "300000000\n"}, {"b/memory.max", "200000000\n"}},
         200000000},
        {"no group file at all", "0::/gone\n", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir root;
        for (const auto& [name, bytes] : c.files)
            writeFile(root.path() + "/" + name, bytes);
        EXPECT_EQ(CgroupMemoryLimit(root.path(), c.procSelfCgroup), c.limit);
    }
}

TEST(MemoryInfo, KillsForMemoryAreCountedInTheGroupAndTheSystem)
{
    TempDir root;
    writeFile(root.path() + "/b/memory.events", "low 0\nhigh 0\nmax 4\noom 2\noom_kill 2\n");
    writeFile(root.path() + "/memory/a/memory.oom_control", "oom_kill_disable 0\nunder_oom 0\noom_kill 3\n");
    EXPECT_EQ(OutOfMemoryKills(root.path(), "4:memory:/a\n0::/b\n", "pgfault 99\noom_kill 5\n"), 10u);
    EXPECT_EQ(OutOfMemoryKills(root.path(), "0::/elsewhere\n", "nr_free_pages 7\n"), 0u);
}

TEST(DocumentWorkers, ALimitTooSmallForAWorkerToStartIsRaised)
{
    qputenv("QUILLORY_WORKER_MEMORY_MB", "30");
    DocumentWorker worker(DefaultDocumentWorkers(QStringLiteral(QUILLORY_WORKER_PATH)));
    qunsetenv("QUILLORY_WORKER_MEMORY_MB");
    TempDir folder;
    const QString page = folder.write("small.html", "<p>a</p>");
    ASSERT_FALSE(worker.load(page).has_value());
    std::vector<std::string> rows;
    EXPECT_FALSE(worker.extract(ExtractionMode::LeafTexts, {}, [&](std::string_view row) { rows.emplace_back(row); }));
    EXPECT_EQ(rows, std::vector<std::string>({"a"}));
}

// A worker ended by a memory group's limit (a container's) is reported as out of memory, not as killed. The test
// makes a group of its own, when it may, and moves itself into it for the load.
TEST(DocumentWorkers, AWorkerEndedByTheGroupsMemoryLimitIsOutOfMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' own memory would be counted against the group";
#endif
    QFile self(QStringLiteral("/proc/self/cgroup"));
    ASSERT_TRUE(self.open(QIODevice::ReadOnly));
    QString memoryGroup;
    for (const QByteArray& line : self.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() >= 3 && fields[1].split(',').contains("memory"))
            memoryGroup = QStringLiteral("/sys/fs/cgroup/memory") + QString::fromUtf8(fields[2]);
    }
    const QString group = memoryGroup + QStringLiteral("/quillory-test-%1").arg(getpid());
    if (memoryGroup.isEmpty() || !QDir().mkdir(group))
        GTEST_SKIP() << "no memory group can be made here";
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
    };
    if (!write(group + "/memory.limit_in_bytes", "157286400") ||
        !write(group + "/cgroup.procs", QByteArray::number(getpid()))) {
        QDir().rmdir(group);
        GTEST_SKIP() << "the memory group cannot be used";
    }
    TempDir folder;
    const QString page = folder.write("dense.html", QByteArray("<p>x").repeated(5'000'000));
    // An address-space limit far above the group's, so that the group's limit is met first.
    DocumentWorker worker(DocumentWorkerSettings{QStringLiteral(QUILLORY_WORKER_PATH), {}, qint64(4) << 30});
    const std::optional<ExtractionFailure> failure = worker.load(page);
    write(memoryGroup + "/cgroup.procs", QByteArray::number(getpid()));
    worker.stop();
    QDir().rmdir(group);
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->description.toStdString(), "Out of memory (the system ended the parser when memory ran out)");
}
