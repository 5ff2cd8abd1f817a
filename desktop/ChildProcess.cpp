#include "ChildProcess.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace ChildProcess {

void LeadOwnGroupAndDieWithParent(pid_t parent, int deathSignal) {
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, deathSignal);
    if (::getppid() != parent) // the parent died before the line above
        ::raise(deathSignal);
}

void KillGroup(qint64 leader) {
    if (leader > 1)
        ::kill(static_cast<pid_t>(-leader), SIGKILL);
}

bool GroupIsRunning(qint64 leader) {
    if (leader <= 1)
        return false;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid pgrp ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.read(4096);
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[0] != "Z" && fields[2].toLongLong() == leader)
            return true;
    }
    return false;
}

} // namespace ChildProcess
