// What a user meets with ordinary files and ordinary mistakes, through the component and the
// real converter program with ffmpeg: the source never destroyed, long names, a killed
// converter, damaged sources, RealMedia from noisy pictures, and device formats that the
// players decode, at about the size asked for.
#include "ConverterTestSupport.h"
#include "StreamPlan.h"
#include "TestHome.h"

#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <unistd.h>

using namespace ConverterTest;

namespace {

QByteArray Contents(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Runs ffmpeg with `arguments` (split at spaces; lavfi inputs) into `path`.
bool MakeMedia(const QString& path, const QString& arguments) {
    int code = -1;
    Run("ffmpeg",
        QString("-hide_banner -loglevel error -nostdin -y " + arguments).split(' ') +
            QStringList{path},
        &code);
    return code == 0;
}

// ffprobe's answer for the first video stream as "profile,level,bit_rate", and the most
// kbit that any one second of its packets holds.
QString ProbeVideo(const QString& path, double* peakKbits) {
    const QStringList args = {"-v", "error", "-select_streams", "v", "-of", "csv=p=0"};
    std::map<int, double> kbitsPerSecond;
    *peakKbits = 0;
    for (const QString& packet :
         QString(Run("ffprobe", args + QStringList{"-show_entries", "packet=dts_time,size", path}))
             .split('\n', Qt::SkipEmptyParts))
        *peakKbits =
            std::max(*peakKbits, kbitsPerSecond[int(packet.section(',', 0, 0).toDouble())] +=
                                 packet.section(',', 1).toDouble() * 8 / 1000);
    return QString(Run("ffprobe",
                       args + QStringList{"-show_entries", "stream=profile,level,bit_rate", path}))
        .trimmed();
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
                    int timeoutMs = 120000, QString* resultFile = nullptr) {
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
        if (resultFile)
            *resultFile = avc.ResultFile();
        return log.Last();
    }

    // What the dialog is told of the source's streams before Convert.
    QString PlanText(const QString& source, const QString& settings) {
        std::vector<ConverterSetting> asked = {
            ConverterSetting::Text(ConverterProperty::SourceFile, source),
            ConverterSetting::Text(ConverterProperty::DestFile, out_ + "/plan.mp4")};
        for (const QString& item : settings.split(' ', Qt::SkipEmptyParts))
            asked.push_back(ConverterSetting::Text(*PropertyNamed(item.section('=', 0, 0)),
                                                   item.section('=', 1)));
        StreamPlan plan;
        QStringList answers;
        connect(&plan, &StreamPlan::Answered, this, [&](const QString& text) { answers << text; });
        plan.Ask(asked);
        return QTest::qWaitFor([&] { return !answers.isEmpty(); }, 30000) ? answers.first()
                                                                          : "(none)";
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
        QDir(out_).removeRecursively();
        QDir().mkpath(out_);
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
        const QByteArray before = Contents(source);
        QString dest = source;
        if (link == "symbolic")
            QVERIFY(QFile::link(source, dest = out_ + "/linked.avi"));
        else if (link == "hard")
            QCOMPARE(::link(qPrintable(source), qPrintable(dest = out_ + "/linked.avi")), 0);
        const QString last = Convert(source, dest, "VideoCodec=mpeg4 AudioCodec=mp3");
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains("is the source file itself"),
                 qPrintable(last));
        QCOMPARE(Contents(source), before);
    }

    void nameOf250BytesConverts() {
        const QString dest = out_ + "/" + QString(246, 'n') + ".avi";
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 AudioCodec=mp3"), QString("Complete"));
        QVERIFY(ProbeFile(dest).ok);
        QCOMPARE(FilesIn(out_).size(), 1);
    }

    void missingOutputFolderIsNamed() {
        const QString last = Convert(source_, out_ + "/gone/clip.avi", "VideoCodec=mpeg4");
        QCOMPARE(last, "ErrorEvent:Vantelo: the output folder '" + out_ + "/gone' does not exist");
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
        // The partial file's folder is named after its converter's process id.
        QVERIFY(QTest::qWaitFor([&] { return FilesIn(out_).size() == 1; }, 20000));
        const qint64 converter =
            FilesIn(out_).value(0).section('-', 1, 1).section('.', 0, 0).toLongLong();
        QVERIFY(converter > 0);
        ::kill(static_cast<pid_t>(converter), SIGKILL);
        QVERIFY(log.WaitForEnd());
        QVERIFY2(log.Last().contains("was killed from outside"), qPrintable(log.Last()));
        QCOMPARE(Convert(source_, out_ + "/next.avi", "VideoCodec=mpeg4"), QString("Complete"));
        QCOMPARE(FilesIn(out_), QStringList{"next.avi"});
    }

