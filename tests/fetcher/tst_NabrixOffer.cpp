#include "AVC.h"
#include "DashManifest.h"
#include "HlsPlaylist.h"
#include "LoopbackHttpServer.h"
#include "MediaJoiner.h"
#include "Nabrix.h"
#include "RegEdit.h"
#include "StreamJoin.h"
#include "TestClip.h"
#include "TestHome.h"
#include "YtDlpProgram.h"

#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

using Response = LoopbackHttpServer::Response;

namespace {

// ffmpeg at test time: a 2-second clip with sound, packaged as the arguments say.
QString RunFfmpeg(const QString& folder, const QStringList& output) {
    return TestClip::Package(folder, 2, QStringLiteral("160x120"), output);
}

// "video audio mov,mp4,m4a,3gp,3g2,mj2 2.0": the kinds of stream, the container, the length.
QString Probe(const QString& path) {
    QProcess ffprobe;
    ffprobe.start("ffprobe",
                  {"-v", "error", "-show_entries", "format=format_name,duration:stream=codec_type",
                   "-of", "default=nw=1:nk=1", path});
    ffprobe.waitForFinished(60000);
    QStringList lines = QString::fromLocal8Bit(ffprobe.readAllStandardOutput()).split('\n');
    lines.removeAll(QString());
    if (lines.size() < 2)
        return "unreadable";
    const double seconds = lines.takeLast().toDouble();
    return lines.join(' ') + ' ' + QString::number(qRound(seconds * 2) / 2.0, 'f', 1);
}

Response ServeFile(const QString& folder, const LoopbackHttpServer::Request& request) {
    QFile file(folder + request.url().path());
    if (request.url().path().contains("..") || !file.open(QIODevice::ReadOnly))
        return Response::Status(404, "Not Found");
    return Response::Fixed(file.readAll(), "application/octet-stream");
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("missing");
}

// Joins by stream copy with ffmpeg, as the converter does.
class StandInJoiner : public MediaJoiner {
public:
    void Join(const QStringList& inputs, const QString& output) override {
        ++joins;
        QStringList arguments = {"-v", "error", "-n"};
        for (const QString& input : inputs)
            arguments << "-i" << input;
        for (int i = 0; i < inputs.size(); ++i)
            arguments << "-map" << QString::number(i);
        arguments << "-c"
                  << "copy" << output;
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg", arguments);
        ffmpeg.waitForFinished(60000);
        const QString error = ffmpeg.exitCode() == 0 ? QString() : ffmpeg.readAllStandardError();
        QTimer::singleShot(0, this, [this, error] { emit Joined(error); });
    }
    // Reads the file back with ffprobe, as the converter does.
    void ReadBack(const QString& file) override {
        ++readBacks;
        QProcess ffprobe;
        ffprobe.start("ffprobe",
                      {"-v", "error", "-show_entries", "stream=codec_type:format=duration", "-of",
                       "default=nw=1", file});
        ffprobe.waitForFinished(60000);
        const QByteArray listing = ffprobe.readAllStandardOutput();
        const QString error = ffprobe.exitCode() == 0 ? QString() : "ffprobe cannot read it";
        const int video = listing.count("codec_type=video"),
                  audio = listing.count("codec_type=audio");
        const double seconds = listing.mid(listing.indexOf("duration=") + 9).trimmed().toDouble();
        QTimer::singleShot(0, this, [=] { emit ReadBackDone(error, video, audio, seconds); });
    }
    void Cancel() override {}
    int joins = 0;
    int readBacks = 0;
};

} // namespace

class tst_NabrixOffer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void fileGoesUnderItsTitle_data();
    void fileGoesUnderItsTitle();
    void piecesEndAsOnePlayableFile_data();
    void piecesEndAsOnePlayableFile();
    void missingSegmentNamesItsTime();
    void resultShorterThanPlannedFails();
    void containerFollowsTheCodecs_data();
    void containerFollowsTheCodecs();
    void heightLimitChoosesTheStream();
    void namesNeverReplaceAnotherVideo_data();
    void namesNeverReplaceAnotherVideo();
    void directAddressIsNamedAfterItsFile();
    void soundOnlyIsTakenOutOfTheVideo_data();
    void soundOnlyIsTakenOutOfTheVideo();

