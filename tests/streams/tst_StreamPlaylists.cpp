#include "DashManifest.h"
#include "HlsPlaylist.h"

#include <QtTest>

using namespace Streams;

namespace {

const QUrl kPlaylist("http://cdn.example/v/index.m3u8");
const QUrl kManifest("http://cdn.example/d/manifest.mpd");

// A plan in a line per track: "video 1280x720 2000000 | init ... | seg ..." and a word for a
// refusal. Addresses are shown relative to the host.
QString Summary(const Plan& plan) {
    switch (plan.refusal) {
    case Refusal::Live:
        return "live";
    case Refusal::Drm:
        return "drm";
    case Refusal::Unreadable:
        return "unreadable: " + plan.problem;
    case Refusal::None:
        break;
    }
    const auto piece = [](const Segment& s) {
        QString text = s.url.path();
        if (s.IsRange())
            text += QStringLiteral("@%1+%2").arg(s.offset).arg(s.length);
        if (s.duration > 0)
            text += QStringLiteral(" %1-%2").arg(s.start).arg(s.start + s.duration);
        if (s.keyIndex >= 0)
            text +=
                QStringLiteral(" key%1 iv%2").arg(s.keyIndex).arg(QString(s.iv.toHex()).right(4));
        if (s.discontinuity)
            text += " disc";
        return text;
    };
    QStringList lines;
    for (const Track& track : plan.tracks) {
        QStringList parts{
            QStringLiteral("%1 %2x%3 %4 %5")
                .arg(track.kind == TrackKind::Video ? "video" : "audio")
                .arg(track.width)
                .arg(track.height)
                .arg(track.bandwidth)
                .arg(track.playlist.isEmpty() ? track.codecs : track.playlist.path())};
        for (const Segment& init : track.inits)
            parts << "init " + piece(init);
        for (const Segment& segment : track.segments)
            parts << piece(segment);
        for (const Key& key : track.keys)
            parts << "key " + key.url.path();
        lines << parts.join(" | ");
    }
    return lines.join("\n");
}

} // namespace

class tst_StreamPlaylists : public QObject {
    Q_OBJECT
private slots:
    void hlsPlaylists_data();
    void hlsPlaylists();
    void dashManifests_data();
    void dashManifests();
    void defaultChoiceAndTexts();
};

void tst_StreamPlaylists::hlsPlaylists_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    const QByteArray head = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n";
    QTest::newRow("names without extensions, a discontinuity")
        << head + "#EXTINF:2.0,\nseg/a\n#EXT-X-DISCONTINUITY\n#EXTINF:1.5,\n/abs/b?x=1\n"
                  "#EXT-X-ENDLIST\n"
        << "video 0x0 0  | /v/seg/a 0-2 | /abs/b 2-3.5 disc";
    QTest::newRow("AES-128: IV from the sequence, else given; one key per address")
        << head + "#EXT-X-MEDIA-SEQUENCE:7\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1\"\n#EXTINF:2,\n"
                  "a.ts\n#EXTINF:2,\nb.ts\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1\",IV=0x1F\n"
                  "#EXTINF:2,\nc.ts\n#EXT-X-KEY:METHOD=NONE\n#EXTINF:2,\nd.ts\n#EXT-X-ENDLIST\n"
        << "video 0x0 0  | /v/a.ts 0-2 key0 iv0007 | /v/b.ts 2-4 key0 iv0008 | "
           "/v/c.ts 4-6 key0 iv001f | /v/d.ts 6-8 | key /v/k1";
    QTest::newRow("byte ranges continue the file; an initialisation map")
        << head + "#EXT-X-MAP:URI=\"all.mp4\",BYTERANGE=\"700@0\"\n#EXTINF:1,\n"
                  "#EXT-X-BYTERANGE:1000@700\nall.mp4\n#EXTINF:1,\n#EXT-X-BYTERANGE:500\n"
                  "all.mp4\n#EXT-X-ENDLIST\n"
        << "video 0x0 0  | init /v/all.mp4@0+700 | /v/all.mp4@700+1000 0-1 | "
           "/v/all.mp4@1700+500 1-2";
    QTest::newRow("a byte order mark before #EXTM3U")
        << "\xEF\xBB\xBF" + head + "#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n"
        << "video 0x0 0  | /v/a.ts 0-2";
    QTest::newRow("live: no end") << head + "#EXTINF:2,\na.ts\n"
                                  << "live";
    QTest::newRow("SAMPLE-AES") << head + "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\n#EXTINF:2,\n"
                                          "a.ts\n#EXT-X-ENDLIST\n"
                                << "drm";
    QTest::newRow("skd key, live too") << head + "#EXT-X-KEY:METHOD=AES-128,URI=\"skd://x\"\n"
                                                 "#EXTINF:2,\na.ts\n"
                                       << "drm";
    QTest::newRow("key format of a DRM system")
        << head + "#EXT-X-KEY:METHOD=AES-128,URI=\"k\",KEYFORMAT=\"com.apple.streamingkeydelivery\""
                  "\n#EXTINF:2,\na.ts\n#EXT-X-ENDLIST\n"
        << "drm";
    QTest::newRow("a segment elsewhere than the web")
        << head + "#EXTINF:2,\nfile:///etc/passwd\n#EXT-X-ENDLIST\n"
        << "unreadable: it names an address that is not http or https";
    QTest::newRow("a range without a start")
        << head + "#EXTINF:2,\n#EXT-X-BYTERANGE:10\na.ts\n#EXT-X-ENDLIST\n"
        << "unreadable: a byte range has no start";
    QTest::newRow("not a playlist")
        << QByteArray("<html>") << "unreadable: it is not an HLS playlist";
    QTest::newRow("master: variants and audio renditions")
        << QByteArray("#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"en\",DEFAULT=YES,"
                      "URI=\"a/en.m3u8\"\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"in\"\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=800000,RESOLUTION=640x360,CODECS=\"avc1.4d401e,"
                      "mp4a.40.2\",AUDIO=\"aac\"\nlow.m3u8\n"
                      "#EXT-X-STREAM-INF:BANDWIDTH=3000000,RESOLUTION=1280x720,AUDIO=\"aac\"\n"
                      "hd/index.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.5\"\n"
                      "audio-only.m3u8\n")
        << "video 640x360 800000 /v/low.m3u8\nvideo 1280x720 3000000 /v/hd/index.m3u8\n"
           "audio 0x0 64000 /v/audio-only.m3u8\naudio 0x0 0 /v/a/en.m3u8";
}

