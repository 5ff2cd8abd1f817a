// The join's ffmpeg command line, built from pieces as a hostile page might make them: any first
// bytes, any names. A piece is read only as the container its bytes name, never as a text ffmpeg
// would guess to be a playlist; every input is read with that demuxer alone over the file
// protocol alone; and nothing but an input's own path and the output becomes a "file:" address.
#include "modInput.h"
#include "modJoinCommand.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <set>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

const std::set<std::string> kDemuxers = {"mpegts", "mov", "matroska", "ogg", "flv",
                                         "flac",   "wav", "mp3",      "aac"};

const std::string kOutputUrl = "file:/out/.~avformat-1-AbCdEf/partial.mp4";

// The demuxer the join names for a piece beginning with `head`; empty when it refuses it.
std::string Judged(const std::string& head) {
    const std::string demuxer = modInput::DemuxerOf(head);
    Require(demuxer.empty() || kDemuxers.count(demuxer), "only a known demuxer is named");
    // The texts ffmpeg reads as lists of other files are never taken for media.
    if (head.rfind("#EXTM3U", 0) == 0 || head.rfind("ffconcat version", 0) == 0)
        Require(modInput::IsListText(head), "a playlist is known as one");
    if (modInput::IsListText(head))
        Require(demuxer.empty(), "a playlist is refused");
    return demuxer;
}

void CheckCommandLine(const std::vector<std::string>& args,
                      const std::vector<modJoinCommand::Input>& inputs, const std::string& muxer) {
    size_t seen = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-i") {
            Require(seen < inputs.size() && i >= 6 && i + 1 < args.size(), "one -i per input");
            const modJoinCommand::Input& input = inputs[seen++];
            const std::vector<std::string> before = {
                "-f",   input.demuxer,       "-protocol_whitelist",
                "file", "-format_whitelist", input.demuxer};
            Require(std::equal(before.begin(), before.end(), args.begin() + (i - 6)),
                    "each input is read with its demuxer alone, over the file protocol alone");
            Require(args[i + 1] == "file:" + input.path, "the input is its own path");
            ++i;
            continue;
        }
        if (args[i].rfind("file:", 0) == 0)
            Require(i + 1 == args.size() && args[i] == kOutputUrl,
                    "no other argument is a file address");
    }
    Require(seen == inputs.size(), "every input is given");
    Require(args.size() >= 3 && args.back() == kOutputUrl && args[args.size() - 2] == muxer &&
                args[args.size() - 3] == "-f",
            "the output comes last, with its muxer");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string output = "/out/" + input.ConsumeRandomLengthString(64);
    const size_t count = input.ConsumeIntegralInRange<size_t>(1, 4);
    std::vector<modJoinCommand::Input> inputs;
    bool refused = false;
    for (size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
        const std::string path = "/" + input.ConsumeRandomLengthString(128);
        const std::string demuxer = Judged(input.ConsumeRandomLengthString(1024));
        refused = refused || demuxer.empty();
        inputs.push_back({path, demuxer});
    }
    const std::string muxer = modJoinCommand::MuxerForFile(output);
    if (refused || inputs.empty() || muxer.empty())
        return 0; // the join stops before any command line
    CheckCommandLine(
        modJoinCommand::CommandLine(inputs, kOutputUrl, muxer, modJoinCommand::IsSoundFile(output)),
        inputs, muxer);
    return 0;
}
