#include "modRun.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace modRun {

namespace {

volatile sig_atomic_t gTerminationSignal = 0;
// The children a termination signal must reach: at most a question to ffmpeg and a conversion.
volatile pid_t gChildren[2] = {0, 0};

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kGraceMilliseconds = 2000;
// The descriptor a reporting child writes its progress to.
constexpr int kReportFd = 3;
// How often a wait for a child's report looks whether this process was asked to end.
constexpr int kReportPollMilliseconds = 200;

// What a forced end removes; set once, before any handler runs.
void (*gUndo)() = nullptr;

void OnTermination(int signal) {
    // Only the first request counts: a stream of signals never puts the forced end off.
    if (gTerminationSignal)
        return;
    gTerminationSignal = signal;
    for (const pid_t child : gChildren)
        if (child > 0)
            kill(child, SIGTERM);
    alarm(kForcedEndSeconds);
}

// The run did not wind down in time: whatever it is stuck in, it ends now.
void OnForcedEnd(int) {
    const int signal = gTerminationSignal;
    if (!signal)
        return;
    for (const pid_t child : gChildren)
        if (child > 0)
            kill(child, SIGKILL);
    if (gUndo)
        gUndo();
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(signal);
    _exit(128 + signal);
}

sigset_t TerminationSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kTerminationSignals)
        sigaddset(&set, signal);
    return set;
}

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// In the child between fork and exec: default signal handling, no standard input, and death
// with the parent, so that even a killed converter leaves no ffmpeg behind.
[[noreturn]] void ExecChild(const std::string& program, const std::vector<std::string>& args,
                            pid_t parent, int stdoutFd, const char* setting, int reportFd,
                            int stderrFd) {
    for (int signal : kTerminationSignals)
        std::signal(signal, SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    const sigset_t set = TerminationSet();
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(127);
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0)
        dup2(devNull, STDIN_FILENO);
    if (stdoutFd >= 0)
        dup2(stdoutFd, STDOUT_FILENO);
    if (stderrFd >= 0)
        dup2(stderrFd, STDERR_FILENO);
    if (reportFd == kReportFd)
        fcntl(kReportFd, F_SETFD, 0); // keep it open across exec
    else if (reportFd >= 0)
        dup2(reportFd, kReportFd);
    if (setting)
        putenv(const_cast<char*>(setting));
    std::vector<char*> argv = Argv(program, args);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Runs `change` with the termination signals blocked, so that the handler never sees the list
// of children half changed.
template <typename Change> auto WithSignalsBlocked(Change change) {
    const sigset_t set = TerminationSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &set, &previous);
    const auto result = change();
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return result;
}

// Forks with the termination signals blocked, so that a signal arriving around the fork is
// seen only once the child is listed. A child started after a termination request is asked to
// end at once.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int stdoutFd,
            const char* setting = nullptr, int reportFd = -1, int stderrFd = -1) {
    const pid_t pid = WithSignalsBlocked([&] {
        const pid_t parent = getpid();
        const pid_t child = fork();
        if (child == 0)
            ExecChild(program, args, parent, stdoutFd, setting, reportFd, stderrFd);
        for (volatile pid_t& slot : gChildren)
            if (child > 0 && slot == 0) {
                slot = child;
                break;
            }
        return child;
    });
    if (pid > 0 && gTerminationSignal)
        kill(pid, SIGTERM);
    return pid;
}

void Unlist(pid_t pid) {
    WithSignalsBlocked([&] {
        for (volatile pid_t& slot : gChildren)
            if (slot == pid)
                slot = 0;
        return 0;
    });
}

// True once the child is reaped; false when not yet (WNOHANG) or when a signal interrupted.
bool WaitFor(pid_t pid, int options, int& status) {
    return waitpid(pid, &status, options) == pid;
}

int WaitUninterrupted(pid_t pid) {
    int status = 0;
    while (!WaitFor(pid, 0, status) && errno == EINTR) {
    }
    return status;
}

