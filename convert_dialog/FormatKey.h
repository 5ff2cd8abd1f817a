#pragma once
#include <QString>

#include <array>
#include <cstddef>

// The sixteen target formats, in catalogue order (the order the presets and the request mapping
// list them).
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
};

// Each format's display text, its key: compared exactly, and saved as the dialog's choice.
inline constexpr std::array<const char*, 16> kFormatKeys = {
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
};

inline QString FormatKey(Format format) {
    return QString::fromLatin1(kFormatKeys[static_cast<std::size_t>(format)]);
}

// The order in which the dialog's format list offers them: the PSP profiles last.
inline constexpr std::array<Format, 16> kFormatListOrder = {
    Format::ThreeGpp,  Format::ThreeGpp2,    Format::Avi,        Format::DivX,
    Format::Mpeg1,     Format::Mpeg2,        Format::Wmv,        Format::RealMedia,
    Format::QuickTime, Format::IPod,         Format::IPod2,      Format::IPhone,
    Format::PspNormal, Format::PspExcellent, Format::PspMinimal, Format::PspAvc,
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
