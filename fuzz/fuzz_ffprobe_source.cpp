// ffprobe's description of a source, as a damaged or hostile media file might make it, read and
// planned for each of today's targets. Whatever it says, every stream gets one decision with a
// reason, the decisions are one line each, a copied stream is copied in the options, and the
// options name the muxer asked for. The last bytes of the input choose the target, the encoders
// ffmpeg has and whether a render node offers VA-API.
#include "modModern.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

// The converter's command lines for today's targets, as the dialog writes them.
const char* const kTargets[][2] = {
    {"mp4", "-vcodec h264 -b RF22 -acodec aac -ab 160 -sameq"},
    {"mp4", "-vcodec hevc -b RF24 -acodec aac -ab 160 -sameq -s 720p -r 29.97"},
    {"webm", "-vcodec vp9 -b 2500 -acodec opus -ab 128 -sameq -ar 48000 -ac 2"},
    {"webm", "-vcodec av1 -b RF35 -acodec opus -ab 128"},
    {"matroska", "-vcodec copy -acodec copy"},
    {"mp3", "-acodec mp3 -ab 192 -ar 44100 -sameq"},
    {"ipod", "-acodec aac -ab 160 -sameq -ac 1"},
    {"opus", "-acodec opus -ab 96 -sameq"},
    {"flac", "-acodec flac -sameq"},
};

modLegacyCommand::LegacyRequest RequestFor(const char* muxer, const char* line) {
    std::vector<std::string> args{"-i", "in", "-f", muxer};
    std::string words = line;
    for (size_t start = 0; start < words.size();) {
        const size_t space = std::min(words.find(' ', start), words.size());
        args.push_back(words.substr(start, space - start));
        start = space + 1;
    }
    args.push_back("out");
    const auto parsed = modLegacyCommand::Parse(args);
    Require(parsed.ok && modModern::IsModern(parsed.request), "the target's line is today's");
    return parsed.request;
}

bool Holds(const std::vector<std::string>& options, const std::string& option,
           const std::string& value) {
    for (size_t i = 0; i + 1 < options.size(); ++i)
        if (options[i] == option && options[i + 1] == value)
            return true;
    return false;
}

void CheckPlan(const modModern::Plan& plan, const modModern::Source& source,
               const std::string& muxer) {
    Require(Holds(plan.options, "-f", muxer), "the options name the muxer asked for");
    for (const std::string& option : plan.options)
        Require(!option.empty(), "no option is empty");
    Require(plan.decisions.size() <= 2, "a decision per stream at most");
    for (const modModern::Decision& decision : plan.decisions) {
        Require(decision.stream == "Video" || decision.stream == "Audio", "a stream is named");
        Require(!decision.reason.empty(), "every decision says why");
        const std::string codec = decision.stream == "Video" ? "-c:v" : "-c:a";
        if (decision.copy)
            Require(Holds(plan.options, codec, "copy") || Holds(plan.options, "-c", "copy"),
                    "a stream said to be copied is copied");
        else
            Require(!Holds(plan.options, codec, "copy"), "a stream said to be encoded is encoded");
    }
    const std::string described = modModern::Described(plan.decisions);
    Require(size_t(std::count(described.begin(), described.end(), '\n')) == plan.decisions.size(),
            "one line per decision");
    if (source.read && !source.hasVideo && !source.hasAudio)
        Require(plan.decisions.empty(), "no decision for a stream that is not there");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::vector<modLegacyCommand::LegacyRequest> requests = [] {
        std::vector<modLegacyCommand::LegacyRequest> made;
        for (const auto& target : kTargets)
            made.push_back(RequestFor(target[0], target[1]));
        return made;
    }();
    FuzzedDataProvider input(data, size);
    const size_t target = input.ConsumeIntegralInRange<size_t>(0, requests.size() - 1);
    modEncoders::EncoderSet encoders;
    if (input.ConsumeBool())
        for (const char* name : {"libx264", "libx265", "libvpx-vp9", "libsvtav1", "aac", "libopus",
                                 "libmp3lame", "flac"})
            encoders.Add(name, 'V', name);
    modModern::Hardware hardware;
    if (input.ConsumeBool())
        hardware = {"/dev/dri/renderD128", true, true};
    const modModern::Source source = modModern::ReadSource(input.ConsumeRemainingBytesAsString());
    Require(source.read || (!source.hasVideo && !source.hasAudio),
            "streams come only from an answer that was read");
    CheckPlan(modModern::PlanFor(requests[target], source, encoders, hardware), source,
              kTargets[target][0]);
    return 0;
}
