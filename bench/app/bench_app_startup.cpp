// Start-up time and idle CPU use of the program, side by side with a bare Qt window program
// built in the same tree. Both are started the same way; each reports the moment its first
// window has been exposed and painted (ShownProbe). Run it on a display (xvfb-run works).
#include "ShownProbe.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kRuns = 30; // alternating pairs
constexpr int kIdleSeconds = 10;

struct Program {
    const char* label;
    QString path;
};

struct Figures {
    double median = 0, min = 0, max = 0;
};

Figures figuresOf(QList<double> times) {
    std::sort(times.begin(), times.end());
    if (times.isEmpty())
        return {};
    return {times[times.size() / 2], times.first(), times.last()};
}

// A private home, runtime folder and documents folder, so that the program's lock and
// settings never meet the user's. The runtime folder lies in memory, as a desktop session's
// (/run/user/<uid>) does: on a disk, the lock's flush would be timed instead.
class Sandbox {
public:
    explicit Sandbox(const QByteArray& proxy)
        : runtime_(QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm/vantelo-bench-XXXXXX")
                                             : dir_.path() + QStringLiteral("/runtime-XXXXXX")) {
        const QString home = dir_.path();
        QFile::setPermissions(runtime_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("HOME", home);
        env_.insert("XDG_CONFIG_HOME", home + "/.config");
        env_.insert("XDG_RUNTIME_DIR", runtime_.path());
        env_.insert("http_proxy", QString::fromLatin1(proxy));
        env_.remove("no_proxy");
        env_.remove("PROBE_STAY");
    }
    QProcessEnvironment environment(bool stay) const {
        QProcessEnvironment env = env_;
        if (stay)
            env.insert("PROBE_STAY", "1");
        return env;
    }
    // A copy that ends at once leaves its lock behind; the next start should not pay for it.
    void clearLock() const { QFile::remove(runtime_.path() + "/Morvane-Vantelo.lock"); }

private:
    QTemporaryDir dir_;
    QTemporaryDir runtime_;
    QProcessEnvironment env_;
};

struct Startup {
    double wallMs = -1; // from starting the process to its first shown window
    double cpuMs = -1;  // CPU time the process used by then
};

Startup timeToFirstWindow(const Program& program, const Sandbox& sandbox) {
    sandbox.clearLock();
    QProcess process;
    process.setProcessEnvironment(sandbox.environment(false));
    process.setProcessChannelMode(QProcess::SeparateChannels);
    const long long started = ShownProbe::MonotonicNanoseconds();
    process.start(program.path, {});
    Startup measured;
    while (process.waitForReadyRead(60000)) {
        const QList<QByteArray> words = process.readLine().trimmed().split(' ');
        if (words.size() == 3 && words[0] == "shown") {
            measured.wallMs = (words[1].toLongLong() - started) / 1e6;
            measured.cpuMs = words[2].toLongLong() / 1e3;
            break;
        }
    }
    if (!process.waitForFinished(10000))
        process.kill();
    process.waitForFinished();
    if (measured.wallMs < 0)
        std::printf("  %s showed no window (exit code %d): %s\n", program.label, process.exitCode(),
                    process.readAllStandardError().right(400).constData());
    return measured;
}

// One row per program; each ratio is against the bare window (the second program).
void printRows(const char* what, const QList<Program>& programs, const QList<Figures>& figures,
               double target) {
    std::printf("    %s\n", what);
    const Figures& bare = figures[1];
    for (int i = 0; i < programs.size(); ++i) {
        const Figures& f = figures[i];
        std::printf("      %-28s median %7.1f  min %7.1f  max %7.1f", programs[i].label, f.median,
                    f.min, f.max);
        if (i != 1)
            std::printf("  ratio %.2f (of minimums %.2f)", f.median / bare.median,
                        f.min / bare.min);
        std::printf("\n");
    }
    std::printf("      target for %s: at most %.2f\n", programs[0].label, target);
}

// The program first, the bare window second, further references after; started in turn.
void compareStartup(const QList<Program>& programs, const Sandbox& sandbox, const char* network) {
    for (const Program& program : programs)
        timeToFirstWindow(program, sandbox); // warm the file cache for all
    QList<QList<double>> wall(programs.size()), cpu(programs.size());
    for (int run = 0; run < kRuns; ++run) {
        for (int i = 0; i < programs.size(); ++i) {
            const Startup measured = timeToFirstWindow(programs[i], sandbox);
            if (measured.wallMs < 0) {
                std::printf("  network %s: a run did not show its window\n", network);
                return;
            }
            wall[i] << measured.wallMs;
            cpu[i] << measured.cpuMs;
        }
    }
    QList<Figures> wallFigures, cpuFigures;
    for (int i = 0; i < programs.size(); ++i) {
        wallFigures << figuresOf(wall[i]);
        cpuFigures << figuresOf(cpu[i]);
    }
    std::printf("  network %s, %d runs each, alternating\n", network, kRuns);
    printRows("ms from process start to first shown window", programs, wallFigures, 1.3);
    printRows("CPU ms used by then", programs, cpuFigures, 1.5);
}

// User plus system CPU time of a process, in seconds.
double cpuSeconds(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double ticks = double(sysconf(_SC_CLK_TCK));
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / ticks;
}

double idleCpu(const Program& program, const Sandbox& sandbox) {
    sandbox.clearLock();
    QProcess process;
    process.setProcessEnvironment(sandbox.environment(true));
    process.start(program.path, {});
    if (!process.waitForReadyRead(60000))
        return -1;
    QThread::sleep(2); // let start-up work settle
    const double before = cpuSeconds(process.processId());
    QThread::sleep(kIdleSeconds);
    const double after = cpuSeconds(process.processId());
    process.kill();
    process.waitForFinished();
    return after - before;
}

void compareIdle(const Program& app, const Program& bare, const Sandbox& sandbox,
                 const char* network) {
    const double a = idleCpu(app, sandbox);
    const double b = idleCpu(bare, sandbox);
    std::printf("  network %s, CPU time over %d idle seconds after the window is shown\n", network,
                kIdleSeconds);
    std::printf("    %-22s %6.0f ms (%.2f %% of one core)\n", app.label, a * 1000,
                a * 100 / kIdleSeconds);
    std::printf("    %-22s %6.0f ms (%.2f %% of one core)\n", bare.label, b * 1000,
                b * 100 / kIdleSeconds);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath();
    const Program vantelo{"Vantelo", folder + "/app_probe_vantelo"};
    const Program bare{"bare Qt window", folder + "/app_probe_bare"};
    // What text alone costs: fontconfig, a font and its glyphs, which the bare window never needs.
    const Program text{"Qt window, one line of text", folder + "/app_probe_text"};

    // Offline: a proxy that refuses at once, and one that accepts and never answers.
    QTcpServer blackHole;
    blackHole.listen(QHostAddress::LocalHost);
    const Sandbox refused("http://127.0.0.1:9");
    const Sandbox stalled("http://127.0.0.1:" + QByteArray::number(blackHole.serverPort()));

    std::printf("Start-up\n");
    compareStartup({vantelo, bare, text}, refused, "refused");
    compareStartup({vantelo, bare, text}, stalled, "stalled");
    std::printf("Idle\n");
    compareIdle(vantelo, bare, stalled, "stalled");
    return 0;
}
