// Joining streams by copy through the component and the converter program, on media made by the
// real ffmpeg: what comes out holds every stream unchanged; what is refused leaves nothing behind.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "StreamJoin.h"
#include "modProcesses.h"

#include <QTemporaryDir>
#include <sys/stat.h>

using namespace ConverterTest;

namespace {

// Each input by the ffmpeg options that make it from the lavfi test sources.
const QString kPicture = "-f lavfi -i testsrc=size=160x120:rate=25:duration=1";
const QString kTone = "-f lavfi -i sine=frequency=440:duration=1";
const QList<QPair<QString, QString>> kInputs = {
    {"video.mp4", kPicture + " -c:v libx264 -pix_fmt yuv420p"},
    {"sound.m4a", kTone + " -c:a aac"},
    {"both.ts", kPicture + " " + kTone + " -c:v libx264 -pix_fmt yuv420p -c:a aac"},
    {"both.mp4", kPicture + " " + kTone + " -c:v libx264 -pix_fmt yuv420p -c:a aac"},
    {"video.webm", kPicture + " -c:v libvpx-vp9 -deadline realtime -cpu-used 8"},
    {"sound.opus", kTone + " -c:a libopus"},
};

// Works until it is ended, after noting its process id.
const QByteArray kEndlessFfmpeg = R"(echo $$ > "$FAKE_DIR/ffmpeg.pid"; exec sleep 600)";

// The codec of each stream, in order.
QStringList Codecs(const QString& path) {
    return QString(Run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of",
                                   "csv=p=0", path}))
        .split('\n', Qt::SkipEmptyParts);
}

// The checksum of every packet of each stream, as stream copy reads them.
QList<QStringList> PacketSums(const QString& path) {
    QList<QStringList> sums;
    const QByteArray listing = Run(
        "ffmpeg", {"-v", "error", "-i", path, "-map", "0", "-c", "copy", "-f", "framemd5", "-"});
    for (const QByteArray& line : listing.split('\n')) {
        const QList<QByteArray> fields = line.split(',');
        if (line.startsWith('#') || fields.size() < 6)
            continue;
        const int stream = fields[0].trimmed().toInt();
        while (sums.size() <= stream)
            sums.append(QStringList());
        sums[stream] << fields.last().trimmed();
    }
    return sums;
}

} // namespace

