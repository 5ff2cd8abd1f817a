#include "modRun.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace modRun {

namespace {

volatile sig_atomic_t gTerminationSignal = 0;
volatile pid_t gChild = 0;

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr int kGraceMilliseconds = 2000;

void OnTermination(int signal) {
    gTerminationSignal = signal;
    if (gChild > 0)
        kill(gChild, SIGTERM);
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
                            pid_t parent, int stdoutFd) {
    for (int signal : kTerminationSignals)
        std::signal(signal, SIG_DFL);
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
    std::vector<char*> argv = Argv(program, args);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Forks with the termination signals blocked, so that a signal arriving around the fork is
// seen only once gChild is known.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int stdoutFd) {
    const sigset_t set = TerminationSet();
    sigset_t previous;
    sigprocmask(SIG_BLOCK, &set, &previous);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        ExecChild(program, args, parent, stdoutFd);
    gChild = pid > 0 ? pid : 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    return pid;
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

std::string Capture(const std::string& program, const std::vector<std::string>& args, bool* whole) {
    if (whole)
        *whole = false;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return std::string();
    const pid_t pid = Spawn(program, args, fds[1]);
    close(fds[1]);
    std::string output;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n > 0)
            output.append(buffer, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fds[0]);
    const int status = pid > 0 ? WaitUninterrupted(pid) : -1;
    gChild = 0;
    if (whole)
        *whole = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return output;
}

void InstallTerminationHandlers() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnTermination;
    sigemptyset(&action.sa_mask);
    for (int signal : kTerminationSignals)
        sigaction(signal, &action, nullptr);
}

int TerminationSignal() {
    return gTerminationSignal;
}

Outcome Run(const std::string& program, const std::vector<std::string>& args) {
    Outcome outcome;
    const pid_t pid = Spawn(program, args, -1);
    if (pid < 0) {
        outcome.exitCode = 127;
        return outcome;
    }
    if (gTerminationSignal)
        kill(pid, SIGTERM);
    int status = 0;
    while (!WaitFor(pid, 0, status)) {
        if (errno != EINTR)
            break;
        if (gTerminationSignal) {
            status = WaitEnding(pid);
            break;
        }
    }
    gChild = 0;
    if (WIFSIGNALED(status))
        outcome.signal = WTERMSIG(status);
    else
        outcome.exitCode = WEXITSTATUS(status);
    return outcome;
}

} // namespace modRun
