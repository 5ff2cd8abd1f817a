#include "modProbe.h"

#include "modInput.h"
#include "modResultCheck.h"
#include "modRun.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace modProbe {

namespace {

int Fail(const char* program, const std::string& message) {
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
    return 1;
}

} // namespace

bool IsProbeCall(int argc, char** argv) {
    return argc > 1 && std::strcmp(argv[1], "--probe") == 0;
}

int Run(const char* program, int argc, char** argv) {
    if (argc != 3)
        return Fail(program, "usage: --probe FILE");
    const std::string path = argv[2];
    struct stat info;
    if (path.empty() || path[0] != '/' || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return Fail(program, "'" + path + "' is no file named by a full path");
    const std::string ffprobe = modRun::FindOnPath("ffprobe");
    if (ffprobe.empty())
        return Fail(program, "ffprobe was not found on the PATH; install the ffmpeg package");
    // Only this file is read, as the container its first bytes show: a playlist or a list in
    // its place opens nothing else.
    const std::string demuxer = modInput::DemuxerOf(modInput::HeadOf(path));
    if (demuxer.empty())
        return Fail(program, "'" + path + "' is not in a container that streams are kept in");
    const modResultCheck::Facts facts =
        modResultCheck::Probe(ffprobe, modInput::Url(path), modInput::ReadAs(demuxer));
    if (!facts.read)
        return Fail(program, "ffprobe cannot read the file");
    std::printf("video %d\naudio %d\nseconds %.3f\n", facts.videoStreams, facts.audioStreams,
                facts.seconds);
    return 0;
}

} // namespace modProbe
