// Today's formats through the component and the converter program: small sources as they come
// today, crossed with the targets where a cross shows something (a copy, an encode, a tag, a
// pixel format). ffprobe reads back the codecs, the tag and the pixels; MP4 and M4A files hold
// their index before the media; every result decodes without an error, and a copied stream
// holds the very packets of the source.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "TestHome.h"

#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

using namespace ConverterTest;

namespace {

// The sources: 3 s at 320x240, each made once.
struct SourceRecipe {
    const char* name;
    QStringList encoding; // ffmpeg's options after the two generated inputs
};

const std::vector<SourceRecipe>& Recipes() {
    static const std::vector<SourceRecipe> recipes = {
        {"h264 aac.mp4", {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"}},
        {"vp9 opus.webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-c:a", "libopus"}},
        {"av1 opus.mkv", {"-c:v", "libsvtav1", "-preset", "12", "-c:a", "libopus"}},
        {"hevc aac.mkv",
         {"-c:v", "libx265", "-pix_fmt", "yuv420p", "-x265-params", "log-level=error", "-c:a",
          "aac"}},
        {"mpeg2.ts", {"-c:v", "mpeg2video", "-c:a", "mp2"}},
        {"sound.mp3", {"-vn", "-c:a", "libmp3lame"}},
        {"ten bit.mkv",
         {"-c:v", "libx265", "-pix_fmt", "yuv420p10le", "-x265-params", "log-level=error", "-c:a",
          "aac"}},
    };
    return recipes;
}

bool MakeSource(const QString& path, const QStringList& encoding) {
    int code = -1;
    Run("ffmpeg",
        QStringList{"-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
                    "testsrc2=size=320x240:rate=25:duration=3", "-f", "lavfi", "-i",
                    "sine=frequency=440:sample_rate=48000:duration=3"} +
            encoding + QStringList{"-shortest", path},
        &code);
    return code == 0;
}

// "codec,tag,pixels" of the first video stream, "|", the first audio codec; the format's name.
QString Streams(const QString& path) {
    const QString listing =
        QString::fromUtf8(Run("ffprobe", {"-v", "error", "-show_entries",
                                          "stream=codec_type,codec_name,codec_tag_string,pix_fmt",
                                          "-of", "compact=p=0", path}));
    QString video = "-", audio = "-";
    for (const QString& line : listing.split('\n', Qt::SkipEmptyParts)) {
        QMap<QString, QString> field;
        for (const QString& part : line.split('|'))
            field[part.section('=', 0, 0)] = part.section('=', 1);
        if (field["codec_type"] == "video" && video == "-")
            video = field["codec_name"] + "," + field["codec_tag_string"] + "," + field["pix_fmt"];
        else if (field["codec_type"] == "audio" && audio == "-")
            audio = field["codec_name"];
    }
    return video + "|" + audio;
}

// The hashes of a stream's packets' payloads, in order ("v" or "a").
QStringList PacketHashes(const QString& path, const QString& stream) {
    QStringList hashes;
    const QByteArray listing =
        Run("ffmpeg", {"-v", "error", "-i", path, "-map", "0:" + stream + ":0", "-c", "copy", "-f",
                       "framemd5", "-"});
    for (const QByteArray& line : listing.split('\n'))
        if (!line.startsWith('#') && !line.isEmpty())
            hashes << QString::fromLatin1(line.split(',').value(5).trimmed()); // side data after it
    return hashes;
}

// Errors a full decode of the file reports; empty for a clean file.
QByteArray DecodeErrors(const QString& path) {
    QProcess decode;
    decode.start("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-f", "null", "-"});
    decode.waitForFinished(120000);
    return decode.readAllStandardError();
}

// True when the file's index ("moov") comes before its media ("mdat").
bool IndexFirst(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(1 << 20);
    const int moov = head.indexOf("moov");
    return moov >= 0 && (head.indexOf("mdat") < 0 || moov < head.indexOf("mdat"));
}

const char* const kMp4H264 = "ForceFormat=mp4 VideoCodec=h264 VideoBitrate=RF22 AudioCodec=aac "
                             "AudioBitrate=160 ";
const char* const kMp4H265 = "ForceFormat=mp4 VideoCodec=hevc VideoBitrate=RF24 AudioCodec=aac "
                             "AudioBitrate=160 ";
const char* const kWebmVp9 = "ForceFormat=webm VideoCodec=vp9 VideoBitrate=RF32 AudioCodec=opus "
                             "AudioBitrate=128 ";
const char* const kWebmAv1 = "ForceFormat=webm VideoCodec=av1 VideoBitrate=RF35 AudioCodec=opus "
                             "AudioBitrate=128 ";
const char* const kMkvKeep = "ForceFormat=matroska VideoCodec=copy AudioCodec=copy ";

} // namespace

