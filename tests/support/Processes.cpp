#include "Processes.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

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
