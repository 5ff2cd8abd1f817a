// What a user meets with ordinary files and ordinary mistakes, through the component and the
// real converter program with ffmpeg: the source never destroyed, long names, a killed
// converter, damaged sources, RealMedia from noisy pictures, and device formats that the
// players decode, at about the size asked for.
#include "ConverterTestSupport.h"
#include "TestHome.h"
#include "modProcesses.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

using namespace ConverterTest;

namespace {

QByteArray Digest(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// Runs ffmpeg on lavfi inputs into `path`.
bool MakeMedia(const QString& path, const QStringList& inputsAndOptions) {
    int code = -1;
    Run("ffmpeg",
        QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"} + inputsAndOptions +
            QStringList{path},
        &code);
    return code == 0;
}

// A detailed 640x480 picture: the test pattern under noise, with a tone.
QStringList DetailedSource(int seconds) {
    const QString duration = QString::number(seconds);
    return {"-f",
            "lavfi",
            "-i",
            "testsrc2=size=640x480:rate=25:duration=" + duration,
            "-f",
            "lavfi",
            "-i",
            "nullsrc=size=640x480:rate=25:duration=" + duration + ",geq=random(1)*255:128:128",
            "-f",
            "lavfi",
            "-i",
            "sine=sample_rate=22050:duration=" + duration,
            "-filter_complex",
            "[0][1]blend=all_mode=average",
            "-c:v",
            "flv",
            "-b:v",
            "4000k",
            "-c:a",
            "libmp3lame",
            "-ar",
            "22050",
            "-shortest"};
}

struct VideoFacts {
    QString profile;
    int level = 0;
    double kbits = 0;     // the stream's average bit rate
    double peakKbits = 0; // the most bits in any one second of the stream
};

VideoFacts ProbeVideo(const QString& path) {
    VideoFacts facts;
    const QStringList stream =
        QString::fromUtf8(Run("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries",
                                          "stream=profile,level,bit_rate", "-of", "csv=p=0", path}))
            .trimmed()
            .split(',');
    if (stream.size() == 3) {
        facts.profile = stream.at(0);
        facts.level = stream.at(1).toInt();
        facts.kbits = stream.at(2).toDouble() / 1000;
    }
    std::map<int, double> perSecond;
    const QString packets =
        QString::fromUtf8(Run("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries",
                                          "packet=dts_time,size", "-of", "csv=p=0", path}));
    for (const QString& line : packets.split('\n', Qt::SkipEmptyParts)) {
        const double bits = line.section(',', 1).toDouble() * 8 / 1000;
        facts.peakKbits =
            std::max(facts.peakKbits, perSecond[int(line.section(',', 0, 0).toDouble())] += bits);
    }
    return facts;
}

// The converter that this test program started, once it runs.
qint64 OwnConverter() {
    qint64 found = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    (void)QTest::qWaitFor(
        [&] {
            for (qint64 pid : modProcesses::FindByName("avformat.dll")) {
                QFile stat(QString("/proc/%1/stat").arg(pid));
                stat.open(QIODevice::ReadOnly);
                const QByteArray text = stat.readAll();
                if (text.mid(text.lastIndexOf(')') + 2).split(' ').value(1) == self.toUtf8())
                    found = pid;
            }
            return found != 0;
        },
        10000);
    return found;
}

} // namespace

class TestOutcomes : public QObject {
    Q_OBJECT

    TestHome home_; // the converter program keeps its encoder list in the cache folder
    QTemporaryDir dir_;
    QString source_;
    QString out_;

    // Converts through the component; returns the last event.
    QString Convert(const QString& source, const QString& dest, const QString& settings,
                    int timeoutMs = 120000) {
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        if (!Apply(avc, settings))
            return "bad settings";
        avc.SetSourceFile(source);
        avc.SetDestFile(dest);
        avc.ConvertMedia(true);
        if (!log.WaitForEnd(timeoutMs))
            return "no end";
        return log.Last();
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        AVC::SetProgramFolder(CONVERTER_DIR);
        source_ = dir_.filePath("clip.flv");
        out_ = dir_.filePath("out");
        QDir().mkpath(out_);
        QVERIFY(MakeFlv(source_, 2));
    }
    void cleanupTestCase() { AVC::SetProgramFolder(QString()); }
    void init() {
        for (const QString& name : FilesIn(out_))
            QFile::remove(out_ + "/" + name);
    }

