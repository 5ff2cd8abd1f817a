#pragma once
#include <QtGlobal>
#include <sys/types.h>

// The rules every child program of ours runs under: it leads a process group of its own, so that
// ending the group reaches whatever it started, and it ends when this process ends, however
// this one ends.
namespace ChildProcess {

// For the child between fork and exec (QProcess::setChildProcessModifier): only calls that are
// safe there. `deathSignal` is what the child gets when its parent dies; SIGTERM lets a child
// of ours clean up, SIGKILL is for one that has nothing to clean.
void LeadOwnGroupAndDieWithParent(pid_t parent, int deathSignal);

// Kills every process of the group that `leader` leads (SIGKILL).
void KillGroup(qint64 leader);

// Whether some process of that group still runs; zombies waiting to be reaped do not count.
bool GroupIsRunning(qint64 leader);

} // namespace ChildProcess
