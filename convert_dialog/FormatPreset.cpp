#include "FormatPreset.h"

#include "FormatKey.h"

#include <array>
#include <initializer_list>
#include <utility>

namespace PresetCatalogue {

namespace {

using F = Format;

// An enabled list of `items` that shows the first, or the item `shown`.
PresetList open(const QStringList& items, const char* shown = nullptr) {
    return {items, shown ? int(items.indexOf(QString::fromLatin1(shown))) : 0, false};
}
// A disabled list of `items` that shows the first.
PresetList locked(const QStringList& items) {
    return {items, 0, true};
}

ConverterSetting tolerance(const char* value) {
    return ConverterSetting::Text(ConverterProperty::VideoBitrateTolerance,
                                  QString::fromLatin1(value));
}
ConverterSetting channels(const char* count) {
    return ConverterSetting::Text(ConverterProperty::AudioChannels, QString::fromLatin1(count));
}

// The catalogue in two halves, one row per format in each.
struct VideoSide {
    Format format;
    PresetList cmbVidFormat, cmbVideoSize, VidBitrate, FrameRate, cmbVidCodec;
};
struct AudioSide {
    Format format;
    PresetList cmdAudCodec, cmbAudVit, cmbSample;
    std::vector<ConverterSetting> ImmediateParameters;
};

// A quality list: constant quality at each rate factor ("RF22", the smaller the finer), then
// average bit rates in kbit/s for a user who needs a size known in advance.
QStringList qualityList(std::initializer_list<int> rateFactors) {
    QStringList items;
    for (const int factor : rateFactors)
        items << QStringLiteral("RF%1").arg(factor);
    return items + QStringList{"1000", "2500", "5000", "8000", "16000"};
}

// Today's formats. Constant quality by default, at the rate factors the usual tools start from
// (x264 at 22, x265 at 24, VP9 at 32, SVT-AV1 at 35); every other choice keeps the source.
std::vector<FormatPreset> modernPresets() {
    const PresetList none = locked({});
    const PresetList same = locked({kSameAsSource});
    const auto video = [&](Format format, const char* extension, const char* codec,
                           const PresetList& quality, const char* audioCodec,
                           const char* audioBitrate, const QStringList& sampleRates) {
        FormatPreset preset{
            FormatKey(format),           locked({extension}),
            open(LinesList()),           quality,
            open(ModernFrameRateList()), locked({codec}),
            locked({audioCodec}),        open(ModernAudioBitrateList(), audioBitrate),
            open(sampleRates),           {}};
        preset.selectsMono = false;
        return preset;
    };
    const auto sound = [&](Format format, const char* extension, const char* codec,
                           const PresetList& bitrate, const QStringList& sampleRates) {
        FormatPreset preset{
            FormatKey(format), locked({extension}), none, none, none, none, locked({codec}),
            bitrate,           open(sampleRates),   {}};
        preset.selectsMono = false;
        preset.videoPanel = false;
        return preset;
    };
    FormatPreset keep{FormatKey(F::MkvKeepStreams),
                      locked({".mkv"}),
                      same,
                      same,
                      same,
                      locked({"copy"}),
                      locked({"copy"}),
                      same,
                      same,
                      {}};
    keep.selectsMono = false;
    const QStringList& rates = ModernSampleRateList();
    const QStringList& opusRates = OpusSampleRateList();
    const QStringList& bitrates = ModernAudioBitrateList();
    return {
        video(F::Mp4H264, ".mp4", "h264", open(qualityList({18, 20, 22, 24, 26, 28}), "RF22"),
              "aac", "160", rates),
        video(F::Mp4H265, ".mp4", "hevc", open(qualityList({20, 22, 24, 26, 28, 30}), "RF24"),
              "aac", "160", rates),
        video(F::WebmVp9, ".webm", "vp9", open(qualityList({24, 28, 32, 36, 40}), "RF32"), "opus",
              "128", opusRates),
        video(F::WebmAv1, ".webm", "av1", open(qualityList({25, 30, 35, 40, 45}), "RF35"), "opus",
              "128", opusRates),
        keep,
        sound(F::Mp3Audio, ".mp3", "mp3", open(bitrates, "192"), rates),
        sound(F::M4aAudio, ".m4a", "aac", open(bitrates, "160"), rates),
        sound(F::OpusAudio, ".opus", "opus", open(bitrates, "128"), opusRates),
        sound(F::FlacAudio, ".flac", "flac", locked({"Lossless"}), rates),
    };
}

std::vector<FormatPreset> buildCatalogue() {
    // clang-format off
    const std::vector<VideoSide> video = {
        // format         cmbVidFormat      cmbVideoSize         VidBitrate        FrameRate                  cmbVidCodec
        {F::ThreeGpp,     locked({".3gp"}), open(SizeListA()),   open({"120"}),    open({"11", "15"}),        open({"h263", "mpeg4", "xvid"})},
        {F::ThreeGpp2,    locked({".3g2"}), open(SizeListA()),   open({"120"}),    open({"11", "15"}),        open({"mpeg4", "xvid", "h263"})},
        {F::Avi,          locked({".avi"}), open(SizeListB()),   open({"120"}),    locked({"29.97"}),         open(VideoCodecList(), "mpeg4")},
        {F::DivX,         locked({".avi"}), open(SizeListB()),   open({"1200"}),   locked({"29.97"}),         locked({"mpeg4"})},
        {F::Mpeg1,        locked({".mpg"}), open(SizeListB()),   open({"120"}),    locked({"Auto"}),          locked({"mpeg1video"})},
        {F::Mpeg2,        locked({".mpg"}), open(SizeListB()),   open({"120"}),    locked({"Auto"}),          locked({"mpeg2video"})},
        {F::Wmv,          locked({".wmv"}), open(SizeListB()),   open({"120"}),    locked({"Auto"}),          open({"wmv1", "wmv2"})},
        {F::PspAvc,       locked({".avi"}), locked({"368x208"}), locked({"400"}),  locked({"29.97"}),         locked({"h264"})},
        {F::PspMinimal,   locked({".avi"}), locked({"160x112"}), locked({"216"}),  locked({"29.97"}),         locked({"xvid"})},
        {F::PspExcellent, locked({".avi"}), locked({"368x208"}), locked({"768"}),  locked({"29.97"}),         locked({"xvid"})},
        {F::PspNormal,    locked({".avi"}), locked({"368x208"}), locked({"512"}),  locked({"29.97"}),         locked({"xvid"})},
        {F::RealMedia,    locked({".rm"}),  open(SizeListB()),   locked({"Auto"}), locked({"Auto"}),          open(RealVideoCodecList())},
        {F::QuickTime,    locked({".mov"}), open(SizeListB()),   locked({"360"}),  locked({"29.97"}),         locked({"Auto"})},
        {F::IPod,         locked({".mpg"}), locked({"320x240"}), open({"512"}),    open({"29.97", "14.985"}), locked({"mpeg4"})},
        {F::IPod2,        locked({".mpg"}), locked({"640x480"}), open({"1200"}),   open({"29.97", "14.985"}), locked({"Auto"})},
        {F::IPhone,       locked({".mpg"}), locked({"320x240"}), open({"1200"}),   open({"29.97", "14.985"}), locked({"mpeg4"})},
    };
    const std::vector<AudioSide> audio = {
        // format         cmdAudCodec                             cmbAudVit                         cmbSample                         ImmediateParameters
        {F::ThreeGpp,     locked({"amr_nb"}),                     open(AudioBitrateList()),         open(SampleRateListA()),          {tolerance("60")}},
        {F::ThreeGpp2,    locked({"amr_nb"}),                     open(AudioBitrateList()),         open(SampleRateListA()),          {tolerance("60")}},
        {F::Avi,          open(AviAudioCodecList(), "pcm_s16le"), open(AudioBitrateList(), "128"),  open(SampleRateListB()),          {tolerance("60")}},
        {F::DivX,         open(AviAudioCodecList()),              open(AudioBitrateList(), "128"),  open(SampleRateListB()),          {}},
        {F::Mpeg1,        open({"mp2"}),                          open(AudioBitrateList128First()), open(SampleRateListB()),          {channels("1")}},
        {F::Mpeg2,        open({"mp2", "ac3"}),                   open(AudioBitrateList128First()), open(SampleRateListB()),          {channels("1")}},
        {F::Wmv,          open({"wmav1", "wmav2", "mp3"}),        open(AudioBitrateList(), "128"),  open(SampleRateListB()),          {tolerance("60")}},
        {F::PspAvc,       locked({"aac"}),                        locked({"128"}),                  locked({"48000"}),                {}},
        {F::PspMinimal,   locked({"aac"}),                        locked({"64"}),                   locked({"24000"}),                {}},
        {F::PspExcellent, locked({"aac"}),                        locked({"64"}),                   locked({"24000"}),                {}},
        {F::PspNormal,    locked({"aac"}),                        locked({"64"}),                   locked({"24000"}),                {}},
        {F::RealMedia,    locked({"ac3"}),                        locked({"Auto"}),                 open(SampleRateListB(), "22050"), {}},
        {F::QuickTime,    locked({"aac"}),                        open(AudioBitrateList(), "48"),   open(SampleRateListB(), "22050"), {channels("2")}},
        {F::IPod,         locked({"aac"}),                        locked({"48"}),                   open(SampleRateListB(), "22050"), {tolerance("60"), channels("2")}},
        {F::IPod2,        locked({"aac"}),                        locked({"48"}),                   open(SampleRateListB(), "22050"), {tolerance("60"), channels("2")}},
        {F::IPhone,       locked({"aac"}),                        locked({"48"}),                   open(SampleRateListB(), "22050"), {tolerance("60"), channels("2")}},
    };
    // clang-format on
    std::vector<FormatPreset> catalogue;
    for (const VideoSide& v : video)
        for (const AudioSide& a : audio)
            if (a.format == v.format)
                catalogue.push_back({FormatKey(v.format), v.cmbVidFormat, v.cmbVideoSize,
                                     v.VidBitrate, v.FrameRate, v.cmbVidCodec, a.cmdAudCodec,
                                     a.cmbAudVit, a.cmbSample, a.ImmediateParameters});
    for (const FormatPreset& modern : modernPresets())
        catalogue.push_back(modern);
    return catalogue;
}

using ChoiceList = OptionList OptionChoices::*;
using PresetField = PresetList FormatPreset::*;

// The lists in the order they are emptied and enabled, and later given their selection.
constexpr std::array<ChoiceList, 8> kResetOrder = {
    &OptionChoices::cmbAudVit,   &OptionChoices::cmdAudCodec,  &OptionChoices::cmbSample,
    &OptionChoices::cmbVidCodec, &OptionChoices::cmbVidFormat, &OptionChoices::cmbVideoSize,
    &OptionChoices::VidBitrate,  &OptionChoices::FrameRate,
};

// Each list with its field in the preset, in the order the lists are filled.
constexpr std::array<std::pair<ChoiceList, PresetField>, 8> kFillOrder = {{
    {&OptionChoices::cmbVidFormat, &FormatPreset::cmbVidFormat},
    {&OptionChoices::cmbVideoSize, &FormatPreset::cmbVideoSize},
    {&OptionChoices::VidBitrate, &FormatPreset::VidBitrate},
    {&OptionChoices::FrameRate, &FormatPreset::FrameRate},
    {&OptionChoices::cmbVidCodec, &FormatPreset::cmbVidCodec},
    {&OptionChoices::cmdAudCodec, &FormatPreset::cmdAudCodec},
    {&OptionChoices::cmbAudVit, &FormatPreset::cmbAudVit},
    {&OptionChoices::cmbSample, &FormatPreset::cmbSample},
}};

PresetField presetFieldOf(ChoiceList list) {
    for (const auto& [choice, field] : kFillOrder)
        if (choice == list)
            return field;
    return nullptr;
}

} // namespace

const QStringList& SizeListA() {
    static const QStringList list{"176x144", "320x240", "352x288", "128x96",
                                  "160x120", "704x576", "640x480", "480x272"};
    return list;
}

const QStringList& SizeListB() {
    static const QStringList list{"320x240", "352x288", "176x144", "128x96",
                                  "160x120", "704x576", "640x480", "480x272"};
    return list;
}

const QStringList& AudioBitrateList() {
    static const QStringList list{"32",  "40",  "48",  "56",  "64",  "80",  "96",
                                  "112", "128", "160", "192", "224", "256", "320"};
    return list;
}

const QStringList& AudioBitrateList128First() {
    static const QStringList list{"128", "32",  "40",  "48",  "56",  "64",  "80",
                                  "96",  "112", "160", "192", "224", "256", "320"};
    return list;
}

// Both sample-rate lists hold "3200" (four digits), as the program always offered it.
const QStringList& SampleRateListA() {
    static const QStringList list{"8000", "48000", "44100", "3200", "22050"};
    return list;
}

const QStringList& SampleRateListB() {
    static const QStringList list{"44100", "48000", "3200", "22050"};
    return list;
}

const QStringList& AviAudioCodecList() {
    static const QStringList list{"mp3", "mp2", "pcm_s16le", "ac3"};
    return list;
}

const QStringList& VideoCodecList() {
    // clang-format off
    static const QStringList list{ // eight a line: "mpeg4" is index 62
        "4xm",            "8bps",           "asv1",           "asv2",           "camtasia",       "cinepak",        "cljr",           "cyuv",
        "dvvideo",        "ffv1",           "ffvhuff",        "flic",           "flv",            "h261",           "h263",           "h263i",
        "h263p",          "h264",           "huffyuv",        "idcinvideo",     "indeo3",         "interplayvideo", "ljpeg",          "loco",
        "mdec",           "mjpeg",          "mjpegb",         "pgm",            "pgmyuv",         "png",            "ppm",            "qdraw",
        "qpeg",           "qtrle",          "rawvideo",       "roqvideo",       "rpza",           "rv10",           "rv20",           "smc",
        "snow",           "sp5x",           "svq1",           "svq3",           "theora",         "truemotion1",    "ultimotion",     "vc9",
        "vcr1",           "vmdvideo",       "vp3",            "vqavideo",       "wmv1",           "wmv2",           "wmv3",           "wnv1",
        "xan_wc3",        "xl",             "xvid",           "zlib",           "mpeg1video",     "mpeg2video",     "mpeg4",          "mpegvideo",
        "msmpeg4",        "msmpeg4v1",      "msmpeg4v2",      "msrle",          "msvideo1",       "mszh",           "pam",            "pbm"};
    // clang-format on
    return list;
}

const QStringList& RealVideoCodecList() {
    static const QStringList list = [] {
        QStringList real{"rv10", "rv20"};
        for (const QString& codec : VideoCodecList())
            if (codec != QLatin1String("rv10") && codec != QLatin1String("rv20"))
                real.append(codec);
        return real;
    }();
    return list;
}

const QStringList& LinesList() {
    static const QStringList list{kSameAsSource, "2160p", "1440p", "1080p", "720p", "480p", "360p"};
    return list;
}

const QStringList& ModernFrameRateList() {
    static const QStringList list{kSameAsSource, "23.976", "24",    "25", "29.97",
                                  "30",          "50",     "59.94", "60"};
    return list;
}

const QStringList& ModernSampleRateList() {
    static const QStringList list{kSameAsSource, "48000", "44100", "32000", "22050"};
    return list;
}

const QStringList& OpusSampleRateList() {
    static const QStringList list{kSameAsSource, "48000", "24000", "16000"};
    return list;
}

const QStringList& ModernAudioBitrateList() {
    static const QStringList list{"64", "96", "128", "160", "192", "256", "320"};
    return list;
}

const std::vector<FormatPreset>& Presets() {
    static const std::vector<FormatPreset> catalogue = buildCatalogue();
    return catalogue;
}

const FormatPreset* Find(const QString& formatText) {
    for (const FormatPreset& preset : Presets())
        if (preset.key == formatText)
            return &preset;
    return nullptr;
}

void ResetOptionLists(OptionChoices& choices) {
    for (ChoiceList list : kResetOrder) {
        (choices.*list).items.clear();
        (choices.*list).selected = -1;
    }
    for (ChoiceList list : kResetOrder)
        (choices.*list).enabled = true;
    choices.chkQuality = 1;
    choices.chkQualityEnabled = true;
    choices.OptMono = false;
    choices.OptStereo = false;
    choices.videoPanelEnabled = true;
}

bool Apply(const QString& formatText, OptionChoices& choices, const ImmediateSink& sink) {
    ResetOptionLists(choices);
    const FormatPreset* preset = Find(formatText);
    if (!preset)
        return false;
    for (const auto& [list, field] : kFillOrder) {
        (choices.*list).items = (preset->*field).items;
        if ((preset->*field).locked)
            (choices.*list).enabled = false;
    }
    for (const ConverterSetting& setting : preset->ImmediateParameters)
        sink(setting);
    choices.OptMono = preset->selectsMono;
    choices.OptStereo = false;
    choices.videoPanelEnabled = preset->videoPanel;
    for (ChoiceList list : kResetOrder)
        (choices.*list).selected = (preset->*presetFieldOf(list)).selected;
    return true;
}

} // namespace PresetCatalogue