    // A valid header followed by garbage gives no conversion; a download cut short converts
    // what is there.
    void damagedSourceIsAFailure() {
        const QByteArray whole = Contents(source_);
        QByteArray garbage(200000, '\0');
        QRandomGenerator(42).fillRange(reinterpret_cast<quint32*>(garbage.data()),
                                       garbage.size() / 4);
        QFile damaged(dir_.filePath("damaged.flv")), cut(dir_.filePath("cut.flv"));
        QVERIFY(damaged.open(QIODevice::WriteOnly) && cut.open(QIODevice::WriteOnly));
        damaged.write(whole.left(3000) + garbage);
        cut.write(whole.left(whole.size() / 2));
        damaged.close();
        cut.close();
        const QString last = Convert(damaged.fileName(), out_ + "/damaged.avi", "VideoCodec=mpeg4");
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains("damaged"), qPrintable(last));
        QVERIFY(FilesIn(out_).isEmpty());
        QCOMPARE(Convert(cut.fileName(), out_ + "/cut.avi", "VideoCodec=mpeg4"),
                 QString("Complete"));
        QVERIFY(ProbeFile(out_ + "/cut.avi").duration > 0.5);
    }

    // The converter says how far it is, in the source's time, and the component passes it on:
    // never backwards, and at the end all of it.
    void progressIsReportedUpToTheWholeSource() {
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QList<qint64> done;
        qint64 total = 0;
        connect(&avc, &AVC::Progress, this, [&](qint64 doneMs, qint64 totalMs) {
            done.append(doneMs);
            total = totalMs;
        });
        QVERIFY(Apply(avc, "VideoCodec=mpeg4 AudioCodec=mp3"));
        avc.SetSourceFile(source_);
        avc.SetDestFile(out_ + "/progress.avi");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
        QVERIFY(!done.isEmpty());
        QVERIFY2(qAbs(total - 2000) <= 100, qPrintable(QString::number(total)));
        QVERIFY(std::is_sorted(done.begin(), done.end()));
        QVERIFY(done.last() >= total * 9 / 10 && done.last() <= total);
    }

    // A result never destroys an earlier file of its name: that goes to the Trash, or, where
    // there is no Trash, stays, and the result takes a free name, whatever the name holds.
    void earlierResultGoesToTheTrashOrStays_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("plain name") << "again";
        QTest::newRow("name with a line break") << "two\navformat.dll: saved as x";
    }
    void earlierResultGoesToTheTrashOrStays() {
        QFETCH(QString, name);
        const QString dest = out_ + "/" + name + ".avi";
        const QString trash = QString(qgetenv("XDG_DATA_HOME")) + "/Trash/files";
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 VideoSize=160x120"), QString("Complete"));
        const QByteArray first = Contents(dest);
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 VideoSize=320x240"), QString("Complete"));
        QCOMPARE(ProbeFile(dest).width, 320);
        QCOMPARE(Contents(trash + "/" + name + ".avi"), first);

        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", source_.toUtf8()); // a file: no Trash can be made there
        QString resultFile;
        const QString last =
            Convert(source_, dest, "VideoCodec=mpeg4 VideoSize=176x144", 120000, &resultFile);
        qputenv("XDG_DATA_HOME", dataHome);
        QCOMPARE(last, QString("Complete"));
        QCOMPARE(ProbeFile(dest).width, 320);
        // The component knows where the result went, for whoever opens it.
        QCOMPARE(resultFile, out_ + "/" + name + " (2).avi");
        QCOMPARE(ProbeFile(resultFile).width, 176);
    }

    // On another file system than the home, a Trash the user cannot use (here one whose info
    // folder is a file) is passed by: the result takes a free name and the conversion ends.
    void earlierResultBesideAnUnusableTrashStays() {
        QTemporaryDir other(QStringLiteral("/dev/shm/vantelo-XXXXXX"));
        const QStorageInfo storage(other.path());
        const QString trash = storage.rootPath() + "/.Trash-" + QString::number(::getuid());
        if (!other.isValid() || storage == QStorageInfo(out_) || QFileInfo::exists(trash) ||
            QFileInfo::exists(storage.rootPath() + "/.Trash"))
            QSKIP("needs a file system apart from the home's (/dev/shm) without a Trash");
        QVERIFY(QDir().mkpath(trash));
        const auto removeTrash = qScopeGuard([trash] { QDir(trash).removeRecursively(); });
        QVERIFY(QFile::setPermissions(trash, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                 QFileDevice::ExeOwner));
        QFile info(trash + "/info");
        QVERIFY(info.open(QIODevice::WriteOnly));
        info.close();
        const QString dest = other.path() + "/again.avi";
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 VideoSize=160x120"), QString("Complete"));
        const QByteArray first = Contents(dest);
        QString resultFile;
        QCOMPARE(Convert(source_, dest, "VideoCodec=mpeg4 VideoSize=176x144", 60000, &resultFile),
                 QString("Complete"));
        QCOMPARE(Contents(dest), first);
        QCOMPARE(resultFile, other.path() + "/again (2).avi");
        QCOMPARE(ProbeFile(resultFile).width, 176);
    }

    // A source with sound alone converts to sound alone where the format's file can hold it,
    // and is refused before any conversion where it cannot (the PSP's own file).
    void soundOnlySource() {
        const QString sound = dir_.filePath("sound.flv");
        QVERIFY(MakeMedia(sound, "-f lavfi -i sine=duration=3 -c:a libmp3lame -ar 22050"));
        QCOMPARE(Convert(sound, out_ + "/sound.avi", "VideoCodec=mpeg4 AudioCodec=mp3"),
                 QString("Complete"));
        const Probe probe = ProbeFile(out_ + "/sound.avi");
        QVERIFY(probe.hasAudio && probe.videoCodec.isEmpty());
        QVERIFY(probe.duration > 2.5);
        const QString last =
            Convert(sound, out_ + "/sound.mp4", "ForceFormat=psp VideoCodec=h264 AudioCodec=aac");
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains("the source has no video"),
                 qPrintable(last));
        QCOMPARE(FilesIn(out_), QStringList{"sound.avi"});
    }

    // Sources that cannot become the format asked are refused before ffmpeg runs, in words: a
    // playlist or manifest that names a private file of the user's (a page's "video" can be
    // one), and a
    // video without sound for a format of sound alone. The same video makes a video format.
    void sourcesRefusedInWords_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("text"); // empty: it converts
        const QString playlist = "is a playlist that names other files, not a media file";
        const QString silent = "the source has no sound, and this format holds sound alone";
        QTest::newRow("playlist to AVI") << "playlist.mp4"
                                         << "VideoCodec=mpeg4" << playlist;
        QTest::newRow("DASH manifest to MP4")
            << "manifest.mp4"
            << "ForceFormat=mp4 VideoCodec=h264 AudioCodec=aac" << playlist;
        QTest::newRow("video alone to MP3") << "silent.mp4"
                                            << "ForceFormat=mp3 AudioCodec=mp3" << silent;
        QTest::newRow("video alone to M4A") << "silent.mp4"
                                            << "ForceFormat=ipod AudioCodec=aac" << silent;
        QTest::newRow("video alone to Opus") << "silent.mp4"
                                             << "ForceFormat=opus AudioCodec=opus" << silent;
        QTest::newRow("video alone to FLAC") << "silent.mp4"
                                             << "ForceFormat=flac AudioCodec=flac" << silent;
        QTest::newRow("video alone to MP4") << "silent.mp4"
                                            << "ForceFormat=mp4 VideoCodec=h264 AudioCodec=aac"
                                            << "";
    }
    void sourcesRefusedInWords() {
        QFETCH(QString, source);
        QFETCH(QString, settings);
        QFETCH(QString, text);
        const QString secret = dir_.filePath("private/secret.ts");
        if (!QFile::exists(secret)) {
            QDir().mkpath(dir_.filePath("private"));
            QVERIFY(MakeMedia(secret, "-f lavfi -i testsrc=size=96x64:duration=3 -c:v libx264"));
            QFile playlist(dir_.filePath("playlist.mp4"));
            QVERIFY(playlist.open(QIODevice::WriteOnly));
            playlist.write("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:3,\nfile://" +
                           QFile::encodeName(secret) + "\n#EXT-X-ENDLIST\n");
            QFile manifest(dir_.filePath("manifest.mp4"));
            QVERIFY(manifest.open(QIODevice::WriteOnly));
            manifest.write(
                "<?xml version=\"1.0\"?>\n<MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" "
                "type=\"static\" mediaPresentationDuration=\"PT3S\" minBufferTime=\"PT1S\" "
                "profiles=\"urn:mpeg:dash:profile:isoff-on-demand:2011\"><Period>"
                "<AdaptationSet mimeType=\"video/mp4\"><Representation id=\"1\" "
                "bandwidth=\"100000\"><BaseURL>file://" +
                QFile::encodeName(secret) +
                "</BaseURL></Representation></AdaptationSet></Period></MPD>\n");
            QVERIFY(MakeMedia(dir_.filePath("silent.mp4"),
                              "-f lavfi -i testsrc=size=160x120:duration=1 -c:v libx264"));
        }
        // The format is forced; only AVI goes by the name.
        const QString dest = out_ + "/result" + (settings.contains("mpeg4") ? ".avi" : ".out");
        const QString plan = PlanText(dir_.filePath(source), settings);
        if (text.contains("playlist")) // what it names is not described either
            QCOMPARE(plan, QString());
        const QString last = Convert(dir_.filePath(source), dest, settings);
        if (text.isEmpty()) {
            QVERIFY2(plan.startsWith("Video: re-encode"), qPrintable(plan));
            QCOMPARE(last, QString("Complete"));
            QCOMPARE(ProbeFile(dest).width, 160);
            return;
        }
        QVERIFY2(last.startsWith("ErrorEvent:") && last.contains(text), qPrintable(last));
        QVERIFY(FilesIn(out_).isEmpty());
    }

    // RealMedia takes no packet over 64 kB; a key frame of pure noise must fit all the same.
    void realMediaFromANoisySource() {
        const QString noisy = dir_.filePath("noisy.flv");
        QVERIFY(MakeMedia(noisy, "-f lavfi -i nullsrc=size=704x576:rate=25:duration=1,geq=lum="
                                 "random(1)*255:cb=random(2)*255:cr=random(3)*255 -q:v 2"));
        const QString dest = out_ + "/noisy.rm";
        QCOMPARE(Convert(noisy, dest, "VideoSize=704x576 AudioSamples=22050 DeInterlace"),
                 QString("Complete"));
        QCOMPARE(ProbeFile(dest).width, 704);
    }

    // What the dialog sends for the iPod, iPhone and PSP formats on first use, "Same quality"
    // ticked where the format reads it; the shown bit rate bounds every second of video at
    // twice it.
    void deviceFormats_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("profile");
        QTest::addColumn<int>("shownKbits");
        const QString apple = "VideoFrameRate=29.97 AudioCodec=aac AudioBitrate=48 SameQuality "
                              "AudioSamples=22050 AudioChannels=2 DeInterlace ";
        const QString psp =
            "VideoFrameRate=29.97 AudioCodec=aac AudioChannels=2 VideoSize=368x208 ";
        QTest::newRow("iPOD Video") << apple + "VideoSize=320x240 VideoBitrate=512 VideoCodec=mpeg4"
                                    << "Simple Profile" << 512;
        QTest::newRow("iPOD Video2") << apple + "VideoSize=640x480 VideoBitrate=1200"
                                     << "Constrained Baseline" << 1200;
        QTest::newRow("iPhone") << apple + "VideoSize=320x240 VideoBitrate=1200 VideoCodec=mpeg4"
                                << "Simple Profile" << 1200;
        QTest::newRow("PSP AVC") << psp + "VideoBitrate=400 VideoCodec=h264 AudioBitrate=128 "
                                          "AudioSamples=48000 GroupOfPictureSize=250 "
                                          "VideoQuantiserScale=25 MaxVideoBitrate=1500 "
                                          "RateControlBuffer=128"
                                 << "Main" << 400;
        QTest::newRow("PSP Normal") << psp + "VideoBitrate=512 VideoCodec=xvid AudioBitrate=64 "
                                             "AudioSamples=24000"
                                    << "Simple Profile" << 512;
    }
    void deviceFormats() {
        QFETCH(QString, settings);
        QFETCH(QString, profile);
        QFETCH(int, shownKbits);
        const QString detailed = dir_.filePath("detailed.flv");
        if (!QFile::exists(detailed))
            QVERIFY(MakeMedia(detailed,
                              "-f lavfi -i testsrc2=size=640x480:duration=4 -f lavfi -i "
                              "nullsrc=size=640x480:duration=4,geq=random(1)*255:128:128 -f lavfi "
                              "-i sine=duration=4 -filter_complex [0][1]blend=all_mode=average "
                              "-c:v flv -b:v 4000k -c:a libmp3lame -ar 22050"));
        const QString dest = out_ + (settings.contains("368x208") ? "/psp.avi" : "/device.mpg");
        QCOMPARE(Convert(detailed, dest, settings), QString("Complete"));
        double peakKbits = 0;
        const QStringList facts = ProbeVideo(dest, &peakKbits).split(',');
        qInfo("%s: profile, level, bit/s: %s; at most %.0f kbit/s in one second",
              QTest::currentDataTag(), qPrintable(facts.join(", ")), peakKbits);
        QCOMPARE(facts.value(0), profile);
        QVERIFY(profile == "Simple Profile" || facts.value(1).toInt() <= 30);
        QVERIFY(facts.value(2).toDouble() / 1000 <= 2 * shownKbits);
        QVERIFY(peakKbits <= 2 * shownKbits);
    }
};

QTEST_GUILESS_MAIN(TestOutcomes)
#include "tst_Outcomes.moc"
