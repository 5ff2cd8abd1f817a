// Real conversions through the component and the converter program: a small FLV (Sorenson
// H.263 with MP3, as the fetcher downloads them) into each of the sixteen formats, with the
// choices each format shows at first and with other choices its lists offer. ffprobe must read
// back the asked frame size, an audio stream and the source's duration.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "TestHome.h"

#include <QTemporaryDir>
#include <QTimer>
#include <map>

using namespace ConverterTest;

namespace {

constexpr double kSourceSeconds = 2.0;
constexpr double kDurationTolerance = 0.35;

// What the dialog sends for each format on first use (its preset's shown items, its fixed
// values and the preset's immediate parameters), plus variants a user can pick in its lists.
struct FormatCase {
    QString name;
    QString extension;
    QString settings;
};

const char* const k3gp = "VideoFrameRate=11 VideoBitrate=120 AudioCodec=amr_nb AudioChannels=1 "
                         "SameQuality DeInterlace VideoBitrateTolerance=60 ";
const char* const kPspAac = "VideoFrameRate=29.97 AudioCodec=aac AudioBitrate=64 "
                            "AudioSamples=24000 AudioChannels=2 ";
const char* const kApple = "VideoFrameRate=29.97 AudioCodec=aac AudioBitrate=48 SameQuality "
                           "DeInterlace ";

QString Join(const char* a, const char* b) {
    return QString(a) + b;
}

std::vector<FormatCase> Cases() {
    std::vector<FormatCase> cases;
    const auto add = [&](const QString& name, const QString& ext, const QString& settings) {
        cases.push_back({name, ext, settings});
    };
    // 1, 2: 3GP and 3G2.
    add("3gp first use", ".3gp",
        Join(k3gp, "VideoSize=176x144 VideoCodec=h263 AudioBitrate=32 AudioSamples=8000"));
    add("3gp h263 320x240", ".3gp",
        Join(k3gp, "VideoSize=320x240 VideoCodec=h263 AudioBitrate=64 AudioSamples=44100"));
    add("3gp xvid 3200 Hz", ".3gp",
        Join(k3gp, "VideoSize=352x288 VideoFrameRate=15 VideoCodec=xvid AudioBitrate=56 "
                   "AudioSamples=3200"));
    add("3gp mpeg4 480x272", ".3gp",
        Join(k3gp, "VideoSize=480x272 VideoCodec=mpeg4 AudioBitrate=320 AudioSamples=48000"));
    add("3g2 first use", ".3g2",
        Join(k3gp, "VideoSize=176x144 VideoCodec=mpeg4 AudioBitrate=32 AudioSamples=8000"));
    add("3g2 h263 128x96", ".3g2",
        Join(k3gp, "VideoSize=128x96 VideoCodec=h263 AudioBitrate=128 AudioSamples=22050"));
    add("3g2 xvid 640x480", ".3g2",
        Join(k3gp, "VideoSize=640x480 VideoCodec=xvid AudioBitrate=48 AudioSamples=3200"));
    // 3: AVI, whose video list holds 72 codec names.
    const QString avi = "VideoFrameRate=29.97 VideoBitrate=120 VideoBitrateTolerance=60 "
                        "AudioChannels=1 ";
    add("avi first use", ".avi",
        avi + "VideoSize=320x240 VideoCodec=mpeg4 AudioCodec=pcm_s16le AudioBitrate=128 "
              "AudioSamples=44100");
    add("avi h264 mp3 3200 Hz", ".avi",
        avi + "VideoSize=640x480 VideoCodec=h264 AudioCodec=mp3 AudioBitrate=96 AudioSamples=3200");
    add("avi xvid ac3 22050", ".avi",
        avi + "VideoSize=160x120 VideoCodec=xvid AudioCodec=ac3 AudioBitrate=192 "
              "AudioSamples=22050");
    add("avi wmv2 mp2 48000", ".avi",
        avi +
            "VideoSize=704x576 VideoCodec=wmv2 AudioCodec=mp2 AudioBitrate=40 AudioSamples=48000");
    add("avi decode-only 4xm", ".avi",
        avi + "VideoSize=128x96 VideoCodec=4xm AudioCodec=mp3 AudioBitrate=128 AudioSamples=44100");
    add("avi untaggable pam", ".avi",
        avi + "VideoSize=352x288 VideoCodec=pam AudioCodec=pcm_s16le AudioBitrate=128 "
              "AudioSamples=22050");
    add("avi rv10", ".avi",
        avi +
            "VideoSize=480x272 VideoCodec=rv10 AudioCodec=mp3 AudioBitrate=64 AudioSamples=48000");
    add("avi rpza 160x120", ".avi",
        avi + "VideoSize=160x120 VideoCodec=rpza AudioCodec=pcm_s16le AudioBitrate=128 "
              "AudioSamples=44100");
    add("avi huffyuv", ".avi",
        avi + "VideoSize=176x144 VideoCodec=huffyuv AudioCodec=mp2 AudioBitrate=256 "
              "AudioSamples=3200");
    add("avi dvvideo", ".avi",
        avi + "VideoSize=320x240 VideoCodec=dvvideo AudioCodec=ac3 AudioBitrate=64 "
              "AudioSamples=44100");
    add("avi ljpeg", ".avi",
        avi + "VideoSize=160x120 VideoCodec=ljpeg AudioCodec=mp3 AudioBitrate=128 "
              "AudioSamples=44100");
    add("avi theora", ".avi",
        avi + "VideoSize=320x240 VideoCodec=theora AudioCodec=mp3 AudioBitrate=128 "
              "AudioSamples=44100");
    // 4: DivX.
    const QString divx = "VideoFrameRate=29.97 VideoBitrate=1200 VideoCodec=mpeg4 SameQuality "
                         "DeInterlace AudioChannels=1 ";
    add("divx first use", ".avi",
        divx + "VideoSize=320x240 AudioCodec=mp3 AudioBitrate=128 AudioSamples=44100");
    add("divx ac3 stereo 3200 Hz", ".avi",
        divx +
            "VideoSize=704x576 AudioCodec=ac3 AudioBitrate=32 AudioSamples=3200 AudioChannels=2");
    add("divx mp2 22050", ".avi",
        divx + "VideoSize=160x120 AudioCodec=mp2 AudioBitrate=320 AudioSamples=22050");
    // 5, 6: MPEG-1 and MPEG-2, with the frame rate fixed at 29.97.
    const QString mpeg = "VideoFrameRate=29.97 VideoBitrate=120 AudioChannels=1 DeInterlace ";
    add("mpeg1 first use", ".mpg",
        mpeg + "SameQuality VideoSize=320x240 VideoCodec=mpeg1video AudioCodec=mp2 "
               "AudioBitrate=128 AudioSamples=44100");
    add("mpeg1 no same quality", ".mpg",
        mpeg + "VideoSize=704x576 VideoCodec=mpeg1video AudioCodec=mp2 AudioBitrate=320 "
               "AudioSamples=22050");
    add("mpeg1 3200 Hz", ".mpg",
        mpeg + "VideoSize=128x96 VideoCodec=mpeg1video AudioCodec=mp2 AudioBitrate=40 "
               "AudioSamples=3200");
    add("mpeg2 first use", ".mpg",
        mpeg + "SameQuality VideoSize=320x240 VideoCodec=mpeg2video AudioCodec=mp2 "
               "AudioBitrate=128 AudioSamples=44100");
    add("mpeg2 ac3", ".mpg",
        mpeg + "SameQuality VideoSize=640x480 VideoCodec=mpeg2video AudioCodec=ac3 "
               "AudioBitrate=40 AudioSamples=3200 AudioChannels=2");
    // 7: WMV, whose audio codec is fixed at mp3.
    const QString wmv = "VideoFrameRate=29.97 VideoBitrate=120 AudioCodec=mp3 AudioChannels=1 "
                        "SameQuality DeInterlace VideoBitrateTolerance=60 ";
    add("wmv first use", ".wmv",
        wmv + "VideoSize=320x240 VideoCodec=wmv1 AudioBitrate=128 AudioSamples=44100");
    add("wmv wmv2 128x96", ".wmv",
        wmv + "VideoSize=128x96 VideoCodec=wmv2 AudioBitrate=320 AudioSamples=48000 "
              "AudioChannels=2");
    add("wmv 3200 Hz", ".wmv",
        wmv + "VideoSize=704x576 VideoCodec=wmv1 AudioBitrate=32 AudioSamples=3200");
    // 8 to 11: the PSP formats, all fixed.
    add("psp avc", ".avi",
        "VideoSize=368x208 VideoFrameRate=29.97 VideoBitrate=400 VideoCodec=h264 AudioCodec=aac "
        "AudioBitrate=128 AudioSamples=48000 AudioChannels=2 GroupOfPictureSize=250 "
        "VideoQuantiserScale=25 MaxVideoBitrate=1500 RateControlBuffer=128");
    add("psp minimal", ".avi", Join(kPspAac, "VideoSize=160x112 VideoBitrate=216 VideoCodec=xvid"));
    add("psp excellent", ".avi",
        Join(kPspAac, "VideoSize=368x208 VideoBitrate=768 VideoCodec=xvid"));
    add("psp normal", ".avi", Join(kPspAac, "VideoSize=368x208 VideoBitrate=512 VideoCodec=xvid"));
    // 12: RealMedia: bit rate and frame rate "Auto", no audio codec or bit rate.
    const QString rm = "VideoBitrate=Auto VideoFrameRate=Auto AudioChannels=1 DeInterlace ";
    add("rm first use", ".rm", rm + "VideoSize=320x240 VideoCodec=rv10 AudioSamples=22050");
    add("rm rv20 stereo", ".rm",
        rm + "VideoSize=160x120 VideoCodec=rv20 AudioSamples=44100 AudioChannels=2");
    add("rm rv10 160x120", ".rm", rm + "VideoSize=160x120 VideoCodec=rv10 AudioSamples=3200");
    add("rm mpeg4", ".rm", rm + "VideoSize=352x288 VideoCodec=mpeg4 AudioSamples=48000");
    // 13: QuickTime: no video codec at all.
    add("mov first use", ".mov",
        Join(kApple, "VideoSize=320x240 VideoBitrate=360 AudioSamples=22050 AudioChannels=1"));
    add("mov 640x480 stereo", ".mov",
        Join(kApple, "VideoSize=640x480 VideoBitrate=360 AudioBitrate=320 AudioSamples=48000 "
                     "AudioChannels=2"));
    add("mov 3200 Hz", ".mov",
        Join(kApple, "VideoSize=128x96 VideoBitrate=360 AudioBitrate=32 AudioSamples=3200 "
                     "AudioChannels=1"));
    // 14 to 16: iPod and iPhone, AAC in ".mpg".
    const QString apple = QString(kApple) + "VideoBitrateTolerance=60 ";
    add("ipod first use", ".mpg",
        apple + "VideoSize=320x240 VideoBitrate=512 VideoCodec=mpeg4 AudioSamples=22050 "
                "AudioChannels=1");
    add("ipod 14.985 stereo", ".mpg",
        apple + "VideoSize=320x240 VideoBitrate=512 VideoCodec=mpeg4 VideoFrameRate=14.985 "
                "AudioSamples=44100 AudioChannels=2");
    add("ipod2 first use", ".mpg",
        apple + "VideoSize=640x480 VideoBitrate=1200 VideoCodec=Auto AudioSamples=22050 "
                "AudioChannels=1");
    add("ipod2 48000", ".mpg",
        apple + "VideoSize=640x480 VideoBitrate=1200 VideoCodec=Auto VideoFrameRate=14.985 "
                "AudioSamples=48000 AudioChannels=2");
    add("iphone first use", ".mpg",
        apple + "VideoSize=320x240 VideoBitrate=1200 VideoCodec=mpeg4 AudioSamples=22050 "
                "AudioChannels=1");
    add("iphone 3200 Hz", ".mpg",
        apple + "VideoSize=320x240 VideoBitrate=1200 VideoCodec=mpeg4 AudioSamples=3200 "
                "AudioChannels=2");
    return cases;
}

} // namespace

