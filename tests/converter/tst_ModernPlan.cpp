// The plan of today's targets without running ffmpeg: which streams are copied and why, which
// encoder runs (VA-API through its seam), and the hardware answer asked once and kept.
#include "modHardware.h"
#include "modModern.h"

#include <QTemporaryDir>
#include <QTest>

using Args = std::vector<std::string>;

namespace {

modEncoders::EncoderSet Encoders() {
    modEncoders::EncoderSet encoders;
    for (const char* name : {"libx264", "libx265", "h264_vaapi", "hevc_vaapi", "aac", "libopus"})
        encoders.Add(name, 'V', name);
    return encoders;
}

modLegacyCommand::LegacyRequest Request(const QString& line) {
    Args args{"-i", "in"};
    for (const QString& word : line.split(' ', Qt::SkipEmptyParts))
        args.push_back(word.toStdString());
    args.push_back("out");
    return modLegacyCommand::Parse(args).request;
}

QString Joined(const Args& args) {
    QStringList words;
    for (const std::string& arg : args)
        words << QString::fromStdString(arg);
    return words.join(' ');
}

// ffprobe's compact answer for an H.264/AAC source, with a cover picture before its video.
const char* const kProbed = "stream|codec_name=mjpeg|codec_type=video|width=600|height=600|"
                            "pix_fmt=yuvj444p|disposition:attached_pic=1\n"
                            "stream|codec_name=h264|codec_type=video|width=1920|height=1080|"
                            "pix_fmt=%1|disposition:attached_pic=0\n"
                            "stream|codec_name=aac|codec_type=audio|sample_rate=48000|channels=2|"
                            "disposition:attached_pic=0\n";

} // namespace

class TestModernPlan : public QObject {
    Q_OBJECT
private slots:
    void plan_data() {
        QTest::addColumn<QString>("pixels"); // of the source's H.264 video
        QTest::addColumn<QString>("line");   // the converter's options
        QTest::addColumn<bool>("hardware");  // a render node runs both VA-API encoders
        QTest::addColumn<QString>("decisions");
        QTest::addColumn<QString>("has"); // options the plan must hold, "/" between them
        const QString mp4 = "-f mp4 -vcodec h264 -b RF22 -acodec aac -ab 160 ";
        const auto row = [](const char* tag, const char* pixels, const QString& line, bool hardware,
                            const char* decisions, const char* has) {
            QTest::newRow(tag) << pixels << line << hardware << decisions << has;
        };
        row("fits: copied", "yuv420p", mp4 + "-sameq", false,
            "Video: copy (the source's H.264 fits MP4)\nAudio: copy (the source's AAC fits MP4)\n",
            "-c:v copy/-c:a copy/-movflags +faststart/-f mp4");
        row("same quality off", "yuv420p", mp4, false,
            "Video: re-encode (\"Same quality\" is off)\nAudio: re-encode (\"Same quality\" is "
            "off)\n",
            "-c:v libx264 -pix_fmt yuv420p -preset fast -crf 22/-c:a aac -b:a 160k");
        row("smaller size", "yuv420p", mp4 + "-sameq -s 720p", false,
            "Video: re-encode (a smaller frame size was asked)\n"
            "Audio: copy (the source's AAC fits MP4)\n",
            "-vf scale=-2:'min(720,ih)'");
        row("larger size keeps the source", "yuv420p", mp4 + "-sameq -s 2160p", false,
            "Video: copy (the source's H.264 fits MP4)\nAudio: copy (the source's AAC fits MP4)\n",
            "-c:v copy");
        row("4:4:4 is re-encoded", "yuv444p", mp4 + "-sameq -ar 44100", false,
            "Video: re-encode (its pixels (yuv444p) are not the 4:2:0 that players take)\n"
            "Audio: re-encode (another sample rate was asked)\n",
            "-pix_fmt yuv420p/-ar 44100");
        row("bit rate and exact frame rate", "yuv420p", mp4 + "-b 2500 -r 29.97", false,
            "Video: re-encode (\"Same quality\" is off)\nAudio: re-encode (\"Same quality\" is "
            "off)\n",
            "-b:v 2500k/-r 30000/1001");
        row("hardware H.264", "yuv420p", mp4, true,
            "Video: re-encode (\"Same quality\" is off)\nAudio: re-encode (\"Same quality\" is "
            "off)\n",
            "-vaapi_device /dev/dri/renderD128 -c:v h264_vaapi -qp 22 -vf format=nv12,hwupload");
        row("ten bits kept: software H.264", "yuv420p10le", mp4 + "-sameq -s 720p", true,
            "Video: re-encode (a smaller frame size was asked)\n"
            "Audio: copy (the source's AAC fits MP4)\n",
            "-c:v libx264 -pix_fmt yuv420p10le");
        row("ten bits kept: hardware H.265, tagged", "yuv420p10le",
            "-f mp4 -vcodec hevc -acodec aac -sameq -r 25", true,
            "Video: re-encode (the source's H.264 is not H.265)\n"
            "Audio: copy (the source's AAC fits MP4)\n",
            "-c:v hevc_vaapi -qp 24 -vf format=p010,hwupload -r 25 -tag:v hvc1");
        row("opus only in webm", "yuv420p", "-f webm -vcodec vp9 -acodec opus -sameq", false,
            "Video: re-encode (the source's H.264 is not VP9)\n"
            "Audio: re-encode (the source's AAC is not Opus)\n",
            "-c:v libvpx-vp9/-crf 32 -b:v 0/-c:a libopus/-f webm");
        row("sound alone", "yuv420p", "-f ipod -acodec aac -sameq -ac 1", false,
            "Audio: re-encode (other channels were asked)\n", "-vn/-ac 1/-f ipod");
        row("mkv keeps everything", "yuv444p", "-f matroska -vcodec copy -acodec copy -ac 1", false,
            "Video: copy (MKV keeps every stream as it is)\n"
            "Audio: copy (MKV keeps every stream as it is)\n",
            "-map 0 -map -0:d? -c copy -f matroska");
    }