void tst_StreamPlaylists::hlsPlaylists() {
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(Summary(HlsPlaylist::Read(text, kPlaylist)), expected);
}

void tst_StreamPlaylists::dashManifests_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");
    const auto mpd = [](const QByteArray& attributes, const QByteArray& period) {
        return "<?xml version=\"1.0\"?><MPD xmlns=\"urn:mpeg:dash:schema:mpd:2011\" " + attributes +
               "><BaseURL>media/</BaseURL><Period>" + period + "</Period></MPD>";
    };
    const QByteArray whole = "type=\"static\" mediaPresentationDuration=\"PT5S\"";
    QTest::newRow("template with a timeline, widths, identifiers, base at each level")
        << mpd(whole,
               "<AdaptationSet contentType=\"video\" width=\"320\" height=\"180\">"
               "<BaseURL>v/</BaseURL><SegmentTemplate timescale=\"10\" startNumber=\"3\" "
               "initialization=\"$RepresentationID$/init.mp4\" "
               "media=\"$RepresentationID$_$Bandwidth$/$Number%04d$-$Time$.m4s\">"
               "<SegmentTimeline><S t=\"0\" d=\"20\" r=\"1\"/><S d=\"10\"/></SegmentTimeline>"
               "</SegmentTemplate><Representation id=\"hd\" bandwidth=\"900\" codecs=\"avc1\"/>"
               "</AdaptationSet>")
        << "video 320x180 900 avc1 | init /d/media/v/hd/init.mp4 | "
           "/d/media/v/hd_900/0003-0.m4s 0-2 | /d/media/v/hd_900/0004-20.m4s 2-4 | "
           "/d/media/v/hd_900/0005-40.m4s 4-5";
    QTest::newRow("template by duration, repeat to the end, separate audio")
        << mpd(whole,
               "<AdaptationSet mimeType=\"audio/mp4\"><SegmentTemplate duration=\"2\" "
               "media=\"a$Number$.m4s\"/><Representation id=\"a\" bandwidth=\"64\">"
               "<BaseURL>http://other.example/x/</BaseURL></Representation></AdaptationSet>"
               "<AdaptationSet contentType=\"video\"><Representation id=\"v\" bandwidth=\"1\">"
               "<SegmentTemplate timescale=\"2\" media=\"v$Number$\"><SegmentTimeline>"
               "<S d=\"4\" r=\"-1\"/></SegmentTimeline></SegmentTemplate></Representation>"
               "</AdaptationSet>")
        << "audio 0x0 64  | /x/a1.m4s 0-2 | /x/a2.m4s 2-4 | /x/a3.m4s 4-6\n"
           "video 0x0 1  | /d/media/v1 0-2 | /d/media/v2 2-4 | /d/media/v3 4-6";
    QTest::newRow("segment list with ranges; a single file")
        << mpd(whole,
               "<AdaptationSet contentType=\"video\"><Representation id=\"1\" bandwidth=\"5\">"
               "<BaseURL>one.mp4</BaseURL><SegmentList duration=\"2\"><Initialization "
               "range=\"0-99\"/><SegmentURL mediaRange=\"100-199\"/><SegmentURL media=\"b.mp4\"/>"
               "</SegmentList></Representation><Representation id=\"2\" bandwidth=\"9\">"
               "<BaseURL>whole.mp4</BaseURL><SegmentBase indexRange=\"0-10\"/>"
               "</Representation></AdaptationSet>")
        << "video 0x0 5  | init /d/media/one.mp4@0+100 | /d/media/one.mp4@100+100 0-2 | "
           "/d/media/b.mp4 2-4\nvideo 0x0 9  | /d/media/whole.mp4 0-5";
    QTest::newRow("dynamic") << mpd("type=\"dynamic\"", "") << "live";
    QTest::newRow("content protection")
        << mpd(whole, "<AdaptationSet contentType=\"video\"><ContentProtection schemeIdUri=\"x\"/>"
                      "<Representation id=\"1\"/></AdaptationSet>")
        << "drm";
    QTest::newRow("an unknown identifier")
        << mpd(whole, "<AdaptationSet contentType=\"video\"><SegmentTemplate duration=\"1\" "
                      "media=\"$Frame$\"/><Representation id=\"1\"/></AdaptationSet>")
        << "unreadable: a segment address template is unreadable";
    QTest::newRow("a timeline that never ends")
        << mpd("type=\"static\"", "<AdaptationSet contentType=\"video\"><SegmentTemplate "
                                  "media=\"$Number$\"><SegmentTimeline><S d=\"1\" r=\"-1\"/>"
                                  "</SegmentTimeline></SegmentTemplate><Representation id=\"1\"/>"
                                  "</AdaptationSet>")
        << "unreadable: a segment timeline is unreadable";
    QTest::newRow("broken XML") << QByteArray("<MPD><Period>") << "unreadable: it is no manifest";
}

