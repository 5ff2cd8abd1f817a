#include "AVC.h"
#include "ConversionMapping.h"
#include "FormatPreset.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using ConversionMapping::BuildRequest;

namespace {
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
const QString kMpeg1 = QStringLiteral("MPEG-1 Format (*.mpg)");
const QString kRm = QStringLiteral("RealONE/RealPlayer Format (*.rm)");
const QString kMov = QStringLiteral("QuickTime MOV (*.mov)");
const QString kPspAvc = QStringLiteral("Sony PSP (PSP AVC)");
const QString kSource = QStringLiteral("/home/ann/Videos/clip.flv");
const QString kDest = QStringLiteral("/home/ann/Out");

OptionChoices presetOf(const QString& format) {
    OptionChoices choices;
    PresetCatalogue::Apply(format, choices, [](const ConverterSetting&) {});
    return choices;
}

// The properties a request sets, without the paths, sorted: "AudioBitrate=32 DeInterlace=true".
QString mapped(const QString& format, const OptionChoices& choices) {
    const auto request = BuildRequest(format, choices, kDest, kSource);
    if (!request)
        return QStringLiteral("declined");
    QStringList set;
    for (const ConverterSetting& s : request->settings)
        if (s.property != ConverterProperty::SourceFile &&
            s.property != ConverterProperty::DestFile)
            set.append(PropertyName(s.property) + '=' +
                       (IsFlagProperty(s.property) ? (s.flag ? "true" : "false") : s.text));
    set.sort();
    return set.join(' ');
}

QString mapped(const QString& format) {
    return mapped(format, presetOf(format));
}

void sendTo(AVC& converter, const QString& format, const OptionChoices& choices) {
    const auto request = BuildRequest(format, choices, kDest, kSource);
    for (const ConverterSetting& s : request->settings)
        converter.SetParameter(s);
    converter.ConvertMedia(true);
}
} // namespace

class tst_ConversionMapping : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void untouchedPresetsGiveTheirRequests_data();
    void untouchedPresetsGiveTheirRequests();
    void everyFormatHasARowAndBothPaths();
    void fixedValuesIgnoreTheControls();
    void channelsAndSameQualityFollowTheRow();
    void unknownFormatIsDeclined();
    void destinationName_data();
    void destinationName();
    void settingsReachTheConverter();
    void dashesKeepWhatTheConverterHolds();

private:
    QTemporaryDir noConverter_;
};

// With no converter program where the converter looks, ConvertMedia stops at "Unable to
// locate" after it has built the command line.
void tst_ConversionMapping::initTestCase() {
    AVC::SetProgramFolder(noConverter_.path());
}

void tst_ConversionMapping::untouchedPresetsGiveTheirRequests_data() {
    QTest::addColumn<QString>("expected");
    const auto row = [](const char* format, const char* expected) {
        QTest::newRow(format) << QString(expected);
    };
    row("3rd Generation Partnership Project (*.3gp)",
        "AudioBitrate=32 AudioChannels=1 AudioCodec=amr_nb AudioSamples=8000 DeInterlace=true "
        "SameQuality=true VideoBitrate=120 VideoBitrateTolerance=60 VideoCodec=h263 "
        "VideoFrameRate=11 VideoSize=176x144");
    row("AVI Format (*.avi)",
        "AudioBitrate=128 AudioChannels=1 AudioCodec=pcm_s16le AudioSamples=44100 "
        "VideoBitrate=120 VideoBitrateTolerance=60 VideoCodec=mpeg4 VideoFrameRate=29.97 "
        "VideoSize=320x240");
    row("WMV Format (*.wmv)",
        "AudioBitrate=128 AudioChannels=1 AudioCodec=mp3 AudioSamples=44100 DeInterlace=true "
        "SameQuality=true VideoBitrate=120 VideoCodec=wmv1 VideoFrameRate=29.97 VideoSize=320x240");
    row("Sony PSP (PSP AVC)",
        "AudioBitrate=128 AudioChannels=2 AudioCodec=aac AudioSamples=48000 GroupOfPictureSize=250 "
        "MaxVideoBitrate=1500 RateControlBuffer=128 VideoBitrate=400 VideoCodec=h264 "
        "VideoFrameRate=29.97 VideoQuantiserScale=25 VideoSize=368x208");
    row("Sony PSP (Minimal Size)", "AudioBitrate=64 AudioChannels=2 AudioCodec=aac "
                                   "AudioSamples=24000 VideoBitrate=216 VideoCodec=xvid "
                                   "VideoFrameRate=29.97 VideoSize=160x112");
    row("RealONE/RealPlayer Format (*.rm)",
        "AudioChannels=1 AudioSamples=22050 DeInterlace=true VideoBitrate=Auto VideoCodec=rv10 "
        "VideoFrameRate=Auto VideoSize=320x240");
    row("QuickTime MOV (*.mov)",
        "AudioBitrate=48 AudioChannels=1 AudioCodec=aac AudioSamples=22050 DeInterlace=true "
        "SameQuality=true VideoBitrate=360 VideoFrameRate=29.97 VideoSize=320x240");
    row("iPOD Video2 (640x480) MPEG4 (*.mpg)",
        "AudioBitrate=48 AudioChannels=1 AudioCodec=aac AudioSamples=22050 DeInterlace=true "
        "SameQuality=true VideoBitrate=1200 VideoCodec=Auto VideoFrameRate=29.97 "
        "VideoSize=640x480");
}

