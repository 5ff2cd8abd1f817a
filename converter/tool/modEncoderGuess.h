#pragma once
#include <string>

// What the ffmpeg that the program was built beside answered to "-encoders" when the build was
// configured. When the ffmpeg found at run time is that very file, its answer today is almost
// surely the same: a first conversion can start on it while the real answer is on its way.
namespace modEncoderGuess {

// The build's listing when `ffmpeg` is the file the build asked (same path, size and
// modification time); empty otherwise.
std::string ListingFor(const std::string& ffmpeg);

} // namespace modEncoderGuess
