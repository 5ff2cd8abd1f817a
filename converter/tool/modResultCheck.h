#pragma once
#include "modInput.h"

#include <string>
#include <vector>

// Reading a finished conversion back with ffprobe, so that a run that produced nothing useful
// (a damaged source) is not taken for a success.
namespace modResultCheck {

struct Facts {
    bool read = false;     // ffprobe could read the file
    bool hasVideo = false; // it holds a video stream
    bool hasAudio = false; // it holds an audio stream
    int videoStreams = 0;  // how many video streams it holds, each counted once
    int audioStreams = 0;  // how many audio streams
    double seconds = 0;    // its duration
    std::string format;    // the reader's names ("mov,mp4,m4a,3gp,3g2,mj2", "hls")
};

// What ffprobe finds in a media file, given as an ffmpeg URL ("file:/path") with the options
// that say how to open it (modInput).
Facts Probe(const std::string& ffprobe, const std::string& url,
            const std::vector<std::string>& inputOptions = modInput::FileOnly());

// The seconds of media that can be read from a file: from the first packet's time to the end of
// the last one. 0 when nothing can be read.
double ReadableSeconds(const std::string& ffprobe, const std::string& url,
                       const std::vector<std::string>& inputOptions = modInput::FileOnly());

// True when the result lost most of a source of `sourceSeconds`.
bool TooShort(const Facts& result, double sourceSeconds);

// Why the result is no conversion of the source; empty when it is one. A result far shorter
// than what could be read of the source, or without video when video was asked for, fails.
std::string Complaint(const Facts& result, bool videoAsked, double sourceSeconds);

} // namespace modResultCheck
