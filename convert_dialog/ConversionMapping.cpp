#include "ConversionMapping.h"

#include "FinishedFile.h"
#include "FormatKey.h"
#include "modMain.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace ConversionMapping {

namespace {

using F = Format;

const PropertySource list = SourceKind::List;
const PropertySource channels = SourceKind::Channels;
const PropertySource quality = SourceKind::Quality;
const PropertySource qualityOrFalse = SourceKind::QualityOrFalse;
const PropertySource yes = SourceKind::True;
const PropertySource dash = SourceKind::NotSet;

std::vector<ConverterSetting> muxer(const char* name) {
    return {ConverterSetting::Text(ConverterProperty::ForceFormat, QString::fromLatin1(name))};
}

std::vector<MappingRow> buildRows() {
    const std::vector<ConverterSetting> pspAvcExtras = {
        ConverterSetting::Text(ConverterProperty::GroupOfPictureSize, "250"),
        ConverterSetting::Text(ConverterProperty::VideoQuantiserScale, "25"),
        ConverterSetting::Text(ConverterProperty::MaxVideoBitrate, "1500"),
        ConverterSetting::Text(ConverterProperty::RateControlBuffer, "128"),
    };
    // One row per format. A quoted text is a fixed value; the other cells are the kinds above.
    // Columns: VideoSize, VideoFrameRate, VideoBitrate, VideoCodec, VideoBitrateTolerance, the
    // extension (from cmbVidFormat), AudioCodec, AudioBitrate, AudioSamples, AudioChannels,
    // SameQuality, DeInterlace, and further fixed properties.
    // clang-format off
    return {
        // format         size       rate     bitrate codec   tolerance ext     acodec abitrate samples  channels  sameq           deint others
        {F::ThreeGpp,     list,      list,    list,   list,   "60",     list,   list,  list,    list,    "1",      quality,        yes,  {}},
        {F::ThreeGpp2,    list,      list,    list,   list,   "60",     list,   list,  list,    list,    "1",      quality,        yes,  {}},
        {F::Avi,          list,      list,    list,   list,   "60",     list,   list,  list,    list,    channels, dash,           dash, {}},
        {F::DivX,         list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, quality,        yes,  {}},
        {F::Mpeg1,        list,      "29.97", list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, yes,  {}},
        {F::Mpeg2,        list,      "29.97", list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, yes,  {}},
        {F::Wmv,          list,      "29.97", list,   list,   dash,     list,   "mp3", list,    list,    channels, quality,        yes,  {}},
        {F::PspAvc,       "368x208", "29.97", "400",  "h264", dash,     ".avi", "aac", "128",   "48000", "2",      dash,           dash, pspAvcExtras},
        {F::PspMinimal,   "160x112", "29.97", "216",  "xvid", dash,     ".avi", "aac", "64",    "24000", "2",      dash,           dash, {}},
        {F::PspExcellent, "368x208", "29.97", "768",  "xvid", dash,     ".avi", "aac", "64",    "24000", "2",      dash,           dash, {}},
        {F::PspNormal,    "368x208", "29.97", "512",  "xvid", dash,     ".avi", "aac", "64",    "24000", "2",      dash,           dash, {}},
        {F::RealMedia,    list,      list,    list,   list,   dash,     list,   dash,  dash,    list,    channels, dash,           yes,  {}},
        {F::QuickTime,    list,      list,    list,   dash,   dash,     list,   list,  list,    list,    channels, quality,        yes,  {}},
        {F::IPod,         list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, quality,        yes,  {}},
        {F::IPod2,        list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, quality,        yes,  {}},
        {F::IPhone,       list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, quality,        yes,  {}},
        // Today's formats name their muxer; "Same quality" keeps the streams that fit as they are.
        {F::Mp4H264,      list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("mp4")},
        {F::Mp4H265,      list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("mp4")},
        {F::WebmVp9,      list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("webm")},
        {F::WebmAv1,      list,      list,    list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("webm")},
        {F::MkvKeepStreams, list,    list,    list,   list,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("matroska")},
        {F::Mp3Audio,     dash,      dash,    dash,   dash,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("mp3")},
        {F::M4aAudio,     dash,      dash,    dash,   dash,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("ipod")},
        {F::OpusAudio,    dash,      dash,    dash,   dash,   dash,     list,   list,  list,    list,    channels, qualityOrFalse, dash, muxer("opus")},
        {F::FlacAudio,    dash,      dash,    dash,   dash,   dash,     list,   list,  dash,    list,    channels, qualityOrFalse, dash, muxer("flac")},
    };
    // clang-format on
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
    case SourceKind::List: {
        // "Same as source" asks for nothing: the option stays off the command line.
        const QString text = (choices.*(column.list)).text();
        return ConverterSetting::Text(property,
                                      text == QLatin1String(kSameAsSource) ? QString() : text);
    }
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

// Today's formats leave nothing to chance: every property they do not set is cleared, so that
// what a preset of the sixteen set at once, or a cancelled run left, does not reach them.
void ClearTheRest(std::vector<ConverterSetting>& settings) {
    for (const PropertyRow& row : kPropertyTable) {
        if (row.property == ConverterProperty::SourceFile ||
            row.property == ConverterProperty::DestFile)
            continue;
        const bool set = std::any_of(settings.begin(), settings.end(), [&](const auto& setting) {
            return setting.property == row.property;
        });
        if (!set)
            settings.push_back(IsFlagProperty(row.property)
                                   ? ConverterSetting::Flag(row.property, false)
                                   : ConverterSetting::Text(row.property, QString()));
    }
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
        if (FormatKey(row.format) == formatText)
            return &row;
    return nullptr;
}

QString DestinationName(const QString& sourcePath, const QString& extension,
                        const QString& nameTag) {
    const QString fileName = modMain::GetFileName(sourcePath);
    const QString oldExtension = modMain::GetFileExtension(fileName);
    const int kept = fileName.contains(QLatin1Char('.')) ? fileName.size() - oldExtension.size() - 1
                                                         : fileName.size();
    const QString tag = nameTag.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(nameTag);
    return fileName.left(kept) + tag + extension;
}

QString NameTag(Format format) {
    switch (format) {
    case Format::Mp4H264:
    case Format::Mp4H265:
    case Format::WebmVp9:
    case Format::WebmAv1:
        // The key's second word is the video codec: "MP4 H.265 / AAC (*.mp4)".
        return FormatKey(format).section(QLatin1Char(' '), 1, 1);
    default:
        return QString();
    }
}

QString DestinationPath(const QString& destFolder, const QString& name, const QString& sourcePath) {
    const QString path = destFolder + QLatin1Char('/') + name;
    const QFileInfo destination(path);
    const QFileInfo source(sourcePath);
    const bool sameFile = destination.exists() && source.exists() &&
                          destination.canonicalFilePath() == source.canonicalFilePath();
    if (!sameFile)
        return path;
    const QString free = FinishedFile::FreeName(path);
    return free.isEmpty() ? path : free;
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
    if (!IsLegacyFormat(row->format))
        ClearTheRest(request.settings);
    const QString destination = DestinationPath(
        destFolder, DestinationName(sourcePath, request.extension, NameTag(row->format)),
        sourcePath);
    request.destinationName = QFileInfo(destination).fileName();
    request.settings.push_back(ConverterSetting::Text(ConverterProperty::SourceFile, sourcePath));
    request.settings.push_back(ConverterSetting::Text(ConverterProperty::DestFile, destination));
    return request;
}

} // namespace ConversionMapping