    // The file dialog's "*.flv*" lists "clip.flv.avi"; converting it to AVI names it again,
    // directly, through a symbolic link or through a hard link.
    void theSourceIsNeverTheDestination_data() {
        QTest::addColumn<QString>("link");
        QTest::newRow("same path") << "";
        QTest::newRow("symbolic link") << "symbolic";
        QTest::newRow("hard link") << "hard";
    }
    void theSourceIsNeverTheDestination() {
        QFETCH(QString, link);
        const QString source = out_ + "/clip.flv.avi";
        QVERIFY(QFile::copy(source_, source));
        const QByteArray before = Digest(source);
        QString dest = source;
        if (link == "symbolic")
            QVERIFY(QFile::link(source, dest = out_ + "/linked.avi"));
        else if (link == "hard")
            QCOMPARE(::link(qPrintable(source), qPrintable(dest = out_ + "/linked.avi")), 0);
        const QString last = Convert(source, dest, "VideoCodec=mpeg4 AudioCodec=mp3");
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains("is the source file itself"),
                 qPrintable(last));
        QCOMPARE(Digest(source), before);
    }

    void nameOf250BytesConverts() {
        const QString dest = out_ + "/" + QString(246, 'n') + ".avi";
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 AudioCodec=mp3"), QString("Complete"));
        QVERIFY(ProbeFile(dest).ok);
        QCOMPARE(FilesIn(out_).size(), 1);
    }

    void missingOutputFolderIsNamed() {
        const QString last = Convert(source_, out_ + "/gone/clip.avi", "VideoCodec=mpeg4");
        QCOMPARE(last,
                 "ErrorEvent:avformat.dll: the output folder '" + out_ + "/gone' does not exist");
    }

    // A converter killed outright is reported as such, and its partial file is gone once the
    // next run in that folder has started.
    void killedConverterIsReportedAndLeavesNothing() {
        const QString longSource = dir_.filePath("long.flv");
        QVERIFY(MakeFlv(longSource, 30));
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QVERIFY(Apply(avc, "VideoSize=640x480 VideoCodec=h264 SameQuality"));
        avc.SetSourceFile(longSource);
        avc.SetDestFile(out_ + "/long.mov");
        avc.ConvertMedia(true);
        const qint64 converter = OwnConverter();
        QVERIFY(converter != 0);
        QVERIFY(QTest::qWaitFor([&] { return FilesIn(out_).size() == 1; }, 20000));
        ::kill(static_cast<pid_t>(converter), SIGKILL);
        QVERIFY(log.WaitForEnd());
        QVERIFY2(log.Last().contains("was killed from outside"), qPrintable(log.Last()));
        QCOMPARE(Convert(source_, out_ + "/next.avi", "VideoCodec=mpeg4"), QString("Complete"));
        QCOMPARE(FilesIn(out_), QStringList{"next.avi"});
    }

    // A valid header followed by garbage gives no conversion; a download cut short converts
    // what is there.
    void damagedSourceIsAFailure() {
        QFile good(source_);
        QVERIFY(good.open(QIODevice::ReadOnly));
        const QByteArray whole = good.readAll();
        QByteArray garbage(200000, '\0');
        QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(garbage.data()),
                                       garbage.size() / 4);
        const QString damaged = dir_.filePath("damaged.flv");
        const QString cut = dir_.filePath("cut.flv");
        for (const auto& [path, bytes] : {std::pair{damaged, whole.left(3000) + garbage},
                                          std::pair{cut, whole.left(whole.size() / 2)}}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(bytes);
        }
        const QString last = Convert(damaged, out_ + "/damaged.avi", "VideoCodec=mpeg4");
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains("damaged"), qPrintable(last));
        QVERIFY(FilesIn(out_).isEmpty());
        QCOMPARE(Convert(cut, out_ + "/cut.avi", "VideoCodec=mpeg4"), QString("Complete"));
        QVERIFY(ProbeFile(out_ + "/cut.avi").duration > 0.5);
    }

    // RealMedia takes no packet over 64 kB; a key frame of pure noise must fit all the same.
    void realMediaFromANoisySource() {
        const QString noisy = dir_.filePath("noisy.flv");
        QVERIFY(MakeMedia(noisy, {"-f", "lavfi", "-i",
                                  "nullsrc=size=704x576:rate=25:duration=1,geq=lum=random(1)*255:"
                                  "cb=random(2)*255:cr=random(3)*255",
                                  "-c:v", "flv", "-q:v", "2"}));
        const QString dest = out_ + "/noisy.rm";
        QCOMPARE(Convert(noisy, dest, "VideoSize=704x576 AudioSamples=22050 DeInterlace"),
                 QString("Complete"));
        QCOMPARE(ProbeFile(dest).width, 704);
    }

    // What the dialog sends for the iPod, iPhone and PSP formats on first use, "Same quality"
    // ticked where the format reads it; the shown bit rate bounds every second of video at
    // twice it.
    void deviceFormats_data() {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("shownKbits");
        const QString apple = "VideoFrameRate=29.97 AudioCodec=aac AudioBitrate=48 "
                              "AudioSamples=22050 AudioChannels=2 SameQuality DeInterlace "
                              "VideoBitrateTolerance=60 ";
        const QString psp = "VideoFrameRate=29.97 AudioCodec=aac AudioChannels=2 ";
        QTest::newRow("iPOD Video") << ".mpg"
                                    << apple + "VideoSize=320x240 VideoBitrate=512 "
                                               "VideoCodec=mpeg4"
                                    << "Simple Profile" << 512;
        QTest::newRow("iPOD Video2") << ".mpg" << apple + "VideoSize=640x480 VideoBitrate=1200"
                                     << "Constrained Baseline" << 1200;
        QTest::newRow("iPhone") << ".mpg"
                                << apple + "VideoSize=320x240 VideoBitrate=1200 "
                                           "VideoCodec=mpeg4"
                                << "Simple Profile" << 1200;
        QTest::newRow("PSP AVC") << ".avi"
                                 << psp + "VideoSize=368x208 VideoBitrate=400 VideoCodec=h264 "
                                          "AudioBitrate=128 AudioSamples=48000 "
                                          "GroupOfPictureSize=250 VideoQuantiserScale=25 "
                                          "MaxVideoBitrate=1500 RateControlBuffer=128"
                                 << "Main" << 400;
        QTest::newRow("PSP Normal") << ".avi"
                                    << psp + "VideoSize=368x208 VideoBitrate=512 VideoCodec=xvid "
                                             "AudioBitrate=64 AudioSamples=24000"
                                    << "Simple Profile" << 512;
    }
    void deviceFormats() {
        QFETCH(QString, extension);
        QFETCH(QString, settings);
        QFETCH(QString, profile);
        QFETCH(int, shownKbits);
        const QString detailed = dir_.filePath("detailed.flv");
        if (!QFile::exists(detailed))
            QVERIFY(MakeMedia(detailed, DetailedSource(4)));
        const QString dest = out_ + "/device" + extension;
        QCOMPARE(Convert(detailed, dest, settings), QString("Complete"));
        const VideoFacts facts = ProbeVideo(dest);
        qInfo("%s: profile %s, level %d, %.0f kbit/s, at most %.0f kbit/s in one second",
              QTest::currentDataTag(), qPrintable(facts.profile), facts.level, facts.kbits,
              facts.peakKbits);
        QCOMPARE(facts.profile, profile);
        if (profile != "Simple Profile")
            QVERIFY(facts.level > 0 && facts.level <= 30);
        QVERIFY(facts.kbits <= 2 * shownKbits);
        QVERIFY(facts.peakKbits <= 2 * shownKbits);
    }
};

QTEST_GUILESS_MAIN(TestOutcomes)
#include "tst_Outcomes.moc"
