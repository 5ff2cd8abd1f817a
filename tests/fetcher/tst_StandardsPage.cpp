#include "HtmlScanner.h"
#include "JsonLdMedia.h"
#include "MediaSniff.h"
#include "StandardsPage.h"

#include <QtTest>

using MediaSniff::StreamKind;

namespace {

const QUrl kPage(QStringLiteral("https://news.example/story/42?from=home#top"));

QString KindName(StreamKind kind) {
    switch (kind) {
    case StreamKind::File:
        return QStringLiteral("file");
    case StreamKind::Hls:
        return QStringLiteral("hls");
    case StreamKind::Dash:
        return QStringLiteral("dash");
    case StreamKind::None:
        break;
    }
    return QString();
}

QString LdJson(const char* json) {
    return QStringLiteral("<script type=\"application/ld+json\">") + QString::fromUtf8(json) +
           QStringLiteral("</script>");
}

QByteArray TransportPackets(int count) {
    QByteArray bytes(188 * count, '\0');
    for (int i = 0; i < count; ++i)
        bytes[188 * i] = 0x47;
    return bytes;
}

} // namespace

class tst_StandardsPage : public QObject {
    Q_OBJECT
private slots:
    void findsTheVideo_data();
    void findsTheVideo();
    void readsTheDetails_data();
    void readsTheDetails();
    void sniffsAnAnswer_data();
    void sniffsAnAnswer();
    void isoDurations_data();
    void isoDurations();
    void manifestOffersMoreOnlyByDeclaredValues();
    void entitiesDecoded();
};

void tst_StandardsPage::findsTheVideo_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("best"); // the first candidate's address, empty for none
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("player"); // the first player page, empty for none
    QTest::addColumn<bool>("blob");

    const QString mp4 = QStringLiteral("https://cdn.example/v/clip.mp4");
    // What a reader that only knows og:video in double-quoted property= misses.
    QTest::newRow("og:video:url")
        << R"(<meta property="og:video:url" content="https://cdn.example/v/clip.mp4">)" << mp4
        << "file"
        << "" << false;
    QTest::newRow("og:video:secure_url only")
        << R"(<meta property="og:video:secure_url" content="https://cdn.example/v/clip.mp4">)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("secure_url over url of the same video")
        << R"(<meta property="og:video" content="http://cdn.example/v/clip.mp4"><meta property="og:video:secure_url" content="https://cdn.example/v/clip.mp4">)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("og:video with name=")
        << R"(<meta name="og:video" content="https://cdn.example/v/clip.mp4">)" << mp4 << "file"
        << "" << false;
    QTest::newRow("single quotes, content first, capitals, no quotes")
        << R"(<META content='https://cdn.example/v/clip.mp4' PROPERTY=og:video>)" << mp4 << "file"
        << "" << false;
    QTest::newRow("no extension, type says video")
        << R"(<meta property="og:video" content="https://cdn.example/play?id=7"><meta property="og:video:type" content="video/mp4">)"
        << "https://cdn.example/play?id=7"
        << "file"
        << "" << false;
    QTest::newRow("no extension, type says manifest")
        << R"(<meta property="og:video" content="https://cdn.example/master"><meta property="og:video:type" content="application/x-mpegURL">)"
        << "https://cdn.example/master"
        << "hls"
        << "" << false;
    QTest::newRow("no extension, no type: a page to read")
        << R"(<meta property="og:video" content="https://cdn.example/play?id=7">)"
        << ""
        << ""
        << "https://cdn.example/play?id=7" << false;
    QTest::newRow("og:video of type text/html is a player page")
        << R"(<meta property="og:video" content="https://player.example/embed/7"><meta property="og:video:type" content="text/html">)"
        << ""
        << ""
        << "https://player.example/embed/7" << false;
    QTest::newRow("frames: a player's before others, one-pixel and hidden ones left out")
        << R"(<iframe src="https://ads.example/1" width="1" height="1"></iframe>
<iframe src="https://ads.example/2" style="border:0;display: none"></iframe>
<iframe src="/comments"></iframe>
<iframe data-src="https://player.example/v/7" allowfullscreen></iframe>)"
        << ""
        << ""
        << "https://player.example/v/7" << false;
    QTest::newRow("frames: a frame of any other size is read")
        << R"html(<iframe src="javascript:void(0)"></iframe><iframe src="https://ads.example/3" hidden>
