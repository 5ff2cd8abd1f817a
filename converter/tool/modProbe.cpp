#include "modProbe.h"

#include "modInput.h"
#include "modRun.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

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
    std::vector<std::string> arguments = modInput::ReadAs(demuxer);
    arguments.insert(arguments.begin(), {"-v", "error"});
    arguments.insert(arguments.end(), {"-show_entries", "stream=index,codec_type:format=duration",
                                       "-of", "default=noprint_wrappers=1", modInput::Url(path)});
    bool whole = false;
    const std::string listing = modRun::Capture(ffprobe, arguments, &whole);
    if (!whole)
        return Fail(program, "ffprobe cannot read the file");
    // A stream listed again under its program (MPEG-TS) counts once.
    std::set<std::string> video, audio;
    std::string index, seconds = "0";
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("index=", 0) == 0)
            index = line.substr(6);
        else if (line == "codec_type=video")
            video.insert(index);
        else if (line == "codec_type=audio")
            audio.insert(index);
        else if (line.rfind("duration=", 0) == 0 && line != "duration=N/A")
            seconds = line.substr(9);
    }
    std::printf("video %zu\naudio %zu\nseconds %s\n", video.size(), audio.size(), seconds.c_str());
    return 0;
}

} // namespace modProbe
