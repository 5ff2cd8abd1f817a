#pragma once
#include <functional>
#include <string>
#include <vector>

// Child processes of the converter program: finding ffmpeg, asking it questions, and running a
// conversion that ends with the converter when the converter is terminated.
namespace modRun {

// The full path of an executable found on PATH; empty when there is none.
std::string FindOnPath(const std::string& name);

// Runs a program and returns what it wrote to standard output; empty when it could not run.
// `whole`, when given, tells whether the program ran to a successful end (exit status 0).
std::string Capture(const std::string& program, const std::vector<std::string>& args,
                    bool* whole = nullptr);

// Ends the conversion child when this process receives SIGTERM, SIGINT or SIGHUP. The run
// then winds down by itself; should it still be running kForcedEndSeconds later (a step that
// hangs, a child that ignores SIGTERM and keeps a pipe open), the children are killed,
// `undo` runs (from a signal handler: async-signal-safe calls only) and this process ends
// with the signal that asked it to.
constexpr unsigned kForcedEndSeconds = 5;
void InstallTerminationHandlers(void (*undo)() = nullptr);

// The signal that asked this process to end, or 0.
int TerminationSignal();

struct Outcome {
    int exitCode = 0; // the child's exit status when it exited
    int signal = 0;   // the signal that ended the child, when one did
};

// Runs the program with inherited standard output and error and no standard input, and waits.
// On a termination signal the child gets SIGTERM, then SIGKILL if it lingers.
Outcome Run(const std::string& program, const std::vector<std::string>& args);

// The same in halves, so that two children can run at once (a question to ffmpeg beside a
// conversion); a termination signal reaches every child that has not been finished yet.
struct Child {
    int pid = -1;    // none when not positive
    int output = -1; // the read end of the standard output pipe of a StartCapture
    bool Running() const { return pid > 0; }
};
Child Start(const std::string& program, const std::vector<std::string>& args);
Outcome Finish(Child& child);
// `setting` ("NAME=value"), when given, is added to the child's environment.
Child StartCapture(const std::string& program, const std::vector<std::string>& args,
                   const char* setting = nullptr);
std::string FinishCapture(Child& child, bool* whole = nullptr);
// Ends a child at once (SIGKILL) and reaps it.
void Abandon(Child& child);

// Like Start, with a pipe on the child's descriptor 3 (ffmpeg's "-progress pipe:3"), whose read
// end is the child's `output`. The child's standard error goes to `stderrFd` when one is given.
Child StartReporting(const std::string& program, const std::vector<std::string>& args,
                     int stderrFd = -1);
// Hands each line the child writes on that pipe to `onLine` until the child closes it or a
// termination signal arrives, then finishes the child as Finish does.
Outcome FinishReading(Child& child, const std::function<void(const std::string&)>& onLine);

// Runs `step` unless a termination signal has arrived already: a signal that comes meanwhile
// is seen once the step is done (or ends the process, should the step outlast the forced end).
// False when the step did not run.
bool UnlessTerminated(const std::function<bool()>& step);

} // namespace modRun
