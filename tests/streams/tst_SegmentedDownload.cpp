#include "DashManifest.h"
#include "HlsPlaylist.h"
#include "HostSlots.h"
#include "LoopbackHttpServer.h"
#include "SegmentedDownload.h"
#include "TestClip.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Response = LoopbackHttpServer::Response;

namespace {

// ffmpeg at test time: a 2-second clip with sound, packaged as the arguments say.
QString RunFfmpeg(const QString& folder, const QStringList& output) {
    return TestClip::Package(folder, 2, QStringLiteral("160x120"), output);
}

// What ffmpeg says decoding the file whole (empty: clean), and its duration in seconds.
QString DecodeProblems(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"});
    ffmpeg.waitForFinished(120000);
    const QString said = QString::fromLocal8Bit(ffmpeg.readAllStandardError());
    return ffmpeg.exitCode() == 0 ? said : "exit " + QString::number(ffmpeg.exitCode()) + said;
}

double Duration(const QString& path) {
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of",
                              "default=nw=1:nk=1", path});
    ffprobe.waitForFinished(60000);
    return ffprobe.readAllStandardOutput().trimmed().toDouble();
}

// The files of a folder, with byte ranges as a server that keeps them.
Response ServeFile(const QString& folder, const LoopbackHttpServer::Request& request) {
    QFile file(folder + request.url().path());
    if (request.url().path().contains("..") || !file.open(QIODevice::ReadOnly))
        return Response::Status(404, "Not Found");
    const QByteArray body = file.readAll();
    const QRegularExpressionMatch range =
        QRegularExpression("^bytes=([0-9]+)-([0-9]+)$").match(request.header("Range"));
    if (!range.hasMatch())
        return Response::Fixed(body, "application/octet-stream");
    const qint64 first = range.captured(1).toLongLong(), last = range.captured(2).toLongLong();
    Response part = Response::Fixed(body.mid(first, last - first + 1), "video/mp2t");
    part.status = 206;
    part.reason = "Partial Content";
    part.headers.append(
        {"Content-Range",
         QStringLiteral("bytes %1-%2/%3").arg(first).arg(last).arg(body.size()).toLatin1()});
    return part;
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_SegmentedDownload : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void tracksDecodeWhole_data();
    void tracksDecodeWhole();
    void failingSegmentNamesItsTime_data();
    void failingSegmentNamesItsTime();
    void killedDownloadFetchesOneSegmentAgain();
    void hostileSegmentsFail_data();
    void hostileSegmentsFail();

private:
    Streams::Track ReadTrack(const QString& playlist, int index = 0);
    // Runs the download to its end; its error text (empty on success).
    QString Download(const Streams::Track& track, const QString& part, int* requested = nullptr);

    LoopbackHttpServer server_;
    std::unique_ptr<QTemporaryDir> media_;
    std::unique_ptr<QTemporaryDir> out_;
};

