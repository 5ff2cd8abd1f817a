#include "modProbe.h"

#include "modRun.h"

#include <cstdio>
#include <cstring>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace modProbe {

namespace {

// The demuxers of the containers a download is kept in.
const char* const kContainers = "mov,mp4,m4a,3gp,3g2,mj2,mpegts,matroska,webm,aac,mp3,ac3,eac3,"
                                "ogg,flac,wav,flv";

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
    // Only this file is read, as one of the containers a download comes in: a playlist or a
    // list inside it opens nothing else.
    bool whole = false;
    const std::string listing =
        modRun::Capture(ffprobe,
                        {"-v", "error", "-protocol_whitelist", "file", "-format_whitelist",
                         kContainers, "-show_entries", "stream=index,codec_type:format=duration",
                         "-of", "default=noprint_wrappers=1", "file:" + path},
                        &whole);
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
