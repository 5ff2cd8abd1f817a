#pragma once
#include <QString>
#include <QStringList>

#include <array>
#include <cstddef>
#include <optional>

// The converter's write-only properties, in the order its interface declares them.
enum class ConverterProperty {
    RateControlBuffer,
    VideoBitrateTolerance,
    TargetFormat,
    GroupOfPictureSize,
    VideoQuantiserScale,
    MaxVideoBitrate,
    SourceFile,
    DestFile,
    DeInterlace,
    SameQuality,
    VideoSize,
    VideoBitrate,
    VideoFrameRate,
    VideoCodec,
    VideoFourCCTag,
    VideoAspectRatio,
    ForceFormat,
    AudioBitrate,
    AudioCodec,
    AudioFourCCTag,
    AudioSamples,
    AudioChannels,
};

// One property: its name as the interface spells it and the option it puts on the command line.
struct PropertyRow {
    ConverterProperty property;
    const char* name;
    const char* option; // a flag's option stands alone; any other is followed by the value
};

// Every property once, in command-line order: the input, the option block, the output. Adding
// an option to the converter is adding its row (and its enumerator).
// clang-format off
inline constexpr std::array<PropertyRow, 22> kPropertyTable = {{
    // property                                name                     option
    {ConverterProperty::SourceFile,            "SourceFile",            "-i"},
    {ConverterProperty::VideoBitrate,          "VideoBitrate",          "-b"},
    {ConverterProperty::VideoFrameRate,        "VideoFrameRate",        "-r"},
    {ConverterProperty::VideoSize,             "VideoSize",             "-s"},
    {ConverterProperty::VideoCodec,            "VideoCodec",            "-vcodec"},
    {ConverterProperty::VideoFourCCTag,        "VideoFourCCTag",        "-vtag"},
    {ConverterProperty::VideoAspectRatio,      "VideoAspectRatio",      "-aspect"},
    {ConverterProperty::VideoBitrateTolerance, "VideoBitrateTolerance", "-bt"},
    {ConverterProperty::ForceFormat,           "ForceFormat",           "-f"},
    {ConverterProperty::TargetFormat,          "TargetFormat",          "-target"},
    {ConverterProperty::RateControlBuffer,     "RateControlBuffer",     "-bufsize"},
    {ConverterProperty::GroupOfPictureSize,    "GroupOfPictureSize",    "-g"},
    {ConverterProperty::VideoQuantiserScale,   "VideoQuantiserScale",   "-qscale"},
    {ConverterProperty::MaxVideoBitrate,       "MaxVideoBitrate",       "-maxrate"},
    {ConverterProperty::DeInterlace,           "DeInterlace",           "-deinterlace"},
    {ConverterProperty::SameQuality,           "SameQuality",           "-sameq"},
    {ConverterProperty::AudioCodec,            "AudioCodec",            "-acodec"},
    {ConverterProperty::AudioFourCCTag,        "AudioFourCCTag",        "-atag"},
    {ConverterProperty::AudioBitrate,          "AudioBitrate",          "-ab"},
    {ConverterProperty::AudioSamples,          "AudioSamples",          "-ar"},
    {ConverterProperty::AudioChannels,         "AudioChannels",         "-ac"},
    {ConverterProperty::DestFile,              "DestFile",              ""},
}};
// clang-format on

constexpr bool IsFlagProperty(ConverterProperty property) {
    return property == ConverterProperty::DeInterlace || property == ConverterProperty::SameQuality;
}

// The property's row in the table.
constexpr const PropertyRow& RowOf(ConverterProperty property) {
    for (const PropertyRow& row : kPropertyTable)
        if (row.property == property)
            return row;
    return kPropertyTable.front(); // unreachable: the table holds every property
}

// Where a text property keeps its value among the texts: its place among the table's text rows.
constexpr std::size_t TextSlot(ConverterProperty property) {
    std::size_t slot = 0;
    for (const PropertyRow& row : kPropertyTable) {
        if (row.property == property)
            break;
        if (!IsFlagProperty(row.property))
            ++slot;
    }
    return slot;
}

namespace ConverterPropertyChecks {
constexpr bool EachPropertyOnce() {
    for (std::size_t p = 0; p < kPropertyTable.size(); ++p) {
        int seen = 0;
        for (const PropertyRow& row : kPropertyTable)
            seen += static_cast<std::size_t>(row.property) == p ? 1 : 0;
        if (seen != 1)
            return false;
    }
    return true;
}
static_assert(EachPropertyOnce(), "every converter property has exactly one row");
} // namespace ConverterPropertyChecks

// The property's name as the converter's interface spells it ("VideoBitrateTolerance").
inline QString PropertyName(ConverterProperty property) {
    return QString::fromLatin1(RowOf(property).name);
}

// The property a name spells, if any.
inline std::optional<ConverterProperty> PropertyNamed(const QString& name) {
    for (const PropertyRow& row : kPropertyTable)
        if (name == QLatin1String(row.name))
            return row.property;
    return std::nullopt;
}

// One value for one converter property. DeInterlace and SameQuality take `flag`; every other
// property takes `text`.
struct ConverterSetting {
    ConverterProperty property;
    QString text;
    bool flag = false;

    static ConverterSetting Text(ConverterProperty property, const QString& text) {
        return {property, text, false};
    }
    static ConverterSetting Flag(ConverterProperty property, bool flag) {
        return {property, QString(), flag};
    }
    bool operator==(const ConverterSetting& other) const {
        return property == other.property && text == other.text && flag == other.flag;
    }
};

// The values of one conversion (the component's `ConverterParameters`): twenty texts, where an
// empty text means absent, and two flags.
class ConverterParameters {
public:
    static constexpr std::size_t kTextCount = kPropertyTable.size() - 2;

    void Set(const ConverterSetting& setting);
    void SetText(ConverterProperty property, const QString& value);
    void SetFlag(ConverterProperty property, bool value);
    const QString& Text(ConverterProperty property) const;
    bool Flag(ConverterProperty property) const;
    // Every text empty, both flags false.
    void Clear();

    // The option block in command-line order, each piece "-name value" or a lone flag; "-y"
    // first when `overWrite`. The paths are not part of it.
    QStringList OptionPieces(bool overWrite) const;

private:
    std::array<QString, kTextCount> texts_;
    bool deInterlace_ = false;
    bool sameQuality_ = false;
};
