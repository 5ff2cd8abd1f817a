#include "modEncoderGuess.h"

#include "EncoderGuess.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

namespace modEncoderGuess {

namespace {
// The file a path names in the end (/bin/ffmpeg is /usr/bin/ffmpeg on most systems).
std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}
} // namespace

std::string ListingFor(const std::string& ffmpeg) {
    struct stat info;
    const std::string file = RealPath(ffmpeg);
    if (file.empty() || file != RealPath(EncoderGuess::kFfmpeg) || stat(file.c_str(), &info) != 0 ||
        info.st_size != EncoderGuess::kFfmpegSize ||
        info.st_mtim.tv_sec != EncoderGuess::kFfmpegModified)
        return std::string();
    return EncoderGuess::kListing;
}

} // namespace modEncoderGuess
