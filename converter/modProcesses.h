#pragma once
#include <QList>
#include <QString>

// The running processes of this machine, read from /proc, and their termination by name.
namespace modProcesses {

// The executable file name of a process ("avformat.dll"); empty when it is gone or hidden.
QString ExecutableName(qint64 pid);

// Every process (other than this one) whose executable name ends with `name`, in any case.
QList<qint64> FindByName(const QString& name);

// True while the process exists and is not a zombie waiting to be reaped.
bool IsRunning(qint64 pid);

// Asks every process whose executable name ends with `name` to terminate (SIGTERM), so that a
// converter can end its own children and remove its partial output; whoever is still running
// after `graceMs` is killed.
void TerminateProcessesByName(const QString& name, int graceMs = 3000);

} // namespace modProcesses
