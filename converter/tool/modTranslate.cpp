#include "modTranslate.h"

#include "modInput.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <set>

namespace modTranslate {

using modEncoders::EncoderSet;
using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// What the containers and encoders of today's ffmpeg can take. The rules below consult these.
// ---------------------------------------------------------------------------------------------

namespace {

struct ContainerFacts {
    Names videoDefaults;              // what the muxer would pick, best first
    Names audioDefaults;              // likewise
    std::set<std::string> videoOnly;  // codecs it carries; empty = all but videoNever
    std::set<std::string> videoNever; // codecs it writes without a usable tag
    std::set<std::string> audioOnly;  // codecs it carries; empty = all
    std::string relative;             // the nearest container that carries more, if any
};

// Image and QuickTime-only codecs get no tag in RIFF-based files and read back as raw video.
const std::set<std::string> kNoRiffTag = {"pam",   "pbm", "pgm", "pgmyuv", "ppm",
                                          "qtrle", "roq", "smc", "rv10",   "rv20"};

const std::map<std::string, ContainerFacts>& Containers() {
    static const std::map<std::string, ContainerFacts> facts = {
        {"avi", {{"mpeg4"}, {"libmp3lame", "mp2"}, {}, kNoRiffTag, {}, ""}},
        {"asf", {{"wmv2"}, {"wmav2"}, {}, kNoRiffTag, {}, ""}},
        {"rm", {{"rv10"}, {"ac3"}, {"rv10", "rv20"}, {}, {"ac3", "ra_144"}, ""}},
        {"3gp",
         {{"h263"},
          {"libopencore_amrnb", "aac"},
          {"h263", "mpeg4", "h264"},
          {},
          {"aac", "amr_nb", "amr_wb"},
          ""}},
        {"3g2",
         {{"h263"},
          {"libopencore_amrnb", "aac"},
          {"h263", "mpeg4", "h264"},
          {},
          {"aac", "amr_nb", "amr_wb"},
          ""}},
        {"mpeg",
         {{"mpeg1video"},
          {"mp2"},
          {"mpeg1video", "mpeg2video", "mpeg4", "h264"},
          {},
          {"mp1", "mp2", "mp3", "ac3", "dts", "pcm_dvd", "pcm_s16be"},
          "mp4"}},
        {"mp4",
         {{"libx264", "mpeg4"},
          {"aac"},
          {"mpeg4", "h264", "hevc", "mpeg1video", "mpeg2video", "mjpeg"},
          {},
          {"aac", "mp3", "mp2", "ac3", "eac3", "alac", "opus", "flac"},
          ""}},
        {"psp", {{"libx264", "mpeg4"}, {"aac"}, {"mpeg4", "h264"}, {}, {"aac"}, ""}},
        {"mov",
         {{"libx264", "mpeg4"},
          {"aac"},
          {},
          {"pam", "pbm", "pgm", "pgmyuv", "ppm", "roq", "rv10", "rv20"},
          {},
          ""}},
    };
    return facts;
}

const ContainerFacts* FactsFor(const std::string& container) {
    const auto found = Containers().find(container);
    return found == Containers().end() ? nullptr : &found->second;
}

bool CarriesVideo(const ContainerFacts& facts, const std::string& codec) {
    if (!facts.videoOnly.empty())
        return facts.videoOnly.count(codec) != 0;
    return facts.videoNever.count(codec) == 0;
}

bool CarriesAudio(const ContainerFacts& facts, const std::string& codec) {
    return facts.audioOnly.empty() || facts.audioOnly.count(codec) != 0;
}

// Sample rates of the encoders that take only some; the others take any rate.
const std::map<std::string, std::vector<int>>& EncoderSampleRates() {
    static const std::vector<int> mpegAudio = {44100, 48000, 32000, 22050, 24000, 16000};
    static const std::map<std::string, std::vector<int>> rates = {
        {"aac",
         {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350}},
        {"libmp3lame", {44100, 48000, 32000, 22050, 24000, 16000, 11025, 12000, 8000}},
        {"libshine", {44100, 48000, 32000}},
        {"mp2", mpegAudio},
        {"mp2fixed", mpegAudio},
        {"libtwolame", mpegAudio},
        {"ac3", {48000, 44100, 32000}},
        {"ac3_fixed", {48000, 44100, 32000}},
        {"eac3", {48000, 44100, 32000}},
        {"libopencore_amrnb", {8000}},
        {"libvo_amrwbenc", {16000}},
        {"real_144", {8000}},
        {"libopus", {48000, 24000, 16000, 12000, 8000}},
    };
    return rates;
}

const std::set<std::string> kMp2Encoders = {"mp2", "mp2fixed", "libtwolame"};

// Encoders whose quality is an MPEG quantiser scale (1 best .. 31 worst).
const std::set<std::string> kQuantiserEncoders = {
    "mpeg1video", "mpeg2video", "mpeg4", "libxvid", "msmpeg4", "msmpeg4v2", "h261", "h263", "h263p",
    "flv",        "wmv1",       "wmv2",  "rv10",    "rv20",    "mjpeg",     "svq1", "snow"};

// ---------------------------------------------------------------------------------------------
// Small helpers the rules share.
// ---------------------------------------------------------------------------------------------

bool IsNumber(const std::string& text) {
    if (text.empty())
        return false;
    bool dot = false;
    for (char c : text) {
        if (c == '.' && !dot)
            dot = true;
        else if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return text.back() != '.';
}

// The leading whole number of `text` ("64k" -> 64), held within 0..kLargest so that the sums
// and differences the rules form from it stay inside an int whatever the command line says.
int LeadingNumber(const std::string& text) {
    constexpr long long kLargest = 1000000000;
    long long number = 0;
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (negative || (!text.empty() && text[0] == '+'))
        ++i;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        number = std::min(kLargest, number * 10 + (text[i] - '0'));
    return negative ? 0 : static_cast<int>(number);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The first candidate that ffmpeg has; empty when none.
std::string FirstAvailable(const Plan& plan, const Names& candidates) {
    for (const std::string& name : candidates)
        if (plan.encoders->Has(name))
            return name;
    return std::string();
}

std::string CodecOf(const Plan& plan, const std::string& option) {
    return plan.encoders->CodecOf(plan.Get(option));
}

// "320x240" -> {320, 240}; {0, 0} when the size is not given that way.
std::pair<int, int> FrameSize(const Plan& plan) {
    const std::string size = plan.Get("-s");
    const size_t x = size.find('x');
    if (x == std::string::npos)
        return {0, 0};
    return {LeadingNumber(size.substr(0, x)), LeadingNumber(size.substr(x + 1))};
}

// A rule that renames a codec of the old generation: the first candidate ffmpeg has wins;
// with none of them the name stays and the "cannot encode" rule below deals with it.
std::function<void(Plan&)> CodecName(const std::string& option, const std::string& legacy,
                                     const Names& candidates) {
    return [=](Plan& plan) {
        if (plan.Get(option) != legacy)
            return;
        const std::string chosen = FirstAvailable(plan, candidates);
        if (!chosen.empty())
            plan.Set(option, chosen);
    };
}

// A rule for codecs that only take some frame sizes: another size gets the replacement.
std::function<void(Plan&)> SizeLimited(const std::string& encoder,
                                       const std::function<bool(int, int)>& fits,
                                       const Names& replacements) {
    return [=](Plan& plan) {
        if (plan.Get("-vcodec") != encoder || !plan.Has("-s"))
            return;
        const auto [width, height] = FrameSize(plan);
        if (fits(width, height))
            return;
        const std::string chosen = FirstAvailable(plan, replacements);
        if (!chosen.empty())
            plan.Set("-vcodec", chosen);
    };
}

bool OneOfSizes(int width, int height, const std::vector<std::pair<int, int>>& sizes) {
    return std::find(sizes.begin(), sizes.end(), std::make_pair(width, height)) != sizes.end();
}

void ReplaceUnavailable(Plan& plan, const std::string& option,
                        const Names ContainerFacts::*defaults, const Names& fallback) {
    if (!plan.Has(option) || plan.encoders->Has(plan.Get(option)))
        return;
    const ContainerFacts* facts = FactsFor(plan.container);
    std::string chosen = facts ? FirstAvailable(plan, facts->*defaults) : std::string();
    if (chosen.empty())
        chosen = FirstAvailable(plan, fallback);
    if (!chosen.empty())
        plan.Set(option, chosen);
}

void StateDefault(Plan& plan, const std::string& option, const Names ContainerFacts::*defaults) {
    const ContainerFacts* facts = FactsFor(plan.container);
    if (plan.target || plan.Has(option) || !facts)
        return;
    const std::string chosen = FirstAvailable(plan, facts->*defaults);
    if (!chosen.empty())
        plan.Set(option, chosen);
}

bool FitsContainer(const Plan& plan, const ContainerFacts& facts) {
    const bool videoFits = !plan.Has("-vcodec") || CarriesVideo(facts, CodecOf(plan, "-vcodec"));
    const bool audioFits = !plan.Has("-acodec") || CarriesAudio(facts, CodecOf(plan, "-acodec"));
    return videoFits && audioFits;
}

void FitStreamsToContainer(Plan& plan) {
    const ContainerFacts* facts = FactsFor(plan.container);
    if (!facts || FitsContainer(plan, *facts))
        return;
    const ContainerFacts* relative = FactsFor(facts->relative);
    if (relative && FitsContainer(plan, *relative)) {
        plan.container = facts->relative;
        return;
    }
    const std::string video = FirstAvailable(plan, facts->videoDefaults);
    if (plan.Has("-vcodec") && !CarriesVideo(*facts, CodecOf(plan, "-vcodec")) && !video.empty())
        plan.Set("-vcodec", video);
    const std::string audio = FirstAvailable(plan, facts->audioDefaults);
    if (plan.Has("-acodec") && !CarriesAudio(*facts, CodecOf(plan, "-acodec")) && !audio.empty())
        plan.Set("-acodec", audio);
}

void FitSampleRate(Plan& plan) {
    const auto rates = EncoderSampleRates().find(plan.Get("-acodec"));
    if (rates == EncoderSampleRates().end() || !IsNumber(plan.Get("-ar")))
        return;
    const int asked = LeadingNumber(plan.Get("-ar"));
    plan.Set("-ar", std::to_string(NearestSampleRate(rates->first, asked)));
}

void FitMp2Bitrate(Plan& plan) {
    const std::string bitrate = plan.Get("-ab");
    if (kMp2Encoders.count(plan.Get("-acodec")) == 0 || bitrate.empty() || bitrate.back() != 'k')
        return;
    const int rate = plan.Has("-ar") ? LeadingNumber(plan.Get("-ar")) : 44100;
    const int kbits = LeadingNumber(bitrate);
    plan.Set("-ab", std::to_string(NearestMp2Bitrate(rate, kbits)) + "k");
}

std::string Kbits(int kbits) {
    return std::to_string(kbits) + "k";
}

// Portable players decode H.264 Baseline (iPod, iPhone) or Main (PSP) up to level 3.0, and
// MPEG-4 Simple Profile, which ffmpeg's and Xvid's encoders write when no B-frames are asked
// for. The video may reach twice the bit rate the dialog shows over any one second, never
// more: a peak rate of 1.5 times it (or less when the format asks so) and a rate buffer of
// half of it, together at most twice it.
void FitPlayer(Plan& plan) {
    const int shown = LeadingNumber(plan.Get("-b"));
    if (plan.player.empty() || shown <= 0)
        return;
    const int bound = shown * 3 / 2;
    const int given = LeadingNumber(plan.Get("-maxrate"));
    plan.peakKbits = given > 0 ? std::min(given, bound) : bound;
    plan.Set("-maxrate", Kbits(plan.peakKbits));
    const int buffer = LeadingNumber(plan.Get("-bufsize"));
    plan.Set("-bufsize", Kbits(buffer > 0 ? std::min(buffer, shown / 2) : shown / 2));
    if (plan.Get("-vcodec") == "libx264") {
        plan.extra.emplace_back("-profile:v", plan.player == "psp" ? "main" : "baseline");
        plan.extra.emplace_back("-level:v", "3.0");
        plan.extra.emplace_back("-pix_fmt", "yuv420p");
    }
}

void SameQuality(Plan& plan) {
    if (!plan.sameQuality || plan.Has("-qscale"))
        return;
    const std::string encoder = plan.Get("-vcodec");
    if (kQuantiserEncoders.count(encoder) && plan.peakKbits > 0) {
        // A fixed quantiser knows no peak; the finest quantiser (2, the default floor) that the
        // peak allows keeps the intent.
        plan.Set("-b", Kbits(plan.peakKbits));
    } else if (kQuantiserEncoders.count(encoder)) {
        plan.extra.emplace_back("-q:v", "2");
    } else if (encoder == "libx264" || encoder == "libx265") {
        plan.Erase("-b");
        plan.Erase("-bt");
        plan.extra.emplace_back("-crf", "18");
    } else if (encoder == "libtheora") {
        plan.extra.emplace_back("-q:v", "8");
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The translation table: every rewrite from the old command line to today's, in order.
// ---------------------------------------------------------------------------------------------

const std::vector<Rule>& TranslationTable() {
    using Size = std::pair<int, int>;
    static const std::vector<Rule> table = {
        {"an option whose value is \"Auto\" is left out",
         "the dialog writes Auto where the converter is to choose; today's ffmpeg chooses when "
         "the option is absent",
         [](Plan& plan) {
             auto& options = plan.options;
             options.erase(
                 std::remove_if(options.begin(), options.end(),
                                [](const Option& o) { return Lower(o.second) == "auto"; }),
                 options.end());
         }},
        {"bare numbers for -b, -ab, -bt, -maxrate and -bufsize are kbit/s",
         "the presets were written when these options took kbit/s; today a bare number is bit/s",
         [](Plan& plan) {
             for (const char* name : {"-b", "-ab", "-bt", "-maxrate", "-bufsize"})
                 if (IsNumber(plan.Get(name)))
                     plan.Set(name, plan.Get(name) + "k");
         }},
        {"-r 29.97, 14.985, 23.976, 59.94 become exact NTSC fractions",
         "MPEG-1/2 take only the standard rates, and 29.97 as a decimal is not 30000/1001",
         [](Plan& plan) {
             static const std::map<std::string, std::string> ntsc = {{"29.97", "30000/1001"},
                                                                     {"14.985", "15000/1001"},
                                                                     {"23.976", "24000/1001"},
                                                                     {"59.94", "60000/1001"}};
             const auto found = ntsc.find(plan.Get("-r"));
             if (found != ntsc.end())
                 plan.Set("-r", found->second);
         }},
        {"-vcodec xvid -> libxvid, else mpeg4",
         "Xvid was linked into the old build; ffmpeg's own MPEG-4 Part 2 encoder writes the same "
         "format",
         CodecName("-vcodec", "xvid", {"libxvid", "mpeg4"})},
        {"-vcodec h264 -> libx264, else mpeg4",
         "x264 is today's H.264 encoder; without it MPEG-4 Part 2 plays on the same devices",
         CodecName("-vcodec", "h264", {"libx264", "mpeg4"})},
        {"-vcodec theora -> libtheora", "ffmpeg encodes Theora only through libtheora",
         CodecName("-vcodec", "theora", {"libtheora"})},
        {"-vcodec vp3 -> libtheora", "there is no VP3 encoder; Theora is VP3's open successor",
         CodecName("-vcodec", "vp3", {"libtheora"})},
        {"-vcodec vc9 and wmv3 -> wmv2",
         "VC-9 was the draft name of WMV3, which ffmpeg cannot encode; WMV8 is the newest Windows "
         "Media video it writes",
         [](Plan& plan) {
             CodecName("-vcodec", "vc9", {"wmv2"})(plan);
             CodecName("-vcodec", "wmv3", {"wmv2"})(plan);
         }},
        {"-vcodec mpegvideo -> mpeg1video", "mpegvideo was the old alias of the MPEG-1 encoder",
         CodecName("-vcodec", "mpegvideo", {"mpeg1video"})},
        {"-vcodec msmpeg4v1 -> msmpeg4v2",
         "version 1 can only be decoded today; version 2 is its nearest relative",
         CodecName("-vcodec", "msmpeg4v1", {"msmpeg4v2"})},
        {"-vcodec h263i -> h263", "Intel's H.263 is decode-only and the same format as H.263",
         CodecName("-vcodec", "h263i", {"h263"})},
        {"-vcodec mjpegb and sp5x -> mjpeg",
         "both are decode-only variants of motion JPEG, which ffmpeg writes",
         [](Plan& plan) {
             CodecName("-vcodec", "mjpegb", {"mjpeg"})(plan);
             CodecName("-vcodec", "sp5x", {"mjpeg"})(plan);
         }},
        {"-vcodec mszh -> zlib",
         "MSZH is decode-only; ZLIB is the other half of the same LCL codec",
         CodecName("-vcodec", "mszh", {"zlib"})},
        {"-vcodec svq3 -> svq1", "Sorenson 3 is decode-only; Sorenson 1 is the one ffmpeg writes",
         CodecName("-vcodec", "svq3", {"svq1"})},
        {"-vcodec rpza -> msvideo1",
         "ffmpeg's Apple Video encoder corrupts memory at many frame sizes (160x120, 352x288); "
         "Microsoft Video 1 is the same kind of 4x4-block codec",
         CodecName("-vcodec", "rpza", {"msvideo1"})},
        {"-acodec mp3 -> libmp3lame, else libshine",
         "ffmpeg writes MP3 only through LAME (or shine); the old name was the codec's",
         CodecName("-acodec", "mp3", {"libmp3lame", "libshine"})},
        {"-acodec amr_nb -> libopencore_amrnb, else aac",
         "AMR needs the opencore library, which Debian's ffmpeg may lack; 3GP also carries AAC",
         CodecName("-acodec", "amr_nb", {"libopencore_amrnb", "aac"})},
        {"-acodec amr_wb -> libvo_amrwbenc, else aac",
         "AMR-WB needs the vo-amrwbenc library; 3GP also carries AAC",
         CodecName("-acodec", "amr_wb", {"libvo_amrwbenc", "aac"})},
        {"-acodec vorbis -> libvorbis", "libvorbis is the mature Vorbis encoder",
         CodecName("-acodec", "vorbis", {"libvorbis", "vorbis"})},
        {"a codec ffmpeg cannot encode -> the container's own codec",
         "many names of the old lists (4xm, indeo3, camtasia...) can only be decoded; the "
         "container's usual codec still gives a file that plays",
         [](Plan& plan) {
             ReplaceUnavailable(plan, "-vcodec", &ContainerFacts::videoDefaults, {"mpeg4"});
             ReplaceUnavailable(plan, "-acodec", &ContainerFacts::audioDefaults, {"aac"});
         }},
        {"streams the container cannot carry -> its nearest relative that can, else its own codec",
         "AAC does not fit an MPEG program stream (.mpg), so such a file is written as MP4 under "
         "the same name; AVI and RealMedia files cannot tag some codecs and would read back as "
         "garbage",
         FitStreamsToContainer},
        {"no codec given -> the one the container would pick, stated",
         "naming it lets the rules below check it against the frame size, the container and the "
         "sample rate (3GP would otherwise pick an AMR encoder that may be missing)",
         [](Plan& plan) {
             StateDefault(plan, "-vcodec", &ContainerFacts::videoDefaults);
             StateDefault(plan, "-acodec", &ContainerFacts::audioDefaults);
         }},
        {"h263 at a size H.263 does not define -> mpeg4",
         "H.263 has five frame sizes only; MPEG-4 Part 2 goes wherever H.263 goes (3GP, AVI)",
         SizeLimited("h263",
                     [](int w, int h) {
                         return OneOfSizes(w, h,
                                           {Size{128, 96}, Size{176, 144}, Size{352, 288},
                                            Size{704, 576}, Size{1408, 1152}});
                     },
                     {"mpeg4"})},
        {"h261 at a size other than QCIF or CIF -> mpeg4", "H.261 has two frame sizes only",
         SizeLimited("h261",
                     [](int w, int h) {
                         return OneOfSizes(w, h, {Size{176, 144}, Size{352, 288}});
                     },
                     {"mpeg4"})},
        {"dvvideo at a size other than 720x480 or 720x576 -> mpeg4",
         "DV is defined for the two TV frame sizes only",
         SizeLimited("dvvideo",
                     [](int w, int h) {
                         return OneOfSizes(w, h, {Size{720, 480}, Size{720, 576}});
                     },
                     {"mpeg4"})},
        {"ljpeg -> full-range YUV", "lossless JPEG refuses the limited range of ordinary video",
         [](Plan& plan) {
             if (plan.Get("-vcodec") == "ljpeg")
                 plan.extra.emplace_back("-pix_fmt", "yuvj420p");
         }},
        {"rv10 at a size not a multiple of 16 -> rv20",
         "RealVideo 1 needs whole macroblocks; RealVideo 2 takes any even size (after the "
         "container rule, which may pick rv10 for a RealMedia file)",
         SizeLimited("rv10", [](int w, int h) { return w % 16 == 0 && h % 16 == 0; }, {"rv20"})},
        {"a sample rate the audio encoder cannot take -> the nearest it can",
         "the lists offer rates (8000, 3200, 22050 for AC-3...) that many encoders refuse",
         FitSampleRate},
        {"an MP2 bit rate the sample rate does not allow -> the nearest allowed",
         "MPEG audio layer 2 has fixed bit-rate tables, smaller below 32 kHz", FitMp2Bitrate},
        {"AAC in an .mpg or .avi file -> a portable player's format",
         "only the iPod and iPhone formats put AAC into an .mpg name, and only the PSP formats "
         "into an .avi name; the players decode a few profiles and levels only",
         [](Plan& plan) {
             if (plan.legacyAudioCodec != "aac")
                 return;
             if (plan.legacyContainer == "mpeg")
                 plan.player = "ipod";
             else if (plan.legacyContainer == "avi")
                 plan.player = "psp";
             FitPlayer(plan);
         }},
        {"-sameq -> constant high quality",
         "-sameq (keep the source's quantiser) is gone; a fixed fine quantiser, or x264's CRF 18, "
         "keeps its promise of quality over bit rate",
         SameQuality},
        {"-qscale with libx264 -> -qp, or -crf under a peak bit rate",
         "x264 has no MPEG quantiser scale; its constant quantiser is the nearest thing, but "
         "only its constant rate factor can be held under a peak",
         [](Plan& plan) {
             if (plan.Get("-vcodec") == "libx264" && plan.Has("-qscale")) {
                 plan.extra.emplace_back(plan.peakKbits > 0 ? "-crf" : "-qp", plan.Get("-qscale"));
                 plan.Erase("-qscale");
                 if (plan.peakKbits > 0)
                     plan.Erase("-b");
             }
         }},
        {"-deinterlace -> the yadif filter on interlaced frames",
         "the option is gone; yadif is today's deinterlacer, and touching only frames marked "
         "interlaced keeps progressive web video sharp",
         [](Plan& plan) {
             if (plan.deinterlace)
                 plan.videoFilters.push_back("yadif=deint=interlaced");
         }},
        {"RealMedia -> frames of at most 50 kB, softened",
         "the container takes no packet over 64 kB; a rate buffer of 400 kbit bounds each frame, "
         "and a slight blur lets even a noisy key frame fit under RealVideo's coarsest quantiser",
         [](Plan& plan) {
             if (plan.container != "rm")
                 return;
             plan.Set("-bufsize", "400k");
             const int bitrate = std::max(LeadingNumber(plan.Get("-b")), 200);
             plan.Set("-maxrate", Kbits(std::max(4000, 2 * bitrate)));
             plan.videoFilters.push_back("gblur=sigma=1");
         }},
        {"xvid in AVI -> FourCC XVID", "players pick the Xvid decoder for AVI files by this tag",
         [](Plan& plan) {
             if (plan.legacyVideoCodec == "xvid" && plan.container == "avi" && !plan.Has("-vtag"))
                 plan.Set("-vtag", "XVID");
         }},
        {"-b, -ab, -vcodec, -acodec, -vtag, -atag, -qscale -> today's names",
         "the options were renamed per stream: -b:v, -b:a, -c:v, -c:a, -tag:v, -tag:a, -q:v",
         [](Plan& plan) {
             plan.Rename("-b", "-b:v");
             plan.Rename("-ab", "-b:a");
             plan.Rename("-vcodec", "-c:v");
             plan.Rename("-acodec", "-c:a");
             plan.Rename("-vtag", "-tag:v");
             plan.Rename("-atag", "-tag:a");
             plan.Rename("-qscale", "-q:v");
         }},
    };
    return table;
}

// ---------------------------------------------------------------------------------------------

bool Plan::Has(const std::string& name) const {
    return std::any_of(options.begin(), options.end(),
                       [&](const Option& o) { return o.first == name; });
}

std::string Plan::Get(const std::string& name) const {
    for (const Option& o : options)
        if (o.first == name)
            return o.second;
    return std::string();
}

void Plan::Set(const std::string& name, const std::string& value) {
    for (Option& o : options)
        if (o.first == name) {
            o.second = value;
            return;
        }
    options.emplace_back(name, value);
}

void Plan::Erase(const std::string& name) {
    options.erase(std::remove_if(options.begin(), options.end(),
                                 [&](const Option& o) { return o.first == name; }),
                  options.end());
}

void Plan::Rename(const std::string& from, const std::string& to) {
    for (Option& o : options)
        if (o.first == from)
            o.first = to;
}

std::string ContainerForFile(const std::string& path) {
    static const std::map<std::string, std::string> byExtension = {
        {"3gp", "3gp"},   {"3g2", "3g2"}, {"avi", "avi"}, {"divx", "avi"},     {"mpg", "mpeg"},
        {"mpeg", "mpeg"}, {"wmv", "asf"}, {"asf", "asf"}, {"rm", "rm"},        {"mov", "mov"},
        {"mp4", "mp4"},   {"m4v", "mp4"}, {"flv", "flv"}, {"mkv", "matroska"}, {"webm", "webm"}};
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return std::string();
    const auto found = byExtension.find(Lower(path.substr(dot + 1)));
    return found == byExtension.end() ? std::string() : found->second;
}

namespace {

// |a - b| without overflow for any two ints.
long long Distance(int a, int b) {
    return std::llabs(static_cast<long long>(a) - b);
}

} // namespace

int NearestSampleRate(const std::string& encoder, int rate) {
    const auto found = EncoderSampleRates().find(encoder);
    if (found == EncoderSampleRates().end())
        return rate;
    int best = found->second.front();
    for (int candidate : found->second)
        if (Distance(candidate, rate) < Distance(best, rate))
            best = candidate;
    return best;
}

int NearestMp2Bitrate(int sampleRate, int kbits) {
    static const std::vector<int> mpeg1 = {32,  48,  56,  64,  80,  96,  112,
                                           128, 160, 192, 224, 256, 320, 384};
    static const std::vector<int> lowRates = {8,  16, 24, 32,  40,  48,  56,
                                              64, 80, 96, 112, 128, 144, 160};
    const std::vector<int>& allowed = sampleRate >= 32000 ? mpeg1 : lowRates;
    int best = allowed.front();
    for (int candidate : allowed) // ascending: a tie goes to the higher rate
        if (Distance(candidate, kbits) <= Distance(best, kbits))
            best = candidate;
    return best;
}

namespace {

Plan PlanFor(const modLegacyCommand::LegacyRequest& request, const EncoderSet& encoders) {
    Plan plan;
    plan.encoders = &encoders;
    plan.deinterlace = request.deinterlace;
    plan.sameQuality = request.sameQuality;
    plan.container = ContainerForFile(request.dest);
    bool forced = false;
    for (const auto& [name, value] : request.options) {
        if (name == "-f") {
            plan.container = value;
            forced = true;
        } else {
            plan.options.emplace_back(name, value);
        }
        plan.target = plan.target || name == "-target";
    }
    if (plan.target && !forced)
        plan.container.clear();
    plan.legacyVideoCodec = plan.Get("-vcodec");
    plan.legacyAudioCodec = plan.Get("-acodec");
    plan.legacyContainer = plan.container;
    return plan;
}

std::vector<std::string> Render(const Plan& plan) {
    std::vector<std::string> args;
    for (const auto* list : {&plan.options, &plan.extra})
        for (const auto& [name, value] : *list) {
            args.push_back(name);
            args.push_back(value);
        }
    if (!plan.videoFilters.empty()) {
        std::string chain;
        for (const std::string& filter : plan.videoFilters)
            chain += (chain.empty() ? "" : ",") + filter;
        args.push_back("-vf");
        args.push_back(chain);
    }
    if (!plan.container.empty()) {
        args.push_back("-f");
        args.push_back(plan.container);
    }
    return args;
}

} // namespace

std::vector<std::string> Translate(const modLegacyCommand::LegacyRequest& request,
                                   const EncoderSet& encoders) {
    Plan plan = PlanFor(request, encoders);
    for (const Rule& rule : TranslationTable())
        rule.apply(plan);
    return Render(plan);
}

std::vector<std::string> CommandLine(const std::vector<std::string>& options,
                                     const std::string& sourceUrl, const std::string& outputUrl,
                                     bool audioOnly, bool reportProgress,
                                     const std::string& sourceFormat) {
    std::vector<std::string> args = {"-hide_banner", "-nostdin", "-y"};
    if (reportProgress)
        args.insert(args.end(), {"-progress", "pipe:3"});
    const std::vector<std::string> fileOnly = modInput::FileOnly();
    args.insert(args.end(), fileOnly.begin(), fileOnly.end());
    // Read as what it was measured as: a file rewritten meanwhile into a list of other files
    // is not opened as one.
    if (!sourceFormat.empty())
        args.insert(args.end(), {"-format_whitelist", sourceFormat});
    args.insert(args.end(), {"-i", sourceUrl});
    args.insert(args.end(), options.begin(), options.end());
    if (audioOnly)
        args.push_back("-vn");
    args.push_back(outputUrl);
    return args;
}

} // namespace modTranslate
