#include "ChildProcess.h"
#include "FetcherTestSupport.h"
#include "LoopbackHttpServer.h"
#include "OfferPlan.h"
#include "PageReading.h"
#include "RegEdit.h"
#include "TestHome.h"
#include "YtDlpOutput.h"
#include "YtDlpProgram.h"

#include <QStringEncoder>
#include <QtTest>
#include <algorithm>
#include <memory>

using Response = LoopbackHttpServer::Response;

namespace {

const QString kStandIn = QStringLiteral(VANTELO_TEST_SOURCE_DIR "/stand-in-yt-dlp");

const QByteArray kOpenGraphPage = R"(<html><head><title>Ignored</title>
<meta property='og:title' content='Harbour at dusk'>
<meta content="/media/clip.mp4" property="og:video:url">
<meta property="og:video:type" content="video/mp4">
<meta name="og:image" content="/media/poster.jpg?a=1&amp;b='2'">
</head><body>Boats at night.</body></html>)";

const QByteArray kMaster = "#EXTM3U\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360\n360.m3u8\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=2800000,RESOLUTION=1280x720\n720.m3u8\n"
                           "#EXT-X-STREAM-INF:BANDWIDTH=1400000,RESOLUTION=854x480\n480.m3u8\n";

// A DASH manifest of one 640x360 video, finished or live.
QByteArray Manifest(const QByteArray& type) {
    return "<?xml version=\"1.0\"?><MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" type=\"" + type +
           "\" availabilityStartTime=\"2024-01-01T00:00:00Z\" mediaPresentationDuration=\"PT4S\">"
           "<Period><AdaptationSet contentType=\"video\" mimeType=\"video/mp4\">"
           "<SegmentTemplate duration=\"2\" media=\"v$Number$.m4s\" initialization=\"init.mp4\"/>"
           "<Representation id=\"v\" bandwidth=\"100000\" width=\"640\" height=\"360\"/>"
           "</AdaptationSet></Period></MPD>";
}

QByteArray MediaPlaylist(const QByteArray& extra, bool ended) {
    return "#EXTM3U\n#EXT-X-TARGETDURATION:2\n" + extra + "#EXTINF:2,\nseg0.ts\n" +
           (ended ? "#EXT-X-ENDLIST\n" : "");
}

// A page that trickles in forever: one byte every 200 ms.
Response Trickling(const QByteArray& start, const QByteArray& contentType) {
    Response response = Response::Fixed(start + QByteArray(1024 * 1024, ' '), contentType);
    response.bytesPerSecond = 5;
    return response;
}

QByteArray Utf16WithMark(const QByteArray& utf8) {
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    return encoder(QString::fromUtf8(utf8));
}

void UseYtDlp(const QString& program) {
    SettingsStore().WriteKey(YtDlpProgram::kProgramSetting, program);
    YtDlpProgram::ForgetVersion();
}

} // namespace

class tst_PageReading : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void pagesOfToday_data();
    void pagesOfToday();
    void addressesThatAreNoWebPages_data();
    void addressesThatAreNoWebPages();
    void liveStreamsAreRefusedWhateverYtDlpOffers_data();
    void liveStreamsAreRefusedWhateverYtDlpOffers();
    void allReadsOfAPageMeetOneDeadline_data();
    void allReadsOfAPageMeetOneDeadline();
    void siteReaderOfYtDlpWinsWhileOursReads();
    void oursAnswersWithoutWaitingForYtDlp();

private:
    void fetch(const QString& address) { host_.Fetch(*nabrix_, address); }
    void waitForTheEnd() {
        QTRY_VERIFY(log_->contains("VideoData") || log_->contains("InfoError"));
    }

    TestHome home_;
    LoopbackHttpServer server_;
    TestNabrixHost host_;
    std::unique_ptr<Nabrix> nabrix_;
    std::unique_ptr<EventLog> log_;
};

