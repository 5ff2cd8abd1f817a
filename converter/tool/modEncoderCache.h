#pragma once
#include "modEncoders.h"

#include <functional>
#include <string>

// The encoder list of the installed ffmpeg, kept between runs. Asking ffmpeg costs a start of
// ffmpeg on every conversion; the list only changes when ffmpeg or its libraries change.
namespace modEncoderCache {

// The file that holds the list: the program's cache folder ($XDG_CACHE_HOME, else ~/.cache,
// then "Morvane/Vantelo"), "ffmpeg-encoders".
std::string DefaultCacheFile();

// What the list was made for: the ffmpeg binary's path, size and modification time, and the
// same for the system's library index and package database, whose changes can swap the
// libraries ffmpeg loads (libavcodec with or without the extra encoders) under the same binary.
std::string StampOf(const std::string& ffmpeg);

// What ffmpeg answered to "-encoders"; `whole` when it ran to a successful end (not cut short by
// a cancel, for instance), as only such an answer may be kept.
struct Answer {
    std::string listing;
    bool whole = false;
};

// The encoders of `ffmpeg`: from `cacheFile` when it was written for this very ffmpeg and reads
// back whole; otherwise from `query`, stored for the next run when it is whole and lists any.
// A cache that cannot be read or written is simply not used.
modEncoders::EncoderSet Load(const std::string& ffmpeg, const std::string& cacheFile,
                             const std::function<Answer()>& query);

// The two halves of Load, for a caller that asks ffmpeg itself. Cached: the encoders that
// `cacheFile` holds for `stamp` (StampOf, taken before asking), an empty set when it holds none.
// Keep: stores the answer for the next run when it is whole and lists any encoder.
modEncoders::EncoderSet Cached(const std::string& cacheFile, const std::string& stamp);
void Keep(const std::string& cacheFile, const std::string& stamp, const Answer& answer);

} // namespace modEncoderCache