</iframe><iframe src="https://ads.example/4" style="WIDTH:0px"></iframe>
<iframe src="https://ads.example/5" style="visibility:hidden"></iframe>
<iframe src="comments" width="100%" height="1.5"></iframe>)html"
        << ""
        << ""
        << "https://news.example/story/comments" << false;
    QTest::newRow("a Flash player is neither")
        << R"(<meta property="og:video" content="https://old.example/p.swf?v=7"><meta property="og:video:type" content="application/x-shockwave-flash">)"
        << ""
        << ""
        << "" << false;
    QTest::newRow("twitter:player:stream in single quotes, content first")
        << R"(<meta content='https://cdn.example/v/clip.mp4' name='twitter:player:stream'>)" << mp4
        << "file"
        << "" << false;
    QTest::newRow("JSON-LD with only embedUrl")
        << LdJson(R"({"@type":"VideoObject","name":"A","embedUrl":"https://player.example/e/9"})")
        << ""
        << ""
        << "https://player.example/e/9" << false;
    QTest::newRow("JSON-LD video of an article in @graph")
        << LdJson(
               R"({"@context":"https://schema.org","@graph":[{"@type":"NewsArticle","video":{"@type":"VideoObject","contentUrl":"https://cdn.example/v/clip.mp4"}}]})")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("JSON-LD subjectOf, in an array, after a broken block")
        << LdJson("{broken") +
               LdJson(
                   R"([{"@type":"WebPage"},{"@type":"Article","subjectOf":{"@type":["VideoObject"],"contentUrl":"https://cdn.example/v/clip.mp4"}}])")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("JSON-LD with a raw line break in a string, in a comment")
        << LdJson("<!-- {\"@type\":\"VideoObject\",\"description\":\"two\nlines\","
                  "\"contentUrl\":\"https://cdn.example/v/clip.mp4\"} -->")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("JSON-LD with numbers too large for a double")
        << LdJson(R"({"@type":"VideoObject","width":1e309,"contentSize":-2E+400,"name":"1e309",)"
                  R"("contentUrl":"https://cdn.example/v/clip.mp4"})")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("base href resolves a relative source")
        << R"(<base href="https://cdn.example/v/"><video><source src="clip.mp4" type="video/mp4"></video>)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("a base href of javascript: is ignored")
        << R"h(<base href="javascript:alert(1)"><video src="/v/clip.mp4"></video>)h"
        << "https://news.example/v/clip.mp4"
        << "file"
        << "" << false;
    QTest::newRow("relative and scheme-relative addresses")
        << R"(<video src="../media/a.webm"></video><meta property="og:video" content="//cdn.example/v/clip.mp4"><meta property="og:video:height" content="720">)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("blob: is reported, never kept")
        << R"(<video src="blob:https://news.example/5d1c"></video>)"
        << ""
        << ""
        << "" << true;
    QTest::newRow("javascript:, data: and file: are dropped")
        << R"h(<meta property="og:video" content="javascript:play()"><video src="data:video/mp4;base64,AAAA"><source src="file:///etc/passwd" type="video/mp4"></video>)h"
        << ""
        << ""
        << "" << false;
    QTest::newRow("full video over a muted autoplay loop")
        << R"(<video muted autoplay loop playsinline><source src="https://cdn.example/teaser.mp4" size="1080"></video>)" +
               LdJson(R"({"@type":"VideoObject","contentUrl":"https://cdn.example/v/clip.mp4"})")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("a muted video that does not loop is no preview")
        << R"(<video muted autoplay><source src="https://cdn.example/v/clip.mp4" size="720"></video>)" +
               LdJson(R"({"@type":"VideoObject","contentUrl":"https://cdn.example/other.mp4"})")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("full video over a shorter declared one")
        << LdJson(
               R"([{"@type":"VideoObject","duration":"PT30S","height":1080,"contentUrl":"https://cdn.example/trailer.mp4"},{"@type":"VideoObject","duration":"PT10M","height":480,"contentUrl":"https://cdn.example/v/clip.mp4"}])")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("the larger declared height")
        << R"(<meta property="og:video" content="https://cdn.example/360.mp4"><meta property="og:video:height" content="360"><meta property="og:video" content="https://cdn.example/v/clip.mp4"><meta property="og:video:height" content="720">)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("a rendition over a manifest that declares nothing more")
        << R"(<meta property="og:video" content="https://cdn.example/v/clip.mp4">)" +
               LdJson(
                   R"({"@type":"VideoObject","contentUrl":"https://cdn.example/hls/master.m3u8"})")
        << mp4 << "file"
        << "" << false;
    QTest::newRow("a manifest that declares more over a rendition")
        << R"(<meta property="og:video" content="https://cdn.example/v/clip.mp4"><meta property="og:video:height" content="480">)" +
               LdJson(
                   R"({"@type":"VideoObject","height":"1080","contentUrl":"https://cdn.example/d/manifest.mpd"})")
        << "https://cdn.example/d/manifest.mpd"
        << "dash"
        << "" << false;
    QTest::newRow("video over sound alone")
        << R"(<meta property="og:audio" content="https://cdn.example/a.mp3"><audio src="https://cdn.example/b.m4a"></audio><video src="https://cdn.example/v/clip.mp4"></video>)"
        << mp4 << "file"
        << "" << false;
    QTest::newRow("og:audio alone")
        << R"(<meta property="og:audio" content="https://cdn.example/a.mp3">)"
        << "https://cdn.example/a.mp3"
        << "file"
        << "" << false;
    QTest::newRow("picture sources and loose sources are no video")
        << R"(<picture><source srcset="a.webp" src="https://cdn.example/a.mp4"></picture><source src="https://cdn.example/b.mp4">)"
        << ""
        << ""
        << "" << false;
    QTest::newRow("markup inside a script or a comment is not read")
        << R"(<script>var s = "<meta property='og:video' content='https://cdn.example/x.mp4'>";</scripts></script><!-- <video src="https://cdn.example/y.mp4"> -->)"
        << ""
        << ""
        << "" << false;
    QTest::newRow("an unclosed comment hides the rest")
        << R"(<!-- <meta property="og:video" content="https://cdn.example/v/clip.mp4">)"
        << ""
        << ""
        << "" << false;
    QTest::newRow("a player page that is the page itself is not read again")
        << R"(<meta property="og:video" content="https://news.example/story/42?from=home#video">)"
        << ""
        << ""
        << "" << false;
}

void tst_StandardsPage::findsTheVideo() {
    QFETCH(QString, html);
    QFETCH(QString, best);
    QFETCH(QString, kind);
    QFETCH(QString, player);
    QFETCH(bool, blob);
    const StandardsPage::Findings found = StandardsPage::Read(html, kPage);
    QCOMPARE(found.Candidates.isEmpty() ? QString() : found.Candidates.first().Address.toString(),
             best);
    QCOMPARE(found.Candidates.isEmpty() ? QString() : KindName(found.Candidates.first().Kind),
             kind);
    QCOMPARE(found.PlayerPages.isEmpty() ? QString() : found.PlayerPages.first().toString(),
             player);
    QCOMPARE(found.BlobSeen, blob);
}

void tst_StandardsPage::readsTheDetails_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("details"); // the six, in their order
    QTest::addColumn<QString>("thumbnail");
    QTest::addColumn<int>("duration");

    QTest::newRow("JSON-LD and Open Graph")
        << R"(<title>Site | Ignored</title><meta property="og:title" content="Storm &amp; Sea"><meta property="og:site_name" content="News">)" +
               LdJson(R"({"@type":"NewsArticle","author":{"@type":"Person","name":"Ann Writer"},
                 "video":{"@type":"VideoObject","name":"Other name","genre":["Weather"],
                 "description":"Waves.","uploadDate":"2024-03-01T10:00:00+01:00","duration":"PT2M5S",
                 "thumbnailUrl":["https://img.example/t.jpg"],
                 "interactionStatistic":[{"@type":"InteractionCounter","interactionType":"https://schema.org/LikeAction","userInteractionCount":5},
                   {"@type":"InteractionCounter","interactionType":{"@type":"WatchAction"},"userInteractionCount":"1,234"}],
                 "contentUrl":"https://cdn.example/v/clip.mp4"}})")
        << QStringList{"Storm & Sea", "Weather", "Ann Writer", "2024-03-01", "1234", "Waves."}
        << "https://img.example/t.jpg" << 125;
    QTest::newRow("Open Graph alone")
        << R"(<meta property="og:site_name" content="Clips"><meta name="description" content="Plain"><meta property="og:description" content="From og"><meta property="og:image" content="/t/1.png"><meta property="og:video:duration" content="61"><meta property="article:section" content="Sport"><meta property="article:published_time" content="2023-12-31">)"
        << QStringList{"", "Sport", "Clips", "2023-12-31", "", "From og"}
        << "https://news.example/t/1.png" << 61;
    QTest::newRow("a bare page: title and poster")
        << "<title>\n  A   walk\n</title><video poster='p.jpg' src='v.webm'></video>"
        << QStringList{"A walk", "", "", "", "", ""} << "https://news.example/story/p.jpg" << 0;
    QTest::newRow("an ImageObject thumbnail and no views of watching")
        << LdJson(
               R"({"@type":"VideoObject","name":"N","thumbnail":{"@type":"ImageObject","url":"https://img.example/i.jpg"},"interactionStatistic":{"interactionType":"LikeAction","userInteractionCount":9},"publisher":{"name":"Pub"}})")
        << QStringList{"N", "", "Pub", "", "", ""} << "https://img.example/i.jpg" << 0;
}

void tst_StandardsPage::readsTheDetails() {
    QFETCH(QString, html);
    QFETCH(QStringList, details);
    QFETCH(QString, thumbnail);
    QFETCH(int, duration);
    const StandardsPage::Findings found = StandardsPage::Read(html, kPage);
    const PageText::VideoPage& d = found.Details;
    QCOMPARE(
        (QStringList{d.VideoTitle, d.VideoCat, d.UserID, d.UploadDate, d.ViewCount, d.VideoDesc}),
        details);
    QCOMPARE(found.Thumbnail.toString(), thumbnail);
    QCOMPARE(found.DurationSeconds, duration);
}

void tst_StandardsPage::sniffsAnAnswer_data() {
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("extension");

    const QByteArray mp4 = QByteArray("\0\0\0\x18"
                                      "ftypisom",
                                      12);
    QTest::newRow("type alone") << QByteArray("Video/MP4; codecs=\"avc1\"") << QByteArray()
                                << "file"
                                << "mp4";
    QTest::newRow("HLS type") << QByteArray("application/vnd.apple.mpegurl") << QByteArray()
                              << "hls"
                              << "m3u8";
    QTest::newRow("HLS as audio/mpegurl") << QByteArray("audio/mpegurl") << QByteArray("x") << "hls"
                                          << "m3u8";
    QTest::newRow("DASH type") << QByteArray("application/dash+xml") << QByteArray() << "dash"
                               << "mpd";
    QTest::newRow("an unknown video type")
        << QByteArray("video/x-new") << QByteArray("\x01\x02") << "file"
        << "";
    QTest::newRow("playlist sent as text/html")
        << QByteArray("text/html") << QByteArray("\xEF\xBB\xBF\n#EXTM3U\n") << "hls"
        << "m3u8";
    QTest::newRow("MPD after prolog and comment")
        << QByteArray("application/octet-stream")
        << QByteArray("<?xml version=\"1.0\"?>\n<!-- made <here> -->\n<MPD xmlns=\"urn:mpeg\">")
        << "dash"
        << "mpd";
    QTest::newRow("<MPDX is no manifest") << QByteArray() << QByteArray("<MPDX>") << ""
                                          << "";
    QTest::newRow("MP4 as octet-stream") << QByteArray("application/octet-stream") << mp4 << "file"
                                         << "mp4";
    QTest::newRow("M4A brand") << QByteArray()
                               << QByteArray("\0\0\0\x18"
                                             "ftypM4A ",
                                             12)
                               << "file"
                               << "m4a";
    QTest::newRow("WebM") << QByteArray() << QByteArray("\x1A\x45\xDF\xA3\x9F\x42\x82\x84webm")
                          << "file"
                          << "webm";
    QTest::newRow("Matroska") << QByteArray() << QByteArray("\x1A\x45\xDF\xA3\x42\x82matroska")
                              << "file"
                              << "mkv";
    QTest::newRow("MPEG-TS") << QByteArray() << TransportPackets(3) << "file"
                             << "ts";
    QTest::newRow("one sync byte is no transport stream")
        << QByteArray() << TransportPackets(3).replace(376, 1, "\0", 1) << ""
        << "";
    QTest::newRow("FLV") << QByteArray("text/plain") << QByteArray("FLV\x01\x05") << "file"
                         << "flv";
    QTest::newRow("MP3 with ID3") << QByteArray() << QByteArray("ID3\x04\0") << "file"
                                  << "mp3";
    QTest::newRow("MP3 frame") << QByteArray() << QByteArray("\xFF\xFB\x90\x64\0", 5) << "file"
                               << "mp3";
    QTest::newRow("a bad frame is no MP3")
        << QByteArray() << QByteArray("\xFF\xFB\xF0\x64", 4) << ""
        << "";
    QTest::newRow("Ogg") << QByteArray() << QByteArray("OggS\0\x02", 6) << "file"
                         << "ogg";
    // A server that says video but sends a page: the page is read, not saved.
    QTest::newRow("a page sent as video/mp4")
        << QByteArray("video/mp4") << QByteArray("  <!DOCTYPE html><html>") << ""
        << "";
    QTest::newRow("JSON sent as video/mp4")
        << QByteArray("video/mp4") << QByteArray("{\"e\":1}") << ""
        << "";
    QTest::newRow("a page") << QByteArray("text/html; charset=utf-8") << QByteArray("<html>") << ""
                            << "";
}

void tst_StandardsPage::sniffsAnAnswer() {
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, kind);
    QFETCH(QString, extension);
    const MediaSniff::Media media = MediaSniff::Sniff(contentType, bytes);
    QCOMPARE(KindName(media.Kind), kind);
    QCOMPARE(media.Extension, extension);
}

void tst_StandardsPage::isoDurations_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");
    QTest::newRow("hours minutes seconds") << "PT1H2M3S" << 3723;
    QTest::newRow("fraction") << "PT90.5S" << 90;
    QTest::newRow("days") << "P1DT1S" << 86401;
    QTest::newRow("lower case") << "pt5m" << 300;
    QTest::newRow("M before T is months") << "P1M" << 0;
    QTest::newRow("years") << "P1Y" << 0;
    QTest::newRow("clock text") << "1:30" << 0;
    QTest::newRow("empty time") << "PT" << 0;
    QTest::newRow("a number without unit") << "PT15" << 0;
    QTest::newRow("absurdly long") << "PT99999999999S" << 0;
}

void tst_StandardsPage::isoDurations() {
    QFETCH(QString, text);
    QFETCH(int, seconds);
    QCOMPARE(JsonLdMedia::IsoDurationSeconds(text), seconds);
}

void tst_StandardsPage::manifestOffersMoreOnlyByDeclaredValues() {
    MediaCandidate file;
    QVERIFY(!MediaChoice::ManifestOffersMore(file, 2160, 20000000)); // the file declares nothing
    file.Height = 720;
    QVERIFY(MediaChoice::ManifestOffersMore(file, 1080, 0));
    QVERIFY(!MediaChoice::ManifestOffersMore(file, 480, 9000000));
    file.Bitrate = 3000000;
    QVERIFY(MediaChoice::ManifestOffersMore(file, 720, 4000000));
    QVERIFY(!MediaChoice::ManifestOffersMore(file, 720, 3000000));
}

void tst_StandardsPage::entitiesDecoded() {
    QCOMPARE(HtmlScanner::DecodeEntities(u"a&amp;b&#38;c&#x26;d&#x1F600;&bogus;&amp&#0;&lt;"),
             QString::fromUtf8("a&b&c&d\xF0\x9F\x98\x80&bogus;&amp\xEF\xBF\xBD<"));
}

QTEST_APPLESS_MAIN(tst_StandardsPage)
#include "tst_StandardsPage.moc"
