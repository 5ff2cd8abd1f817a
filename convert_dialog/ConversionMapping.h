#pragma once
#include "ConverterParameters.h"
#include "FormatKey.h"
#include "OptionChoices.h"

#include <QString>
#include <optional>
#include <vector>

// How the dialog's choices become the converter's parameters, one row per target format.
namespace ConversionMapping {

// Where one property's value comes from.
enum class SourceKind {
    List,           // the current text of the property's own option list
    Fixed,          // a fixed text
    Channels,       // "1" for Mono, "2" for Stereo, not set with neither
    Quality,        // true when "Same quality" is ticked, otherwise not set
    QualityOrFalse, // true when "Same quality" is ticked, otherwise false
    True,           // always true
    NotSet,         // left as the converter holds it
};

struct PropertySource {
    SourceKind kind = SourceKind::NotSet;
    QString fixed;

    PropertySource() = default;
    PropertySource(SourceKind sourceKind) : kind(sourceKind) {}
    // A text in the mapping table is a fixed value.
    PropertySource(const char* text) : kind(SourceKind::Fixed), fixed(QString::fromLatin1(text)) {}
};

struct MappingRow {
    Format format; // the row's key is the format's display text
    PropertySource VideoSize;
    PropertySource VideoFrameRate;
    PropertySource VideoBitrate;
    PropertySource VideoCodec;
    PropertySource VideoBitrateTolerance;
    PropertySource Extension; // from cmbVidFormat, or fixed
    PropertySource AudioCodec;
    PropertySource AudioBitrate;
    PropertySource AudioSamples;
    PropertySource AudioChannels;
    PropertySource SameQuality;
    PropertySource DeInterlace;
    std::vector<ConverterSetting> FixedExtras; // further fixed properties of the row
};

// One row per format, keyed by the same format keys as the presets.
const std::vector<MappingRow>& Rows();
// The row whose key equals `formatText` exactly, or nullptr.
const MappingRow* FindRow(const QString& formatText);

struct ConversionRequest {
    // The row's properties, then SourceFile and DestFile; properties the row leaves alone are
    // absent, so the converter keeps what it holds for them.
    std::vector<ConverterSetting> settings;
    QString extension;
    QString destinationName;
};

// The request for converting `sourcePath` into the folder `destFolder`, or nothing when the
// format text has no row.
std::optional<ConversionRequest> BuildRequest(const QString& formatText,
                                              const OptionChoices& choices,
                                              const QString& destFolder, const QString& sourcePath);

// The source file's name without its extension (and its dot), then " (<nameTag>)" when a tag
// is given, then `extension`.
QString DestinationName(const QString& sourcePath, const QString& extension,
                        const QString& nameTag = QString());

// What the result's name says of a target that shares its extension with another of today's
// ("H.265" for MP4 H.265), so that one never takes the other's file; empty for the rest.
QString NameTag(Format format);

// `name` in `destFolder`, or the first free "<name> (2).<ext>" beside it when that would be the
// source file itself.
QString DestinationPath(const QString& destFolder, const QString& name, const QString& sourcePath);

} // namespace ConversionMapping
