// avformat.dll: Vantelo's converter program. It takes the command line that the converter
// component writes (the option language of an old FFmpeg generation), rewrites it for the
// ffmpeg installed on this system, and runs that ffmpeg. The result is written to a hidden
// partial file beside the destination, read back, and moved into place only when it holds a
// conversion of the source. Partial files of runs that died are removed at the next run.
#include "modEncoderCache.h"
#include "modEncoderGuess.h"
#include "modLegacyCommand.h"
#include "modResultCheck.h"
#include "modRun.h"
#include "modTranslate.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kName = "avformat.dll";
// Partial files are ".~avformat-<pid>" followed by the destination's extension; runs before
// this naming wrote ".~<pid>~<name>".
const std::string kPartialPrefix = ".~avformat-";
constexpr size_t kLongestKeptExtension = 16;

int Fail(const std::string& message, int code = 1) {
    std::fprintf(stderr, "%s: %s\n", kName, message.c_str());
    return code;
}

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd))
        return path;
    return std::string(cwd) + "/" + path;
}

std::string FolderOf(const std::string& absolutePath) {
    const size_t slash = absolutePath.find_last_of('/');
    return slash == 0 ? "/" : absolutePath.substr(0, slash);
}

// True when both paths name one file: the same path, a symbolic link or a hard link.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat first, second;
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Why nothing can be written into the folder; empty when it can.
std::string FolderProblem(const std::string& folder) {
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return "the output folder '" + folder + "' does not exist";
    if (access(folder.c_str(), W_OK | X_OK) != 0)
        return "the output folder '" + folder + "' cannot be written to";
    return std::string();
}

// "<folder>/.~avformat-<pid>.ext": hidden, unique to this run, short whatever the name's
// length, and with the destination's extension so that nothing about the output changes.
std::string PartialFileFor(const std::string& dest) {
    const std::string name = dest.substr(dest.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    if (extension.size() > kLongestKeptExtension)
        extension.clear();
    return FolderOf(dest) + "/" + kPartialPrefix + std::to_string(getpid()) + extension;
}

// The process id in a partial file's name; 0 when the name is not one.
pid_t PartialFileOwner(const std::string& name) {
    size_t digits = 0;
    if (name.rfind(kPartialPrefix, 0) == 0)
        digits = kPartialPrefix.size();
    else if (name.rfind(".~", 0) == 0 && name.find('~', 2) != std::string::npos)
        digits = 2;
    else
        return 0;
    const size_t end = name.find_first_not_of("0123456789", digits);
    if (end == digits || (end != std::string::npos && name[end] != '.' && name[end] != '~'))
        return 0;
    return static_cast<pid_t>(std::atol(name.substr(digits, end - digits).c_str()));
}

bool ConverterRuns(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    return std::getline(comm, name) && name == kName;
}

// Removes this user's partial files in the folder whose run is no longer alive: a converter
// killed outright, or a power cut, leaves them behind.
void RemoveDeadPartials(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        const pid_t owner = PartialFileOwner(name);
        if (owner <= 0 || ConverterRuns(owner))
            continue;
        const std::string path = folder + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == getuid())
            unlink(path.c_str());
    }
    closedir(dir);
}

// "file:" keeps ffmpeg from reading a name as a protocol ("http:...") or an option ("-x").
std::string FileUrl(const std::string& absolutePath) {
    return "file:" + absolutePath;
}

std::string Joined(const std::vector<std::string>& args) {
    std::string line;
    for (const std::string& arg : args)
        line += " " + arg;
    return line;
}

// Ends this process the way ffmpeg ended: with its exit status, or with its signal.
[[noreturn]] void EndLike(const modRun::Outcome& outcome) {
    std::fflush(nullptr);
    if (outcome.signal) {
        std::signal(outcome.signal, SIG_DFL);
        raise(outcome.signal);
    }
    _exit(outcome.exitCode);
}

// What ffmpeg answers to "-encoders": the build's answer `guess` when the `loader` (started
// with modEncoderGuess::kLoaderTrace, or not at all) names the build's libavcodec, otherwise
// ffmpeg's own.
modEncoderCache::Answer EncoderAnswer(const std::string& ffmpeg, const std::string& guess,
                                      modRun::Child& loader) {
    modEncoderCache::Answer answer;
    bool listed = false;
    const std::string loaded = modRun::FinishCapture(loader, &listed);
    if (listed && modEncoderGuess::LoadsTheBuildsCodecs(loaded)) {
        answer.listing = guess;
        answer.whole = true;
    } else if (!modRun::TerminationSignal()) {
        answer.listing = modRun::Capture(ffmpeg, {"-hide_banner", "-encoders"}, &answer.whole);
    }
    // A cancel may have cut the listing short.
    answer.whole = answer.whole && !modRun::TerminationSignal();
    return answer;
}

