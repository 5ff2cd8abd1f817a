#include "AVC.h"
#include "ConversionMapping.h"
#include "FormatPreset.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using ConversionMapping::BuildRequest;
using ConversionMapping::DestinationName;

namespace {

const QString k3gp = QStringLiteral("3rd Generation Partnership Project (*.3gp)");
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kDivX = QStringLiteral("DivX Format (*.avi)");
const QString kMpeg1 = QStringLiteral("MPEG-1 Format (*.mpg)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
const QString kPspAvc = QStringLiteral("Sony PSP (PSP AVC)");
const QString kRm = QStringLiteral("RealONE/RealPlayer Format (*.rm)");
const QString kMov = QStringLiteral("QuickTime MOV (*.mov)");
const QString kIpod2 = QStringLiteral("iPOD Video2 (640x480) MPEG4 (*.mpg)");

const QString kSource = QStringLiteral("/home/ann/Videos/clip.flv");
const QString kDest = QStringLiteral("/home/ann/Out");

OptionChoices presetChoices(const QString& format) {
    OptionChoices choices;
    PresetCatalogue::Apply(format, choices, [](const ConverterSetting&) {});
    return choices;
}

void choose(OptionList& list, const QString& text) {
    list.selected = list.items.indexOf(text);
    QVERIFY2(list.selected >= 0, qPrintable(text));
}

using Settings = QMap<QString, QString>;

// The properties a request sets (paths left out), flags as "true"/"false".
Settings propertiesOf(const ConversionMapping::ConversionRequest& request) {
    Settings map;
    for (const ConverterSetting& s : request.settings) {
        if (s.property == ConverterProperty::SourceFile ||
            s.property == ConverterProperty::DestFile)
            continue;
        const QString name = PropertyName(s.property);
        if (map.contains(name))
            map.insert(name, QStringLiteral("set twice"));
        else
            map.insert(name, IsFlagProperty(s.property) ? (s.flag ? "true" : "false") : s.text);
    }
    return map;
}

Settings mapped(const QString& format, const OptionChoices& choices) {
    const auto request = BuildRequest(format, choices, kDest, kSource);
    return request ? propertiesOf(*request) : Settings{{"declined", "yes"}};
}

Settings mapped(const QString& format) {
    return mapped(format, presetChoices(format));
}

} // namespace

class tst_ConversionMapping : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void untouchedPresetsGiveTheirRequests_data();
    void untouchedPresetsGiveTheirRequests();
    void everyRowSetsEachPropertyOnceAndBothPaths();
    void fixedValuesOverrideWhatTheListsShow();
    void pspFormatsReadNoControl();
    void mobileFormatsAlwaysAskForOneChannel();
    void channelsFollowTheOptionButtons();
    void sameQualityDependsOnTheRow();
    void listTextsPassUnchanged();
    void unknownFormatIsDeclined();
    void destinationName_data();
    void destinationName();
    void destinationFileJoinsFolderAndName();
    void settingsReachTheConverterCommandLine();
    void dashesKeepWhatTheConverterHolds();

private:
    QTemporaryDir converterFolder_;
};

// No converter program where the converter looks: ConvertMedia stops at "Unable to locate",
// after it has built the command line.
void tst_ConversionMapping::initTestCase() {
    QVERIFY(converterFolder_.isValid());
    AVC::SetProgramFolder(converterFolder_.path());
}