void tst_ConversionMapping::untouchedPresetsGiveTheirRequests() {
    QFETCH(QString, expected);
    QCOMPARE(mapped(QString::fromUtf8(QTest::currentDataTag())), expected);
}

void tst_ConversionMapping::everyFormatHasARowAndBothPaths() {
    for (const FormatPreset& preset : PresetCatalogue::Presets()) {
        const auto request = BuildRequest(preset.key, presetOf(preset.key), kDest, kSource);
        QVERIFY2(request, qPrintable(preset.key));
        const auto& settings = request->settings;
        QCOMPARE(settings.at(settings.size() - 2),
                 ConverterSetting::Text(ConverterProperty::SourceFile, kSource));
        // Today's MP4 and WebM targets add their codec: "clip (H.265).mp4".
        const QString& dest = settings.back().text;
        QCOMPARE(settings.back().property, ConverterProperty::DestFile);
        QVERIFY2(dest.startsWith(kDest + "/clip") &&
                     dest.endsWith(preset.cmbVidFormat.items.first()),
                 qPrintable(dest));
        // Each property at most once.
        QSet<ConverterProperty> seen;
        for (const ConverterSetting& s : settings)
            seen.insert(s.property);
        QCOMPARE(size_t(seen.size()), settings.size());
    }
}

void tst_ConversionMapping::fixedValuesIgnoreTheControls() {
    // WMV: "mp3" and 29.97 whatever the lists show.
    OptionChoices wmv = presetOf(kWmv);
    wmv.cmdAudCodec.selected = 1;
    QVERIFY(mapped(kWmv, wmv).contains("AudioCodec=mp3 "));
    QVERIFY(mapped(kMpeg1).contains("VideoFrameRate=29.97"));
    // QuickTime never names a video codec.
    OptionChoices mov = presetOf(kMov);
    mov.cmbVidCodec = {{"xvid"}, 0, true};
    QVERIFY(!mapped(kMov, mov).contains("VideoCodec"));
    // The PSP formats read no control at all and always end in ".avi".
    for (const char* psp : {"Sony PSP (PSP AVC)", "Sony PSP (Minimal Size)",
                            "Sony PSP (Excellent Quality)", "Sony PSP (Normal)"}) {
        OptionChoices changed = presetOf(psp);
        changed.cmbVideoSize = {{"640x480"}, 0, true};
        changed.cmbVidFormat = {{".mpg"}, 0, true};
        changed.OptStereo = true;
        changed.OptMono = false;
        QCOMPARE(mapped(psp, changed), mapped(psp));
        QVERIFY(BuildRequest(psp, changed, kDest, kSource)->settings.back().text.endsWith(".avi"));
    }
    // List texts pass unchanged: "3200" has four digits, spaces stay.
    OptionChoices avi = presetOf(kAvi);
    avi.cmbSample.selected = avi.cmbSample.items.indexOf("3200");
    avi.VidBitrate = {{" 120 kb"}, 0, true};
    QVERIFY(mapped(kAvi, avi).contains("AudioSamples=3200 "));
    QVERIFY(mapped(kAvi, avi).contains("VideoBitrate= 120 kb "));
}

void tst_ConversionMapping::channelsAndSameQualityFollowTheRow() {
    const auto with = [](const QString& format, bool mono, bool stereo, int quality) {
        OptionChoices choices = presetOf(format);
        choices.OptMono = mono;
        choices.OptStereo = stereo;
        choices.chkQuality = quality;
        return mapped(format, choices);
    };
    const QString k3g2 = "3rd Generation Partnership Project2 (*.3g2)";
    QVERIFY(with(k3g2, false, true, 1).contains("AudioChannels=1"));
    QVERIFY(with(kMov, false, true, 1).contains("AudioChannels=2"));
    // Neither option selected: the converter keeps the channels it holds.
    for (const QString& format : {kAvi, kMpeg1, kWmv, kRm, kMov})
        QVERIFY2(!with(format, false, false, 1).contains("AudioChannels"), qPrintable(format));
    QVERIFY(with(k3g2, false, false, 1).contains("AudioChannels=1"));

    // Unticked: MPEG says false, the "quality" rows leave the flag alone.
    QVERIFY(with(kMpeg1, true, false, 0).contains("SameQuality=false"));
    QVERIFY(with("MPEG-2 Format (*.mpg)", true, false, 0).contains("SameQuality=false"));
    for (const QString& format : {k3g2, QStringLiteral("DivX Format (*.avi)"), kWmv, kMov})
        QVERIFY2(!with(format, true, false, 0).contains("SameQuality"), qPrintable(format));
    // AVI and RealMedia never look at the box; AVI asks for no deinterlacing either.
    QVERIFY(!mapped(kAvi).contains("SameQuality") && !mapped(kAvi).contains("DeInterlace"));
    QCOMPARE(with(kRm, true, false, 0), mapped(kRm));
}

