// avformat.dll: Vantelo's converter program. It takes the command line that the converter
// component writes (the option language of an old FFmpeg generation), rewrites it for the
// ffmpeg installed on this system, and runs that ffmpeg, reporting how far it is. The source
// is measured before the run; the result is written to a hidden partial file beside the
// destination, read back, and moved into place only when it holds a conversion of the source
// as it was at the start. An earlier file of the destination's name goes to the Trash first
// (FinishedFile). Partial files of runs that died are removed at the next run.
#include "FinishedFile.h"
#include "ProgressReport.h"
#include "modEncoderCache.h"
#include "modEncoderGuess.h"
#include "modLegacyCommand.h"
#include "modProgress.h"
#include "modResultCheck.h"
#include "modRun.h"
#include "modTranslate.h"

#include <QFile>
#include <QString>

#include <algorithm>
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

// The source as the run found it at its start.
struct SourceAtStart {
    modResultCheck::Facts facts; // what ffprobe read (nothing when there is no ffprobe)
    bool stated = false;
    struct stat status = {};
};

SourceAtStart MeasureSource(const std::string& ffprobe, const std::string& source) {
    SourceAtStart start;
    start.stated = stat(source.c_str(), &start.status) == 0;
    if (!ffprobe.empty())
        start.facts = modResultCheck::Probe(ffprobe, FileUrl(source));
    return start;
}

// Why the source is no longer what the run began with: cut short or replaced meanwhile, so
// that the result would be a conversion of part of it; empty when it is unchanged or grew.
std::string SourceChange(const SourceAtStart& start, const std::string& source) {
    struct stat now;
    if (!start.stated)
        return std::string();
    if (stat(source.c_str(), &now) != 0)
        return "the source was removed during the conversion; nothing was replaced";
    if (now.st_dev != start.status.st_dev || now.st_ino != start.status.st_ino)
        return "the source was replaced during the conversion; nothing was replaced";
    if (now.st_size < start.status.st_size)
        return "the source became shorter during the conversion (" +
               std::to_string(start.status.st_size) + " bytes at the start, " +
               std::to_string(now.st_size) + " now); nothing was replaced";
    return std::string();
}

// Why the finished partial file is no conversion of the source; empty when it is one, or when
// ffprobe is not there to tell. The source's length is the one measured at the start; when the
// result falls short of it, the media that can be read from the (unchanged) source decides, as
// a download cut short keeps its whole length in its header.
std::string ResultComplaint(const std::string& ffprobe, const SourceAtStart& start,
                            const std::string& source, const std::string& partial,
                            bool videoAsked) {
    if (ffprobe.empty())
        return std::string();
    const modResultCheck::Facts result = modResultCheck::Probe(ffprobe, FileUrl(partial));
    double sourceSeconds = start.facts.seconds;
    if (result.read && (sourceSeconds <= 0 || modResultCheck::TooShort(result, sourceSeconds)))
        sourceSeconds = modResultCheck::ReadableSeconds(ffprobe, FileUrl(source));
    return modResultCheck::Complaint(result, videoAsked, sourceSeconds);
}

// A source with sound and no picture.
bool AudioOnly(const modResultCheck::Facts& source) {
    return source.read && source.hasAudio && !source.hasVideo;
}

// Whether the muxer that ffmpeg is told to use (its "-f") can write a file of sound alone; the
// PSP's refuses one without a video stream.
bool HoldsAudioAlone(const std::vector<std::string>& args) {
    const auto format = std::find(args.begin(), args.end(), "-f");
    return format == args.end() || format + 1 == args.end() || format[1] != "psp";
}

// Writes the progress line for one of ffmpeg's progress lines that says how far it is.
void ReportProgress(const std::string& ffmpegLine, double totalSeconds) {
    const double done = modProgress::OutTimeSeconds(ffmpegLine);
    if (done < 0 || totalSeconds <= 0)
        return;
    std::fprintf(stderr, "%s\n", modProgress::ReportLine(done, totalSeconds).c_str());
    std::fflush(stderr);
}

// Moves the finished result into place unless this process was asked to end; an earlier file
// under the name goes to the Trash first, or stays where there is none, and the result takes a
// free name beside it.
bool PlaceResult(const std::string& partial, const std::string& dest) {
    FinishedFile::Placed placed;
    const bool ran = modRun::UnlessTerminated([&] {
        placed = FinishedFile::IntoPlace(QFile::decodeName(partial.c_str()),
                                         QFile::decodeName(dest.c_str()));
        return true;
    });
    if (!ran || placed.path.isEmpty())
        return false;
    if (placed.path != QFile::decodeName(dest.c_str()))
        std::fprintf(stderr, "%s%s\n", ProgressReport::kSavedAsPrefix,
                     QFile::encodeName(placed.path).constData());
    return true;
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

    // Measured before the run: its length is what progress and the result are held against,
    // and a source with sound alone is converted to sound alone, or refused now.
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    const SourceAtStart sourceAtStart = MeasureSource(ffprobe, source);
    const bool audioOnly = AudioOnly(sourceAtStart.facts);
    const std::string partial = PartialFileFor(dest);
    const auto ffmpegArgs = [&](const modEncoders::EncoderSet& encoders) {
        return modTranslate::CommandLine(request, encoders, FileUrl(source), FileUrl(partial),
                                         audioOnly, true);
    };
    const auto refused = [&](const std::vector<std::string>& args) {
        return audioOnly && !HoldsAudioAlone(args);
    };
    const auto start = [&](const std::vector<std::string>& args) {
        std::fprintf(stderr, "%s: ffmpeg%s\n", kName, Joined(args).c_str());
        std::fflush(stderr);
        return modRun::StartReporting(ffmpeg, args);
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
            if (!refused(started))
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
        if (conversion.Running()) // it was asked to end with this process
            modRun::FinishReading(conversion, [](const std::string&) {});
        std::remove(partial.c_str());
        EndLike({0, modRun::TerminationSignal()});
    }
    if (encoders.Empty()) {
        dropStarted();
        return Fail("ffmpeg did not list its encoders");
    }

    const std::vector<std::string> args = ffmpegArgs(encoders);
    if (refused(args))
        return Fail("the source has no video, and this format cannot hold sound alone");
    if (conversion.Running() && args != started)
        dropStarted(); // the build's answer no longer holds: start over on today's
    if (!conversion.Running())
        conversion = start(args);
    const double totalSeconds = sourceAtStart.facts.seconds;
    modRun::Outcome outcome = modRun::FinishReading(
        conversion, [&](const std::string& line) { ReportProgress(line, totalSeconds); });
    const bool succeeded = outcome.signal == 0 && outcome.exitCode == 0;
    const bool videoAsked = !audioOnly && !modTranslate::ContainerForFile(dest).empty();
    std::string complaint;
    if (succeeded && !modRun::TerminationSignal()) {
        complaint = SourceChange(sourceAtStart, source);
        if (complaint.empty())
            complaint = ResultComplaint(ffprobe, sourceAtStart, source, partial, videoAsked);
    }
    if (succeeded && !modRun::TerminationSignal() && complaint.empty() &&
        PlaceResult(partial, dest))
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