void tst_ConversionMapping::untouchedPresetsGiveTheirRequests_data() {
    QTest::addColumn<Settings>("expected");
    QTest::newRow("3gp") << Settings{
        {"VideoSize", "176x144"}, {"VideoFrameRate", "11"},        {"VideoBitrate", "120"},
        {"VideoCodec", "h263"},   {"VideoBitrateTolerance", "60"}, {"AudioCodec", "amr_nb"},
        {"AudioBitrate", "32"},   {"AudioSamples", "8000"},        {"AudioChannels", "1"},
        {"SameQuality", "true"},  {"DeInterlace", "true"}};
    QTest::newRow("AVI Format (*.avi)") << Settings{
        {"VideoSize", "320x240"}, {"VideoFrameRate", "29.97"},     {"VideoBitrate", "120"},
        {"VideoCodec", "mpeg4"},  {"VideoBitrateTolerance", "60"}, {"AudioCodec", "pcm_s16le"},
        {"AudioBitrate", "128"},  {"AudioSamples", "44100"},       {"AudioChannels", "1"}};
    QTest::newRow("Sony PSP (PSP AVC)") << Settings{
        {"VideoSize", "368x208"},      {"VideoFrameRate", "29.97"}, {"VideoBitrate", "400"},
        {"VideoCodec", "h264"},        {"AudioCodec", "aac"},       {"AudioBitrate", "128"},
        {"AudioSamples", "48000"},     {"AudioChannels", "2"},      {"GroupOfPictureSize", "250"},
        {"VideoQuantiserScale", "25"}, {"MaxVideoBitrate", "1500"}, {"RateControlBuffer", "128"}};
    QTest::newRow("Sony PSP (Minimal Size)")
        << Settings{{"VideoSize", "160x112"},  {"VideoFrameRate", "29.97"}, {"VideoBitrate", "216"},
                    {"VideoCodec", "xvid"},    {"AudioCodec", "aac"},       {"AudioBitrate", "64"},
                    {"AudioSamples", "24000"}, {"AudioChannels", "2"}};
    QTest::newRow("RealONE/RealPlayer Format (*.rm)")
        << Settings{{"VideoSize", "320x240"}, {"VideoFrameRate", "Auto"}, {"VideoBitrate", "Auto"},
                    {"VideoCodec", "rv10"},   {"AudioSamples", "22050"},  {"AudioChannels", "1"},
                    {"DeInterlace", "true"}};
    QTest::newRow("QuickTime MOV (*.mov)") << Settings{
        {"VideoSize", "320x240"}, {"VideoFrameRate", "29.97"}, {"VideoBitrate", "360"},
        {"AudioCodec", "aac"},    {"AudioBitrate", "48"},      {"AudioSamples", "22050"},
        {"AudioChannels", "1"},   {"SameQuality", "true"},     {"DeInterlace", "true"}};
    QTest::newRow("iPOD Video2 (640x480) MPEG4 (*.mpg)") << Settings{
        {"VideoSize", "640x480"},  {"VideoFrameRate", "29.97"}, {"VideoBitrate", "1200"},
        {"VideoCodec", "Auto"},    {"AudioCodec", "aac"},       {"AudioBitrate", "48"},
        {"AudioSamples", "22050"}, {"AudioChannels", "1"},      {"SameQuality", "true"},
        {"DeInterlace", "true"}};
}

void tst_ConversionMapping::untouchedPresetsGiveTheirRequests() {
    QFETCH(Settings, expected);
    const QString tag = QString::fromUtf8(QTest::currentDataTag());
    QCOMPARE(mapped(tag == "3gp" ? k3gp : tag), expected);
}

void tst_ConversionMapping::everyRowSetsEachPropertyOnceAndBothPaths() {
    QCOMPARE(ConversionMapping::Rows().size(), size_t(16));
    for (const FormatPreset& preset : PresetCatalogue::Presets()) {
        const auto request = BuildRequest(preset.key, presetChoices(preset.key), kDest, kSource);
        QVERIFY2(request, qPrintable(preset.key));
        QVERIFY(!propertiesOf(*request).values().contains("set twice"));
        // The five properties no format uses stay out of every request.
        for (const char* unused : {"TargetFormat", "ForceFormat", "VideoFourCCTag",
                                   "AudioFourCCTag", "VideoAspectRatio"})
            QVERIFY(!propertiesOf(*request).contains(unused));
        const ConverterSetting& source = request->settings.at(request->settings.size() - 2);
        const ConverterSetting& dest = request->settings.back();
        QCOMPARE(source, ConverterSetting::Text(ConverterProperty::SourceFile, kSource));
        QCOMPARE(dest.property, ConverterProperty::DestFile);
        QCOMPARE(dest.text, kDest + "/clip" + preset.cmbVidFormat.items.first());
    }
}

