#include "ConversionMapping.h"

#include "FormatKey.h"

#include "modMain.h"

#include <array>

namespace ConversionMapping {

namespace {

const PropertySource list{SourceKind::List, {}};
const PropertySource channels{SourceKind::Channels, {}};
const PropertySource quality{SourceKind::Quality, {}};
const PropertySource qualityOrFalse{SourceKind::QualityOrFalse, {}};
const PropertySource yes{SourceKind::True, {}};
const PropertySource dash{SourceKind::NotSet, {}};

PropertySource fixed(const QString& text) {
    return {SourceKind::Fixed, text};
}

// Rows that the table handles alike differ only in their keys.
MappingRow withKey(MappingRow row, const QString& key) {
    row.key = key;
    return row;
}

std::vector<MappingRow> buildRows() {
    // Columns: VideoSize, VideoFrameRate, VideoBitrate, VideoCodec, VideoBitrateTolerance,
    // extension, AudioCodec, AudioBitrate, AudioSamples, AudioChannels, SameQuality,
    // DeInterlace, further fixed properties.
    const MappingRow mobile{{},   list, list, list,       list,    fixed("60"), list,
                            list, list, list, fixed("1"), quality, yes,         {}};
    const MappingRow mpeg{{},   list, fixed("29.97"), list,     list,           dash, list,
                          list, list, list,           channels, qualityOrFalse, yes,  {}};
    const MappingRow appleMpeg4{{},   list, list, list,     list,    dash, list,
                                list, list, list, channels, quality, yes,  {}};
    const MappingRow pspXvid{{},
                             fixed("368x208"),
                             fixed("29.97"),
                             {},
                             fixed("xvid"),
                             dash,
                             fixed(".avi"),
                             fixed("aac"),
                             fixed("64"),
                             fixed("24000"),
                             fixed("2"),
                             dash,
                             dash,
                             {}};
    auto pspWithBitrate = [&](const QString& key, const QString& bitrate) {
        MappingRow row = withKey(pspXvid, key);
        row.VideoBitrate = fixed(bitrate);
        return row;
    };
    MappingRow pspMinimal = pspWithBitrate(FormatKey(Format::PspMinimal), "216");
    pspMinimal.VideoSize = fixed("160x112");

    return {
        withKey(mobile, FormatKey(Format::ThreeGpp)),
        withKey(mobile, FormatKey(Format::ThreeGpp2)),
        {FormatKey(Format::Avi),
         list,
         list,
         list,
         list,
         fixed("60"),
         list,
         list,
         list,
         list,
         channels,
         dash,
         dash,
         {}},
        {FormatKey(Format::DivX),
         list,
         list,
         list,
         list,
         dash,
         list,
         list,
         list,
         list,
         channels,
         quality,
         yes,
         {}},
        withKey(mpeg, FormatKey(Format::Mpeg1)),
        withKey(mpeg, FormatKey(Format::Mpeg2)),
        {FormatKey(Format::Wmv),
         list,
         fixed("29.97"),
         list,
         list,
         dash,
         list,
         fixed("mp3"),
         list,
         list,
         channels,
         quality,
         yes,
         {}},
        {FormatKey(Format::PspAvc),
         fixed("368x208"),
         fixed("29.97"),
         fixed("400"),
         fixed("h264"),
         dash,
         fixed(".avi"),
         fixed("aac"),
         fixed("128"),
         fixed("48000"),
         fixed("2"),
         dash,
         dash,
         {ConverterSetting::Text(ConverterProperty::GroupOfPictureSize, "250"),
          ConverterSetting::Text(ConverterProperty::VideoQuantiserScale, "25"),
          ConverterSetting::Text(ConverterProperty::MaxVideoBitrate, "1500"),
          ConverterSetting::Text(ConverterProperty::RateControlBuffer, "128")}},
        pspMinimal,
        pspWithBitrate(FormatKey(Format::PspExcellent), "768"),
        pspWithBitrate(FormatKey(Format::PspNormal), "512"),
        {FormatKey(Format::RealMedia),
         list,
         list,
         list,
         list,
         dash,
         list,
         dash,
         dash,
         list,
         channels,
         dash,
         yes,
         {}},
        {FormatKey(Format::QuickTime),
         list,
         list,
         list,
         dash,
         dash,
         list,
         list,
         list,
         list,
         channels,
         quality,
         yes,
         {}},
        withKey(appleMpeg4, FormatKey(Format::IPod)),
        withKey(appleMpeg4, FormatKey(Format::IPod2)),
        withKey(appleMpeg4, FormatKey(Format::IPhone)),
    };
}

struct Column {
    ConverterProperty property;
    PropertySource MappingRow::*source;
    OptionList OptionChoices::*list; // the list a List source reads
};

constexpr std::array<Column, 11> kColumns = {{
    {ConverterProperty::VideoSize, &MappingRow::VideoSize, &OptionChoices::cmbVideoSize},
    {ConverterProperty::VideoFrameRate, &MappingRow::VideoFrameRate, &OptionChoices::FrameRate},
    {ConverterProperty::VideoBitrate, &MappingRow::VideoBitrate, &OptionChoices::VidBitrate},
    {ConverterProperty::VideoCodec, &MappingRow::VideoCodec, &OptionChoices::cmbVidCodec},
    {ConverterProperty::VideoBitrateTolerance, &MappingRow::VideoBitrateTolerance, nullptr},
    {ConverterProperty::AudioCodec, &MappingRow::AudioCodec, &OptionChoices::cmdAudCodec},
    {ConverterProperty::AudioBitrate, &MappingRow::AudioBitrate, &OptionChoices::cmbAudVit},
    {ConverterProperty::AudioSamples, &MappingRow::AudioSamples, &OptionChoices::cmbSample},
    {ConverterProperty::AudioChannels, &MappingRow::AudioChannels, nullptr},
    {ConverterProperty::SameQuality, &MappingRow::SameQuality, nullptr},
    {ConverterProperty::DeInterlace, &MappingRow::DeInterlace, nullptr},
}};

bool qualityTicked(const OptionChoices& choices) {
    return choices.chkQuality == 1;
}

std::optional<ConverterSetting> resolve(const Column& column, const MappingRow& row,
                                        const OptionChoices& choices) {
    const PropertySource& source = row.*(column.source);
    const ConverterProperty property = column.property;
    switch (source.kind) {
    case SourceKind::List:
        return ConverterSetting::Text(property, (choices.*(column.list)).text());
    case SourceKind::Fixed:
        return ConverterSetting::Text(property, source.fixed);
    case SourceKind::Channels:
        // Two separate tests, Mono first, so Stereo wins should both be selected.
        if (choices.OptStereo)
            return ConverterSetting::Text(property, QStringLiteral("2"));
        if (choices.OptMono)
            return ConverterSetting::Text(property, QStringLiteral("1"));
        return std::nullopt;
    case SourceKind::Quality:
        if (qualityTicked(choices))
            return ConverterSetting::Flag(property, true);
        return std::nullopt;
    case SourceKind::QualityOrFalse:
        return ConverterSetting::Flag(property, qualityTicked(choices));
    case SourceKind::True:
        return ConverterSetting::Flag(property, true);
    case SourceKind::NotSet:
        break;
    }
    return std::nullopt;
}

QString extensionOf(const MappingRow& row, const OptionChoices& choices) {
    return row.Extension.kind == SourceKind::Fixed ? row.Extension.fixed
                                                   : choices.cmbVidFormat.text();
}

} // namespace

const std::vector<MappingRow>& Rows() {
    static const std::vector<MappingRow> rows = buildRows();
    return rows;
}

const MappingRow* FindRow(const QString& formatText) {
    for (const MappingRow& row : Rows())
        if (row.key == formatText)
            return &row;
    return nullptr;
}

QString DestinationName(const QString& sourcePath, const QString& extension) {
    const QString fileName = modMain::GetFileName(sourcePath);
    const QString oldExtension = modMain::GetFileExtension(fileName);
    const int kept = fileName.contains(QLatin1Char('.')) ? fileName.size() - oldExtension.size() - 1
                                                         : fileName.size();
    return fileName.left(kept) + extension;
}

std::optional<ConversionRequest> BuildRequest(const QString& formatText,
                                              const OptionChoices& choices,
                                              const QString& destFolder,
                                              const QString& sourcePath) {
    const MappingRow* row = FindRow(formatText);
    if (!row)
        return std::nullopt;
    ConversionRequest request;
    request.extension = extensionOf(*row, choices);
    for (const Column& column : kColumns)
        if (const auto setting = resolve(column, *row, choices))
            request.settings.push_back(*setting);
    for (const ConverterSetting& extra : row->FixedExtras)
        request.settings.push_back(extra);
    request.destinationName = DestinationName(sourcePath, request.extension);
    request.settings.push_back(ConverterSetting::Text(ConverterProperty::SourceFile, sourcePath));
    request.settings.push_back(ConverterSetting::Text(
        ConverterProperty::DestFile, destFolder + QLatin1Char('/') + request.destinationName));
    return request;
}

} // namespace ConversionMapping
