#pragma once
#include <QString>

#include <array>
#include <cstddef>

// The target formats, in catalogue order (the order the presets and the request mapping list
// them): the sixteen of the first versions, then today's.
enum class Format {
    ThreeGpp,
    ThreeGpp2,
    Avi,
    DivX,
    Mpeg1,
    Mpeg2,
    Wmv,
    PspAvc,
    PspMinimal,
    PspExcellent,
    PspNormal,
    RealMedia,
    QuickTime,
    IPod,
    IPod2,
    IPhone,
    // Today's formats, after the sixteen.
    Mp4H264,
    Mp4H265,
    WebmVp9,
    WebmAv1,
    MkvKeepStreams,
    Mp3Audio,
    M4aAudio,
    OpusAudio,
    FlacAudio,
};

// Each format's display text, its key: compared exactly, and saved as the dialog's choice.
inline constexpr std::array<const char*, 25> kFormatKeys = {
    "3rd Generation Partnership Project (*.3gp)",
    "3rd Generation Partnership Project2 (*.3g2)",
    "AVI Format (*.avi)",
    "DivX Format (*.avi)",
    "MPEG-1 Format (*.mpg)",
    "MPEG-2 Format (*.mpg)",
    "WMV Format (*.wmv)",
    "Sony PSP (PSP AVC)",
    "Sony PSP (Minimal Size)",
    "Sony PSP (Excellent Quality)",
    "Sony PSP (Normal)",
    "RealONE/RealPlayer Format (*.rm)",
    "QuickTime MOV (*.mov)",
    "iPOD Video (320x240) MPEG4 (*.mpg)",
    "iPOD Video2 (640x480) MPEG4 (*.mpg)",
    "iPhone Video (*.mpg)",
    "MP4 H.264 / AAC (*.mp4)",
    "MP4 H.265 / AAC (*.mp4)",
    "WebM VP9 / Opus (*.webm)",
    "WebM AV1 / Opus (*.webm)",
    "MKV Keep Streams (*.mkv)",
    "MP3 Audio (*.mp3)",
    "M4A Audio AAC (*.m4a)",
    "Opus Audio (*.opus)",
    "FLAC Audio (*.flac)",
};

// The formats of the first versions; they keep their command lines and saved values.
inline constexpr std::size_t kLegacyFormatCount = 16;

inline constexpr bool IsLegacyFormat(Format format) {
    return static_cast<std::size_t>(format) < kLegacyFormatCount;
}

inline QString FormatKey(Format format) {
    return QString::fromLatin1(kFormatKeys[static_cast<std::size_t>(format)]);
}

// The order in which the dialog's format list offers them: the sixteen first, their PSP
// profiles last, then today's formats.
inline constexpr std::array<Format, 25> kFormatListOrder = {
    Format::ThreeGpp,       Format::ThreeGpp2,    Format::Avi,        Format::DivX,
    Format::Mpeg1,          Format::Mpeg2,        Format::Wmv,        Format::RealMedia,
    Format::QuickTime,      Format::IPod,         Format::IPod2,      Format::IPhone,
    Format::PspNormal,      Format::PspExcellent, Format::PspMinimal, Format::PspAvc,
    Format::Mp4H264,        Format::Mp4H265,      Format::WebmVp9,    Format::WebmAv1,
    Format::MkvKeepStreams, Format::Mp3Audio,     Format::M4aAudio,   Format::OpusAudio,
    Format::FlacAudio,
};

namespace FormatKeyChecks {
constexpr bool ListOffersEachFormatOnce() {
    for (std::size_t f = 0; f < kFormatKeys.size(); ++f) {
        int seen = 0;
        for (const Format listed : kFormatListOrder)
            seen += static_cast<std::size_t>(listed) == f ? 1 : 0;
        if (seen != 1)
            return false;
    }
    return true;
}
static_assert(ListOffersEachFormatOnce(), "the format list offers every format once");
} // namespace FormatKeyChecks