void tst_ConversionMapping::fixedValuesOverrideWhatTheListsShow() {
    OptionChoices wmv = presetChoices(kWmv);
    choose(wmv.cmdAudCodec, "wmav2");
    QCOMPARE(wmv.FrameRate.text(), QStringLiteral("Auto"));
    const Settings wmvRequest = mapped(kWmv, wmv);
    QCOMPARE(wmvRequest.value("AudioCodec"), QStringLiteral("mp3"));
    QCOMPARE(wmvRequest.value("VideoFrameRate"), QStringLiteral("29.97"));
    QVERIFY(!wmvRequest.contains("VideoBitrateTolerance"));

    QCOMPARE(mapped(kMpeg1).value("VideoFrameRate"), QStringLiteral("29.97"));

    // QuickTime never names a video codec, whatever the list shows.
    OptionChoices mov = presetChoices(kMov);
    mov.cmbVidCodec = {{"xvid"}, 0, true};
    QVERIFY(!mapped(kMov, mov).contains("VideoCodec"));
}

void tst_ConversionMapping::pspFormatsReadNoControl() {
    for (const QString& format :
         {QStringLiteral("Sony PSP (PSP AVC)"), QStringLiteral("Sony PSP (Minimal Size)"),
          QStringLiteral("Sony PSP (Excellent Quality)"), QStringLiteral("Sony PSP (Normal)")}) {
        OptionChoices changed = presetChoices(format);
        changed.cmbVideoSize = {{"640x480"}, 0, true};
        changed.cmbVidFormat = {{".mpg"}, 0, true};
        changed.cmdAudCodec = {{"mp3"}, 0, true};
        changed.OptMono = false;
        changed.OptStereo = true;
        changed.chkQuality = 1;
        QCOMPARE(mapped(format, changed), mapped(format));
        const auto request = BuildRequest(format, changed, kDest, kSource);
        QCOMPARE(request->extension, QStringLiteral(".avi"));
        QCOMPARE(request->settings.back().text, kDest + "/clip.avi");
        QCOMPARE(mapped(format).value("AudioChannels"), QStringLiteral("2"));
    }
}

void tst_ConversionMapping::mobileFormatsAlwaysAskForOneChannel() {
    for (const QString& format :
         {k3gp, QStringLiteral("3rd Generation Partnership Project2 (*.3g2)")}) {
        OptionChoices stereo = presetChoices(format);
        stereo.OptMono = false;
        stereo.OptStereo = true;
        QCOMPARE(mapped(format, stereo).value("AudioChannels"), QStringLiteral("1"));
        stereo.OptStereo = false;
        QCOMPARE(mapped(format, stereo).value("AudioChannels"), QStringLiteral("1"));
    }
}

void tst_ConversionMapping::channelsFollowTheOptionButtons() {
    for (const QString& format : {kAvi, kDivX, kMpeg1, kWmv, kRm, kMov, kIpod2}) {
        OptionChoices choices = presetChoices(format);
        choices.OptMono = false;
        choices.OptStereo = true;
        QCOMPARE(mapped(format, choices).value("AudioChannels"), QStringLiteral("2"));
        // Neither selected (possible after restored choices): the converter keeps its value.
        choices.OptStereo = false;
        QVERIFY2(!mapped(format, choices).contains("AudioChannels"), qPrintable(format));
    }
}

