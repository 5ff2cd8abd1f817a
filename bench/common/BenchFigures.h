#pragma once
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The figures of one measured run, and the small helpers the window benchmarks share.

struct Run {
    double wall = 0;   // seconds
    double cpu = 0;    // user plus system seconds, children included
    qint64 peakKb = 0; // peak resident memory
};

double MonotonicSeconds();
double Median(QList<double> values);
quint16 FreePort();
bool WriteFile(const QString& path, const QByteArray& contents);
void EmptyFolder(const QString& folder);

// CPU time of a running process so far: its threads (schedstat) plus the children it has waited
// for (cutime and cstime), in seconds.
double ProcessCpuSeconds(qint64 pid);

// CPU time of the children this process has waited for.
double ChildrenCpuSeconds();

// Runs `program` with `arguments` in `folder` and waits for it; the figures are those of its whole
// tree as wait4 reports them (the largest peak of any of its processes). False when it cannot
// start or does not end with status 0.
bool MeasuredChild(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QString& folder, Run& run);
