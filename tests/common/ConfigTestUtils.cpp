#include "common/ConfigTestUtils.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ConfigTest {

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

void WriteBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(data);
}

int RunInChild(const std::function<int()>& body, bool unprivileged, rlim_t fileSizeLimit)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (unprivileged && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(200);
        }
        if (fileSizeLimit != RLIM_INFINITY) {
            ::signal(SIGXFSZ, SIG_IGN);
            struct rlimit lim{fileSizeLimit, fileSizeLimit};
            if (::setrlimit(RLIMIT_FSIZE, &lim) != 0)
                ::_exit(201);
        }
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void GiveToNobody(const QString& path, unsigned mode)
{
    const QByteArray p = QFile::encodeName(path);
    if (::geteuid() == 0 && ::chown(p.constData(), kNobody, kNobody) != 0) {
        // The test's own assertions will show the file was not handed over.
    }
    ::chmod(p.constData(), mode);
}

QStringList Entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace ConfigTest
