#pragma once
#include <QString>

class AVC;

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

bool IsFlagProperty(ConverterProperty property);
// The property's name as the converter's interface spells it ("VideoBitrateTolerance").
QString PropertyName(ConverterProperty property);
// Hands the setting to the converter's setter for its property.
void ApplySetting(AVC& converter, const ConverterSetting& setting);
