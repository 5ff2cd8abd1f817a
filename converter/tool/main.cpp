// avformat.dll: Vantelo's converter program. It takes the command line that the converter
// component writes (the option language of an old FFmpeg generation), rewrites it for the
// ffmpeg installed on this system, and runs that ffmpeg. The result is written to a hidden
// temporary file beside the destination and moved into place only when ffmpeg succeeds.
#include "modEncoderCache.h"
#include "modEncoderGuess.h"
#include "modLegacyCommand.h"
#include "modRun.h"
#include "modTranslate.h"

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char* const kName = "avformat.dll";

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

// ".~<pid>~name.ext" beside the destination: hidden, unique to this run, and with the
// destination's extension so that nothing about the output format changes.
std::string TemporaryBeside(const std::string& dest) {
    const size_t slash = dest.find_last_of('/');
    const std::string folder = dest.substr(0, slash + 1);
    const std::string name = dest.substr(slash + 1);
    return folder + ".~" + std::to_string(getpid()) + "~" + name;
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

    const std::string dest = Absolute(request.dest);
    if (!request.overwrite && Exists(dest))
        return Fail("File '" + request.dest + "' already exists. Exiting.");

    const std::string temporary = TemporaryBeside(dest);
    const auto ffmpegArgs = [&](const modEncoders::EncoderSet& encoders) {
        std::vector<std::string> args = {"-hide_banner", "-nostdin", "-y", "-i",
                                         FileUrl(Absolute(request.source))};
        for (const std::string& option : modTranslate::Translate(request, encoders))
            args.push_back(option);
        args.push_back(FileUrl(temporary));
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
        std::remove(temporary.c_str());
    };
    if (modRun::TerminationSignal()) {
        if (conversion.Running())
            modRun::Finish(conversion); // it was asked to end with this process
        std::remove(temporary.c_str());
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
    if (succeeded && !modRun::TerminationSignal() &&
        std::rename(temporary.c_str(), dest.c_str()) == 0)
        return 0;
    std::remove(temporary.c_str());
    if (modRun::TerminationSignal())
        outcome = {0, modRun::TerminationSignal()};
    else if (succeeded)
        return Fail("could not move the result to '" + request.dest + "'");
    EndLike(outcome);
}
