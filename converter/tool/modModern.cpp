#include "modModern.h"

#include "modTranslate.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <sstream>

namespace modModern {

namespace {

// A muxer of today's targets, as the user knows it.
struct Container {
    const char* shown;
    bool faststart; // the index first, so that playback starts before the whole file is there
};

const std::map<std::string, Container>& Containers() {
    static const std::map<std::string, Container> containers = {
        {"mp4", {"MP4", true}},    {"webm", {"WebM", false}}, {"matroska", {"MKV", false}},
        {"mp3", {"MP3", false}},   {"ipod", {"M4A", true}},   {"opus", {"Ogg Opus", false}},
        {"flac", {"FLAC", false}},
    };
    return containers;
}

// A codec family the command line names, with its encoders (best first) and, for video, the
// rate factor used when the line names none.
struct Family {
    const char* shown;
    std::vector<std::string> encoders;
    int rateFactor;
};

const std::map<std::string, Family>& Families() {
    static const std::map<std::string, Family> families = {
        {"h264", {"H.264", {"libx264"}, 22}},
        {"hevc", {"H.265", {"libx265"}, 24}},
        {"vp9", {"VP9", {"libvpx-vp9"}, 32}},
        {"av1", {"AV1", {"libsvtav1", "libaom-av1"}, 35}},
        {"aac", {"AAC", {"aac"}, 0}},
        {"opus", {"Opus", {"libopus"}, 0}},
        {"mp3", {"MP3", {"libmp3lame", "libshine"}, 0}},
        {"flac", {"FLAC", {"flac"}, 0}},
    };
    return families;
}

const Family* FamilyOf(const std::string& codec) {
    const auto found = Families().find(codec);
    return found == Families().end() ? nullptr : &found->second;
}

// A codec's name for people: the family's when it is one, else ffprobe's in capitals.
std::string Shown(const std::string& codec) {
    if (const Family* family = FamilyOf(codec))
        return family->shown;
    std::string shown = codec.empty() ? "unknown" : codec;
    std::transform(shown.begin(), shown.end(), shown.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return shown;
}

const std::map<std::string, std::string> kExactRates = {
    {"23.976", "24000/1001"}, {"29.97", "30000/1001"}, {"59.94", "60000/1001"}};

// The pixel formats players take for H.264 and H.265: 8-bit 4:2:0, or 10-bit kept as it is.
bool PlayersTake(const std::string& pixFmt) {
    return pixFmt == "yuv420p" || pixFmt == "yuvj420p" || pixFmt == "yuv420p10le";
}

bool TenBit(const std::string& pixFmt) {
    return pixFmt.find("p10") != std::string::npos || pixFmt.find("p12") != std::string::npos;
}

int Number(const std::string& text) {
    return std::atoi(text.c_str());
}

// libvpx's VP9 encoder holds about 4 GB for an 8K frame whatever its threads, tiles or
// look-ahead, 1.2 GB at 4K: a larger frame is made smaller to fit 4K before it is encoded.
constexpr int kVp9Widest = 3840;
constexpr int kVp9Tallest = 2160;

bool LargerThanVp9Takes(const Stream& video) {
    return video.width > kVp9Widest || video.height > kVp9Tallest;
}

// What one request asks of the streams.
struct Ask {
    std::string muxer;
    std::string video; // codec family; empty for sound alone
    std::string audio;
    std::string quality; // "RF22", or kbit/s
    int lines = 0;       // 0: the source's frame size
    std::string rate;    // empty: the source's frame rate
    std::string audioBitrate;
    int sampleRate = 0;
    int channels = 0;
    bool keep = false; // "-sameq": streams that fit are kept as they are

    static Ask From(const modLegacyCommand::LegacyRequest& request) {
        Ask ask;
        std::map<std::string, std::string> value;
        for (const auto& [name, text] : request.options)
            value[name] = text;
        ask.muxer = value["-f"];
        ask.video = value["-vcodec"];
        ask.audio = value["-acodec"];
        ask.quality = value["-b"];
        ask.lines = Number(value["-s"]);
        ask.rate = value["-r"];
        ask.audioBitrate = value["-ab"];
        ask.sampleRate = Number(value["-ar"]);
        ask.channels = Number(value["-ac"]);
        ask.keep = request.sameQuality;
        return ask;
    }
};

// MKV asked to keep the streams as they are.
bool KeepsEveryStream(const Ask& ask) {
    return ask.muxer == "matroska" && ask.video == "copy";
}

// A target of sound alone: no video codec of today is named.
bool SoundAlone(const Ask& ask) {
    return !KeepsEveryStream(ask) && (ask.video.empty() || !FamilyOf(ask.video));
}

// Why the video must be encoded; empty when it can be copied.
std::string VideoChange(const Ask& ask, const Stream& video) {
    if (video.codec != ask.video)
        return "the source's " + Shown(video.codec) + " is not " + Shown(ask.video);
    if (!ask.keep)
        return "\"Same quality\" is off";
    if (ask.lines > 0 && ask.lines < video.height)
        return "a smaller frame size was asked";
    if (!ask.rate.empty())
        return "another frame rate was asked";
    if ((ask.video == "h264" || ask.video == "hevc") && !PlayersTake(video.pixFmt))
        return "its pixels (" + video.pixFmt + ") are not the 4:2:0 that players take";
    return std::string();
}

std::string AudioChange(const Ask& ask, const Stream& audio) {
    if (audio.codec != ask.audio)
        return "the source's " + Shown(audio.codec) + " is not " + Shown(ask.audio);
    if (!ask.keep)
        return "\"Same quality\" is off";
    if (ask.sampleRate > 0 && ask.sampleRate != audio.sampleRate)
        return "another sample rate was asked";
    if (ask.channels > 0 && ask.channels != audio.channels)
        return "other channels were asked";
    return std::string();
}

std::string FirstOf(const modEncoders::EncoderSet& encoders,
                    const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (encoders.Has(name))
            return name;
    return names.front(); // ffmpeg names what it lacks better than a guess would
}

void Add(std::vector<std::string>& args, std::initializer_list<std::string> more) {
    args.insert(args.end(), more);
}

// The encoder options of the video: constant quality at a rate factor ("RF22"), or an average
// bit rate in kbit/s.
void VideoEncoding(const Ask& ask, const Stream& video, const modEncoders::EncoderSet& encoders,
                   const Hardware& hardware, std::vector<std::string>& args) {
    const Family& family = *FamilyOf(ask.video);
    const bool byFactor = ask.quality.empty() || ask.quality.rfind("RF", 0) == 0;
    const int factor = ask.quality.size() > 2 ? Number(ask.quality.substr(2)) : family.rateFactor;
    const std::string bitrate = std::to_string(Number(ask.quality)) + "k";
    const bool tenBit = ask.keep && TenBit(video.pixFmt);
    std::vector<std::string> filters;
    // Every encoding here is 4:2:0, one colour sample to four pixels, and the encoders refuse an
    // odd width or height: the odd last column or row goes (a size not known may be odd).
    if (video.width <= 0 || video.height <= 0 || video.width % 2 != 0 || video.height % 2 != 0)
        filters.push_back("crop=trunc(iw/2)*2:trunc(ih/2)*2");
    if (ask.lines > 0) // keeps the aspect, never enlarges; the width stays even
        filters.push_back("scale=-2:'min(" + std::to_string(ask.lines) + ",ih)'");
    if (ask.video == "vp9" && (video.width <= 0 || video.height <= 0 || LargerThanVp9Takes(video)))
        filters.push_back("scale='min(iw," + std::to_string(kVp9Widest) + ")':'min(ih," +
                          std::to_string(kVp9Tallest) +
                          ")':force_original_aspect_ratio=decrease:force_divisible_by=2");
    const bool h264Hardware = ask.video == "h264" && hardware.h264 && !tenBit;
    const bool hevcHardware = ask.video == "hevc" && hardware.hevc;
    std::string encoder;
    if (h264Hardware || hevcHardware) {
        encoder = ask.video + "_vaapi";
        Add(args, {"-vaapi_device", hardware.device});
        filters.push_back(tenBit ? "format=p010" : "format=nv12");
        filters.push_back("hwupload");
        Add(args, {"-c:v", encoder});
        if (byFactor)
            Add(args, {"-qp", std::to_string(factor)});
    } else {
        encoder = FirstOf(encoders, family.encoders);
        Add(args, {"-c:v", encoder, "-pix_fmt", tenBit ? "yuv420p10le" : "yuv420p"});
        if (encoder == "libx264" || encoder == "libx265")
            Add(args, {"-preset", "fast"});
        if (encoder == "libx265")
            Add(args, {"-x265-params", "log-level=error"});
        if (encoder == "libvpx-vp9")
            Add(args, {"-deadline", "good", "-cpu-used", "4", "-row-mt", "1"});
        if (encoder == "libsvtav1") // the preset at which two cores keep pace with the others
            Add(args, {"-preset", "8"});
        if (encoder == "libaom-av1")
            Add(args, {"-cpu-used", "8", "-row-mt", "1"});
        if (byFactor)
            Add(args, {"-crf", std::to_string(factor)});
        if (byFactor && (encoder == "libvpx-vp9" || encoder == "libaom-av1"))
            Add(args, {"-b:v", "0"}); // constant quality, not a quality under a bit rate
    }
    if (!byFactor)
        Add(args, {"-b:v", bitrate});
    if (!filters.empty()) {
        std::string chain;
        for (const std::string& filter : filters)
            chain += (chain.empty() ? "" : ",") + filter;
        Add(args, {"-vf", chain});
    }
    if (!ask.rate.empty()) {
        const auto exact = kExactRates.find(ask.rate);
        Add(args, {"-r", exact == kExactRates.end() ? ask.rate : exact->second});
    }
}

void AudioEncoding(const Ask& ask, const modEncoders::EncoderSet& encoders,
                   std::vector<std::string>& args) {
    const std::string encoder = FirstOf(encoders, FamilyOf(ask.audio)->encoders);
    Add(args, {"-c:a", encoder});
    if (ask.audio != "flac" && Number(ask.audioBitrate) > 0)
        Add(args, {"-b:a", std::to_string(Number(ask.audioBitrate)) + "k"});
    if (ask.sampleRate > 0)
        Add(args,
            {"-ar", std::to_string(modTranslate::NearestSampleRate(encoder, ask.sampleRate))});
    if (ask.channels > 0)
        Add(args, {"-ac", std::to_string(ask.channels)});
}

Plan KeepEveryStream(const Source& source) {
    Plan plan;
    // Data streams (timecodes, GPS tracks) have no place in Matroska; everything else does.
    plan.options = {"-map", "0", "-map", "-0:d?", "-c", "copy", "-f", "matroska"};
    if (source.hasVideo)
        plan.decisions.push_back({"Video", true, "MKV keeps every stream as it is"});
    if (source.hasAudio)
        plan.decisions.push_back({"Audio", true, "MKV keeps every stream as it is"});
    return plan;
}

} // namespace

bool IsModern(const modLegacyCommand::LegacyRequest& request) {
    for (const auto& [name, value] : request.options)
        if (name == "-f")
            return Containers().count(value) != 0;
    return false;
}

bool HoldsSoundAlone(const modLegacyCommand::LegacyRequest& request) {
    if (!IsModern(request))
        return false;
    return SoundAlone(Ask::From(request));
}

Plan PlanFor(const modLegacyCommand::LegacyRequest& request, const Source& probed,
             const modEncoders::EncoderSet& encoders, const Hardware& hardware) {
    const Ask ask = Ask::From(request);
    Source source = probed;
    if (!source.read)
        source.hasVideo = source.hasAudio = true;
    if (KeepsEveryStream(ask))
        return KeepEveryStream(source);
    const Container& container = Containers().at(ask.muxer);
    const std::string target = container.shown;
    Plan plan;
    std::vector<std::string>& args = plan.options;
    if (SoundAlone(ask)) {
        Add(args, {"-vn"});
    } else if (source.hasVideo) {
        const std::string change = VideoChange(ask, source.video);
        if (change.empty()) {
            Add(args, {"-c:v", "copy"});
            plan.decisions.push_back(
                {"Video", true, "the source's " + Shown(ask.video) + " fits " + target});
        } else {
            VideoEncoding(ask, source.video, encoders, hardware, args);
            plan.decisions.push_back(
                {"Video", false,
                 ask.video == "vp9" && LargerThanVp9Takes(source.video)
                     ? change + "; at 3840x2160 at most, as VP9 larger than that needs about 4 GB "
                                "of memory"
                     : change});
        }
        if (ask.video == "hevc" && ask.muxer == "mp4") // Apple's players take no other tag
            Add(args, {"-tag:v", "hvc1"});
    }
    if (source.hasAudio && FamilyOf(ask.audio)) {
        const std::string change = AudioChange(ask, source.audio);
        if (change.empty()) {
            Add(args, {"-c:a", "copy"});
            plan.decisions.push_back(
                {"Audio", true, "the source's " + Shown(ask.audio) + " fits " + target});
        } else {
            AudioEncoding(ask, encoders, args);
            plan.decisions.push_back({"Audio", false, change});
        }
    }
    Add(args, {"-sn", "-dn"});
    if (container.faststart)
        Add(args, {"-movflags", "+faststart"});
    Add(args, {"-f", ask.muxer});
    return plan;
}

std::string SoundOnlyNote(const modLegacyCommand::LegacyRequest& request, const Source& source) {
    if (!source.read || source.hasVideo || !source.hasAudio)
        return std::string();
    if (IsModern(request)) {
        const Ask ask = Ask::From(request);
        if (SoundAlone(ask) || KeepsEveryStream(ask))
            return std::string();
    }
    return "sound only: the result has no picture\n";
}

std::string Described(const std::vector<Decision>& decisions) {
    std::string text;
    for (const Decision& decision : decisions)
        text += decision.stream + ": " + (decision.copy ? "copy" : "re-encode") + " (" +
                decision.reason + ")\n";
    return text;
}

std::vector<std::string> ProbeArguments() {
    return {"-v",
            "error",
            "-show_entries",
            "stream=codec_type,codec_name,pix_fmt,width,height,sample_rate,channels:"
            "stream_disposition=attached_pic:format=format_name",
            "-of",
            "compact"};
}

Source ReadSource(const std::string& listing) {
    Source source;
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::map<std::string, std::string> field;
        std::istringstream parts(line);
        for (std::string part; std::getline(parts, part, '|');) {
            const size_t equals = part.find('=');
            if (equals != std::string::npos)
                field[part.substr(0, equals)] = part.substr(equals + 1);
        }
        Stream stream{field["codec_name"],          field["pix_fmt"],
                      Number(field["width"]),       Number(field["height"]),
                      Number(field["sample_rate"]), Number(field["channels"])};
        if (line.rfind("format|", 0) == 0)
            source.format = field["format_name"];
        const std::string& type = field["codec_type"];
        source.read = source.read || !type.empty();
        if (type == "video" && !source.hasVideo && field["disposition:attached_pic"] != "1") {
            source.hasVideo = true;
            source.video = stream;
        } else if (type == "audio" && !source.hasAudio) {
            source.hasAudio = true;
            source.audio = stream;
        }
    }
    return source;
}

} // namespace modModern
