#include "ChildProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <optional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ChildProcess {

namespace {

// Killed processes are gone within a moment; this only bounds one stuck in the kernel.
constexpr int kReapWaitMs = 2000;

// What /proc/<pid>/stat says of a process.
struct Stat {
    QByteArray state;
    qint64 parent = 0;
    qint64 group = 0;
    qint64 session = 0;
};

std::optional<Stat> StatOf(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // "pid (name) state ppid pgrp session ...": the name may hold blanks and parentheses.
    const QByteArray line = file.read(4096);
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 4)
        return std::nullopt;
    return Stat{fields[0], fields[1].toLongLong(), fields[2].toLongLong(), fields[3].toLongLong()};
}

QList<qint64> ProcessIds() {
    QList<qint64> pids;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (isPid)
            pids.append(pid);
    }
    return pids;
}

bool Carries(qint64 pid, const QByteArray& entry) {
    QFile file(QStringLiteral("/proc/%1/environ").arg(pid));
    return file.open(QIODevice::ReadOnly) && file.readAll().split('\0').contains(entry);
}

bool Exists(qint64 pid) {
    return QFile::exists(QStringLiteral("/proc/%1").arg(pid));
}

// Reaps each process once it has become our ended child; returns when none is left.
void Reap(QList<qint64> pids) {
    const QDeadlineTimer deadline(kReapWaitMs);
    while (!pids.isEmpty() && !deadline.hasExpired()) {
        pids.removeIf([](qint64 pid) {
            return ::waitpid(pid_t(pid), nullptr, WNOHANG) == pid || !Exists(pid);
        });
        if (!pids.isEmpty())
            QThread::msleep(10);
    }
}

// Ended children of ours that no QProcess waits for: our own child programs lead a group of
// their own in our session, so one that does not was adopted.
void ReapAdopted() {
    const qint64 self = ::getpid();
    const qint64 session = ::getsid(0);
    for (const qint64 pid : ProcessIds()) {
        const std::optional<Stat> stat = StatOf(pid);
        if (stat && stat->state == "Z" && stat->parent == self &&
            (stat->group != pid || stat->session != session))
            ::waitpid(pid_t(pid), nullptr, WNOHANG);
    }
}

// The tracked groups, read by the signal handler: plain atomics, no locks, no allocation.
constexpr int kTrackedSlots = 16;
std::atomic<pid_t> trackedGroups[kTrackedSlots];

void KillTrackedGroupsAndEnd(int signal) {
    for (std::atomic<pid_t>& slot : trackedGroups)
        if (const pid_t leader = slot.load(); leader > 1)
            ::kill(-leader, SIGKILL);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

void TrackGroup(qint64 leader) {
    for (std::atomic<pid_t>& slot : trackedGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, pid_t(leader)))
            return;
    }
}

void ForgetGroup(qint64 leader) {
    for (std::atomic<pid_t>& slot : trackedGroups) {
        pid_t tracked = pid_t(leader);
        slot.compare_exchange_strong(tracked, 0);
    }
}

void EndTrackedGroupsOnTermination() {
    struct sigaction action = {};
    action.sa_handler = KillTrackedGroupsAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

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
    for (const qint64 pid : ProcessIds()) {
        const std::optional<Stat> stat = StatOf(pid);
        if (stat && stat->state != "Z" && stat->group == leader)
            return true;
    }
    return false;
}

QByteArray NewTag() {
    // A process that a child starts in a session of its own (setsid) and leaves would otherwise
    // go to init, out of our reach.
    static const bool adopting = ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
    Q_UNUSED(adopting);
    static std::atomic<quint64> count{0};
    return QByteArray::number(qint64(::getpid())) + '-' + QByteArray::number(++count);
}

void EndDescendants(qint64 leader, const QByteArray& tag) {
    const qint64 self = ::getpid();
    const QByteArray entry = QByteArray(kTagVariable) + '=' + tag;
    QList<qint64> left;
    for (const qint64 pid : ProcessIds()) {
        if (pid == self || pid == leader)
            continue;
        const std::optional<Stat> stat = StatOf(pid);
        if (stat &&
            ((leader > 1 && stat->group == leader) || (!tag.isEmpty() && Carries(pid, entry))))
            left.append(pid);
    }
    KillGroup(leader);
    for (const qint64 pid : left)
        ::kill(pid_t(pid), SIGKILL);
    Reap(left);
    ReapAdopted();
}

} // namespace ChildProcess
