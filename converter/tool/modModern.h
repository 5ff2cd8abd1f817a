#pragma once
#include "modEncoders.h"
#include "modLegacyCommand.h"

#include <string>
#include <vector>

// Today's targets: MP4, WebM, MKV and files of sound alone. Their command lines name the muxer
// ("-f mp4") and the codec family ("-vcodec h264"), ask for lines ("-s 720p"), a rate factor or
// a bit rate ("-b RF22", "-b 2500"), and with "-sameq" keep every stream that already fits as it
// is. The plan copies such streams and encodes the others for today's players.
namespace modModern {

// One stream of the source as ffprobe reads it.
struct Stream {
    std::string codec;  // "h264", "aac"...
    std::string pixFmt; // "yuv420p", "yuv420p10le"...
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
};

// The source's first video (not a cover picture) and first audio stream.
struct Source {
    bool read = false;  // ffprobe read it; a source it could not read is encoded whole
    std::string format; // the reader's names, as ffprobe gives them ("matroska,webm")
    bool hasVideo = false;
    bool hasAudio = false;
    Stream video;
    Stream audio;
};

// The hardware encoders a render node offers (VA-API); empty when there are none.
struct Hardware {
    std::string device; // "/dev/dri/renderD128"
    bool h264 = false;
    bool hevc = false;
};

// What becomes of one stream, and why.
struct Decision {
    std::string stream; // "Video" or "Audio"
    bool copy = false;
    std::string reason;
};

struct Plan {
    std::vector<std::string> options; // between the input and the output file
    std::vector<Decision> decisions;
};

// True for a command line of today's targets: its "-f" names one of their muxers.
bool IsModern(const modLegacyCommand::LegacyRequest& request);

// True for a target of sound alone (MP3, M4A, Opus, FLAC): the request names no video codec.
bool HoldsSoundAlone(const modLegacyCommand::LegacyRequest& request);

// The options and the decisions for converting `source` as `request` asks.
Plan PlanFor(const modLegacyCommand::LegacyRequest& request, const Source& source,
             const modEncoders::EncoderSet& encoders, const Hardware& hardware);

// The decisions one a line: "Video: copy (the source's H.264 fits MP4 as it is)".
// The line that says a source with sound alone becomes a result without a picture, where the
// target carries one (every legacy target does); else empty.
std::string SoundOnlyNote(const modLegacyCommand::LegacyRequest& request, const Source& source);

std::string Described(const std::vector<Decision>& decisions);

// The arguments of ffprobe that ReadSource reads, before the file's address.
std::vector<std::string> ProbeArguments();
// The source as ffprobe's answer to ProbeArguments() describes it.
Source ReadSource(const std::string& listing);

} // namespace modModern
