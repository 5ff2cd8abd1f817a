#include "modEncoderGuess.h"

#include "EncoderGuess.h"

#include <climits>
#include <cstdlib>
#include <sstream>
#include <sys/stat.h>

namespace modEncoderGuess {

namespace {

// The file a path names in the end (/bin/ffmpeg is /usr/bin/ffmpeg on most systems).
std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

bool SameFile(const std::string& path, const char* recorded, long long size, long long modified) {
    struct stat info;
    const std::string file = RealPath(path);
    return !file.empty() && file == recorded && stat(file.c_str(), &info) == 0 &&
           info.st_size == size && info.st_mtim.tv_sec == modified;
}

} // namespace

std::string ListingFor(const std::string& ffmpeg) {
    if (!SameFile(ffmpeg, EncoderGuess::kFfmpeg, EncoderGuess::kFfmpegSize,
                  EncoderGuess::kFfmpegModified))
        return std::string();
    return EncoderGuess::kListing;
}

bool LoadsTheBuildsCodecs(const std::string& loaderList) {
    // Lines like "	libavcodec.so.59 => /lib/x86_64-linux-gnu/libavcodec.so.59 (0x7f...)".
    std::istringstream lines(loaderList);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string soname, arrow, path;
        words >> soname >> arrow >> path;
        if (soname.rfind("libavcodec.so", 0) == 0 && arrow == "=>")
            return SameFile(path, EncoderGuess::kCodecs, EncoderGuess::kCodecsSize,
                            EncoderGuess::kCodecsModified);
    }
    return false;
}

} // namespace modEncoderGuess
