#include "Unprivileged.h"

#include <QFile>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

QString AsUnprivilegedUser(const std::function<QString()>& body)
{
    if (geteuid() != 0)
        return body();
    int channel[2];
    if (pipe(channel) != 0)
        return QStringLiteral("<failed: pipe>");
    const pid_t child = fork();
    if (child < 0)
        return QStringLiteral("<failed: fork>");
    if (child == 0) {
        ::close(channel[0]);
        constexpr uid_t nobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)
            _exit(1);
        const QByteArray answer = body().toUtf8();
        qsizetype done = 0;
        while (done < answer.size()) {
            const ssize_t count = ::write(channel[1], answer.constData() + done, std::size_t(answer.size() - done));
            if (count <= 0)
                _exit(1);
            done += count;
        }
        _exit(0);
    }
    ::close(channel[1]);
    QByteArray answer;
    char block[4096];
    ssize_t count;
    while ((count = ::read(channel[0], block, sizeof block)) > 0)
        answer.append(block, count);
    ::close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return QStringLiteral("<failed: the child ended with status %1>").arg(status);
    return QString::fromUtf8(answer);
}

void OpenToAnyone(const QString& folder)
{
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                      QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                                      QFile::ExeOther);
}