class TestFormats : public QObject {
    Q_OBJECT

    TestHome home_; // the converter program keeps its encoder list in the cache folder
    QTemporaryDir dir_;
    QString source_;
    QString out_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        AVC::SetProgramFolder(CONVERTER_DIR);
        source_ = dir_.filePath("my clip.flv");
        out_ = dir_.filePath("out dir");
        QDir().mkpath(out_);
        QVERIFY(MakeFlv(source_, static_cast<int>(kSourceSeconds)));
        const Probe probe = ProbeFile(source_);
        QCOMPARE(probe.videoCodec, QString("flv1"));
        QCOMPARE(probe.audioCodec, QString("mp3"));
    }

    void convert_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("settings");
        for (const FormatCase& format : Cases())
            QTest::newRow(qPrintable(format.name)) << format.extension << format.settings;
    }

    void convert() {
        QFETCH(QString, extension);
        QFETCH(QString, settings);
        const QString dest = out_ + "/my clip" + extension;
        QFile::remove(dest);
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QVERIFY(Apply(avc, settings));
        avc.SetSourceFile(source_);
        avc.SetDestFile(dest);
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd(120000));
        QCOMPARE(log.Last(), QString("Complete"));

        const Probe probe = ProbeFile(dest);
        QVERIFY2(probe.ok, qPrintable(dest));
        const QString size = settings.section("VideoSize=", 1).section(' ', 0, 0);
        QCOMPARE(QString("%1x%2").arg(probe.width).arg(probe.height), size);
        QVERIFY(probe.hasAudio);
        QVERIFY2(qAbs(probe.duration - kSourceSeconds) <= kDurationTolerance,
                 qPrintable(QString::number(probe.duration)));
        QCOMPARE(FilesIn(out_), QStringList{"my clip" + extension});
        QFile::remove(dest);
    }
};

QTEST_GUILESS_MAIN(TestFormats)
#include "tst_Formats.moc"
