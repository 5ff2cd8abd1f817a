#pragma once
#include <string>

// What the ffmpeg that the program was built beside answered to "-encoders" when the build was
// configured. The list comes from the libavcodec that ffmpeg loads; while the ffmpeg found at
// run time is that very file and loads that very libavcodec, the answer is the same, and a
// first conversion need not wait for ffmpeg to be asked.
namespace modEncoderGuess {

// The build's listing when `ffmpeg` is the file the build asked (same file, size and
// modification time); empty otherwise.
std::string ListingFor(const std::string& ffmpeg);

// The environment setting that makes the dynamic loader list what a program would load (and
// then end, without running it).
inline constexpr const char* kLoaderTrace = "LD_TRACE_LOADED_OBJECTS=1";

// True when the loader's list for ffmpeg (run with kLoaderTrace) names the libavcodec the
// build's ffmpeg loaded: the same file, size and modification time.
bool LoadsTheBuildsCodecs(const std::string& loaderList);

} // namespace modEncoderGuess
