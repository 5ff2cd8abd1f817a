#include "FormatPreset.h"

#include <QSet>
#include <QTest>

namespace {

// Applies presets in turn and records what they handed to the converter.
struct Applied {
    OptionChoices choices;
    QStringList immediate; // "Property=value"
    bool found = false;

    Applied& apply(const QString& format) {
        found = PresetCatalogue::Apply(format, choices, [this](const ConverterSetting& s) {
            immediate.append(PropertyName(s.property) + '=' + s.text);
        });
        return *this;
    }
    // The eight lists in the order the dialog fills them.
    QList<const OptionList*> lists() const {
        const OptionChoices& c = choices;
        return {&c.cmbVidFormat, &c.cmbVideoSize, &c.VidBitrate, &c.FrameRate,
                &c.cmbVidCodec,  &c.cmdAudCodec,  &c.cmbAudVit,  &c.cmbSample};
    }
};

OptionChoices presetOf(const QString& format) {
    return Applied().apply(format).choices;
}

const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QString kWmv = QStringLiteral("WMV Format (*.wmv)");
} // namespace

class tst_FormatPreset : public QObject {
    Q_OBJECT
private slots:
    void everyPresetShowsItsItemsAndLocks_data();
    void everyPresetShowsItsItemsAndLocks();
    void textWithoutPresetLeavesListsEmptyAndOpen_data();
    void textWithoutPresetLeavesListsEmptyAndOpen();
    void sharedListsAreUsedWhereTheyBelong();
    void immediateParametersGoToTheConverter_data();
    void immediateParametersGoToTheConverter();
    void everyPresetSelectsMonoAndTicksSameQuality();
};

