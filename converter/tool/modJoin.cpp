#include "modJoin.h"

#include "modInput.h"
#include "modJoinCommand.h"
#include "modPartialFile.h"
#include "modProgress.h"
#include "modReport.h"
#include "modResultCheck.h"
#include "modRun.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modJoin {

namespace {

constexpr size_t kLongestReason = 300;

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string FolderOf(const std::string& absolutePath) {
    const size_t slash = absolutePath.find_last_of('/');
    return slash == 0 ? "/" : absolutePath.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

// Why an input cannot be joined; empty when it can. Only regular files named by a full path:
// a pipe or a device would be read dry or never end.
std::string InputProblem(const std::string& input) {
    if (input.empty() || input[0] != '/')
        return "the input '" + input + "' is not a full path starting with '/'";
    struct stat info;
    if (stat(input.c_str(), &info) != 0)
        return "the input '" + input + "' does not exist";
    if (!S_ISREG(info.st_mode))
        return "the input '" + input + "' is not a regular file";
    return std::string();
}

// Each input with the demuxer its first bytes name, as `inputs` is filled; else why one cannot
// be joined. Only media goes in: a text is never left to ffmpeg to guess, as it would read a
// playlist in it and open the files it names.
std::string ReadableInputs(const std::vector<std::string>& paths,
                           std::vector<modJoinCommand::Input>& inputs) {
    for (const std::string& path : paths) {
        if (const std::string problem = InputProblem(path); !problem.empty())
            return problem;
        const std::string demuxer = modInput::DemuxerOf(modInput::HeadOf(path));
        if (demuxer.empty())
            return "the input '" + path +
                   "' is not media that streams are joined from: its first bytes are not those "
                   "of MPEG-TS, MP4, WebM or another container";
        inputs.push_back({path, demuxer});
    }
    return std::string();
}

// Why nothing can be written to `output`; empty when it can.
std::string OutputProblem(const std::string& output) {
    if (output.empty() || output[0] != '/')
        return "the output '" + output + "' is not a full path starting with '/'";
    if (modJoinCommand::MuxerForFile(output).empty())
        return "the output '" + output + "' has no extension of a container that streams join in";
    const std::string folder = FolderOf(output);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "the output folder '" + folder + "' does not exist";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "the output folder '" + folder + "' cannot be written to";
    if (lstat(output.c_str(), &info) == 0)
        return "File '" + output + "' already exists. Exiting.";
    return std::string();
}

// The longest of the inputs, in seconds: what progress is told against. 0 when unknown.
double LongestInput(const std::vector<modJoinCommand::Input>& inputs) {
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    double longest = 0;
    for (const modJoinCommand::Input& input : inputs)
        if (!ffprobe.empty() && !modRun::TerminationSignal())
            longest = std::max(longest, modResultCheck::Probe(ffprobe, modInput::Url(input.path),
                                                              modInput::ReadAs(input.demuxer))
                                            .seconds);
    return longest;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); !from.empty() && at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// ffmpeg's first complaint, as one line that names files by their names: what went wrong first
// is the cause, what follows its consequence.
std::string ReasonIn(int logFd, const std::vector<modJoinCommand::Input>& inputs,
                     const std::string& partial, const std::string& output) {
    std::string log(4096, '\0');
    const ssize_t n = pread(logFd, &log[0], log.size(), 0);
    log.resize(n > 0 ? static_cast<size_t>(n) : 0);
    std::string line;
    size_t start = 0;
    while (line.empty() && start < log.size()) {
        const size_t end = std::min(log.find('\n', start), log.size());
        line = log.substr(start, end - start);
        line.erase(0, line.find_first_not_of(" \t\r"));
        start = end + 1;
    }
    // "[mp4 @ 0x55d0c3a2] Could not ...": the muxer's address says nothing to a reader.
    if (!line.empty() && line[0] == '[' && line.find("] ") != std::string::npos)
        line.erase(0, line.find("] ") + 2);
    ReplaceAll(line, modInput::Url(partial), FileNameOf(output));
    for (const modJoinCommand::Input& input : inputs)
        ReplaceAll(line, modInput::Url(input.path), FileNameOf(input.path));
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ')
            c = ' ';
    return line.substr(0, kLongestReason);
}

// Gives the partial file OUTPUT's name while no file has it; true when it did.
bool PlaceWithoutReplacing(const std::string& partial, const std::string& output) {
    bool placed = false;
    const bool ran = modRun::UnlessTerminated([&] {
        placed =
            renameat2(AT_FDCWD, partial.c_str(), AT_FDCWD, output.c_str(), RENAME_NOREPLACE) == 0;
        // A file system that cannot rename without replacing can still link without it.
        if (!placed && (errno == EINVAL || errno == ENOSYS)) {
            placed = link(partial.c_str(), output.c_str()) == 0;
            if (placed)
                unlink(partial.c_str());
        }
        return placed;
    });
    return ran && placed;
}

// Ends this process with the signal that asked it to end.
[[noreturn]] void EndBySignal(int signal) {
    std::fflush(nullptr);
    std::signal(signal, SIG_DFL);
    raise(signal);
    _exit(128 + signal);
}

class Join {
public:
    Join(const char* program, std::vector<std::string> paths, std::string output)
        : program_(program), paths_(std::move(paths)), output_(std::move(output)) {}

    int Run() {
        if (const std::string problem = ReadableInputs(paths_, inputs_); !problem.empty())
            return Fail(problem);
        if (const std::string problem = OutputProblem(output_); !problem.empty())
            return Fail(problem);
        modRun::InstallTerminationHandlers(modPartialFile::DiscardAtForcedEnd);
        modReport::Open();
        const std::string ffmpeg = modRun::FindOnPath("ffmpeg");
        if (ffmpeg.empty())
            return Fail("ffmpeg was not found on the PATH; install the ffmpeg package", 127);
        const std::string folder = FolderOf(output_);
        modPartialFile::RemoveDeadRuns(folder, program_);
        const std::string name = FileNameOf(output_);
        partial_ = modPartialFile::Make(folder, Lowered(name.substr(name.find_last_of('.'))));
        if (!partial_.Made())
            return Fail("the output folder '" + folder + "' cannot be written to");
        const int code = RunFfmpeg(ffmpeg);
        modPartialFile::Discard(partial_);
        if (modRun::TerminationSignal())
            EndBySignal(modRun::TerminationSignal());
        return code;
    }

private:
    int Fail(const std::string& message, int code = 1) {
        std::fprintf(stderr, "%s: %s\n", program_, message.c_str());
        return code;
    }

    int RunFfmpeg(const std::string& ffmpeg) {
        const double totalSeconds = LongestInput(inputs_);
        const std::vector<std::string> args = modJoinCommand::CommandLine(
            inputs_, modInput::Url(partial_.path), modJoinCommand::MuxerForFile(output_),
            modJoinCommand::IsSoundFile(output_));
        std::string shown;
        for (const std::string& arg : args)
            shown += " " + arg;
        std::fprintf(stderr, "%s: ffmpeg%s\n", program_, shown.c_str());
        std::fflush(stderr);
        // ffmpeg's own text is kept aside: its first complaint is the reason a failure names.
        const int log = memfd_create("ffmpeg-log", MFD_CLOEXEC);
        modRun::Child child = modRun::StartReporting(ffmpeg, args, log);
        const modRun::Outcome outcome = modRun::FinishReading(child, [&](const std::string& line) {
            const double done = modProgress::OutTimeSeconds(line);
            if (done >= 0 && totalSeconds > 0)
                modReport::Progress(modProgress::ReportLine(done, totalSeconds));
        });
        const std::string reason = log >= 0 ? ReasonIn(log, inputs_, partial_.path, output_) : "";
        if (log >= 0)
            close(log);
        if (modRun::TerminationSignal())
            return 1;
        if (outcome.signal || outcome.exitCode != 0) {
            std::string why = reason;
            if (why.empty())
                why = outcome.signal
                          ? "ffmpeg was ended by signal " + std::to_string(outcome.signal)
                          : "ffmpeg ended with exit code " + std::to_string(outcome.exitCode);
            return Fail("the streams could not be joined: " + why,
                        outcome.exitCode ? outcome.exitCode : 1);
        }
        if (!modPartialFile::StillTheFile(partial_.fd, partial_.path))
            return Fail("the partial result '" + partial_.path +
                        "' was removed or replaced during the join; nothing was saved");
        if (!PlaceWithoutReplacing(partial_.path, output_))
            return modRun::TerminationSignal()
                       ? 1
                       : Fail("File '" + output_ + "' already exists. Exiting.");
        return 0;
    }

    const char* program_;
    std::vector<std::string> paths_;
    std::vector<modJoinCommand::Input> inputs_;
    std::string output_;
    modPartialFile::Partial partial_;
};

} // namespace

bool IsJoinCall(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], "--join") == 0;
}

int Run(const char* program, const std::vector<std::string>& args) {
    const auto refuse = [program](const std::string& message) {
        std::fprintf(stderr, "%s: %s\n", program, message.c_str());
        return 1;
    };
    if (args.size() < 2)
        return refuse("usage: --join OUTPUT INPUT...");
    for (const std::string& arg : args)
        if (!arg.empty() && arg[0] == '-')
            return refuse("'" + arg + "' is an option, not a file; a path starts with '/'");
    return Join(program, std::vector<std::string>(args.begin() + 1, args.end()), args.front())
        .Run();
}

} // namespace modJoin
