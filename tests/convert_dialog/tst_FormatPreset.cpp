#include "FormatPreset.h"

#include <QSet>
#include <QTest>

namespace {

const QString k3gp = QStringLiteral("3rd Generation Partnership Project (*.3gp)");
const QString k3g2 = QStringLiteral("3rd Generation Partnership Project2 (*.3g2)");
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kDivX = QStringLiteral("DivX Format (*.avi)");
const QString kMpeg1 = QStringLiteral("MPEG-1 Format (*.mpg)");
const QString kMpeg2 = QStringLiteral("MPEG-2 Format (*.mpg)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
const QString kPspAvc = QStringLiteral("Sony PSP (PSP AVC)");
const QString kRm = QStringLiteral("RealONE/RealPlayer Format (*.rm)");
const QString kMov = QStringLiteral("QuickTime MOV (*.mov)");

const QStringList kPspFormats{"Sony PSP (PSP AVC)", "Sony PSP (Minimal Size)",
                              "Sony PSP (Excellent Quality)", "Sony PSP (Normal)"};

// The lists in the order the dialog fills them.
QList<const OptionList*> listsOf(const OptionChoices& c) {
    return {&c.cmbVidFormat, &c.cmbVideoSize, &c.VidBitrate, &c.FrameRate,
            &c.cmbVidCodec,  &c.cmdAudCodec,  &c.cmbAudVit,  &c.cmbSample};
}

// Applies a preset and records what it handed to the converter.
struct Applied {
    OptionChoices choices;
    QStringList immediate; // "Property=value"
    bool found = false;

    void apply(const QString& format) {
        found = PresetCatalogue::Apply(format, choices, [this](const ConverterSetting& s) {
            immediate.append(PropertyName(s.property) + QLatin1Char('=') + s.text);
        });
    }
};

Applied applied(const QString& format) {
    Applied a;
    a.apply(format);
    return a;
}

} // namespace

class tst_FormatPreset : public QObject {
    Q_OBJECT
private slots:
    void catalogueHoldsSixteenDistinctKeysInOrder();
    void sharedListsHoldTheirItems();
    void everyPresetShowsItsItemsAndLocks_data();
    void everyPresetShowsItsItemsAndLocks();
    void textWithoutPresetLeavesListsEmptyAndOpen_data();
    void textWithoutPresetLeavesListsEmptyAndOpen();
    void aviOffersEveryCodecWithMpeg4Shown();
    void realMediaPutsRealCodecsFirst();
    void pspFormatsLockOneItemPerList();
    void the3gpPairDiffersInExtensionAndCodecOrder();
    void mpegPairPutsAudioBitrate128First();
    void immediateParametersArePresetOnTheConverter_data();
    void immediateParametersArePresetOnTheConverter();
    void everyPresetSelectsMonoAndTicksSameQuality();
};

void tst_FormatPreset::catalogueHoldsSixteenDistinctKeysInOrder() {
    const QStringList expected{k3gp,
                               k3g2,
                               kAvi,
                               kDivX,
                               kMpeg1,
                               kMpeg2,
                               kWmv,
                               "Sony PSP (PSP AVC)",
                               "Sony PSP (Minimal Size)",
                               "Sony PSP (Excellent Quality)",
                               "Sony PSP (Normal)",
                               kRm,
                               kMov,
                               "iPOD Video (320x240) MPEG4 (*.mpg)",
                               "iPOD Video2 (640x480) MPEG4 (*.mpg)",
                               "iPhone Video (*.mpg)"};
    QStringList keys;
    for (const FormatPreset& preset : PresetCatalogue::Presets())
        keys.append(preset.key);
    QCOMPARE(keys, expected);
    for (const QString& key : expected)
        QCOMPARE(PresetCatalogue::Find(key)->key, key);
}

void tst_FormatPreset::sharedListsHoldTheirItems() {
    using namespace PresetCatalogue;
    const QStringList& codecs = VideoCodecList();
    QCOMPARE(codecs.size(), 72);
    QCOMPARE(QSet<QString>(codecs.begin(), codecs.end()).size(), 72);
    QCOMPARE(codecs.at(62), QStringLiteral("mpeg4"));
    QCOMPARE(codecs.first(), QStringLiteral("4xm"));
    QCOMPARE(codecs.last(), QStringLiteral("pbm"));
    QCOMPARE(codecs.indexOf("rv10"), 37);
    QCOMPARE(codecs.indexOf("mpeg1video"), 60);

    const QStringList& real = RealVideoCodecList();
    QCOMPARE(real.size(), 72);
    QCOMPARE(real.mid(0, 2), (QStringList{"rv10", "rv20"}));
    QStringList rest = codecs;
    rest.removeAll("rv10");
    rest.removeAll("rv20");
    QCOMPARE(real.mid(2), rest);

    QCOMPARE(SizeListA().size(), 8);
    QCOMPARE(SizeListB().mid(0, 3), (QStringList{"320x240", "352x288", "176x144"}));
    QCOMPARE(AudioBitrateList().size(), 14);
    QCOMPARE(AudioBitrateList().at(8), QStringLiteral("128"));
    QCOMPARE(AudioBitrateList128First().mid(0, 2), (QStringList{"128", "32"}));
    // Four digits, as the program has always offered it.
    QVERIFY(SampleRateListA().contains("3200"));
    QVERIFY(SampleRateListB().contains("3200"));
    QCOMPARE(SampleRateListB().at(3), QStringLiteral("22050"));
    QCOMPARE(AviAudioCodecList(), (QStringList{"mp3", "mp2", "pcm_s16le", "ac3"}));
}

void tst_FormatPreset::everyPresetShowsItsItemsAndLocks_data() {
    // Shown texts of extension, size, video bit rate, frame rate, video codec, audio codec,
    // audio bit rate, sample rate; then the same lists as O(pen) or L(ocked); then item counts.
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("locks");
    QTest::addColumn<QString>("counts");
    const auto row = [](const QString& key, const char* shown, const char* locks,
                        const char* counts) {
        QTest::newRow(key.toUtf8()) << QString(shown) << QString(locks) << QString(counts);
    };
    row(k3gp, ".3gp|176x144|120|11|h263|amr_nb|32|8000", "LOOOOLOO", "1,8,1,2,3,1,14,5");
    row(k3g2, ".3g2|176x144|120|11|mpeg4|amr_nb|32|8000", "LOOOOLOO", "1,8,1,2,3,1,14,5");
    row(kAvi, ".avi|320x240|120|29.97|mpeg4|pcm_s16le|128|44100", "LOOLOOOO", "1,8,1,1,72,4,14,4");
    row(kDivX, ".avi|320x240|1200|29.97|mpeg4|mp3|128|44100", "LOOLLOOO", "1,8,1,1,1,4,14,4");
    row(kMpeg1, ".mpg|320x240|120|Auto|mpeg1video|mp2|128|44100", "LOOLLOOO", "1,8,1,1,1,1,14,4");
    row(kMpeg2, ".mpg|320x240|120|Auto|mpeg2video|mp2|128|44100", "LOOLLOOO", "1,8,1,1,1,2,14,4");
    row(kWmv, ".wmv|320x240|120|Auto|wmv1|wmav1|128|44100", "LOOLOOOO", "1,8,1,1,2,3,14,4");
    row(kPspAvc, ".avi|368x208|400|29.97|h264|aac|128|48000", "LLLLLLLL", "1,1,1,1,1,1,1,1");
    row("Sony PSP (Minimal Size)", ".avi|160x112|216|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("Sony PSP (Excellent Quality)", ".avi|368x208|768|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("Sony PSP (Normal)", ".avi|368x208|512|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row(kRm, ".rm|320x240|Auto|Auto|rv10|ac3|Auto|22050", "LOLLOLLO", "1,8,1,1,72,1,1,4");
    row(kMov, ".mov|320x240|360|29.97|Auto|aac|48|22050", "LOLLLLOO", "1,8,1,1,1,1,14,4");
    row("iPOD Video (320x240) MPEG4 (*.mpg)", ".mpg|320x240|512|29.97|mpeg4|aac|48|22050",
        "LLOOLLLO", "1,1,1,2,1,1,1,4");
    row("iPOD Video2 (640x480) MPEG4 (*.mpg)", ".mpg|640x480|1200|29.97|Auto|aac|48|22050",
        "LLOOLLLO", "1,1,1,2,1,1,1,4");
    row("iPhone Video (*.mpg)", ".mpg|320x240|1200|29.97|mpeg4|aac|48|22050", "LLOOLLLO",
        "1,1,1,2,1,1,1,4");
}

void tst_FormatPreset::everyPresetShowsItsItemsAndLocks() {
    QFETCH(QString, shown);
    QFETCH(QString, locks);
    QFETCH(QString, counts);
    const Applied a = applied(QString::fromUtf8(QTest::currentDataTag()));
    QVERIFY(a.found);
    QStringList texts, counted;
    QString locked;
    for (const OptionList* list : listsOf(a.choices)) {
        texts.append(list->text());
        locked.append(list->enabled ? QLatin1Char('O') : QLatin1Char('L'));
        counted.append(QString::number(list->items.size()));
    }
    QCOMPARE(texts.join('|'), shown);
    QCOMPARE(locked, locks);
    QCOMPARE(counted.join(','), counts);
}

void tst_FormatPreset::textWithoutPresetLeavesListsEmptyAndOpen_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("other letter case") << QStringLiteral("avi format (*.avi)");
    QTest::newRow("trailing space") << QStringLiteral("AVI Format (*.avi) ");
    QTest::newRow("leading space") << QStringLiteral(" AVI Format (*.avi)");
}

void tst_FormatPreset::textWithoutPresetLeavesListsEmptyAndOpen() {
    QFETCH(QString, text);
    // Start from a preset the user has changed, so that the reset shows.
    Applied a = applied(kPspAvc);
    a.choices.chkQuality = 0;
    a.immediate.clear();
    a.apply(text);
    QVERIFY(!a.found);
    for (const OptionList* list : listsOf(a.choices)) {
        QVERIFY(list->items.isEmpty());
        QCOMPARE(list->selected, -1);
        QVERIFY(list->enabled);
    }
    QVERIFY(!a.choices.OptMono);
    QVERIFY(!a.choices.OptStereo);
    QCOMPARE(a.choices.chkQuality, 1);
    QVERIFY(a.choices.chkQualityEnabled);
    QVERIFY(a.immediate.isEmpty());
}

void tst_FormatPreset::aviOffersEveryCodecWithMpeg4Shown() {
    const OptionChoices c = applied(kAvi).choices;
    QCOMPARE(c.cmbVidCodec.items, PresetCatalogue::VideoCodecList());
    QCOMPARE(c.cmbVidCodec.selected, 62);
    QCOMPARE(c.cmbVidCodec.text(), QStringLiteral("mpeg4"));
    QCOMPARE(c.cmdAudCodec.text(), QStringLiteral("pcm_s16le"));
    QCOMPARE(c.cmbAudVit.text(), QStringLiteral("128"));
    QCOMPARE(c.FrameRate.text(), QStringLiteral("29.97"));
    QVERIFY(!c.FrameRate.enabled);
}

void tst_FormatPreset::realMediaPutsRealCodecsFirst() {
    const OptionChoices c = applied(kRm).choices;
    QCOMPARE(c.cmbVidCodec.items.size(), 72);
    QCOMPARE(c.cmbVidCodec.items.mid(0, 2), (QStringList{"rv10", "rv20"}));
    QCOMPARE(c.cmbVidCodec.text(), QStringLiteral("rv10"));
    QVERIFY(c.cmbVidCodec.enabled);
    for (const OptionList* autoList : {&c.VidBitrate, &c.FrameRate, &c.cmbAudVit}) {
        QCOMPARE(autoList->items, QStringList{"Auto"});
        QVERIFY(!autoList->enabled);
    }
    QCOMPARE(c.cmbSample.text(), QStringLiteral("22050"));
}

void tst_FormatPreset::pspFormatsLockOneItemPerList() {
    for (const QString& format : kPspFormats) {
        const Applied a = applied(format);
        for (const OptionList* list : listsOf(a.choices)) {
            QCOMPARE(list->items.size(), 1);
            QCOMPARE(list->selected, 0);
            QVERIFY2(!list->enabled, qPrintable(format));
        }
        QCOMPARE(a.choices.cmbVidFormat.text(), QStringLiteral(".avi"));
        QVERIFY(a.immediate.isEmpty());
    }
}

void tst_FormatPreset::the3gpPairDiffersInExtensionAndCodecOrder() {
    OptionChoices gp = applied(k3gp).choices;
    OptionChoices g2 = applied(k3g2).choices;
    QCOMPARE(gp.cmbVidFormat.items, QStringList{".3gp"});
    QCOMPARE(g2.cmbVidFormat.items, QStringList{".3g2"});
    QCOMPARE(gp.cmbVidCodec.items, (QStringList{"h263", "mpeg4", "xvid"}));
    QCOMPARE(g2.cmbVidCodec.items, (QStringList{"mpeg4", "xvid", "h263"}));
    // Everything else is the same.
    gp.cmbVidFormat = g2.cmbVidFormat;
    gp.cmbVidCodec = g2.cmbVidCodec;
    const QList<const OptionList*> left = listsOf(gp), right = listsOf(g2);
    for (int i = 0; i < left.size(); ++i)
        QVERIFY(*left.at(i) == *right.at(i));
    QCOMPARE(gp.cmbVideoSize.items, PresetCatalogue::SizeListA());
    QCOMPARE(gp.cmbSample.items, PresetCatalogue::SampleRateListA());
}

void tst_FormatPreset::mpegPairPutsAudioBitrate128First() {
    for (const QString& format : {kMpeg1, kMpeg2}) {
        const OptionList bitrate = applied(format).choices.cmbAudVit;
        QCOMPARE(bitrate.items, PresetCatalogue::AudioBitrateList128First());
        QCOMPARE(bitrate.selected, 0);
    }
    for (const QString& format : {kAvi, kDivX, kWmv}) {
        const OptionList bitrate = applied(format).choices.cmbAudVit;
        QCOMPARE(bitrate.items, PresetCatalogue::AudioBitrateList());
        QCOMPARE(bitrate.selected, 8);
        QCOMPARE(bitrate.text(), QStringLiteral("128"));
    }
    QCOMPARE(applied(kMpeg2).choices.cmdAudCodec.items, (QStringList{"mp2", "ac3"}));
}

void tst_FormatPreset::immediateParametersArePresetOnTheConverter_data() {
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QStringList>("immediate");
    const QString tolerance = QStringLiteral("VideoBitrateTolerance=60");
    QTest::newRow("3gp") << QStringList{k3gp} << QStringList{tolerance};
    QTest::newRow("DivX has none") << QStringList{kDivX} << QStringList{};
    QTest::newRow("MPEG-2") << QStringList{kMpeg2} << QStringList{"AudioChannels=1"};
    QTest::newRow("iPhone in order")
        << QStringList{"iPhone Video (*.mpg)"} << QStringList{tolerance, "AudioChannels=2"};
    // Nothing takes a value back: the last one handed over is what the converter holds.
    QTest::newRow("WMV then PSP") << QStringList{kWmv, kPspAvc} << QStringList{tolerance};
    QTest::newRow("MPEG-1 then MOV")
        << QStringList{kMpeg1, kMov} << QStringList{"AudioChannels=1", "AudioChannels=2"};
}

void tst_FormatPreset::immediateParametersArePresetOnTheConverter() {
    QFETCH(QStringList, formats);
    QFETCH(QStringList, immediate);
    Applied a;
    for (const QString& format : formats)
        a.apply(format);
    QCOMPARE(a.immediate, immediate);
    // The dialog shows Mono even where the converter was told two channels.
    QVERIFY(a.choices.OptMono);
}

void tst_FormatPreset::everyPresetSelectsMonoAndTicksSameQuality() {
    Applied a;
    for (const FormatPreset& preset : PresetCatalogue::Presets()) {
        a.choices.chkQuality = 0;
        a.choices.OptMono = false;
        a.choices.OptStereo = true;
        a.apply(preset.key);
        QCOMPARE(a.choices.chkQuality, 1);
        QVERIFY(a.choices.chkQualityEnabled);
        QVERIFY(a.choices.OptMono);
        QVERIFY(!a.choices.OptStereo);
    }
}

QTEST_APPLESS_MAIN(tst_FormatPreset)
#include "tst_FormatPreset.moc"