void tst_FormatPreset::everyPresetShowsItsItemsAndLocks_data() {
    // Shown texts of extension, size, video bit rate, frame rate, video codec, audio codec,
    // audio bit rate and sample rate; the same lists O(pen) or L(ocked); their item counts.
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("locks");
    QTest::addColumn<QString>("counts");
    const auto row = [](const char* key, const char* shown, const char* locks, const char* counts) {
        QTest::newRow(key) << QString(shown) << QString(locks) << QString(counts);
    };
    row("3rd Generation Partnership Project (*.3gp)", ".3gp|176x144|120|11|h263|amr_nb|32|8000",
        "LOOOOLOO", "1,8,1,2,3,1,14,5");
    row("3rd Generation Partnership Project2 (*.3g2)", ".3g2|176x144|120|11|mpeg4|amr_nb|32|8000",
        "LOOOOLOO", "1,8,1,2,3,1,14,5");
    row("AVI Format (*.avi)", ".avi|320x240|120|29.97|mpeg4|pcm_s16le|128|44100", "LOOLOOOO",
        "1,8,1,1,72,4,14,4");
    row("DivX Format (*.avi)", ".avi|320x240|1200|29.97|mpeg4|mp3|128|44100", "LOOLLOOO",
        "1,8,1,1,1,4,14,4");
    row("MPEG-1 Format (*.mpg)", ".mpg|320x240|120|Auto|mpeg1video|mp2|128|44100", "LOOLLOOO",
        "1,8,1,1,1,1,14,4");
    row("MPEG-2 Format (*.mpg)", ".mpg|320x240|120|Auto|mpeg2video|mp2|128|44100", "LOOLLOOO",
        "1,8,1,1,1,2,14,4");
    row("WMV Format (*.wmv)", ".wmv|320x240|120|Auto|wmv1|wmav1|128|44100", "LOOLOOOO",
        "1,8,1,1,2,3,14,4");
    row("Sony PSP (PSP AVC)", ".avi|368x208|400|29.97|h264|aac|128|48000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("Sony PSP (Minimal Size)", ".avi|160x112|216|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("Sony PSP (Excellent Quality)", ".avi|368x208|768|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("Sony PSP (Normal)", ".avi|368x208|512|29.97|xvid|aac|64|24000", "LLLLLLLL",
        "1,1,1,1,1,1,1,1");
    row("RealONE/RealPlayer Format (*.rm)", ".rm|320x240|Auto|Auto|rv10|ac3|Auto|22050", "LOLLOLLO",
        "1,8,1,1,72,1,1,4");
    row("QuickTime MOV (*.mov)", ".mov|320x240|360|29.97|Auto|aac|48|22050", "LOLLLLOO",
        "1,8,1,1,1,1,14,4");
    row("iPOD Video (320x240) MPEG4 (*.mpg)", ".mpg|320x240|512|29.97|mpeg4|aac|48|22050",
        "LLOOLLLO", "1,1,1,2,1,1,1,4");
    row("iPOD Video2 (640x480) MPEG4 (*.mpg)", ".mpg|640x480|1200|29.97|Auto|aac|48|22050",
        "LLOOLLLO", "1,1,1,2,1,1,1,4");
    row("iPhone Video (*.mpg)", ".mpg|320x240|1200|29.97|mpeg4|aac|48|22050", "LLOOLLLO",
        "1,1,1,2,1,1,1,4");
    // Today's formats: constant quality first, the source's size, rates and channels kept.
    row("MP4 H.264 / AAC (*.mp4)",
        ".mp4|Same as source|RF22|Same as source|h264|aac|160|Same as source", "LOOOLLOO",
        "1,7,11,9,1,1,7,5");
    row("MP4 H.265 / AAC (*.mp4)",
        ".mp4|Same as source|RF24|Same as source|hevc|aac|160|Same as source", "LOOOLLOO",
        "1,7,11,9,1,1,7,5");
    row("WebM VP9 / Opus (*.webm)",
        ".webm|Same as source|RF32|Same as source|vp9|opus|128|Same as source", "LOOOLLOO",
        "1,7,10,9,1,1,7,4");
    row("WebM AV1 / Opus (*.webm)",
        ".webm|Same as source|RF35|Same as source|av1|opus|128|Same as source", "LOOOLLOO",
        "1,7,10,9,1,1,7,4");
    row("MKV Keep Streams (*.mkv)",
        ".mkv|Same as source|Same as source|Same as source|copy|copy|Same as source|Same as source",
        "LLLLLLLL", "1,1,1,1,1,1,1,1");
    row("MP3 Audio (*.mp3)", ".mp3|||||mp3|192|Same as source", "LLLLLLOO", "1,0,0,0,0,1,7,5");
    row("M4A Audio AAC (*.m4a)", ".m4a|||||aac|160|Same as source", "LLLLLLOO", "1,0,0,0,0,1,7,5");
    row("Opus Audio (*.opus)", ".opus|||||opus|128|Same as source", "LLLLLLOO", "1,0,0,0,0,1,7,4");
    row("FLAC Audio (*.flac)", ".flac|||||flac|Lossless|Same as source", "LLLLLLLO",
        "1,0,0,0,0,1,1,5");
}

void tst_FormatPreset::everyPresetShowsItsItemsAndLocks() {
    QFETCH(QString, shown);
    QFETCH(QString, locks);
    QFETCH(QString, counts);
    Applied a;
    QVERIFY(a.apply(QString::fromUtf8(QTest::currentDataTag())).found);
    QStringList texts, counted;
    QString locked;
    for (const OptionList* list : a.lists()) {
        texts.append(list->text());
        locked.append(list->enabled ? 'O' : 'L');
        counted.append(QString::number(list->items.size()));
    }
    QCOMPARE(texts.join('|'), shown);
    QCOMPARE(locked, locks);
    QCOMPARE(counted.join(','), counts);
}

void tst_FormatPreset::textWithoutPresetLeavesListsEmptyAndOpen_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("other letter case") << "avi format (*.avi)";
    QTest::newRow("trailing space") << "AVI Format (*.avi) ";
}

void tst_FormatPreset::textWithoutPresetLeavesListsEmptyAndOpen() {
    QFETCH(QString, text);
    // Start from a locked preset that the user changed, so that the reset shows.
    Applied a;
    a.apply("Sony PSP (PSP AVC)").choices.chkQuality = 0;
    QVERIFY(!a.apply(text).found);
    for (const OptionList* list : a.lists())
        QVERIFY(list->items.isEmpty() && list->selected == -1 && list->enabled);
    QVERIFY(!a.choices.OptMono && !a.choices.OptStereo);
    QCOMPARE(a.choices.chkQuality, 1);
    QVERIFY(a.immediate.isEmpty());
}