// After a termination request the child has a grace period before SIGKILL.
int WaitEnding(pid_t pid) {
    int status = 0;
    for (int waited = 0; waited < kGraceMilliseconds; waited += 20) {
        if (WaitFor(pid, WNOHANG, status))
            return status;
        usleep(20 * 1000);
    }
    kill(pid, SIGKILL);
    return WaitUninterrupted(pid);
}

} // namespace

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return std::string();
}

Child StartCapture(const std::string& program, const std::vector<std::string>& args,
                   const char* setting) {
    Child child;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return child;
    child.pid = Spawn(program, args, fds[1], setting);
    close(fds[1]);
    child.output = fds[0];
    return child;
}

std::string FinishCapture(Child& child, bool* whole) {
    if (whole)
        *whole = false;
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = child.output >= 0 ? read(child.output, buffer, sizeof buffer) : 0;
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    if (child.output >= 0)
        close(child.output);
    const int status = child.Running() ? WaitUninterrupted(child.pid) : -1;
    Unlist(child.pid);
    if (whole)
        *whole = child.Running() && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    child = Child();
    return output;
}

std::string Capture(const std::string& program, const std::vector<std::string>& args, bool* whole) {
    Child child = StartCapture(program, args);
    return FinishCapture(child, whole);
}

void InstallTerminationHandlers(void (*undo)()) {
    gUndo = undo;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    for (int signal : kTerminationSignals)
        sigaction(signal, &action, nullptr);
    struct sigaction forced;
    std::memset(&forced, 0, sizeof forced);
    forced.sa_handler = OnForcedEnd;
    forced.sa_mask = TerminationSet();
    sigaction(SIGALRM, &forced, nullptr);
}

int TerminationSignal() {
    return gTerminationSignal;
}

Child Start(const std::string& program, const std::vector<std::string>& args) {
    Child child;
    child.pid = Spawn(program, args, -1);
    return child;
}

Outcome Finish(Child& child) {
    Outcome outcome;
    if (!child.Running()) {
        outcome.exitCode = 127;
        return outcome;
    }
    int status = 0;
    // A child asked to end before this wait began gets its grace period all the same.
    if (gTerminationSignal)
        status = WaitEnding(child.pid);
    else
        while (!WaitFor(child.pid, 0, status)) {
            if (errno != EINTR)
                break;
            if (gTerminationSignal) {
                status = WaitEnding(child.pid);
                break;
            }
        }
    Unlist(child.pid);
    child = Child();
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    else
        outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

void Abandon(Child& child) {
    if (child.Running()) {
        kill(child.pid, SIGKILL);
        WaitUninterrupted(child.pid);
        Unlist(child.pid);
    }
    if (child.output >= 0)
        close(child.output);
    child = Child();
}

Child StartReporting(const std::string& program, const std::vector<std::string>& args,
                     int stderrFd) {
    Child child;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return Start(program, args);
    child.pid = Spawn(program, args, -1, nullptr, fds[1], stderrFd);
    close(fds[1]);
    child.output = fds[0];
    return child;
}

Outcome FinishReading(Child& child, const std::function<void(const std::string&)>& onLine) {
    std::string pending;
    char buffer[4096];
    // Polled rather than read blocking, so that a termination signal arriving just before a
    // read never leaves this process waiting on a child that ignores it.
    while (child.output >= 0 && !gTerminationSignal) {
        pollfd readable = {child.output, POLLIN, 0};
        const int ready = poll(&readable, 1, kReportPollMilliseconds);
        if (ready == 0 || (ready < 0 && errno == EINTR))
            continue;
        const ssize_t n = ready > 0 ? read(child.output, buffer, sizeof buffer) : -1;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1)
            onLine(pending.substr(start, end - start));
        pending.erase(0, start);
    }
    if (child.output >= 0)
        close(child.output);
    child.output = -1;
    return Finish(child);
}

bool UnlessTerminated(const std::function<bool()>& step) {
    // Not with the signals blocked: a step that hangs (a Trash that cannot be written) would
    // hold the request back, and the forced end with it.
    return !gTerminationSignal && step();
}

Outcome Run(const std::string& program, const std::vector<std::string>& args) {
    Child child = Start(program, args);
    return Finish(child);
}

} // namespace modRun