class TestModern : public QObject {
    Q_OBJECT

    TestHome home_; // the converter program keeps its encoder list in the cache folder
    QTemporaryDir dir_;

    QString SourcePath(const QString& name) const { return dir_.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        AVC::SetProgramFolder(CONVERTER_DIR);
        for (const SourceRecipe& recipe : Recipes())
            QVERIFY2(MakeSource(SourcePath(recipe.name), recipe.encoding), recipe.name);
    }

    void convert_data() {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("streams"); // video codec,tag,pixels | audio codec
        QTest::addColumn<QString>("copied");  // the streams whose packets stay the same
        const auto row = [](const char* tag, const char* source, QString settings,
                            const char* extension, const char* streams, const char* copied) {
            QTest::newRow(tag) << source << settings << extension << streams << copied;
        };
        const QString keep = "SameQuality";
        row("h264 aac -> mp4 h264: both copied", "h264 aac.mp4", kMp4H264 + keep, ".mp4",
            "h264,avc1,yuv420p|aac", "va");
        row("h264 aac -> mp4 h264, re-encode asked", "h264 aac.mp4", kMp4H264, ".mp4",
            "h264,avc1,yuv420p|aac", "");
        row("h264 aac -> mp4 h265", "h264 aac.mp4", kMp4H265 + keep, ".mp4",
            "hevc,hvc1,yuv420p|aac", "a");
        row("h264 aac -> webm vp9", "h264 aac.mp4", kWebmVp9 + keep, ".webm",
            "vp9,[0][0][0][0],yuv420p|opus", "");
        row("h264 aac -> m4a", "h264 aac.mp4", "ForceFormat=ipod AudioCodec=aac " + keep, ".m4a",
            "-|aac", "a");
        row("vp9 opus -> webm vp9: both copied", "vp9 opus.webm", kWebmVp9 + keep, ".webm",
            "vp9,[0][0][0][0],yuv420p|opus", "va");
        row("vp9 opus -> mp4 h264, 720p asked", "vp9 opus.webm",
            kMp4H264 + keep + " VideoSize=720p", ".mp4", "h264,avc1,yuv420p|aac", "");
        row("vp9 opus -> opus", "vp9 opus.webm", "ForceFormat=opus AudioCodec=opus " + keep,
            ".opus", "-|opus", "a");
        row("av1 opus -> webm av1: both copied", "av1 opus.mkv", kWebmAv1 + keep, ".webm",
            "av1,[0][0][0][0],yuv420p|opus", "va");
        row("vp9 opus -> webm av1", "vp9 opus.webm", kWebmAv1 + keep, ".webm",
            "av1,[0][0][0][0],yuv420p|opus", "a");
        row("hevc aac -> mp4 h265: copied, tagged hvc1", "hevc aac.mkv", kMp4H265 + keep, ".mp4",
            "hevc,hvc1,yuv420p|aac", "va");
        row("mpeg2 ts -> mp4 h264", "mpeg2.ts", kMp4H264 + keep, ".mp4", "h264,avc1,yuv420p|aac",
            "");
        row("mpeg2 ts -> mkv keep", "mpeg2.ts", kMkvKeep + keep, ".mkv",
            "mpeg2video,[0][0][0][0],yuv420p|mp2", "va");
        row("sound -> mp3: copied", "sound.mp3", "ForceFormat=mp3 AudioCodec=mp3 " + keep, ".mp3",
            "-|mp3", "a");
        row("sound -> flac", "sound.mp3", "ForceFormat=flac AudioCodec=flac " + keep, ".flac",
            "-|flac", "");
        row("ten bit -> mp4 h265, kept", "ten bit.mkv", kMp4H265 + keep, ".mp4",
            "hevc,hvc1,yuv420p10le|aac", "va");
        row("ten bit -> mp4 h264, not kept", "ten bit.mkv", kMp4H264, ".mp4",
            "h264,avc1,yuv420p|aac", "");
    }

