#include "modResultCheck.h"

#include "modRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace modResultCheck {

namespace {

// A result shorter than this share of the source, and more than kSlackSeconds short of it,
// lost most of what was there.
constexpr double kShortestShare = 0.5;
constexpr double kSlackSeconds = 1.0;

std::string Seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

} // namespace

Facts Probe(const std::string& ffprobe, const std::string& url,
            const std::vector<std::string>& inputOptions) {
    Facts facts;
    bool whole = false;
    std::vector<std::string> args = inputOptions;
    args.insert(args.end(), {"-v", "error", "-show_entries",
                             "stream=index,codec_type:format=duration,format_name", "-of",
                             "default=noprint_wrappers=1", url});
    const std::string listing = modRun::Capture(ffprobe, args, &whole);
    facts.read = whole;
    // A stream listed again under its program (MPEG-TS) counts once.
    std::set<std::string> video, audio;
    std::string index;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("index=", 0) == 0)
            index = line.substr(6);
        else if (line == "codec_type=video")
            video.insert(index);
        else if (line == "codec_type=audio")
            audio.insert(index);
        else if (line.rfind("duration=", 0) == 0)
            facts.seconds = std::atof(line.c_str() + 9);
        else if (line.rfind("format_name=", 0) == 0)
            facts.format = line.substr(12);
    }
    facts.videoStreams = int(video.size());
    facts.audioStreams = int(audio.size());
    facts.hasVideo = facts.videoStreams > 0;
    facts.hasAudio = facts.audioStreams > 0;
    return facts;
}

double ReadableSeconds(const std::string& ffprobe, const std::string& url,
                       const std::vector<std::string>& inputOptions) {
    std::vector<std::string> args = inputOptions;
    args.insert(args.end(), {"-v", "quiet", "-show_entries", "packet=pts_time,duration_time", "-of",
                             "csv=print_section=0", url});
    const std::string listing = modRun::Capture(ffprobe, args);
    bool any = false;
    double first = 0, last = 0;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        const size_t comma = line.find(',');
        if (line.empty() || line[0] == 'N')
            continue;
        const double start = std::atof(line.c_str());
        const double length = comma == std::string::npos ? 0 : std::atof(line.c_str() + comma + 1);
        first = any ? std::min(first, start) : start;
        last = any ? std::max(last, start + length) : start + length;
        any = true;
    }
    return any ? last - first : 0;
}

bool TooShort(const Facts& result, double sourceSeconds) {
    return result.seconds < sourceSeconds * kShortestShare &&
           sourceSeconds - result.seconds > kSlackSeconds;
}

std::string Complaint(const Facts& result, bool videoAsked, double sourceSeconds) {
    if (!result.read)
        return "the result cannot be read back; the source may be damaged";
    if (videoAsked && !result.hasVideo)
        return "no video could be read from the source; it may be damaged";
    if (TooShort(result, sourceSeconds))
        return "the result lasts " + Seconds(result.seconds) + " s of the " +
               Seconds(sourceSeconds) + " s read from the source; the source may be damaged";
    return std::string();
}

} // namespace modResultCheck