void tst_ConversionMapping::sameQualityDependsOnTheRow() {
    const auto unticked = [](const QString& format) {
        OptionChoices choices = presetChoices(format);
        choices.chkQuality = 0;
        return mapped(format, choices);
    };
    // "Quality or false": MPEG formats say false explicitly.
    QCOMPARE(unticked(kMpeg1).value("SameQuality"), QStringLiteral("false"));
    QCOMPARE(unticked("MPEG-2 Format (*.mpg)").value("SameQuality"), QStringLiteral("false"));
    QCOMPARE(mapped(kMpeg1).value("SameQuality"), QStringLiteral("true"));
    // "Quality": unticked leaves the flag as the converter holds it.
    for (const QString& format : {k3gp, kDivX, kWmv, kMov, kIpod2})
        QVERIFY2(!unticked(format).contains("SameQuality"), qPrintable(format));
    // AVI and RealMedia never look at the box; AVI asks for no deinterlacing either.
    QVERIFY(!mapped(kAvi).contains("SameQuality"));
    QVERIFY(!mapped(kAvi).contains("DeInterlace"));
    QVERIFY(!mapped(kRm).contains("SameQuality"));
    QCOMPARE(unticked(kRm), mapped(kRm));
}

void tst_ConversionMapping::listTextsPassUnchanged() {
    OptionChoices choices = presetChoices(kAvi);
    choose(choices.cmbSample, "3200");
    choose(choices.cmbVidCodec, "xvid");
    choices.VidBitrate = {{" 120 kb "}, 0, true};
    const Settings request = mapped(kAvi, choices);
    QCOMPARE(request.value("AudioSamples"), QStringLiteral("3200"));
    QCOMPARE(request.value("VideoCodec"), QStringLiteral("xvid"));
    QCOMPARE(request.value("VideoBitrate"), QStringLiteral(" 120 kb "));
    // A list that shows nothing passes empty text, which leaves its option out.
    choices.cmbVideoSize.selected = -1;
    QCOMPARE(mapped(kAvi, choices).value("VideoSize", "absent"), QString());
}

void tst_ConversionMapping::unknownFormatIsDeclined() {
    const OptionChoices avi = presetChoices(kAvi);
    QVERIFY(!BuildRequest("avi format (*.avi)", avi, kDest, kSource));
    QVERIFY(!BuildRequest(kAvi + " ", avi, kDest, kSource));
    QVERIFY(!BuildRequest(QString(), avi, kDest, kSource));
    QVERIFY(!ConversionMapping::FindRow("Sony PSP"));
}

void tst_ConversionMapping::destinationName_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << "/home/ann/Videos/clip.flv"
                           << "clip.avi";
    QTest::newRow("no dot") << "/home/ann/Videos/clip"
                            << "clip.avi";
    QTest::newRow("two dots") << "/home/ann/Videos/my.clip.flv"
                              << "my.clip.avi";
    QTest::newRow("dot in folder only") << "/home/ann/my.videos/clip"
                                        << "clip.avi";
    QTest::newRow("extension only") << "/home/ann/Videos/.flv"
                                    << ".avi";
    QTest::newRow("trailing dot") << "/home/ann/Videos/clip."
                                  << "clip.avi";
    QTest::newRow("folder path") << "/home/ann/Videos/"
                                 << ".avi";
    QTest::newRow("no separator") << "clip.flv"
                                  << ".avi";
    QTest::newRow("empty") << ""
                           << ".avi";
}

void tst_ConversionMapping::destinationName() {
    QFETCH(QString, source);
    QFETCH(QString, name);
    QCOMPARE(DestinationName(source, ".avi"), name);
}

void tst_ConversionMapping::destinationFileJoinsFolderAndName() {
    const OptionChoices avi = presetChoices(kAvi);
    QCOMPARE(BuildRequest(kAvi, avi, "/out/", kSource)->settings.back().text,
             QStringLiteral("/out//clip.avi"));
    QCOMPARE(BuildRequest(kAvi, avi, QString(), kSource)->settings.back().text,
             QStringLiteral("/clip.avi"));
    OptionChoices wmv = presetChoices(kWmv);
    QCOMPARE(BuildRequest(kWmv, wmv, "/out", "/in/clip.flv")->destinationName,
             QStringLiteral("clip.wmv"));
}

