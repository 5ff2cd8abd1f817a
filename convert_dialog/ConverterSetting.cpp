#include "ConverterSetting.h"

#include "AVC.h"

bool IsFlagProperty(ConverterProperty property) {
    return property == ConverterProperty::DeInterlace || property == ConverterProperty::SameQuality;
}

QString PropertyName(ConverterProperty property) {
    switch (property) {
    case ConverterProperty::RateControlBuffer:
        return QStringLiteral("RateControlBuffer");
    case ConverterProperty::VideoBitrateTolerance:
        return QStringLiteral("VideoBitrateTolerance");
    case ConverterProperty::TargetFormat:
        return QStringLiteral("TargetFormat");
    case ConverterProperty::GroupOfPictureSize:
        return QStringLiteral("GroupOfPictureSize");
    case ConverterProperty::VideoQuantiserScale:
        return QStringLiteral("VideoQuantiserScale");
    case ConverterProperty::MaxVideoBitrate:
        return QStringLiteral("MaxVideoBitrate");
    case ConverterProperty::SourceFile:
        return QStringLiteral("SourceFile");
    case ConverterProperty::DestFile:
        return QStringLiteral("DestFile");
    case ConverterProperty::DeInterlace:
        return QStringLiteral("DeInterlace");
    case ConverterProperty::SameQuality:
        return QStringLiteral("SameQuality");
    case ConverterProperty::VideoSize:
        return QStringLiteral("VideoSize");
    case ConverterProperty::VideoBitrate:
        return QStringLiteral("VideoBitrate");
    case ConverterProperty::VideoFrameRate:
        return QStringLiteral("VideoFrameRate");
    case ConverterProperty::VideoCodec:
        return QStringLiteral("VideoCodec");
    case ConverterProperty::VideoFourCCTag:
        return QStringLiteral("VideoFourCCTag");
    case ConverterProperty::VideoAspectRatio:
        return QStringLiteral("VideoAspectRatio");
    case ConverterProperty::ForceFormat:
        return QStringLiteral("ForceFormat");
    case ConverterProperty::AudioBitrate:
        return QStringLiteral("AudioBitrate");
    case ConverterProperty::AudioCodec:
        return QStringLiteral("AudioCodec");
    case ConverterProperty::AudioFourCCTag:
        return QStringLiteral("AudioFourCCTag");
    case ConverterProperty::AudioSamples:
        return QStringLiteral("AudioSamples");
    case ConverterProperty::AudioChannels:
        return QStringLiteral("AudioChannels");
    }
    return QString();
}

namespace {
using TextSetter = void (AVC::*)(const QString&);

TextSetter textSetterFor(ConverterProperty property) {
    switch (property) {
    case ConverterProperty::RateControlBuffer:
        return &AVC::SetRateControlBuffer;
    case ConverterProperty::VideoBitrateTolerance:
        return &AVC::SetVideoBitrateTolerance;
    case ConverterProperty::TargetFormat:
        return &AVC::SetTargetFormat;
    case ConverterProperty::GroupOfPictureSize:
        return &AVC::SetGroupOfPictureSize;
    case ConverterProperty::VideoQuantiserScale:
        return &AVC::SetVideoQuantiserScale;
    case ConverterProperty::MaxVideoBitrate:
        return &AVC::SetMaxVideoBitrate;
    case ConverterProperty::SourceFile:
        return &AVC::SetSourceFile;
    case ConverterProperty::DestFile:
        return &AVC::SetDestFile;
    case ConverterProperty::VideoSize:
        return &AVC::SetVideoSize;
    case ConverterProperty::VideoBitrate:
        return &AVC::SetVideoBitrate;
    case ConverterProperty::VideoFrameRate:
        return &AVC::SetVideoFrameRate;
    case ConverterProperty::VideoCodec:
        return &AVC::SetVideoCodec;
    case ConverterProperty::VideoFourCCTag:
        return &AVC::SetVideoFourCCTag;
    case ConverterProperty::VideoAspectRatio:
        return &AVC::SetVideoAspectRatio;
    case ConverterProperty::ForceFormat:
        return &AVC::SetForceFormat;
    case ConverterProperty::AudioBitrate:
        return &AVC::SetAudioBitrate;
    case ConverterProperty::AudioCodec:
        return &AVC::SetAudioCodec;
    case ConverterProperty::AudioFourCCTag:
        return &AVC::SetAudioFourCCTag;
    case ConverterProperty::AudioSamples:
        return &AVC::SetAudioSamples;
    case ConverterProperty::AudioChannels:
        return &AVC::SetAudioChannels;
    case ConverterProperty::DeInterlace:
    case ConverterProperty::SameQuality:
        break;
    }
    return nullptr;
}
} // namespace

void ApplySetting(AVC& converter, const ConverterSetting& setting) {
    switch (setting.property) {
    case ConverterProperty::DeInterlace:
        converter.SetDeInterlace(setting.flag);
        return;
    case ConverterProperty::SameQuality:
        converter.SetSameQuality(setting.flag);
        return;
    default:
        (converter.*textSetterFor(setting.property))(setting.text);
    }
}