void tst_ConversionMapping::unknownFormatIsDeclined() {
    for (const QString& text : {QStringLiteral("avi format (*.avi)"), kAvi + ' ', QString()})
        QCOMPARE(mapped(text, presetOf(kAvi)), QStringLiteral("declined"));
}

void tst_ConversionMapping::destinationName_data() {
    QTest::addColumn<QString>("destFolder");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("destFile");
    QTest::newRow("plain") << "/out"
                           << "/in/clip.flv"
                           << "/out/clip.avi";
    QTest::newRow("no dot") << "/out"
                            << "/in/clip"
                            << "/out/clip.avi";
    QTest::newRow("two dots") << "/out"
                              << "/in/my.clip.flv"
                              << "/out/my.clip.avi";
    QTest::newRow("dot in folder only") << "/out"
                                        << "/my.in/clip"
                                        << "/out/clip.avi";
    QTest::newRow("extension only") << "/out"
                                    << "/in/.flv"
                                    << "/out/.avi";
    QTest::newRow("folder path") << "/out"
                                 << "/in/"
                                 << "/out/.avi";
    QTest::newRow("no separator") << "/out"
                                  << "clip.flv"
                                  << "/out/.avi";
    QTest::newRow("folder ends with separator") << "/out/"
                                                << "/in/clip.flv"
                                                << "/out//clip.avi";
    QTest::newRow("no folder") << ""
                               << "/in/clip.flv"
                               << "/clip.avi";
}

void tst_ConversionMapping::destinationName() {
    QFETCH(QString, destFolder);
    QFETCH(QString, source);
    QFETCH(QString, destFile);
    const auto request = BuildRequest(kAvi, presetOf(kAvi), destFolder, source);
    QCOMPARE(request->settings.back().text, destFile);
    QCOMPARE(request->settings.at(request->settings.size() - 2).text, source);
}

// Each property reaches the converter's setter of its own option.
void tst_ConversionMapping::settingsReachTheConverter() {
    QTimer poll;
    AVC converter(&poll);
    QSignalSpy errors(&converter, &AVC::ErrorEvent);
    const QStringList options{"-bufsize", "-bt",     "-target", "-g",      "-qscale", "-maxrate",
                              "-i",       "",        "",        "",        "-s",      "-b",
                              "-r",       "-vcodec", "-vtag",   "-aspect", "-f",      "-ab",
                              "-acodec",  "-atag",   "-ar",     "-ac"};
    for (int p = 0; p < options.size(); ++p)
        converter.SetParameter(ConverterSetting::Text(ConverterProperty(p), QString::number(p)));
    converter.SetParameter(ConverterSetting::Flag(ConverterProperty::DeInterlace, true));
    converter.SetParameter(ConverterSetting::Flag(ConverterProperty::SameQuality, true));
    converter.ConvertMedia(true);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(), QStringLiteral("Unable to locate avformat.dll"));
    const QString line = converter.CommandLine();
    for (int p = 0; p < options.size(); ++p)
        if (!options.at(p).isEmpty() && options.at(p) != "-i")
            QVERIFY2(line.contains(options.at(p) + ' ' + QString::number(p) + ' '),
                     qPrintable(PropertyName(ConverterProperty(p)) + ": " + line));
    QVERIFY(line.contains("-i \"6\" "));
    QVERIFY(line.endsWith(" \"7\""));
    QVERIFY(line.contains("-deinterlace -sameq "));
}

// A request only sets; what a format leaves alone keeps the value of an earlier request.
void tst_ConversionMapping::dashesKeepWhatTheConverterHolds() {
    QTimer poll;
    AVC converter(&poll);
    sendTo(converter, kPspAvc, presetOf(kPspAvc));
    OptionChoices rm = presetOf(kRm);
    rm.OptMono = false;
    sendTo(converter, kRm, rm);
    // RealMedia sets no audio codec, audio bit rate or channels: the PSP values remain.
    const QString line = converter.CommandLine();
    QVERIFY2(line.contains("-b Auto -r Auto -s 320x240 -vcodec rv10 "), qPrintable(line));
    QVERIFY(line.contains("-bufsize 128 -g 250 -qscale 25 -maxrate 1500 -deinterlace "));
    QVERIFY(line.contains("-acodec aac -ab 128 -ar 22050 -ac 2 "));
    // Today's formats clear what they do not set, and ask nothing of what stays as the source's.
    const QString mp4 = QStringLiteral("MP4 H.264 / AAC (*.mp4)");
    sendTo(converter, mp4, presetOf(mp4));
    QCOMPARE(converter.CommandLine().section(' ', 1),
             "-i \"" + kSource + "\" -y -b RF22 -vcodec h264 -f mp4 -sameq -acodec aac -ab 160 \"" +
                 kDest + "/clip (H.264).mp4\"");
}

QTEST_GUILESS_MAIN(tst_ConversionMapping)
#include "tst_ConversionMapping.moc"