private:
    // Downloads the offer to its end: the error text (empty when complete).
    QString Download(const MediaOffer& offer);
    MediaStream Track(const QString& manifest, int index);

    TestHome home_;
    LoopbackHttpServer server_;
    std::unique_ptr<QTemporaryDir> media_;
    QString out_;
    std::unique_ptr<Nabrix> nabrix_;
    StandInJoiner joiner_;
    QList<QPair<qint64, qint64>> progress_;
    QStringList phases_;
};

void tst_NabrixOffer::initTestCase() {
    QVERIFY(server_.listen());
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void tst_NabrixOffer::init() {
    media_ = std::make_unique<QTemporaryDir>();
    out_ = home_.path() + "/out";
    QDir(out_).removeRecursively();
    QDir().mkpath(out_);
    const QString folder = media_->path();
    server_.clearRoutes();
    server_.setFallback([folder](const auto& request) { return ServeFile(folder, request); });
    server_.clearRequests();
    joiner_.joins = 0;
    joiner_.readBacks = 0;
    nabrix_ = std::make_unique<Nabrix>();
    nabrix_->setRetryWait(1);
    nabrix_->SetOutputFolder(out_);
    nabrix_->SetJoiner(&joiner_);
    progress_.clear();
    phases_.clear();
    connect(nabrix_.get(), &Nabrix::DownloadProgress, this, [this](qint64 at, qint64 of) {
        progress_.append({at, of});
    });
    connect(nabrix_.get(), &Nabrix::PhaseStarted, this,
            [this](Nabrix::Phase phase) { phases_ << QVariant::fromValue(phase).toString(); });
}

QString tst_NabrixOffer::Download(const MediaOffer& offer) {
    QString error = "no end";
    QEventLoop loop;
    connect(nabrix_.get(), &Nabrix::DownloadComplete, &loop, [&] {
        error.clear();
        loop.quit();
    });
    connect(nabrix_.get(), &Nabrix::DownloadError, &loop, [&](const QString& text) {
        error = text;
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    nabrix_->DownloadOffer(offer);
    loop.exec();
    if (phases_ != QStringList{"Video"})
        return "phases: " + phases_.join(' ');
    // Bytes and total only go up, until the bar is reset at the end.
    for (int i = 1; i + 1 < progress_.size(); ++i)
        if (progress_[i].first < progress_[i - 1].first ||
            progress_[i].second < progress_[i - 1].second)
            return QStringLiteral("progress went back at event %1").arg(i);
    if (error.isEmpty() && progress_.value(progress_.size() - 1) != qMakePair(0LL, 1LL))
        return "the bar was not reset";
    return error;
}

MediaStream tst_NabrixOffer::Track(const QString& manifest, int index) {
    const QByteArray text = Read(media_->filePath(manifest));
    const QUrl address = server_.url("/" + manifest);
    const Streams::Plan plan = manifest.endsWith(".mpd") ? DashManifest::Read(text, address)
                                                         : HlsPlaylist::Read(text, address);
    MediaStream stream;
    stream.via = manifest.endsWith(".mpd") ? MediaStream::Via::Dash : MediaStream::Via::Hls;
    stream.address = address;
    stream.track = plan.tracks.value(index);
    stream.codecs = stream.track->codecs;
    return stream;
}

void tst_NabrixOffer::fileGoesUnderItsTitle_data() {
    QTest::addColumn<QByteArray>("earlier");
    QTest::addColumn<QByteArray>("referer");
    QTest::newRow("a new file") << QByteArray() << QByteArray("http://page.test/");
    // Not this video's: it stays, and the download takes a free name.
    QTest::newRow("a file of the user's keeps its name")
        << QByteArray("earlier") << QByteArray("http://page.test/");
    // A server that wants its Referer and does not get it.
    QTest::newRow("headers not sent") << QByteArray() << QByteArray();
}

void tst_NabrixOffer::fileGoesUnderItsTitle() {
    QFETCH(QByteArray, earlier);
    QFETCH(QByteArray, referer);
    const QByteArray body = LoopbackHttpServer::GeneratedBytes(0, 300000);
    server_.route("/media/clip", [body](const LoopbackHttpServer::Request& request) {
        return request.header("Referer") == "http://page.test/"
                   ? Response::Fixed(body, "video/mp4")
                   : Response::Status(403, "Forbidden");
    });
    const QString target = out_ + "/Clip of today.mp4";
    if (!earlier.isEmpty()) {
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(earlier) == earlier.size());
    }
    MediaOffer offer;
    offer.details.VideoTitle = "Clip: of today!";
    MediaStream stream;
    stream.address = server_.url("/media/clip");
    stream.extension = "mp4";
    if (!referer.isEmpty())
        stream.headers = {{"Referer", referer}};
    offer.streams = {stream};
    offer.video = 0;
    const QString error = Download(offer);
    if (referer.isEmpty()) {
        QCOMPARE(error, QStringLiteral("403 Forbidden"));
        QVERIFY(!QFile::exists(target));
        return;
    }
    QCOMPARE(error, QString());
    const QString saved = earlier.isEmpty() ? target : out_ + "/Clip of today (2).mp4";
    QCOMPARE(nabrix_->TargetFile(), saved);
    QCOMPARE(Read(saved), body);
    QCOMPARE(progress_.value(progress_.size() - 2),
             qMakePair(qint64(body.size()), qint64(body.size())));
    QCOMPARE(Read(target), earlier.isEmpty() ? body : earlier);
    QCOMPARE(Read(home_.path() + "/.local/share/Trash/files/Clip of today.mp4"),
             QByteArray("missing"));
}

void tst_NabrixOffer::namesNeverReplaceAnotherVideo_data() {
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("trashed");
    const QStringList untitled = {QString(), QString()};
    QTest::newRow("two addresses with different names")
        << QStringList{"/media/clip1080.mp4", "/media/clip360.mp4"} << untitled
        << QStringList{"clip1080.mp4", "clip360.mp4"} << QStringList();
    QTest::newRow("the same address twice")
        << QStringList{"/media/clip1080.mp4", "/media/clip1080.mp4"} << untitled
        << QStringList{"clip1080.mp4"} << QStringList{"clip1080.mp4"};
    QTest::newRow("an address's name, decoded and made safe")
        << QStringList{"/media/..%2F-%20Night%0A%20%E2%80%AEtour.MOV"} << QStringList{QString()}
        << QStringList{"Night tour.mp4"} << QStringList();
    QTest::newRow("two long titles sharing 20 characters")
        << QStringList{"/media/a.mp4", "/media/b.mp4"}
        << QStringList{"Harbour festival draws record crowds", "Harbour festival drama at the pier"}
        << QStringList{"Harbour festival drama at the pier.mp4",
                       "Harbour festival draws record crowds.mp4"}
        << QStringList();
    // 300 bytes of three-byte characters: 77 of them fit, the 78th would be split.
    QTest::newRow("a 300-byte title")
        << QStringList{"/media/a.mp4"} << QStringList{QString(100, QChar(0x65E5))}
        << QStringList{QString(77, QChar(0x65E5)) + ".mp4"} << QStringList();
}

void tst_NabrixOffer::namesNeverReplaceAnotherVideo() {
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, titles);
    QFETCH(QStringList, files);
    QFETCH(QStringList, trashed);
    const QString trash = home_.path() + "/.local/share/Trash";
    QDir(trash).removeRecursively();
    // Each download gets bytes of its own.
    auto body = std::make_shared<QByteArray>();
    server_.setFallback([body](const auto&) { return Response::Fixed(*body, "video/mp4"); });
    for (int i = 0; i < addresses.size(); ++i) {
        *body = QByteArray::number(i).repeated(5000);
        MediaOffer offer;
        offer.details.VideoTitle = titles[i];
        MediaStream stream;
        stream.address = server_.url(addresses[i]);
        stream.extension = "mp4";
        offer.streams = {stream};
        offer.video = 0;
        phases_.clear();
        progress_.clear();
        QCOMPARE(Download(offer), QString());
    }
    const QStringList written = QDir(out_).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    QCOMPARE(written, files);
    for (const QString& name : written)
        QVERIFY(QFile::encodeName(name.chopped(4) + " (999).mp4.video.part").size() <= 255);
    QCOMPARE(QDir(trash + "/files").entryList(QDir::Files), trashed);
    // The last file holds the last download.
    QCOMPARE(Read(nabrix_->TargetFile()), QByteArray::number(addresses.size() - 1).repeated(5000));
}

void tst_NabrixOffer::directAddressIsNamedAfterItsFile() {
    SettingsStore().WriteKey(YtDlpProgram::kProgramSetting, "/nonexistent/yt-dlp");
    YtDlpProgram::ForgetVersion();
    server_.route("/media/clip1080.mp4",
                  Response::Fixed(LoopbackHttpServer::GeneratedBytes(0, 20000), "video/mp4"));
    QString name = "no name";
    connect(nabrix_.get(), &Nabrix::VideoData, this,
            [&name](const QString& title) { name = title; });
    QSignalSpy complete(nabrix_.get(), &Nabrix::DownloadComplete);
    nabrix_->GetVideoInfo(server_.url("/media/clip1080.mp4").toString());
    QVERIFY(complete.wait(60000));
    QCOMPARE(name, QStringLiteral("clip1080"));
    QCOMPARE(nabrix_->TargetFile(), out_ + "/clip1080.mp4");
}

void tst_NabrixOffer::piecesEndAsOnePlayableFile_data() {
    QTest::addColumn<QStringList>("ffmpeg");
    QTest::addColumn<bool>("separate");
    QTest::newRow("HLS, MPEG-TS into an MP4")
        << QStringList{"-f", "hls", "-hls_time", "0.5", "-hls_playlist_type", "vod", "v.m3u8"}
        << false;
    QTest::newRow("DASH, video and sound joined")
        << QStringList{"-f", "dash", "-seg_duration", "0.5", "m.mpd"} << true;
}

void tst_NabrixOffer::piecesEndAsOnePlayableFile() {
    QFETCH(QStringList, ffmpeg);
    QFETCH(bool, separate);
    QCOMPARE(RunFfmpeg(media_->path(), ffmpeg), QString());
    MediaOffer offer;
    offer.details.VideoTitle = "Pieces";
    if (separate) {
        MediaStream video = Track("m.mpd", 0), audio = Track("m.mpd", 1);
        video.hasAudio = false;
        audio.hasVideo = false;
        offer.streams = {video, audio};
        offer.audio = 1;
    } else {
        // A variant whose media playlist the download reads itself.
        MediaStream variant;
        variant.via = MediaStream::Via::Hls;
        variant.address = server_.url("/v.m3u8");
        variant.track = Streams::Track();
        variant.track->playlist = variant.address;
        offer.streams = {variant};
    }
    offer.video = 0;
    QCOMPARE(Download(offer), QString());
    QCOMPARE(nabrix_->TargetFile(), out_ + "/Pieces.mp4");
    QCOMPARE(Probe(nabrix_->TargetFile()),
             QStringLiteral("video audio mov,mp4,m4a,3gp,3g2,mj2 2.0"));
    QCOMPARE(joiner_.joins, 1);
    QCOMPARE(joiner_.readBacks, 1);
    // The pieces are in the file: nothing else is left.
    QCOMPARE(QDir(out_).entryList(QDir::Files | QDir::Hidden), QStringList{"Pieces.mp4"});
}

void tst_NabrixOffer::missingSegmentNamesItsTime() {
    QCOMPARE(RunFfmpeg(media_->path(), {"-f", "hls", "-hls_time", "0.5", "-hls_playlist_type",
                                        "vod", "-hls_segment_filename", "s%d.ts", "v.m3u8"}),
             QString());
    server_.route("/s2.ts", Response::Status(404, "Not Found"));
    MediaOffer offer;
    offer.details.VideoTitle = "Gap";
    offer.streams = {Track("v.m3u8", 0)};
    offer.video = 0;
    QVERIFY(!offer.streams.first().track->segments.isEmpty());
    const QString error = Download(offer);
    QVERIFY2(QRegularExpression("^Segment 3 \\(0:0[0-9]–0:0[0-9]\\) could not be fetched: 404 "
                                "Not Found$")
                 .match(error)
                 .hasMatch(),
             qPrintable(error));
    QCOMPARE(joiner_.joins, 0);
    QVERIFY(!QFile::exists(out_ + "/Gap.mp4"));
    QVERIFY(!QFile::exists(out_ + "/Gap.ts"));

    // The next download of the page continues: what came before the gap is not fetched again.
    server_.clearRoutes();
    const QString folder = media_->path();
    server_.setFallback([folder](const auto& request) { return ServeFile(folder, request); });
    server_.clearRequests();
    progress_.clear();
    phases_.clear();
    QCOMPARE(Download(offer), QString());
    QCOMPARE(Probe(out_ + "/Gap.mp4"), QStringLiteral("video audio mov,mp4,m4a,3gp,3g2,mj2 2.0"));
    for (const LoopbackHttpServer::Request& request : server_.requests())
        QVERIFY2(request.target != "/s0.ts" && request.target != "/s1.ts", request.target);
}

void tst_NabrixOffer::resultShorterThanPlannedFails() {
    // Every segment is whole, but the playlist says each lasts far longer than it plays.
    QCOMPARE(RunFfmpeg(media_->path(), {"-f", "hls", "-hls_time", "0.5", "-hls_playlist_type",
                                        "vod", "-hls_segment_filename", "s%d.ts", "v.m3u8"}),
             QString());
    QFile playlist(media_->filePath("v.m3u8"));
    QVERIFY(playlist.open(QIODevice::ReadWrite));
    const QByteArray text = playlist.readAll();
    playlist.resize(0);
    playlist.write(QString::fromLatin1(text)
                       .replace(QRegularExpression("#EXTINF:[0-9.]+,"), "#EXTINF:3.000000,")
                       .toLatin1());
    playlist.close();
    MediaOffer offer;
    offer.details.VideoTitle = "Short";
    offer.streams = {Track("v.m3u8", 0)};
    offer.video = 0;
    const QString error = Download(offer);
    QVERIFY2(QRegularExpression("^The downloaded file lasts 0:0[12] of the 0:[1-9][0-9] its "
                                "stream list names; the rest is missing$")
                 .match(error)
                 .hasMatch(),
             qPrintable(error));
    QCOMPARE(joiner_.readBacks, 1);
    // Neither the joined file nor a finished one is left; the .part stays to be continued.
    QCOMPARE(QDir(out_).entryList(QDir::Files), QStringList{"Short.mp4.video.part"});
}

void tst_NabrixOffer::containerFollowsTheCodecs_data() {
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QString>("layout");
    // A codec list, or "file:<address>" / "hls:" for a stream that says none.
    QTest::newRow("H.264 and AAC") << "avc1.64001f"
                                   << "mp4a.40.2"
                                   << "mp4 join";
    QTest::newRow("VP9 and Opus") << "vp09.00.10.08"
                                  << "opus"
                                  << "webm join";
    QTest::newRow("AV1 and AAC") << "av01.0.05M.08"
                                 << "mp4a.40.2"
                                 << "mp4 join";
    QTest::newRow("H.264 and Opus") << "avc1.64001f"
                                    << "opus"
                                    << "mkv join";
    QTest::newRow("MPEG-TS, H.264 and AAC") << "hls:avc1.4d401e,mp4a.40.2"
                                            << ""
                                            << "mp4 join";
    QTest::newRow("MPEG-TS, MPEG-2 video") << "hls:mp2v"
                                           << ""
                                           << "ts";
    QTest::newRow("a WebM file") << "file:/v/clip.webm?x=.mp4"
                                 << ""
                                 << "webm";
    QTest::newRow("an MP4 of sound") << "file:/a/track.mp4"
                                     << ""
                                     << "m4a";
    QTest::newRow("a file that names nothing") << "file:/play?id=3"
                                               << ""
                                               << "mp4";
}

void tst_NabrixOffer::containerFollowsTheCodecs() {
    QFETCH(QString, video);
    QFETCH(QString, audio);
    QFETCH(QString, layout);
    MediaStream picture, sound;
    picture.via = MediaStream::Via::Dash;
    picture.track = Streams::Track();
    picture.track->inits = {Streams::Segment()};
    picture.codecs = video;
    if (video.startsWith("hls:")) {
        picture.via = MediaStream::Via::Hls;
        picture.track->inits.clear();
        picture.codecs = video.mid(4);
    } else if (video.startsWith("file:")) {
        picture.via = MediaStream::Via::File;
        picture.address = QUrl("http://cdn.test" + video.mid(5));
        picture.codecs.clear();
        picture.hasVideo = !video.contains("track");
    }
    sound = picture;
    sound.codecs = audio;
    const OfferPlan::Layout made = OfferPlan::For(picture, audio.isEmpty() ? nullptr : &sound);
    QCOMPARE(made.extension + (made.join ? " join" : ""), layout);
}

void tst_NabrixOffer::heightLimitChoosesTheStream() {
    MediaOffer offer;
    const auto stream = [](int height, bool video, bool audio) {
        MediaStream s;
        s.height = height;
        s.hasVideo = video;
        s.hasAudio = audio;
        return s;
    };
    // Best first: 2160 and 720 without sound, 480 with it, then sound alone.
    offer.streams = {stream(2160, true, false), stream(720, true, false), stream(480, true, true),
                     stream(0, false, true)};
    offer.video = 0;
    offer.audio = 3;
    const auto choose = [&](int maxHeight) {
        const OfferPlan::Choice c = OfferPlan::Choose(offer, maxHeight);
        return QStringLiteral("%1 %2").arg(c.video).arg(c.audio);
    };
    QCOMPARE(choose(0), "0 3");
    QCOMPARE(choose(1080), "1 3");
    QCOMPARE(choose(480), "2 -1");
    QCOMPARE(choose(240), "2 -1");
    QCOMPARE(choose(OfferPlan::SoundOnly), "3 -1");
    offer.streams.removeLast();
    offer.audio = -1;
    QCOMPARE(choose(OfferPlan::SoundOnly), "0 -1");
}

void tst_NabrixOffer::soundOnlyIsTakenOutOfTheVideo_data() {
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QString>("probed"); // the finished file, or the start of the error
    QTest::newRow("a video with its sound")
        << QStringList{"clip.mp4"} << "Harbour.m4a: audio mov,mp4,m4a,3gp,3g2,mj2 2.0";
    // A page that calls a silent video one with sound.
    QTest::newRow("a video without sound")
        << QStringList{"-an", "clip.mp4"} << "The downloaded file holds no sound";
}

void tst_NabrixOffer::soundOnlyIsTakenOutOfTheVideo() {
    QFETCH(QStringList, made);
    QFETCH(QString, probed);
    // The page's only file holds picture and sound; the converter program takes the sound out.
    QCOMPARE(RunFfmpeg(media_->path(), made), QString());
    AVC::SetProgramFolder(CONVERTER_DIR);
    StreamJoin converter;
    nabrix_->SetJoiner(&converter);
    nabrix_->SetMaxHeight(OfferPlan::SoundOnly);
    MediaOffer offer;
    offer.details.VideoTitle = "Harbour";
    MediaStream stream;
    stream.address = server_.url("/clip.mp4");
    stream.height = 120;
    offer.streams = {stream};
    offer.video = 0;
    const QString error = Download(offer);
    nabrix_.reset();
    if (error.isEmpty()) {
        const QString name = QDir(out_).entryList(QDir::Files).join(' ');
        QCOMPARE(name + ": " + Probe(out_ + "/" + name), probed);
        return;
    }
    QVERIFY2(error.startsWith(probed), qPrintable(error));
    QCOMPARE(QDir(out_).entryList(QDir::Files).filter(QRegularExpression("\\.(m4a|mp4)$")),
             QStringList());
}

QTEST_GUILESS_MAIN(tst_NabrixOffer)
#include "tst_NabrixOffer.moc"
