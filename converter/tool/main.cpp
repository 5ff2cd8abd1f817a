// avformat.dll: Vantelo's converter program. It takes the command line that the converter
// component writes (the option language of an old FFmpeg generation), rewrites it for the
// ffmpeg installed on this system, and runs that ffmpeg, reporting how far it is. The source
// is measured before the run; the result is written to a partial file in a hidden folder of the
// run's own beside the destination (modPartialFile), read back, and moved into place only when
// it holds a conversion of the source as it was at the start. An earlier file of the
// destination's name goes to the Trash first (FinishedFile). Folders of runs that died are
// removed at the next run.
#include "FinishedFile.h"
#include "modEncoderCache.h"
#include "modEncoderGuess.h"
#include "modInput.h"
#include "modJoin.h"
#include "modLegacyCommand.h"
#include "modPartialFile.h"
#include "modProbe.h"
#include "modProgress.h"
#include "modReport.h"
#include "modResultCheck.h"
#include "modRun.h"
#include "modTargets.h"
#include "modTranslate.h"

#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kName = "avformat.dll";
const std::string kDownloadSuffix = ".part"; // the fetcher's file of a download not yet whole
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

// The destination's extension, so that nothing about the output changes; none when it is
// too long to be one.
std::string ExtensionOf(const std::string& dest) {
    const std::string name = dest.substr(dest.find_last_of('/') + 1);
    const size_t dot = name.find_last_of('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    return extension.size() > kLongestKeptExtension ? std::string() : extension;
}

// Why the output folder as given is refused: a relative one would land wherever this program
// happens to run. Empty when it is a full path.
std::string RelativeFolderProblem(const std::string& dest) {
    if (!dest.empty() && dest[0] == '/')
        return std::string();
    const size_t slash = dest.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : dest.substr(0, slash);
    return "the output folder '" + folder + "' is not a full path starting with '/'";
}

// A playlist or concat script would have ffmpeg open the files it names, any file of the user's
// among them.
std::string ListOfFilesProblem(const std::string& given) {
    return "the source '" + given +
           "' is a playlist that names other files, not a media file; choose a media file";
}

// Why the source cannot be converted; empty when it can be tried. A download not yet whole
// would convert to part of the video; a pipe or device would be read dry by the measuring
// before ffmpeg sees it, or never end; a playlist would have it open what it names. A missing
// source is left to ffmpeg to name.
std::string SourceProblem(const std::string& given, const std::string& source) {
    if (source.size() >= kDownloadSuffix.size() &&
        source.compare(source.size() - kDownloadSuffix.size(), std::string::npos,
                       kDownloadSuffix) == 0)
        return "the source '" + given +
               "' is an incomplete download; convert it once the download has finished";
    struct stat info;
    if (stat(source.c_str(), &info) == 0 && !S_ISREG(info.st_mode))
        return "the source '" + given + "' is not a regular file; choose a media file";
    if (modInput::IsListText(modInput::HeadOf(source)))
        return ListOfFilesProblem(given);
    return std::string();
}

// Why the partial file is no longer the one this run made and ffmpeg wrote: its folder, or the
// whole output folder, removed or renamed meanwhile, or the file swapped for another or a link.
// Empty when it is that file.
std::string PartialChange(const modPartialFile::Partial& partial, const std::string& folder) {
    if (modPartialFile::StillTheFile(partial.fd, partial.path))
        return std::string();
    if (!FolderProblem(folder).empty())
        return "the output folder '" + folder +
               "' was removed or renamed during the conversion; nothing was saved";
    const bool removed = !FinishedFile::Exists(QFile::decodeName(partial.path.c_str()));
    return "the partial result '" + partial.path + (removed ? "' was removed" : "' was replaced") +
           " during the conversion; nothing was replaced";
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
        start.facts = modResultCheck::Probe(ffprobe, modInput::Url(source));
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
    const modResultCheck::Facts result = modResultCheck::Probe(ffprobe, modInput::Url(partial));
    double sourceSeconds = start.facts.seconds;
    if (result.read && (sourceSeconds <= 0 || modResultCheck::TooShort(result, sourceSeconds)))
        sourceSeconds = modResultCheck::ReadableSeconds(ffprobe, modInput::Url(source));
    return modResultCheck::Complaint(result, videoAsked, sourceSeconds);
}

// A source with sound and no picture.
bool AudioOnly(const modResultCheck::Facts& source) {
    return source.read && source.hasAudio && !source.hasVideo;
}

// A source with a picture and no sound.
bool VideoOnly(const modResultCheck::Facts& source) {
    return source.read && source.hasVideo && !source.hasAudio;
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
    // A damaged source can claim any length: only a finite one is reported against.
    if (done < 0 || !(totalSeconds > 0) || !std::isfinite(totalSeconds))
        return;
    modReport::Progress(modProgress::ReportLine(done, totalSeconds));
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
        modReport::SavedAs(QFile::encodeName(placed.path).toStdString());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (modTargets::IsPlanCall(argc, argv))
        return modTargets::PrintPlan(argc, argv);
    if (modJoin::IsJoinCall(argc, argv))
        return modJoin::Run(kName, std::vector<std::string>(argv + 2, argv + argc));
    if (modProbe::IsProbeCall(argc, argv))
        return modProbe::Run(kName, argc, argv);
    const auto parsed = modLegacyCommand::Parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok)
        return Fail(parsed.error);
    const modLegacyCommand::LegacyRequest& request = parsed.request;

    modRun::InstallTerminationHandlers(modPartialFile::DiscardAtForcedEnd);
    modReport::Open();
    const std::string ffmpeg = modRun::FindOnPath("ffmpeg");
    if (ffmpeg.empty())
        return Fail("ffmpeg was not found on the PATH; install the ffmpeg package", 127);

    if (const std::string problem = RelativeFolderProblem(request.dest); !problem.empty())
        return Fail(problem);
    const std::string source = Absolute(request.source);
    const std::string dest = request.dest;
    const std::string folder = FolderOf(dest);
    const std::string folderProblem = FolderProblem(folder);
    if (!folderProblem.empty())
        return Fail(folderProblem);
    if (const std::string problem = SourceProblem(request.source, source); !problem.empty())
        return Fail(problem);
    if (SameFile(source, dest))
        return Fail("the destination '" + request.dest +
                    "' is the source file itself; choose another folder or format");
    if (!request.overwrite && Exists(dest))
        return Fail("File '" + request.dest + "' already exists. Exiting.");
    modPartialFile::RemoveDeadRuns(folder, kName);
    modPartialFile::Partial partial = modPartialFile::Make(folder, ExtensionOf(dest));
    if (!partial.Made())
        return Fail("the output folder '" + folder + "' cannot be written to");

    // Measured before the run: its length is what progress and the result are held against,
    // and a source with sound alone is converted to sound alone, or refused now.
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    const SourceAtStart sourceAtStart = MeasureSource(ffprobe, source);
    if (modInput::IsListOfFiles(sourceAtStart.facts.format)) {
        modPartialFile::Discard(partial);
        return Fail(ListOfFilesProblem(request.source));
    }
    if (VideoOnly(sourceAtStart.facts) && modModern::HoldsSoundAlone(request)) {
        modPartialFile::Discard(partial);
        return Fail("the source has no sound, and this format holds sound alone");
    }
    const bool audioOnly = AudioOnly(sourceAtStart.facts);
    const modModern::Source streams =
        modTargets::ReadSource(ffprobe, modInput::Url(source), request);
    const auto ffmpegArgs = [&](const modEncoders::EncoderSet& encoders) {
        return modTranslate::CommandLine(modTargets::Options(request, encoders, streams, ffmpeg),
                                         modInput::Url(source), modInput::Url(partial.path),
                                         audioOnly, true, sourceAtStart.facts.format);
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
    if (modRun::TerminationSignal()) {
        if (conversion.Running()) // it was asked to end with this process
            modRun::FinishReading(conversion, [](const std::string&) {});
        modPartialFile::Discard(partial);
        EndLike({0, modRun::TerminationSignal()});
    }
    if (encoders.Empty()) {
        modRun::Abandon(conversion);
        modPartialFile::Discard(partial);
        return Fail("ffmpeg did not list its encoders");
    }

    const std::vector<std::string> args = ffmpegArgs(encoders);
    if (refused(args)) {
        modPartialFile::Discard(partial);
        return Fail("the source has no video, and this format cannot hold sound alone");
    }
    if (conversion.Running() && args != started)
        modRun::Abandon(conversion); // the build's answer no longer holds: start over on today's
    if (!conversion.Running())
        conversion = start(args);
    const double totalSeconds = sourceAtStart.facts.seconds;
    modRun::Outcome outcome = modRun::FinishReading(
        conversion, [&](const std::string& line) { ReportProgress(line, totalSeconds); });
    const bool succeeded = outcome.signal == 0 && outcome.exitCode == 0;
    const bool videoAsked = !audioOnly && !modTranslate::ContainerForFile(dest).empty();
    std::string complaint;
    if (!modRun::TerminationSignal()) {
        // ffmpeg fails to write into a folder that went away: that is the reason to name.
        complaint = succeeded ? SourceChange(sourceAtStart, source) : std::string();
        if (complaint.empty() && (succeeded || !FolderProblem(folder).empty()))
            complaint = PartialChange(partial, folder);
        if (succeeded && complaint.empty())
            complaint = ResultComplaint(ffprobe, sourceAtStart, source, partial.path, videoAsked);
    }
    const bool placed = succeeded && !modRun::TerminationSignal() && complaint.empty() &&
                        PlaceResult(partial.path, dest);
    modPartialFile::Discard(partial);
    if (placed)
        return 0;
    if (modRun::TerminationSignal())
        outcome = {0, modRun::TerminationSignal()};
    else if (!complaint.empty())
        return Fail(complaint);
    else if (succeeded)
        return Fail("could not move the result to '" + request.dest + "'");
    EndLike(outcome);
}
