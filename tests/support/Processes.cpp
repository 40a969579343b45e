#include "Processes.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <tlhelp32.h>
#else
#include <csignal>
#endif

#ifndef Q_OS_WIN
namespace {

// The fields of /proc/PID/stat after the command name, which may itself hold spaces and parentheses.
QList<QByteArray> statFields(pid_t process, QByteArray* name = nullptr)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(process));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    const qsizetype open = stat.indexOf('(');
    const qsizetype close = stat.lastIndexOf(')');
    if (open < 0 || close < open)
        return {};
    if (name)
        *name = stat.mid(open + 1, close - open - 1);
    return stat.mid(close + 2).split(' ');
}

} // namespace

std::vector<pid_t> ChildProcesses(pid_t parent, const char* name)
{
    std::vector<pid_t> children;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t process = pid_t(entry.toInt(&number));
        if (!number)
            continue;
        QByteArray command;
        const QList<QByteArray> fields = statFields(process, &command);
        // fields[0] is the state, fields[1] the parent.
        if (fields.size() > 1 && fields[1].toInt() == parent && command == name && fields[0] != "Z")
            children.push_back(process);
    }
    return children;
}

long ResidentKilobytes(pid_t process)
{
    QFile file(QStringLiteral("/proc/%1/statm").arg(process));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> pages = file.readAll().split(' ');
    return pages.size() > 1 ? pages[1].toLong() * 4 : -1;
}

bool HasEnded(pid_t process)
{
    const QList<QByteArray> fields = statFields(process);
    return fields.isEmpty() || fields[0] == "Z" || fields[0] == "X";
}

void KillProcess(pid_t process)
{
    ::kill(process, SIGKILL);
}
#else
// Windows: the process table from a Toolhelp snapshot, whose names are the programs' file names (with ".exe").

namespace {

struct Handle
{
    HANDLE handle;
    ~Handle()
    {
        if (handle && handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

} // namespace

std::vector<pid_t> ChildProcesses(pid_t parent, const char* name)
{
    std::vector<pid_t> children;
    const Handle snapshot{CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0)};
    if (snapshot.handle == INVALID_HANDLE_VALUE)
        return children;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    // The POSIX names are cut at 15 characters, so a name matches the start of the program's.
    const QString wanted = QString::fromUtf8(name);
    for (bool more = Process32FirstW(snapshot.handle, &entry); more; more = Process32NextW(snapshot.handle, &entry)) {
        const QString program = QString::fromWCharArray(entry.szExeFile);
        if (pid_t(entry.th32ParentProcessID) == parent && program.startsWith(wanted, Qt::CaseInsensitive) &&
            !HasEnded(pid_t(entry.th32ProcessID)))
            children.push_back(pid_t(entry.th32ProcessID));
    }
    return children;
}

long ResidentKilobytes(pid_t process)
{
    const Handle opened{OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(process))};
    PROCESS_MEMORY_COUNTERS counters{};
    if (!opened.handle || !GetProcessMemoryInfo(opened.handle, &counters, sizeof counters) || HasEnded(process))
        return -1;
    return long(counters.WorkingSetSize / 1024);
}

bool HasEnded(pid_t process)
{
    const Handle opened{OpenProcess(SYNCHRONIZE, FALSE, DWORD(process))};
    return !opened.handle || WaitForSingleObject(opened.handle, 0) == WAIT_OBJECT_0;
}

void KillProcess(pid_t process)
{
    const Handle opened{OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(process))};
    if (opened.handle)
        TerminateProcess(opened.handle, 1);
}
#endif

pid_t WaitForBusyChild(pid_t parent, const char* name, long kilobytes, double seconds)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < qint64(seconds * 1000)) {
        for (const pid_t child : ChildProcesses(parent, name))
            if (ResidentKilobytes(child) > kilobytes)
                return child;
        QThread::msleep(5);
    }
    return 0;
}
