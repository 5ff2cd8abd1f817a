#pragma once
#include <QByteArray>
#include <QtGlobal>
#include <sys/types.h>

// The rules every child program of ours runs under: it leads a process group of its own, so that
// ending the group reaches whatever it started, and it ends when this process ends, however
// this one ends. What it starts and leaves in a session of its own is followed by a tag in the
// environment, and stays below us instead of going to init, so that it ends with the child's run.
namespace ChildProcess {

// For the child between fork and exec (QProcess::setChildProcessModifier): only calls that are
// safe there. `deathSignal` is what the child gets when its parent dies; SIGTERM lets a child
// of ours clean up, SIGKILL is for one that has nothing to clean.
void LeadOwnGroupAndDieWithParent(pid_t parent, int deathSignal);

// Kills every process of the group that `leader` leads (SIGKILL).
void KillGroup(qint64 leader);

// Whether some process of that group still runs; zombies waiting to be reaped do not count.
bool GroupIsRunning(qint64 leader);

// The environment variable through which a child's tag reaches whatever the child starts.
inline constexpr char kTagVariable[] = "VANTELO_CHILD_TAG";

// A tag that no other child of this process has had, for a child's environment. From the
// first one on, this process is the reaper of its children's orphans (PR_SET_CHILD_SUBREAPER).
QByteArray NewTag();

// Ends what the child leading `leader`'s group left behind: the processes of its group and
// every process that carries `tag`, wherever it went (SIGKILL), and reaps those that had become
// ours, with any other orphan we adopted that has ended. The leader is left to its QProcess.
void EndDescendants(qint64 leader, const QByteArray& tag);

// Groups to end when this process is told to end (SIGTERM, SIGINT, SIGHUP): the death signal
// reaches a child itself, not what the child started in its group. A child that cleans up on
// its own death signal is not tracked.
void TrackGroup(qint64 leader);
void ForgetGroup(qint64 leader);

// Installs the handler that kills the tracked groups before this process ends by such a signal.
void EndTrackedGroupsOnTermination();

} // namespace ChildProcess
