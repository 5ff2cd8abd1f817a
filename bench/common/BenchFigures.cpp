#include "BenchFigures.h"

#include <QDir>
#include <QFile>
#include <QTcpServer>
#include <algorithm>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool WriteFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

void EmptyFolder(const QString& folder) {
    QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        QFile::remove(folder + '/' + name);
    for (const QString& name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(folder + '/' + name).removeRecursively();
}

double ProcessCpuSeconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double sum = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + '/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            sum += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    // Fields 16 and 17 of stat, counted after the command name (which may hold spaces).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        const double ticks = double(sysconf(_SC_CLK_TCK));
        sum += (fields.value(13).toDouble() + fields.value(14).toDouble()) / ticks;
    }
    return sum;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

bool MeasuredChild(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment, const QString& folder, Run& run) {
    std::vector<std::string> strings{program.toStdString()};
    for (const QString& argument : arguments)
        strings.push_back(argument.toStdString());
    std::vector<std::string> variables;
    for (const QString& variable : environment.toStringList())
        variables.push_back(variable.toStdString());
    std::vector<char*> argv, envp;
    for (std::string& s : strings)
        argv.push_back(s.data());
    for (std::string& s : variables)
        envp.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    const std::string directory = folder.toStdString();

    const double started = MonotonicSeconds();
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        if (chdir(directory.c_str()) == 0)
            execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return false;
    run.wall = MonotonicSeconds() - started;
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakKb = usage.ru_maxrss;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