// Every property handed to the converter comes out on its command line.
void tst_ConversionMapping::settingsReachTheConverterCommandLine() {
    QTimer poll;
    AVC converter(&poll);
    QSignalSpy errors(&converter, &AVC::ErrorEvent);
    const QList<QPair<ConverterProperty, QString>> texts{
        {ConverterProperty::RateControlBuffer, "-bufsize 11"},
        {ConverterProperty::VideoBitrateTolerance, "-bt 12"},
        {ConverterProperty::TargetFormat, "-target 13"},
        {ConverterProperty::GroupOfPictureSize, "-g 14"},
        {ConverterProperty::VideoQuantiserScale, "-qscale 15"},
        {ConverterProperty::MaxVideoBitrate, "-maxrate 16"},
        {ConverterProperty::VideoSize, "-s 17"},
        {ConverterProperty::VideoBitrate, "-b 18"},
        {ConverterProperty::VideoFrameRate, "-r 19"},
        {ConverterProperty::VideoCodec, "-vcodec 20"},
        {ConverterProperty::VideoFourCCTag, "-vtag 21"},
        {ConverterProperty::VideoAspectRatio, "-aspect 22"},
        {ConverterProperty::ForceFormat, "-f 23"},
        {ConverterProperty::AudioBitrate, "-ab 24"},
        {ConverterProperty::AudioCodec, "-acodec 25"},
        {ConverterProperty::AudioFourCCTag, "-atag 26"},
        {ConverterProperty::AudioSamples, "-ar 27"},
        {ConverterProperty::AudioChannels, "-ac 28"},
        {ConverterProperty::SourceFile, "\"/in/29.flv\""},
        {ConverterProperty::DestFile, "\"/out/30.avi\""},
    };
    for (const auto& [property, option] : texts) {
        const QString value = option.section(' ', -1).remove('"');
        ApplySetting(converter, ConverterSetting::Text(property, value));
    }
    ApplySetting(converter, ConverterSetting::Flag(ConverterProperty::DeInterlace, true));
    ApplySetting(converter, ConverterSetting::Flag(ConverterProperty::SameQuality, true));
    converter.ConvertMedia(true);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Unable to locate avformat.dll"));
    const QString line = converter.CommandLine();
    for (const auto& [property, option] : texts)
        QVERIFY2(line.contains(option + ' ') || line.endsWith(option),
                 qPrintable(PropertyName(property) + ": " + line));
    QVERIFY(line.contains("-deinterlace -sameq "));

    ApplySetting(converter, ConverterSetting::Flag(ConverterProperty::SameQuality, false));
    converter.ConvertMedia(true);
    QVERIFY(!converter.CommandLine().contains("-sameq"));
}

// A request only sets; what a format leaves alone keeps the value of an earlier request.
void tst_ConversionMapping::dashesKeepWhatTheConverterHolds() {
    QTimer poll;
    AVC converter(&poll);
    const auto send = [&](const QString& format, const OptionChoices& choices) {
        const auto request = BuildRequest(format, choices, kDest, kSource);
        for (const ConverterSetting& s : request->settings)
            ApplySetting(converter, s);
        converter.ConvertMedia(true);
        return converter.CommandLine();
    };
    QString line = send(kPspAvc, presetChoices(kPspAvc));
    QVERIFY(line.contains("-g 250 "));
    QVERIFY(line.contains("-ac 2 "));

    OptionChoices rm = presetChoices(kRm);
    rm.OptMono = false;
    line = send(kRm, rm);
    // RealMedia sets no audio codec, bit rate or channels: the PSP values are still there.
    QVERIFY2(line.contains("-acodec aac -ab 128 -ar 22050 -ac 2 "), qPrintable(line));
    QVERIFY(line.contains("-g 250 -qscale 25 -maxrate 1500 "));
    QVERIFY(line.contains("-b Auto -r Auto "));
}

QTEST_MAIN(tst_ConversionMapping)
#include "tst_ConversionMapping.moc"