void tst_PageReading::initTestCase() {
    QVERIFY(server_.listen());
    for (const char* name : {"HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
        qunsetenv(name);
    qputenv("http_proxy", server_.proxyAddress());
    server_.route("/og", Response::Fixed(kOpenGraphPage));
    // A server that calls a page a video: its bytes are a page's, and it is read as one.
    server_.route("/lying.mp4", Response::Fixed(kOpenGraphPage, "video/mp4"));
    server_.route("/media/clip.mp4", Response::Generated(4 * 1024 * 1024, "video/mp4"));
    server_.route("/hls/master.m3u8", Response::Fixed(kMaster, "application/vnd.apple.mpegurl"));
    // Served as text; its first bytes tell what it is.
    server_.route("/hls/live", Response::Fixed(MediaPlaylist("", false), "text/plain"));
    server_.route(
        "/hls/drm.m3u8",
        Response::Fixed(MediaPlaylist("#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"skd://k\"\n", true),
                        "application/x-mpegurl"));
    server_.route("/player/outer", Response::Fixed(R"(<html><head>
<meta property="og:title" content="Outer page">
<meta property="og:video" content="/player/embed">
<meta property="og:video:type" content="text/html"></head></html>)"));
    server_.route("/player/embed",
                  Response::Fixed("<html><title>Player</title><video src='/media/clip.mp4'>"));
    server_.route("/blob", Response::Fixed("<video src='blob:https://site.example/1'></video>"));
    server_.route("/watch", Response::Fixed("<html><title>Nothing here</title></html>"));
    server_.route("/utf16", Response::Fixed(Utf16WithMark(kOpenGraphPage), "text/html"));
    server_.route("/trickle/page", Trickling("<html><title>", "text/html"));
    server_.route("/trickle/player", Response::Fixed(R"(<html>
<meta property="og:video" content="/trickle/master.m3u8">
<meta property="og:video:type" content="application/x-mpegurl"></html>)"));
    server_.route("/trickle/master.m3u8", Trickling("#EXTM3U\n", "application/x-mpegurl"));
    server_.route("/dash/live.mpd", Response::Fixed(Manifest("dynamic"), "application/dash+xml"));
    server_.route("/dash/clip.mpd", Response::Fixed(Manifest("static"), "application/dash+xml"));
    // Frames: adverts (whose video is the HLS master) that no one sees, a frame without a video
    // that would lend its description, and the story's own player.
    server_.route("/frames/news", Response::Fixed(R"(<html><head><title>Harbour news</title></head>
<body><iframe src="/frames/advert" width="1" height="1"></iframe>
<iframe src="/frames/advert?2" style="border: 0; display: none !important"></iframe>
<iframe src="/frames/advert?3" width="0" height="250"></iframe>
<iframe src="/frames/comments"></iframe>
<iframe src="/frames/story" width="640" height="360"></iframe></body></html>)"));
    server_.route("/frames/advert", Response::Fixed("<video src='/hls/master.m3u8'></video>"));
    server_.route("/frames/comments",
                  Response::Fixed("<title>Comments</title><meta name='description' "
                                  "content='Say something'>"));
    server_.route("/frames/story",
                  Response::Fixed("<meta property='og:video' content='/media/clip.mp4'>"));
    // More frames without a video than the reads a page is allowed, then the player.
    server_.route("/frames/many", Response::Fixed(R"(<title>Harbour news</title>
<iframe src="/frames/comments?1"></iframe><iframe src="/frames/comments?2"></iframe>
<iframe src="/frames/comments?3"></iframe><iframe src="/frames/comments?4"></iframe>
<iframe src="/frames/story" allow="autoplay; encrypted-media"></iframe>)"));
    // A chain of frames: the story is three levels below the outer page.
    server_.route("/frames/outer",
                  Response::Fixed("<title>Outer</title><iframe src='/frames/middle' "
                                  "allowfullscreen></iframe>"));
    server_.route("/frames/middle",
                  Response::Fixed("<title>Middle</title><iframe src='/frames/inner'></iframe>"));
    server_.route("/frames/inner", Response::Fixed("<iframe src='/frames/story'></iframe>"));
    // One video in three plain files and its sound alone, their heights told in each way
    // players do; the page lists the tallest last.
    server_.route("/sources", Response::Fixed(R"html(<html><title>Sources</title><video>
<source src="/media/clip_360p.mp4" type="video/mp4">
<source src="/media/b.mp4" type='video/mp4; codecs="avc1.4d401f, mp4a.40.2"' label="HD 720p">
<source src="/media/a.mp4" type="video/mp4" media="(min-width: 1920px)"></video>
<audio><source src="/media/sound.m4a" type="audio/mp4"></audio></html>)html"));
    for (const char* name : {"/media/clip_360p.mp4", "/media/b.mp4", "/media/a.mp4"})
        server_.route(name, Response::Generated(64 * 1024, "video/mp4"));
    Response slow = Response::Fixed(kOpenGraphPage);
    slow.bytesPerSecond = kOpenGraphPage.size();
    server_.route("/slow", slow);
}

void tst_PageReading::init() {
    UseYtDlp(QStringLiteral("/nonexistent/yt-dlp"));
    host_ = TestNabrixHost();
    nabrix_ = std::make_unique<Nabrix>();
    host_.Attach(*nabrix_);
    log_ = std::make_unique<EventLog>(*nabrix_);
}

void tst_PageReading::pagesOfToday_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("maxHeight");
    // The title (an address's own file name where the page names none) and the streams offered
    // ("File 0", "Hls 720 480 360"), the default's height; or the start of the error.
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("streams");
    QTest::addColumn<int>("defaultHeight");
    QTest::addColumn<QString>("error");
    const QString noVideo = QStringLiteral("No video was found on this page: ");
    QTest::newRow("Open Graph file") << "http://site.example/og"
                                     << "0"
                                     << "Harbour at dusk"
                                     << "File 0" << 0 << "";
    QTest::newRow("page called a video") << "http://site.example/lying.mp4"
                                         << "0"
                                         << "Harbour at dusk"
                                         << "File 0" << 0 << "";
    QTest::newRow("address is a file") << "http://site.example/media/clip.mp4"
                                       << "0"
                                       << "clip"
                                       << "File 0" << 0 << "";
    QTest::newRow("HLS master") << "http://site.example/hls/master.m3u8"
                                << "0"
                                << "master"
                                << "Hls 720 480 360" << 720 << "";
    QTest::newRow("HLS master within the user's height") << "http://site.example/hls/master.m3u8"
                                                         << "500"
                                                         << "master"
                                                         << "Hls 720 480 360" << 480 << "";
    for (const auto& [limit, height] : {std::pair{"360", 360},
                                        {"480", 360},
                                        {"720", 720},
                                        {"1080", 1080},
                                        {"0", 1080},
                                        {"240", 360},
                                        {"-1", 0}})
        QTest::addRow("sources up to %s", limit)
            << "http://site.example/sources" << limit << "Sources"
            << "File 1080 720 360 0" << height << "";
    QTest::newRow("UTF-16 page, undeclared") << "http://site.example/utf16"
                                             << "0"
                                             << "Harbour at dusk"
                                             << "File 0" << 0 << "";
    QTest::newRow("player page followed") << "http://site.example/player/outer"
                                          << "0"
                                          << "Outer page"
                                          << "File 0" << 0 << "";
    QTest::newRow("player in a frame, past hidden ones and one without a video")
        << "http://site.example/frames/news"
        << "0"
        << "Harbour news"
        << "File 0" << 0 << "";
    QTest::newRow("a frame that looks like a player within the reads allowed")
        << "http://site.example/frames/many"
        << "0"
        << "Harbour news"
        << "File 0" << 0 << "";
    QTest::newRow("frames two levels down") << "http://site.example/frames/middle"
                                            << "0"
                                            << "Middle"
                                            << "File 0" << 0 << "";
    QTest::newRow("frames three levels down are not read")
        << "http://site.example/frames/outer"
        << "0"
        << ""
        << "" << 0
        << noVideo + "http://site.example/frames/outer. " + YtDlpOutput::NotInstalledHint();
    QTest::newRow("nothing on the page")
        << "http://www.example.com/watch?v=abc"
        << "0"
        << ""
        << "" << 0
        << noVideo + "http://www.example.com/watch?v=abc. " + YtDlpOutput::NotInstalledHint();
    QTest::newRow("live") << "http://site.example/hls/live"
                          << "0"
                          << ""
                          << "" << 0
                          << "http://site.example/hls/live is a live stream, which cannot be "
                             "saved as a file";
    QTest::newRow("DRM") << "http://site.example/hls/drm.m3u8"
                         << "0"
                         << ""
                         << "" << 0
                         << "The video at http://site.example/hls/drm.m3u8 is protected against "
                            "copying (DRM)";
    QTest::newRow("blob") << "http://site.example/blob"
                          << "0"
                          << ""
                          << "" << 0
                          << "The video on http://site.example/blob is a blob: address, which "
                             "only the page's own player can read";
}

void tst_PageReading::pagesOfToday() {
    QFETCH(QString, address);
    QFETCH(QString, maxHeight);
    QFETCH(QString, title);
    QFETCH(QString, streams);
    QFETCH(int, defaultHeight);
    QFETCH(QString, error);
    nabrix_->SetMaxHeight(maxHeight.toInt());
    server_.clearRequests();
    fetch(address);
    waitForTheEnd();
    // The video's phase follows once the offer is settled.
    QCOMPARE(log_->phases().value(0), QStringLiteral("Page at 0"));
    if (!error.isEmpty()) {
        QCOMPARE(log_->phases().size(), 1);
        QCOMPARE(log_->all().last(), "InfoError " + error);
        QVERIFY(!log_->contains("VideoData"));
        return;
    }
    const QStringList events = log_->folded();
    QVERIFY2(events.value(0).startsWith("InfoProgress 0 "), qPrintable(events.join('|')));
    const qsizetype details = events.indexOf("VideoData|" + title + "|||||");
    QVERIFY2(details > 0, qPrintable(events.join('|')));
    QCOMPARE(events.value(details - 1), "DownloadProgress 0 1");
    const MediaOffer& offer = nabrix_->LastOffer();
    QStringList seen = {offer.streams.value(0).via == MediaStream::Via::File ? "File" : "Hls"};
    for (const MediaStream& stream : offer.streams)
        seen.append(QString::number(stream.height));
    QCOMPARE(seen.join(' '), streams);
    QCOMPARE(offer.streams.value(offer.video).height, defaultHeight);
    QCOMPARE(offer.audio, -1);
    if (address.endsWith("/sources")) {
        // The file fetched is the one chosen; the menu tells each stream as far as it is known.
        const auto fetched = [this](const MediaStream& stream) {
            const QList<LoopbackHttpServer::Request> requests = server_.requests();
            return std::any_of(requests.begin(), requests.end(), [&](const auto& request) {
                return request.target.endsWith(stream.address.path().toUtf8());
            });
        };
        QTRY_VERIFY(fetched(offer.streams[offer.video]));
        for (int i = 0; i < offer.streams.size(); ++i)
            QVERIFY(i == offer.video || !fetched(offer.streams[i]));
        QCOMPARE(OfferPlan::Label(offer.streams[1]), QString::fromUtf8("720p · avc1"));
        QCOMPARE(OfferPlan::Label(offer.streams[3]), "Sound only");
    }
    if (address.endsWith("/og")) {
        // The picture's address stays inside its attribute.
        QCOMPARE(offer.streams[0].address, QUrl("http://site.example/media/clip.mp4"));
        QVERIFY(host_.previews.last().contains(
            "src='http://site.example/media/poster.jpg?a=1&amp;b=&#39;2&#39;'"));
    }
}

void tst_PageReading::addressesThatAreNoWebPages_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("error");
    QTest::newRow("ftp") << "ftp://site.example/clip.mp4"
                         << "ftp://site.example/clip.mp4 is not an http or https address. Type "
                            "the whole address of the page that shows the video, for example "
                            "https://www.example.com/video";
    QTest::newRow("blob") << "blob:https://site.example/1"
                          << "The video on blob:https://site.example/1 is a blob: address, "
                             "which only the page's own player can read";
}

void tst_PageReading::addressesThatAreNoWebPages() {
    QFETCH(QString, address);
    QFETCH(QString, error);
    server_.clearRequests();
    fetch(address);
    QCOMPARE(log_->all(), QStringList({"InfoError " + error}));
    QCOMPARE(host_.paneShown, 0);
    QVERIFY(server_.requests().isEmpty());
}

void tst_PageReading::liveStreamsAreRefusedWhateverYtDlpOffers_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error"); // empty: a DASH stream of 360 lines is offered
    const QString live = QStringLiteral(" is a live stream, which cannot be saved as a file");
    QTest::newRow("live HLS") << "/hls/live"
                              << "http://site.example/hls/live" + live;
    QTest::newRow("live DASH") << "/dash/live.mpd"
                               << "http://site.example/dash/live.mpd" + live;
    QTest::newRow("finished DASH") << "/dash/clip.mpd"
                                   << "";
}

void tst_PageReading::liveStreamsAreRefusedWhateverYtDlpOffers() {
    QFETCH(QString, path);
    QFETCH(QString, error);
    // yt-dlp's generic reader offers a live manifest's first pieces as a whole video.
    UseYtDlp(QStringLiteral("yt-dlp"));
    if (YtDlpProgram::Path().isEmpty())
        QSKIP("yt-dlp is not installed (scripts/install-deps.sh installs it)");
    fetch("http://site.example" + path);
    QTRY_VERIFY_WITH_TIMEOUT(log_->contains("VideoData") || log_->contains("InfoError"), 60000);
    if (!error.isEmpty()) {
        QCOMPARE(log_->all().last(), "InfoError " + error);
        return;
    }
    const MediaOffer& offer = nabrix_->LastOffer();
    QCOMPARE(offer.streams.value(offer.video).via, MediaStream::Via::Dash);
    QCOMPARE(offer.streams.value(offer.video).height, 360);
}

void tst_PageReading::allReadsOfAPageMeetOneDeadline_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("found");
    QTest::newRow("page that never ends") << "/trickle/page" << false;
    QTest::newRow("playlist of the page that never ends") << "/trickle/player" << false;
    QTest::newRow("slow page within the deadline") << "/slow" << true;
}

void tst_PageReading::allReadsOfAPageMeetOneDeadline() {
    QFETCH(QString, path);
    QFETCH(bool, found);
    constexpr int deadlineMs = 2000;
    nabrix_->setPageDeadline(deadlineMs);
    const int closedBefore = server_.connectionsClosed();
    QElapsedTimer clock;
    clock.start();
    fetch("http://site.example" + path);
    QTRY_VERIFY_WITH_TIMEOUT(log_->contains("VideoData") || log_->contains("InfoError"), 10000);
    if (found) {
        QVERIFY2(log_->contains("VideoData|Harbour at dusk"), qPrintable(log_->all().join('|')));
        return;
    }
    QVERIFY(clock.elapsed() < deadlineMs + 3000);
    QCOMPARE(log_->all().last(), "InfoError The video page did not arrive within 2 seconds. Try "
                                 "again later.");
    QVERIFY(!nabrix_->TodaysPageReading()->IsRunning());
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
}

void tst_PageReading::siteReaderOfYtDlpWinsWhileOursReads() {
    UseYtDlp(kStandIn);
    // Our reader would find the page's own video, but the page stops half way.
    Response page = Response::Fixed(kOpenGraphPage);
    page.ending = LoopbackHttpServer::Ending::Stall;
    page.endAfter = kOpenGraphPage.size() / 2;
    server_.route("/v/site", page);
    fetch("http://site.example/v/site");
    waitForTheEnd();
    const MediaOffer& offer = nabrix_->LastOffer();
    QCOMPARE(offer.details.VideoTitle, "Harbour at dusk");
    QCOMPARE(offer.streams.size(), 2);
    const MediaStream& video = offer.streams.value(offer.video);
    QCOMPARE(video.formatId, "v720");
    QCOMPARE(video.via, MediaStream::Via::File);
    QCOMPARE(video.address, QUrl("https://v.example/v.mp4"));
    QCOMPARE(video.headers.value(0).second, QByteArray("https://site.example/"));
    QCOMPARE(offer.streams.value(offer.audio).formatId, "a128");
    QVERIFY(!nabrix_->TodaysPageReading()->IsRunning());
}

void tst_PageReading::oursAnswersWithoutWaitingForYtDlp() {
    UseYtDlp(kStandIn);
    // A page that takes half a second: yt-dlp starts while ours still reads.
    Response page = Response::Fixed(kOpenGraphPage);
    page.bytesPerSecond = 2 * kOpenGraphPage.size();
    server_.route("/v/hang", page);
    fetch("http://site.example/v/hang");
    QTRY_VERIFY(nabrix_->TodaysPageReading()->YtDlpGroup() > 0);
    const qint64 group = nabrix_->TodaysPageReading()->YtDlpGroup();
    waitForTheEnd();
    QCOMPARE(nabrix_->LastOffer().streams.value(0).address,
             QUrl("http://site.example/media/clip.mp4"));
    QCOMPARE(nabrix_->TodaysPageReading()->YtDlpGroup(), 0);
    QTRY_VERIFY(!ChildProcess::GroupIsRunning(group));
}

QTEST_MAIN(tst_PageReading)
#include "tst_PageReading.moc"