    void plan() {
        QFETCH(QString, pixels);
        QFETCH(QString, line);
        QFETCH(bool, hardware);
        QFETCH(QString, decisions);
        QFETCH(QString, has);
        const modModern::Source source =
            modModern::ReadSource(QString(kProbed).arg(pixels).toStdString());
        QCOMPARE(source.video.height, 1080); // the cover picture is no video
        const modLegacyCommand::LegacyRequest request = Request(line);
        QVERIFY(modModern::IsModern(request));
        modModern::Hardware offered;
        if (hardware)
            offered = {"/dev/dri/renderD128", true, true};
        const modModern::Plan plan = modModern::PlanFor(request, source, Encoders(), offered);
        QCOMPARE(QString::fromStdString(modModern::Described(plan.decisions)), decisions);
        const QString options = Joined(plan.options);
        for (const QString& part : has.split('/'))
            QVERIFY2(options.contains(part), qPrintable(options));
        QCOMPARE(options.contains("vaapi"), has.contains("vaapi"));
    }

    void legacyLinesAreNotModern() {
        QVERIFY(!modModern::IsModern(Request("-vcodec h264 -acodec aac")));
        QVERIFY(!modModern::IsModern(Request("-f psp -vcodec h264")));
    }

    // Asked once and kept: the second detection reads the cache; another render node, another
    // ffmpeg, or an ffmpeg without VA-API encoders asks anew or not at all.
    void hardwareIsProbedOnceAndKept() {
        QTemporaryDir dir;
        const std::string cache =
            modHardware::CacheFileBeside(dir.filePath("ffmpeg-encoders").toStdString());
        std::vector<std::string> nodes{"/dev/dri/renderD128"};
        int asked = 0;
        modHardware::Probe probe{[&] { return nodes; },
                                 [&](const std::string& encoder, const std::string&) {
                                     ++asked;
                                     return encoder == "h264_vaapi";
                                 }};
        const auto detect = [&](const std::string& stamp) {
            return modHardware::Detect(Encoders(), cache, stamp, probe);
        };
        modModern::Hardware found = detect("one");
        QVERIFY(found.h264 && !found.hevc && found.device == nodes.front());
        QCOMPARE(asked, 2);
        found = detect("one");
        QVERIFY(found.h264 && !found.hevc);
        QCOMPARE(asked, 2);
        detect("another ffmpeg");
        QCOMPARE(asked, 4);
        nodes = {};
        QVERIFY(!detect("another ffmpeg").h264);
        QCOMPARE(asked, 4);
        nodes = {"/dev/dri/renderD129"};
        QVERIFY(!modHardware::Detect(modEncoders::EncoderSet(), cache, "one", probe).h264);
        QCOMPARE(asked, 4);
    }
};

QTEST_APPLESS_MAIN(TestModernPlan)
#include "tst_ModernPlan.moc"