// Why the finished partial file is no conversion of the source; empty when it is one, or when
// ffprobe is not there to tell.
std::string ResultComplaint(const std::string& source, const std::string& partial,
                            const std::string& dest) {
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    if (ffprobe.empty())
        return std::string();
    const bool videoAsked = !modTranslate::ContainerForFile(dest).empty();
    return modResultCheck::Complaint(modResultCheck::Probe(ffprobe, FileUrl(partial)), videoAsked,
                                     modResultCheck::ReadableSeconds(ffprobe, FileUrl(source)));
}

} // namespace

int main(int argc, char** argv) {
    const auto parsed = modLegacyCommand::Parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok)
        return Fail(parsed.error);
    const modLegacyCommand::LegacyRequest& request = parsed.request;

    modRun::InstallTerminationHandlers();
    const std::string ffmpeg = modRun::FindOnPath("ffmpeg");
    if (ffmpeg.empty())
        return Fail("ffmpeg was not found on the PATH; install the ffmpeg package", 127);

    const std::string source = Absolute(request.source);
    const std::string dest = Absolute(request.dest);
    const std::string folder = FolderOf(dest);
    const std::string folderProblem = FolderProblem(folder);
    if (!folderProblem.empty())
        return Fail(folderProblem);
    if (SameFile(source, dest))
        return Fail("the destination '" + request.dest +
                    "' is the source file itself; choose another folder or format");
    if (!request.overwrite && Exists(dest))
        return Fail("File '" + request.dest + "' already exists. Exiting.");
    RemoveDeadPartials(folder);

    const std::string partial = PartialFileFor(dest);
    const auto ffmpegArgs = [&](const modEncoders::EncoderSet& encoders) {
        std::vector<std::string> args = {"-hide_banner", "-nostdin", "-y", "-i", FileUrl(source)};
        for (const std::string& option : modTranslate::Translate(request, encoders))
            args.push_back(option);
        args.push_back(FileUrl(partial));
        return args;
    };
    const auto start = [&](const std::vector<std::string>& args) {
        std::fprintf(stderr, "%s: ffmpeg%s\n", kName, Joined(args).c_str());
        std::fflush(stderr);
        return modRun::Start(ffmpeg, args);
    };

    // Taken before asking: an ffmpeg replaced meanwhile leaves a stamp that no longer fits.
    const std::string cacheFile = modEncoderCache::DefaultCacheFile();
    const std::string stamp = modEncoderCache::StampOf(ffmpeg);
    modEncoders::EncoderSet encoders = modEncoderCache::Cached(cacheFile, stamp);
    modRun::Child conversion;
    std::vector<std::string> started;
    if (encoders.Empty()) {
        // Asking ffmpeg costs a start of ffmpeg with all its libraries. When this is the ffmpeg
        // the program was built beside, the conversion starts at once on the build's answer;
        // meanwhile the loader says which libavcodec ffmpeg loads, a tenth of that cost. The
        // same libavcodec gives the same answer; another one is asked, and the conversion goes
        // on only when today's answer translates the same (checked below).
        const std::string guess = modEncoderGuess::ListingFor(ffmpeg);
        modRun::Child loader;
        if (!guess.empty()) {
            loader = modRun::StartCapture(ffmpeg, {}, modEncoderGuess::kLoaderTrace);
            started = ffmpegArgs(modEncoders::EncoderSet::FromListing(guess));
            conversion = start(started);
        }
        const modEncoderCache::Answer answer = EncoderAnswer(ffmpeg, guess, loader);
        modEncoderCache::Keep(cacheFile, stamp, answer);
        encoders = modEncoders::EncoderSet::FromListing(answer.listing);
    }
    const auto dropStarted = [&] {
        modRun::Abandon(conversion);
        std::remove(partial.c_str());
    };
    if (modRun::TerminationSignal()) {
        if (conversion.Running())
            modRun::Finish(conversion); // it was asked to end with this process
        std::remove(partial.c_str());
        EndLike({0, modRun::TerminationSignal()});
    }
    if (encoders.Empty()) {
        dropStarted();
        return Fail("ffmpeg did not list its encoders");
    }

    const std::vector<std::string> args = ffmpegArgs(encoders);
    if (conversion.Running() && args != started)
        dropStarted(); // the build's answer no longer holds: start over on today's
    if (!conversion.Running())
        conversion = start(args);
    modRun::Outcome outcome = modRun::Finish(conversion);
    const bool succeeded = outcome.signal == 0 && outcome.exitCode == 0;
    const std::string complaint =
        succeeded && !modRun::TerminationSignal() ? ResultComplaint(source, partial, dest) : "";
    if (succeeded && !modRun::TerminationSignal() && complaint.empty() &&
        std::rename(partial.c_str(), dest.c_str()) == 0)
        return 0;
    std::remove(partial.c_str());
    if (modRun::TerminationSignal())
        outcome = {0, modRun::TerminationSignal()};
    else if (!complaint.empty())
        return Fail(complaint);
    else if (succeeded)
        return Fail("could not move the result to '" + request.dest + "'");
    EndLike(outcome);
}