    // 4:2:0 has one colour sample to four pixels, and H.264, H.265 and SVT-AV1 refuse an odd
    // width or height: an odd source loses its last column and row, and converts.
    void oddFrameSize_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("extension");
        QTest::newRow("mp4 h264") << QString(kMp4H264) << ".mp4";
        QTest::newRow("mp4 h264, 720p asked") << kMp4H264 + QString("VideoSize=720p") << ".mp4";
        QTest::newRow("mp4 h265") << QString(kMp4H265) << ".mp4";
        QTest::newRow("webm vp9") << QString(kWebmVp9) << ".webm";
        QTest::newRow("webm av1") << QString(kWebmAv1) << ".webm";
    }
    void oddFrameSize() {
        QFETCH(QString, settings);
        QFETCH(QString, extension);
        const QString source = SourcePath("odd.mkv");
        if (!QFile::exists(source))
            QVERIFY(
                MakeSource(source, {"-s", "321x241", "-c:v", "ffv1", "-c:a", "flac", "-t", "1"}));
        const QString dest = dir_.filePath("odd" + extension);
        QFile::remove(dest);
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QVERIFY(Apply(avc, settings));
        avc.SetSourceFile(source);
        avc.SetDestFile(dest);
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd(120000));
        QCOMPARE(log.Last(), QString("Complete"));
        const Probe probe = ProbeFile(dest);
        QCOMPARE(QSize(probe.width, probe.height), QSize(320, 240));
        QFile::remove(dest);
    }

    // libvpx's VP9 held about 4 GB for an 8K frame, whatever its threads or tiles: a source
    // larger than 4K is made at 4K, and the converter's ffmpeg stays well below that.
    void vp9OfAn8kSourceKeepsMemoryBounded() {
        constexpr long kBoundKb = 2 * 1024 * 1024;
        const QString source = SourcePath("8k.mkv");
        QVERIFY(MakeSource(source, {"-s", "7680x4320", "-c:v", "mpeg2video", "-q:v", "20", "-c:a",
                                    "flac", "-t", "0.2"}));
        rusage children = {};
        getrusage(RUSAGE_CHILDREN, &children);
        QVERIFY(children.ru_maxrss < kBoundKb); // nothing so far leaves the bound unable to tell
        const QString dest = dir_.filePath("8k.webm");
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QVERIFY(Apply(avc, kWebmVp9));
        avc.SetSourceFile(source);
        avc.SetDestFile(dest);
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd(300000));
        QCOMPARE(log.Last(), QString("Complete"));
        getrusage(RUSAGE_CHILDREN, &children); // the converter's ffmpeg among them
        QVERIFY2(children.ru_maxrss < kBoundKb, qPrintable(QString::number(children.ru_maxrss)));
        const Probe probe = ProbeFile(dest);
        QCOMPARE(QSize(probe.width, probe.height), QSize(3840, 2160));
        QFile::remove(dest);
        QFile::remove(source);
    }

    void convert() {
        QFETCH(QString, source);
        QFETCH(QString, settings);
        QFETCH(QString, extension);
        QFETCH(QString, streams);
        QFETCH(QString, copied);
        const QString dest = dir_.filePath("out" + extension);
        QFile::remove(dest);
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        QVERIFY(Apply(avc, settings));
        avc.SetSourceFile(SourcePath(source));
        avc.SetDestFile(dest);
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd(120000));
        QCOMPARE(log.Last(), QString("Complete"));

        QCOMPARE(Streams(dest), streams);
        if (extension == ".mp4" || extension == ".m4a")
            QVERIFY(IndexFirst(dest));
        QCOMPARE(DecodeErrors(dest), QByteArray());
        for (const QChar stream : QString("va")) {
            const QStringList written = PacketHashes(dest, stream);
            const bool same =
                !written.isEmpty() && PacketHashes(SourcePath(source), stream) == written;
            QVERIFY2(same == copied.contains(stream), qPrintable(QString(stream)));
        }
        QFile::remove(dest);
    }
};

QTEST_GUILESS_MAIN(TestModern)
#include "tst_Modern.moc"