void tst_SegmentedDownload::initTestCase() {
    QVERIFY(server_.listen());
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void tst_SegmentedDownload::init() {
    media_ = std::make_unique<QTemporaryDir>();
    out_ = std::make_unique<QTemporaryDir>();
    const QString folder = media_->path();
    server_.clearRoutes();
    server_.setFallback([folder](const auto& request) { return ServeFile(folder, request); });
    server_.clearRequests();
}

Streams::Track tst_SegmentedDownload::ReadTrack(const QString& playlist, int index) {
    QFile file(media_->filePath(playlist));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    const QUrl address = server_.url("/" + playlist);
    const Streams::Plan plan = playlist.endsWith(".mpd") ? DashManifest::Read(text, address)
                                                         : HlsPlaylist::Read(text, address);
    return plan.tracks.value(index);
}

QString tst_SegmentedDownload::Download(const Streams::Track& track, const QString& part,
                                        int* requested) {
    SegmentedDownload::Options options;
    options.retryWaitMs = 1;
    options.maxRetries = 1;
    SegmentedDownload download(track, part, options);
    qint64 lastReceived = 0, lastTotal = 0;
    bool backwards = false;
    connect(&download, &SegmentedDownload::Progress, this, [&](qint64 received, qint64 total) {
        backwards |= received < lastReceived || total < lastTotal;
        lastReceived = received;
        lastTotal = total;
    });
    QSignalSpy finished(&download, &SegmentedDownload::Finished);
    download.Start();
    if (!finished.wait(60000))
        return "no end";
    if (requested)
        *requested = download.PiecesRequested();
    if (backwards)
        return "progress went backwards";
    // Bytes in flight count as they arrive; decryption then drops up to a block of padding.
    const qint64 size = QFileInfo(part).size();
    if (download.Succeeded() && (lastReceived < size || lastTotal < lastReceived ||
                                 lastReceived > size + 16 * track.segments.size()))
        return QStringLiteral("progress ended at %1 of %2, the file has %3")
            .arg(lastReceived)
            .arg(lastTotal)
            .arg(QFileInfo(part).size());
    return download.ErrorString();
}

void tst_SegmentedDownload::tracksDecodeWhole_data() {
    QTest::addColumn<QStringList>("ffmpeg");
    QTest::addColumn<QString>("playlist");
    QTest::addColumn<int>("track");
    const QStringList hls = {"-f", "hls", "-hls_time", "0.4", "-hls_playlist_type", "vod"};
    QTest::newRow("HLS, MPEG-TS") << hls + QStringList{"v.m3u8"} << "v.m3u8" << 0;
    QTest::newRow("HLS, fMP4") << hls + QStringList{"-hls_segment_type", "fmp4", "v.m3u8"}
                               << "v.m3u8" << 0;
    QTest::newRow("HLS, names without extensions")
        << hls + QStringList{"-hls_segment_filename", "piece%d", "v.m3u8"} << "v.m3u8" << 0;
    QTest::newRow("HLS, AES-128") << hls + QStringList{"-hls_key_info_file", "keyinfo", "v.m3u8"}
                                  << "v.m3u8" << 0;
    QTest::newRow("HLS, byte ranges of one file")
        << hls + QStringList{"-hls_flags", "single_file", "v.m3u8"} << "v.m3u8" << 0;
    const QStringList dash = {"-f", "dash", "-seg_duration", "0.5", "m.mpd"};
    QTest::newRow("DASH, video") << dash << "m.mpd" << 0;
    QTest::newRow("DASH, audio") << dash << "m.mpd" << 1;
    // A page's stream of one file is one piece of its track.
    QTest::newRow("a whole Ogg file")
        << QStringList{"-vn", "-c:a", "libopus", "clip.ogg"} << "whole.m3u8" << 0;
}

void tst_SegmentedDownload::tracksDecodeWhole() {
    QFETCH(QStringList, ffmpeg);
    QFETCH(QString, playlist);
    QFETCH(int, track);
    QFile key(media_->filePath("key.bin"));
    QVERIFY(key.open(QIODevice::WriteOnly) &&
            key.write(QByteArray::fromHex("00112233445566778899aabbccddeeff")) == 16);
    key.close();
    QFile keyInfo(media_->filePath("keyinfo"));
    QVERIFY(keyInfo.open(QIODevice::WriteOnly));
    keyInfo.write("key.bin\n" + key.fileName().toUtf8() + "\n");
    keyInfo.close();
    QCOMPARE(RunFfmpeg(media_->path(), ffmpeg), QString());
    QFile whole(media_->filePath(playlist));
    if (!whole.exists()) {
        QVERIFY(whole.open(QIODevice::WriteOnly));
        whole.write("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\n" + ffmpeg.last().toUtf8() +
                    "\n#EXT-X-ENDLIST\n");
        whole.close();
    }

    const Streams::Track read = ReadTrack(playlist, track);
    QVERIFY(!read.segments.isEmpty());
    const QString part = out_->filePath("v.part");
    QCOMPARE(Download(read, part), QString());
    QCOMPARE(DecodeProblems(part), QString());
    QVERIFY2(qAbs(Duration(part) - 2.0) < 0.3, qPrintable(QString::number(Duration(part))));
    // The key is fetched once for all the segments it opens.
    const QList<LoopbackHttpServer::Request> requests = server_.requests();
    QCOMPARE(std::count_if(requests.begin(), requests.end(),
                           [](const auto& r) { return r.target == "/key.bin"; }),
             ffmpeg.contains("-hls_key_info_file") ? 1 : 0);
}

void tst_SegmentedDownload::failingSegmentNamesItsTime_data() {
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << "/s2.ts" << QByteArray("00112233445566778899aabbccddeeff")
                             << "Segment 3 (0:00–0:02) could not be fetched: 404 Not Found";
    QTest::newRow("a wrong key") << QString() << QByteArray("ffeeddccbbaa99887766554433221100")
                                 << "Segment 1 (0:00–0:01) could not be fetched: it does not "
                                    "decrypt with its key";
}

void tst_SegmentedDownload::failingSegmentNamesItsTime() {
    QFETCH(QString, missing);
    QFETCH(QByteArray, key);
    QFETCH(QString, error);
    QFile keyFile(media_->filePath("real.key"));
    QVERIFY(keyFile.open(QIODevice::WriteOnly));
    keyFile.write(QByteArray::fromHex("00112233445566778899aabbccddeeff"));
    keyFile.close();
    QFile keyInfo(media_->filePath("keyinfo"));
    QVERIFY(keyInfo.open(QIODevice::WriteOnly));
    keyInfo.write("key.bin\n" + keyFile.fileName().toUtf8() + "\n");
    keyInfo.close();
    QCOMPARE(RunFfmpeg(media_->path(), {"-f", "hls", "-hls_time", "0.4", "-hls_playlist_type",
                                        "vod", "-hls_key_info_file", "keyinfo",
                                        "-hls_segment_filename", "s%d.ts", "v.m3u8"}),
             QString());
    // The server hands out the key the row names, and lacks the segment it names.
    server_.route("/key.bin",
                  Response::Fixed(QByteArray::fromHex(key), "application/octet-stream"));
    if (!missing.isEmpty())
        server_.route(missing, Response::Status(404, "Not Found"));
    QCOMPARE(Download(ReadTrack("v.m3u8"), out_->filePath("v.part")), error);
}

void tst_SegmentedDownload::killedDownloadFetchesOneSegmentAgain() {
    QCOMPARE(RunFfmpeg(media_->path(), {"-f", "hls", "-hls_time", "0.2", "-hls_playlist_type",
                                        "vod", "-hls_segment_filename", "s%d.ts", "v.m3u8"}),
             QString());
    const Streams::Track track = ReadTrack("v.m3u8");
    QVERIFY(track.segments.size() >= 8);
    const QString part = out_->filePath("v.part");
    // The third segment never comes: the two before it are written, those after it arrive.
    Response stalled = Response::Fixed(QByteArray(5000, 'x'));
    stalled.ending = LoopbackHttpServer::Ending::Stall;
    stalled.endAfter = 1000;
    server_.route("/s2.ts", stalled);
    {
        SegmentedDownload::Options options;
        SegmentedDownload first(track, part, options);
        first.Start();
        // Every segment but the stalled one is on disk, in the .part or beside it.
        QTRY_COMPARE_WITH_TIMEOUT(QDir(out_->path()).entryList(QDir::Files).size(),
                                  1 + int(track.segments.size()) - 3, 20000);
        // The program is killed in the middle of writing: bytes past the note are garbage.
    }
    QFile cut(part);
    QVERIFY(cut.open(QIODevice::Append));
    cut.write(QByteArray(777, '\x47'));
    cut.close();

    server_.clearRoutes();
    const QString folder = media_->path();
    server_.setFallback([folder](const auto& request) { return ServeFile(folder, request); });
    int requested = 0;
    QCOMPARE(Download(track, part, &requested), QString());
    QCOMPARE(requested, 1);
    QCOMPARE(DecodeProblems(part), QString());
    QCOMPARE(QDir(out_->path()).entryList(QDir::Files), QStringList{"v.part"});
}

void tst_SegmentedDownload::hostileSegmentsFail_data() {
    QTest::addColumn<QString>("segmentType");
    QTest::addColumn<QString>("lie");
    QTest::addColumn<QString>("error");
    const QString second = "^Segment 2 \\(0:0[0-9]–0:0[0-9]\\) could not be fetched: ";
    QTest::newRow("a login page answered 200")
        << "mpegts"
        << "login page" << second + "the server sent text \\(text/html\\), not a segment$";
    QTest::newRow("a playlist as a segment")
        << "mpegts"
        << "playlist" << second + "the server sent something that is neither video nor sound$";
    QTest::newRow("cut short, without a length")
        << "mpegts"
        << "cut short" << second + "it ends inside an MPEG-TS packet, cut short$";
    QTest::newRow("a fragment of an MP4 among MPEG-TS")
        << "mpegts"
        << "mixed" << second + "it is MP4, but the segments before it are MPEG-TS$";
    QTest::newRow("an HTML initialisation segment")
        << "fmp4"
        << "html init"
        << "^The initialisation segment at http://.*/init.mp4 could not be fetched: the server "
           "sent something that is neither video nor sound$";
    QTest::newRow("no initialisation segment")
        << "fmp4"
        << "no map"
        << "^Segment 1 \\(0:00–0:0[0-9]\\) could not be fetched: it is a fragment of an MP4 "
           "without the initialisation segment that goes before it$";
    QTest::newRow("the truth, MPEG-TS") << "mpegts" << QString() << QString();
    QTest::newRow("the truth, fMP4") << "fmp4" << QString() << QString();
}

void tst_SegmentedDownload::hostileSegmentsFail() {
    QFETCH(QString, segmentType);
    QFETCH(QString, lie);
    QFETCH(QString, error);
    const QString extension = segmentType == "fmp4" ? "m4s" : "ts";
    QCOMPARE(RunFfmpeg(media_->path(), {"-f", "hls", "-hls_time", "0.4", "-hls_playlist_type",
                                        "vod", "-hls_segment_type", segmentType,
                                        "-hls_segment_filename", "s%d." + extension, "v.m3u8"}),
             QString());
    const QByteArray real = ReadFile(media_->filePath("s1." + extension));
    QVERIFY(!real.isEmpty());
    QString lied = "/s1." + extension;
    Response answer;
    if (lie == "login page") {
        answer = Response::Fixed("<html><form>Sign in</form></html>", "text/html");
    } else if (lie == "playlist") {
        answer = Response::Fixed("#EXTM3U\n#EXTINF:1,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n",
                                 "application/octet-stream");
    } else if (lie == "cut short") {
        answer = Response::Fixed(real.left(real.size() - 100), "video/mp2t");
        answer.framing = LoopbackHttpServer::Framing::CloseDelimited;
    } else if (lie == "mixed") {
        // The same clip in fMP4 beside it: a fragment of that in place of a TS segment.
        QVERIFY(QDir(media_->path()).mkdir("f"));
        QCOMPARE(
            RunFfmpeg(media_->filePath("f"),
                      {"-f", "hls", "-hls_time", "0.4", "-hls_playlist_type", "vod",
                       "-hls_segment_type", "fmp4", "-hls_segment_filename", "s%d.m4s", "v.m3u8"}),
            QString());
        answer = Response::Fixed(ReadFile(media_->filePath("f/s1.m4s")), "video/mp2t");
    } else if (lie == "html init") {
        lied = "/init.mp4";
        answer = Response::Fixed("<!DOCTYPE html><p>Not found</p>", "application/octet-stream");
    } else if (lie == "no map") {
        QFile playlist(media_->filePath("v.m3u8"));
        QVERIFY(playlist.open(QIODevice::ReadWrite));
        const QByteArray text = playlist.readAll();
        QVERIFY(text.contains("#EXT-X-MAP:"));
        playlist.resize(0);
        playlist.write(QByteArray(text).replace("#EXT-X-MAP:URI=\"init.mp4\"\n", ""));
    }
    if (answer.status == 200 && !answer.body.isEmpty())
        server_.route(lied, answer);
    const QString part = out_->filePath("v.part");
    const QString said = Download(ReadTrack("v.m3u8"), part);
    if (error.isEmpty()) {
        QCOMPARE(said, QString());
        QCOMPARE(DecodeProblems(part), QString());
        return;
    }
    QVERIFY2(QRegularExpression(error).match(said).hasMatch(), qPrintable(said));
    // A body refused is fetched again, as a broken one is (one retry here).
    const QList<LoopbackHttpServer::Request> requests = server_.requests();
    const auto asked = std::count_if(requests.begin(), requests.end(),
                                     [&](const auto& r) { return r.target == lied.toUtf8(); });
    if (lie != "no map")
        QCOMPARE(asked, lie == "mixed" ? 1 : 2);
}

QTEST_GUILESS_MAIN(tst_SegmentedDownload)
#include "tst_SegmentedDownload.moc"
