#pragma once
#include <QList>
#include <QString>

// The running processes of this machine, read from /proc, and the ending of the converters
// that belong to this program.
namespace modProcesses {

// The environment variable that marks a converter with the copy of Vantelo that started it.
extern const char* const kOwnerVariable;

// A process's mark for the converters it starts (this process's by default): its id and its
// start time, so that a later process under the same id is not taken for it.
QString OwnerMark(qint64 pid = 0);

// The executable file name of a process ("avformat.dll"); empty when it is gone or hidden.
QString ExecutableName(qint64 pid);

// Every process (other than this one) whose executable name ends with `name`, in any case.
QList<qint64> FindByName(const QString& name);

// True while the process exists and is not a zombie waiting to be reaped.
bool IsRunning(qint64 pid);

// Converters of `programPath` that a copy of Vantelo of this user started and left behind
// when it ended: their owner mark names a process that no longer runs. Never a process of
// another user, of another program, or of a copy of Vantelo that still runs.
QList<qint64> LeftBehind(const QString& programPath);

// Asks each process, with the processes of its group when it leads one (a converter and its
// ffmpeg), to terminate (SIGTERM), so that a converter can remove its partial output; whoever
// is still running after `graceMs` is killed.
void EndProcessTrees(const QList<qint64>& pids, int graceMs = 3000);

} // namespace modProcesses
