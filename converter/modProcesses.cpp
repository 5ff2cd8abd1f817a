#include "modProcesses.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>

namespace modProcesses {

namespace {

constexpr int kKillWaitMs = 1000;

QString ReadFirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readLine()).trimmed();
}

// The kernel's short name: the script's own name for an interpreted program, at most 15
// characters.
QString CommandName(qint64 pid) {
    return ReadFirstLine(QStringLiteral("/proc/%1/comm").arg(pid));
}

bool EndsWith(const QString& text, const QString& name) {
    return !text.isEmpty() && text.endsWith(name, Qt::CaseInsensitive);
}

// The processes that took the signal (others belong to someone we may not signal).
QList<qint64> SignalAll(const QList<qint64>& pids, int signal) {
    QList<qint64> signalled;
    for (qint64 pid : pids)
        if (::kill(static_cast<pid_t>(pid), signal) == 0)
            signalled.append(pid);
    return signalled;
}

QList<qint64> StillRunning(const QList<qint64>& pids) {
    QList<qint64> running;
    for (qint64 pid : pids)
        if (IsRunning(pid))
            running.append(pid);
    return running;
}

// Returns when every process has ended or the time is up.
void WaitUntilGone(QList<qint64> pids, int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!(pids = StillRunning(pids)).isEmpty() && !deadline.hasExpired())
        QThread::msleep(20);
}

} // namespace

QString ExecutableName(qint64 pid) {
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    target.remove(QStringLiteral(" (deleted)"));
    return QFileInfo(target).fileName();
}

QList<qint64> FindByName(const QString& name) {
    QList<qint64> found;
    const qint64 self = QCoreApplication::applicationPid();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        if (EndsWith(ExecutableName(pid), name) || EndsWith(CommandName(pid), name))
            found.append(pid);
    }
    return found;
}

bool IsRunning(qint64 pid) {
    const QString stat = ReadFirstLine(QStringLiteral("/proc/%1/stat").arg(pid));
    // "pid (name) S ...": the state follows the last parenthesis.
    const int close = stat.lastIndexOf(QLatin1Char(')'));
    if (close < 0 || close + 2 >= stat.size())
        return false;
    const QChar state = stat.at(close + 2);
    return state != QLatin1Char('Z') && state != QLatin1Char('X');
}

void TerminateProcessesByName(const QString& name, int graceMs) {
    QList<qint64> pids = FindByName(name);
    if (pids.isEmpty())
        return;
    pids = SignalAll(pids, SIGTERM);
    WaitUntilGone(pids, graceMs);
    WaitUntilGone(SignalAll(StillRunning(pids), SIGKILL), kKillWaitMs);
}

} // namespace modProcesses
