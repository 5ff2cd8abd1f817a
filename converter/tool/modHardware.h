#pragma once
#include "modEncoders.h"
#include "modModern.h"

#include <functional>
#include <string>
#include <vector>

// Hardware video encoding (VA-API): which of its H.264 and H.265 encoders a render node of this
// machine runs. Asked once and kept beside the encoder list, as the answer only changes with
// ffmpeg, its libraries or the machine's render nodes.
namespace modHardware {

// How the machine is asked; tests put their own answers here.
struct Probe {
    std::function<std::vector<std::string>()> renderNodes; // "/dev/dri/renderD128"...
    // Whether `encoder` encodes a frame on `node`.
    std::function<bool(const std::string& encoder, const std::string& node)> encodes;
};

// The cache file beside the encoder list's ("vaapi-encoders").
std::string CacheFileBeside(const std::string& encoderCacheFile);

// The hardware encoders to use: none without a render node or without ffmpeg's VA-API
// encoders; else what `cacheFile` holds for `stamp` and these nodes, or what `probe` finds,
// which is then kept there.
modModern::Hardware Detect(const modEncoders::EncoderSet& encoders, const std::string& cacheFile,
                           const std::string& stamp, const Probe& probe);

} // namespace modHardware
