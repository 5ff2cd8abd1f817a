#include "modProcesses.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>
#include <unistd.h>

namespace modProcesses {

const char* const kOwnerVariable = "VANTELO_CONVERTER_OWNER";

namespace {

constexpr int kKillWaitMs = 1000;

QByteArray ReadProcFile(qint64 pid, const char* name) {
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QString ReadFirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(file.readLine()).trimmed();
}

// The fields of /proc/<pid>/stat after the command name: state, ppid, pgrp, ... starttime.
QList<QByteArray> StatFields(qint64 pid) {
    const QByteArray stat = ReadProcFile(pid, "stat");
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 2).trimmed().split(' ');
}

constexpr int kStateField = 0;
constexpr int kGroupField = 2;
constexpr int kStartTimeField = 19;

QByteArray StatField(qint64 pid, int index) {
    const QList<QByteArray> fields = StatFields(pid);
    return index < fields.size() ? fields.at(index) : QByteArray();
}

QString MarkOf(qint64 pid) {
    const QByteArray start = StatField(pid, kStartTimeField);
    return start.isEmpty() ? QString() : QStringLiteral("%1:%2").arg(pid).arg(start);
}

// The kernel's short name: the script's own name for an interpreted program, at most 15
// characters.
QString CommandName(qint64 pid) {
    return ReadFirstLine(QStringLiteral("/proc/%1/comm").arg(pid));
}

bool EndsWith(const QString& text, const QString& name) {
    return !text.isEmpty() && text.endsWith(name, Qt::CaseInsensitive);
}

bool OwnedByThisUser(qint64 pid) {
    return QFileInfo(QStringLiteral("/proc/%1").arg(pid)).ownerId() == ::getuid();
}

// True when the process runs `canonicalPath`: as its executable, or as the script an
// interpreter was started on.
bool Runs(qint64 pid, const QString& canonicalPath) {
    const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    if (exe == canonicalPath)
        return true;
    const QList<QByteArray> args = ReadProcFile(pid, "cmdline").split('\0');
    return args.size() > 1 &&
           QFileInfo(QString::fromLocal8Bit(args.at(1))).canonicalFilePath() == canonicalPath;
}

// The owner mark in the process's environment; empty when it has none.
QString OwnerMarkOf(qint64 pid) {
    const QByteArray prefix = QByteArray(kOwnerVariable) + '=';
    for (const QByteArray& entry : ReadProcFile(pid, "environ").split('\0'))
        if (entry.startsWith(prefix))
            return QString::fromLatin1(entry.mid(prefix.size()));
    return QString();
}

bool OwnerIsGone(const QString& mark) {
    const qint64 owner = mark.section(QLatin1Char(':'), 0, 0).toLongLong();
    return owner > 0 && (!IsRunning(owner) || MarkOf(owner) != mark);
}

// A process that leads its own group is signalled with its group.
void Signal(qint64 pid, int signal) {
    const bool leader = StatField(pid, kGroupField).toLongLong() == pid;
    ::kill(static_cast<pid_t>(leader ? -pid : pid), signal);
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

QList<qint64> ProcessIds() {
    QList<qint64> pids;
    const qint64 self = QCoreApplication::applicationPid();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (isPid && pid != self)
            pids.append(pid);
    }
    return pids;
}

} // namespace

QString OwnerMark(qint64 pid) {
    return MarkOf(pid > 0 ? pid : QCoreApplication::applicationPid());
}

QString ExecutableName(qint64 pid) {
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    target.remove(QStringLiteral(" (deleted)"));
    return QFileInfo(target).fileName();
}

QList<qint64> FindByName(const QString& name) {
    QList<qint64> found;
    for (qint64 pid : ProcessIds())
        if (EndsWith(ExecutableName(pid), name) || EndsWith(CommandName(pid), name))
            found.append(pid);
    return found;
}

bool IsRunning(qint64 pid) {
    const QByteArray state = StatField(pid, kStateField);
    return !state.isEmpty() && state != "Z" && state != "X";
}

QList<qint64> LeftBehind(const QString& programPath) {
    QList<qint64> found;
    const QString canonical = QFileInfo(programPath).canonicalFilePath();
    if (canonical.isEmpty())
        return found;
    for (qint64 pid : ProcessIds()) {
        if (!OwnedByThisUser(pid) || !Runs(pid, canonical) || !IsRunning(pid))
            continue;
        const QString mark = OwnerMarkOf(pid);
        if (!mark.isEmpty() && OwnerIsGone(mark))
            found.append(pid);
    }
    return found;
}

void EndProcessTrees(const QList<qint64>& pids, int graceMs) {
    const QList<qint64> running = StillRunning(pids);
    if (running.isEmpty())
        return;
    for (qint64 pid : running)
        Signal(pid, SIGTERM);
    WaitUntilGone(running, graceMs);
    const QList<qint64> stubborn = StillRunning(running);
    for (qint64 pid : stubborn)
        Signal(pid, SIGKILL);
    WaitUntilGone(stubborn, kKillWaitMs);
}

} // namespace modProcesses