class TestJoin : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString media_; // the inputs
    QString out_;   // the output folder

    // Joins through the component and returns the error it reported; "(none)" when none came.
    QString JoinedError(const QStringList& inputs, const QString& output) {
        StreamJoin join;
        QStringList errors;
        connect(&join, &MediaJoiner::Joined, this, [&](const QString& error) { errors << error; });
        join.Join(inputs, output);
        if (!QTest::qWaitFor([&] { return !errors.isEmpty(); }, 60000))
            return "(none)";
        return errors.first();
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        media_ = dir_.filePath("media");
        out_ = dir_.filePath("out");
        QDir().mkpath(media_);
        AVC::SetProgramFolder(CONVERTER_DIR);
        for (const auto& [name, recipe] : kInputs) {
            int exitCode = -1;
            Run("ffmpeg",
                QStringList{"-v", "error", "-nostdin", "-y"} +
                    recipe.split(' ', Qt::SkipEmptyParts) + QStringList{media_ + "/" + name},
                &exitCode);
            QCOMPARE(exitCode, 0);
        }
        QVERIFY(mkfifo(QFile::encodeName(media_ + "/pipe.mp4").constData(), 0600) == 0);
    }

    void init() {
        QDir(out_).removeRecursively();
        QDir().mkpath(out_);
    }

    void streamsAreCopiedIntoTheOutputsContainer_data() {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QStringList>("codecs");
        QTest::addColumn<bool>("samePackets");
        QTest::newRow("mp4 video and m4a sound into mp4")
            << QStringList{"video.mp4", "sound.m4a"} << "joined.mp4" << QStringList{"h264", "aac"}
            << true;
        QTest::newRow("MPEG-TS with AAC into mp4")
            << QStringList{"both.ts"} << "joined.mp4" << QStringList{"h264", "aac"} << false;
        // A file of sound takes only the sound of a video.
        QTest::newRow("the sound of an mp4 into m4a")
            << QStringList{"both.mp4"} << "sound.m4a" << QStringList{"aac"} << false;
        QTest::newRow("the sound of MPEG-TS into mka")
            << QStringList{"both.ts"} << "sound.mka" << QStringList{"aac"} << false;
        QTest::newRow("VP9 and Opus into webm")
            << QStringList{"video.webm", "sound.opus"} << "joined.webm"
            << QStringList{"vp9", "opus"} << false;
    }
    void streamsAreCopiedIntoTheOutputsContainer() {
        QFETCH(QStringList, inputs);
        QFETCH(QString, output);
        QFETCH(QStringList, codecs);
        QFETCH(bool, samePackets);
        QStringList paths;
        for (const QString& input : inputs)
            paths << media_ + "/" + input;
        const QString result = out_ + "/" + output;
        QCOMPARE(JoinedError(paths, result), QString());
        QCOMPARE(FilesIn(out_), QStringList{output});
        QCOMPARE(Codecs(result), codecs);
        if (output.endsWith(".mp4")) {
            QFile file(result);
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QByteArray bytes = file.readAll();
            QVERIFY(bytes.indexOf("moov") >= 0 && bytes.indexOf("moov") < bytes.indexOf("mdat"));
        }
        if (samePackets) {
            QList<QStringList> joined = PacketSums(result);
            QCOMPARE(joined.size(), 2);
            QCOMPARE(joined[0], PacketSums(paths[0]).value(0));
            QCOMPARE(joined[1], PacketSums(paths[1]).value(0));
        }
    }

    void refusedJoinsLeaveNothing_data() {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<QString>("complaint");
        QTest::newRow("output exists") << QStringList{media_ + "/video.mp4"} << "already exists";
        QTest::newRow("a pipe") << QStringList{media_ + "/pipe.mp4"} << "is not a regular file";
        QTest::newRow("a relative path") << QStringList{"media/video.mp4"} << "not a full path";
        QTest::newRow("an option") << QStringList{"-version"} << "is an option";
        QTest::newRow("codecs the container refuses")
            << QStringList{media_ + "/both.ts"} << "Only VP8 or VP9 or AV1 video";
    }
    void refusedJoinsLeaveNothing() {
        QFETCH(QStringList, inputs);
        QFETCH(QString, complaint);
        const QString output = out_ + (complaint == "already exists" ? "/kept.webm" : "/new.webm");
        if (complaint == "already exists") {
            QFile kept(output);
            QVERIFY(kept.open(QIODevice::WriteOnly));
            kept.write("precious");
        }
        const QStringList before = FilesIn(out_);
        const QString error = JoinedError(inputs, output);
        QVERIFY2(error.contains(complaint), qPrintable(error));
        QCOMPARE(FilesIn(out_), before);
        if (complaint == "already exists") {
            QFile kept(output);
            QVERIFY(kept.open(QIODevice::ReadOnly));
            QCOMPARE(kept.readAll(), QByteArray("precious"));
        }
    }

    // A piece whose body is a playlist naming a private file of the user's (a page can answer a
    // segment with one): the join refuses it rather than letting ffmpeg open what it names.
    void piecesThatNameOtherFilesAreRefused_data() {
        QTest::addColumn<bool>("thenMedia"); // MPEG-TS follows the playlist in the piece
        QTest::newRow("a playlist alone") << false;
        QTest::newRow("a playlist ahead of MPEG-TS") << true;
    }
    void piecesThatNameOtherFilesAreRefused() {
        QFETCH(bool, thenMedia);
        const QString secret = dir_.filePath("private");
        QDir().mkpath(secret);
        QFile::setPermissions(secret, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        int exitCode = -1;
        Run("ffmpeg",
            {"-v", "error", "-nostdin", "-y", "-f", "lavfi", "-i",
             "testsrc=size=96x64:rate=25:duration=3", "-c:v", "libx264", secret + "/private.ts"},
            &exitCode);
        QCOMPARE(exitCode, 0);
        QFile piece(media_ + "/piece.mp4.video.part");
        QVERIFY(piece.open(QIODevice::WriteOnly | QIODevice::Truncate));
        piece.write("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:3,\nfile://" +
                    QFile::encodeName(secret) + "/private.ts\n#EXT-X-ENDLIST\n");
        if (thenMedia) {
            QFile ts(media_ + "/both.ts");
            QVERIFY(ts.open(QIODevice::ReadOnly));
            piece.write(ts.readAll());
        }
        piece.close();
        const QString result = out_ + "/joined.mp4";
        const QString error = JoinedError({piece.fileName(), media_ + "/sound.m4a"}, result);
        QVERIFY2(error.contains("is not media that streams are joined from"), qPrintable(error));
        QCOMPARE(FilesIn(out_), QStringList());
    }

    // Cancel ends the converter and its ffmpeg, and no output, partial or whole, stays.
    void cancelLeavesNoOutputAndNoProcess() {
        const QString fakeBin = dir_.filePath("fakebin");
        QDir().mkpath(fakeBin);
        WriteScript(fakeBin + "/ffmpeg", kEndlessFfmpeg);
        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", (fakeBin + ":" + oldPath).toUtf8());
        qputenv("FAKE_DIR", dir_.path().toUtf8());
        StreamJoin join;
        int joined = 0;
        connect(&join, &MediaJoiner::Joined, this, [&] { ++joined; });
        join.Join({media_ + "/video.mp4", media_ + "/sound.m4a"}, out_ + "/cancelled.mp4");
        qputenv("PATH", oldPath);
        const QString pidFile = dir_.filePath("ffmpeg.pid");
        QVERIFY(QTest::qWaitFor([&] { return QFileInfo(pidFile).size() > 0; }, 30000));
        QFile file(pidFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const qint64 ffmpeg = file.readAll().trimmed().toLongLong();
        QVERIFY(modProcesses::IsRunning(ffmpeg));
        join.Cancel();
        QVERIFY(!modProcesses::IsRunning(ffmpeg));
        QCOMPARE(FilesIn(out_), QStringList());
        QCoreApplication::processEvents();
        QCOMPARE(joined, 0);
    }
};

QTEST_GUILESS_MAIN(TestJoin)
#include "tst_Join.moc"