void tst_FormatPreset::sharedListsAreUsedWhereTheyBelong() {
    using namespace PresetCatalogue;
    const QStringList& codecs = VideoCodecList();
    QCOMPARE(QSet<QString>(codecs.begin(), codecs.end()).size(), 72);
    QCOMPARE(codecs.mid(60, 3), (QStringList{"mpeg1video", "mpeg2video", "mpeg4"}));
    QCOMPARE(presetOf(kAvi).cmbVidCodec.items, codecs);

    // RealMedia: "rv10" and "rv20" first, then the others in their order.
    QStringList real = codecs;
    real.removeAll("rv10");
    real.removeAll("rv20");
    QCOMPARE(presetOf("RealONE/RealPlayer Format (*.rm)").cmbVidCodec.items,
             QStringList({"rv10", "rv20"}) + real);

    // The 3GP pair differs only in the extension and the order of the video codecs.
    OptionChoices gp = presetOf("3rd Generation Partnership Project (*.3gp)");
    const OptionChoices g2 = presetOf("3rd Generation Partnership Project2 (*.3g2)");
    QCOMPARE(gp.cmbVidCodec.items, (QStringList{"h263", "mpeg4", "xvid"}));
    QCOMPARE(g2.cmbVidCodec.items, (QStringList{"mpeg4", "xvid", "h263"}));
    gp.cmbVidFormat = g2.cmbVidFormat;
    gp.cmbVidCodec = g2.cmbVidCodec;
    QVERIFY(gp.cmbVideoSize == g2.cmbVideoSize && gp.cmbAudVit == g2.cmbAudVit &&
            gp.cmbSample == g2.cmbSample && gp.FrameRate == g2.FrameRate);
    QCOMPARE(gp.cmbSample.items, (QStringList{"8000", "48000", "44100", "3200", "22050"}));

    // "128" leads the MPEG pair's audio bit rates; AVI, DivX and WMV select it at index 8.
    for (const char* mpeg : {"MPEG-1 Format (*.mpg)", "MPEG-2 Format (*.mpg)"})
        QCOMPARE(presetOf(mpeg).cmbAudVit.items.mid(0, 3), (QStringList{"128", "32", "40"}));
    for (const QString& format : {kAvi, QStringLiteral("DivX Format (*.avi)"), kWmv}) {
        QCOMPARE(presetOf(format).cmbAudVit.selected, 8);
        QCOMPARE(presetOf(format).cmbSample.items,
                 (QStringList{"44100", "48000", "3200", "22050"}));
    }
}

void tst_FormatPreset::immediateParametersGoToTheConverter_data() {
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QStringList>("immediate");
    const QString tolerance = QStringLiteral("VideoBitrateTolerance=60");
    QTest::newRow("3gp") << QStringList{"3rd Generation Partnership Project (*.3gp)"}
                         << QStringList{tolerance};
    QTest::newRow("DivX: none") << QStringList{"DivX Format (*.avi)"} << QStringList{};
    QTest::newRow("iPhone, in order")
        << QStringList{"iPhone Video (*.mpg)"} << QStringList{tolerance, "AudioChannels=2"};
    // Nothing takes a value back: the last one handed over is what the converter holds.
    QTest::newRow("WMV then PSP") << QStringList{kWmv, "Sony PSP (PSP AVC)"}
                                  << QStringList{tolerance};
    QTest::newRow("MPEG-1 then MOV")
        << QStringList{"MPEG-1 Format (*.mpg)", "QuickTime MOV (*.mov)"}
        << QStringList{"AudioChannels=1", "AudioChannels=2"};
}

void tst_FormatPreset::immediateParametersGoToTheConverter() {
    QFETCH(QStringList, formats);
    QFETCH(QStringList, immediate);
    Applied a;
    for (const QString& format : formats)
        a.apply(format);
    QCOMPARE(a.immediate, immediate);
    // The dialog shows Mono even where the converter was told two channels.
    QVERIFY(a.choices.OptMono);
}

// The sixteen select Mono; today's formats keep the source's channels, and those of sound alone
// close the video panel.
void tst_FormatPreset::everyPresetSelectsMonoAndTicksSameQuality() {
    Applied a;
    const QStringList soundAlone{"MP3 Audio (*.mp3)", "M4A Audio AAC (*.m4a)",
                                 "Opus Audio (*.opus)", "FLAC Audio (*.flac)"};
    int index = 0;
    for (const FormatPreset& preset : PresetCatalogue::Presets()) {
        a.choices.chkQuality = 0;
        a.choices.OptStereo = true;
        a.choices.videoPanelEnabled = false;
        a.apply(preset.key);
        QVERIFY(a.choices.chkQuality == 1 && a.choices.chkQualityEnabled);
        QCOMPARE(a.choices.OptMono, index++ < 16);
        QVERIFY(!a.choices.OptStereo);
        QCOMPARE(a.choices.videoPanelEnabled, !soundAlone.contains(preset.key));
    }
    QCOMPARE(PresetCatalogue::Presets().size(), size_t(25));
}

QTEST_APPLESS_MAIN(tst_FormatPreset)
#include "tst_FormatPreset.moc"
