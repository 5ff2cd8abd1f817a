// The converter program's command line as any caller might write it, through the parser of the
// old option language and every translation rule, against an ffmpeg that has all, some or none
// of the encoders the rules look for. The arguments are NUL-separated in the input.
#include "modLegacyCommand.h"
#include "modTranslate.h"

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

// Encoders the rules choose between; each is present or not as the input says.
const char* const kEncoders[] = {
    "libxvid",    "mpeg4",          "libx264",    "libtheora", "wmv2",
    "mpeg1video", "msmpeg4v2",      "h263",       "mjpeg",     "zlib",
    "svq1",       "msvideo1",       "libmp3lame", "libshine",  "libopencore_amrnb",
    "aac",        "libvo_amrwbenc", "libvorbis",  "vorbis",    "mp2",
    "ac3",        "rv10",           "rv20",       "wmav2"};

modEncoders::EncoderSet EncodersFrom(FuzzedDataProvider& input) {
    modEncoders::EncoderSet encoders;
    for (const char* name : kEncoders)
        if (input.ConsumeBool())
            encoders.Add(name, 'V', name);
    return encoders;
}

std::vector<std::string> ArgumentsFrom(const std::string& text) {
    std::vector<std::string> args;
    size_t start = 0;
    for (size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', start)) {
        args.push_back(text.substr(start, nul - start));
        start = nul + 1;
    }
    args.push_back(text.substr(start));
    return args;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const modEncoders::EncoderSet encoders = EncodersFrom(input);
    const auto parsed =
        modLegacyCommand::Parse(ArgumentsFrom(input.ConsumeRemainingBytesAsString()));
    Require(parsed.ok != !parsed.error.empty(), "a refusal says why, a success says nothing");
    if (!parsed.ok)
        return 0;
    const std::vector<std::string> args = modTranslate::Translate(parsed.request, encoders);
    Require(args.size() % 2 == 0, "every translated option has its value");
    for (size_t i = 0; i < args.size(); i += 2)
        Require(args[i].size() > 1 && args[i][0] == '-', "options and values alternate");
    return 0;
}
