#pragma once
#include <map>
#include <string>

// The encoders that the installed ffmpeg offers, read from "ffmpeg -hide_banner -encoders".
namespace modEncoders {

struct Encoder {
    char kind = '?';   // 'V' video, 'A' audio, 'S' subtitle
    std::string codec; // the format it writes: "mpeg4" for libxvid, "mp3" for libmp3lame
};

class EncoderSet {
public:
    EncoderSet() = default;
    // Parses the listing; lines before the "------" separator are its legend.
    static EncoderSet FromListing(const std::string& listing);

    void Add(const std::string& name, char kind, const std::string& codec);
    bool Has(const std::string& name) const { return encoders_.count(name) != 0; }
    // The codec an encoder writes; an unknown name is taken as a codec of that name.
    std::string CodecOf(const std::string& name) const;
    bool Empty() const { return encoders_.empty(); }

private:
    std::map<std::string, Encoder> encoders_;
};

} // namespace modEncoders