void tst_StreamPlaylists::dashManifests() {
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);
    QCOMPARE(Summary(DashManifest::Read(text, kManifest)), expected);
}

void tst_StreamPlaylists::defaultChoiceAndTexts() {
    const QByteArray master =
        "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"lo\",NAME=\"x\",URI=\"lo.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"hi\",NAME=\"a\",URI=\"a.m3u8\"\n"
        "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"hi\",NAME=\"b\",DEFAULT=YES,URI=\"b.m3u8\"\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=1,RESOLUTION=1920x1080,AUDIO=\"hi\"\n1080.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=2,RESOLUTION=640x360,AUDIO=\"lo\"\n360.m3u8\n";
    const Plan plan = HlsPlaylist::Read(master, kPlaylist);
    const auto chosen = [&](int maxHeight) {
        const Choice choice = Choose(plan, maxHeight);
        return plan.tracks.value(choice.video).playlist.path() + ' ' +
               plan.tracks.value(choice.audio).playlist.path();
    };
    QCOMPARE(chosen(0), "/v/1080.m3u8 /v/b.m3u8");
    QCOMPARE(chosen(720), "/v/360.m3u8 /v/lo.m3u8");
    QCOMPARE(chosen(100), "/v/360.m3u8 /v/lo.m3u8");

    Plan live;
    live.refusal = Refusal::Live;
    QCOMPARE(RefusalText(live, kPlaylist),
             "http://cdn.example/v/index.m3u8 is a live stream, which cannot be saved as a file");
    Segment late;
    late.start = 3725.5;
    late.duration = 2;
    QCOMPARE(SegmentFailureText(12, late, "404 Not Found"),
             "Segment 12 (1:02:05–1:02:08) could not be fetched: 404 Not Found");
}

QTEST_APPLESS_MAIN(tst_StreamPlaylists)
#include "tst_StreamPlaylists.moc"
