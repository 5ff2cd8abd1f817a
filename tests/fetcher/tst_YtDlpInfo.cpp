#include "YtDlpInfo.h"
#include "YtDlpOutput.h"

#include <QtTest>

class tst_YtDlpInfo : public QObject {
    Q_OBJECT
private slots:
    void siteAnswerIsRead();
    void refusedAnswers_data();
    void refusedAnswers();
    void defaultChoice_data();
    void defaultChoice();
    void errorLinesKeepTheReason_data();
    void errorLinesKeepTheReason();
    void progressLines_data();
    void progressLines();
    void updateHintForOldVersions_data();
    void updateHintForOldVersions();
};

// moc loses its way in a raw string of several lines, so the class is declared first.
namespace {

// A site reader's answer with a picture-only and a sound-only pair above a format with both.
const QByteArray kSiteAnswer = R"({
  "extractor": "vimeo", "extractor_key": "Vimeo",
  "title": "Harbour at dusk", "uploader": "Ana", "upload_date": "20230304",
  "view_count": 1234, "categories": ["Travel", "Film"], "description": "Boats.\nMore boats.",
  "thumbnail": "https://i.example/t.jpg", "duration": 61.6,
  "formats": [
    {"format_id": "18", "protocol": "https", "url": "https://v.example/18.mp4", "ext": "mp4",
     "vcodec": "avc1", "acodec": "mp4a", "height": 360, "tbr": 500, "filesize": 9000},
    {"format_id": "hls-720", "protocol": "m3u8_native", "url": "https://v.example/720.m3u8",
     "vcodec": "avc1", "acodec": "none", "height": 720, "tbr": 2500,
     "http_headers": {"User-Agent": "UA/1", "Referer": "https://site.example/v",
                      "Cookie": "a=b", "X-Bad": "x\r\nInjected: 1"}},
    {"format_id": "dash-a", "protocol": "http_dash_segments", "url": "https://v.example/a.mpd",
     "vcodec": "none", "acodec": "opus", "tbr": 128, "filesize_approx": 500,
     "fragment_base_url": "https://v.example/a/",
     "fragments": [{"path": "1.m4s", "duration": 2}, {"url": "https://w.example/2.m4s"}]},
    {"format_id": "1080", "protocol": "rtmp", "url": "rtmp://v.example/live", "height": 1080},
    {"format_id": "file", "protocol": "https", "url": "file:///etc/passwd", "height": 2160}
  ]})";

} // namespace

void tst_YtDlpInfo::siteAnswerIsRead() {
    const std::optional<YtDlpInfo> info = YtDlpInfo::Parse(kSiteAnswer);
    QVERIFY(info);
    QVERIFY(info->FromSiteReader());
    QCOMPARE(info->Details.VideoTitle, "Harbour at dusk");
    QCOMPARE(info->Details.VideoCat, "Travel, Film");
    QCOMPARE(info->Details.UserID, "Ana");
    QCOMPARE(info->Details.UploadDate, "2023-03-04");
    QCOMPARE(info->Details.ViewCount, "1234");
    QCOMPARE(info->Details.VideoDesc, "Boats.\nMore boats.");
    QCOMPARE(info->Thumbnail, QUrl("https://i.example/t.jpg"));
    QCOMPARE(info->DurationSeconds, 62);
    QCOMPARE(info->Formats.size(), 5);

    const YtDlpFormat& hls = info->Formats[1];
    QCOMPARE(hls.Via, YtDlpFormat::Transport::Hls);
    QVERIFY(hls.HasVideo && !hls.HasAudio);
    QCOMPARE(hls.BitsPerSecond, 2500000);
    // The header that would smuggle a second line into the request is dropped.
    QCOMPARE(hls.HttpHeaders.size(), 3);
    for (const auto& header : hls.HttpHeaders)
        QVERIFY(header.first != "X-Bad");

    const YtDlpFormat& sound = info->Formats[2];
    QVERIFY(!sound.HasVideo && sound.HasAudio && sound.FetchedByUs());
    QCOMPARE(sound.ByteSize, 500);
    QVERIFY(sound.ByteSizeApproximate);
    QCOMPARE(sound.Fragments.size(), 2);
    QCOMPARE(sound.Fragments[0].Address, QUrl("https://v.example/a/1.m4s"));
    QCOMPARE(sound.Fragments[1].Address, QUrl("https://w.example/2.m4s"));

    // rtmp is yt-dlp's to fetch; a file: address is nobody's.
    QVERIFY(!info->Formats[3].FetchedByUs());
    QCOMPARE(info->Formats[3].Via, YtDlpFormat::Transport::Other);
    QVERIFY(info->Formats[4].Address.isEmpty());
    QVERIFY(!info->Formats[4].FetchedByUs());
}

void tst_YtDlpInfo::refusedAnswers_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("fetchedByUs"); // formats our downloader would take

    QTest::newRow("generic single format on the video itself")
        << QByteArray(R"({"extractor":"generic","url":"http://a.example/v.mp4","protocol":"http"})")
        << true << 1;
    QTest::newRow("not an object") << QByteArray("[1,2]") << false << 0;
    QTest::newRow("not json") << QByteArray("ERROR: nope") << false << 0;
    QTest::newRow("nested past the limit")
        << QByteArray("{\"a\":") + QByteArray(40, '[') + QByteArray(40, ']') + "}" << false << 0;
    QTest::newRow("brackets inside strings do not count")
        << QByteArray("{\"title\":\"") + QByteArray(100, '[') + "\"}" << true << 0;
    QTest::newRow("oversized") << QByteArray("{\"title\":\"") +
                                      QByteArray(YtDlpInfo::MaxJsonBytes, 'x') + "\"}"
                               << false << 0;
    QTest::newRow("a fragment off the web leaves the stream to yt-dlp")
        << QByteArray(R"({"formats":[{"protocol":"http_dash_segments","url":"https://a.example/m",)"
                      R"("fragments":[{"url":"https://a.example/1"},{"url":"file:///x"}]}]})")
        << true << 0;
    QTest::newRow("javascript and data addresses")
        << QByteArray(R"({"formats":[{"protocol":"https","url":"javascript:void0"},)"
                      R"({"protocol":"http","url":"data:video/mp4,xx"}]})")
        << true << 0;
}

void tst_YtDlpInfo::refusedAnswers() {
    QFETCH(QByteArray, json);
    QFETCH(bool, read);
    QFETCH(int, fetchedByUs);
    const std::optional<YtDlpInfo> info = YtDlpInfo::Parse(json);
    QCOMPARE(info.has_value(), read);
    if (!info)
        return;
    QVERIFY(!info->FromSiteReader());
    int ours = 0;
    for (const YtDlpFormat& format : info->Formats)
        ours += format.FetchedByUs() ? 1 : 0;
    QCOMPARE(ours, fetchedByUs);
}

void tst_YtDlpInfo::defaultChoice_data() {
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<bool>("ourOnly");
    QTest::addColumn<QString>("video");
    QTest::addColumn<QString>("audio");

    // The 1080 rtmp stream ranks highest but only yt-dlp fetches it; the 2160 file: is no one's.
    QTest::newRow("any height") << 0 << false << "1080"
                                << "";
    QTest::newRow("ours only: the 720 picture with the best sound") << 0 << true << "hls-720"
                                                                    << "dash-a";
    QTest::newRow("within 480: the format with both") << 480 << false << "18"
                                                      << "";
    QTest::newRow("nothing under 240: the lowest picture") << 240 << false << "18"
                                                           << "";
}

void tst_YtDlpInfo::defaultChoice() {
    QFETCH(int, maxHeight);
    QFETCH(bool, ourOnly);
    QFETCH(QString, video);
    QFETCH(QString, audio);
    const YtDlpInfo info = *YtDlpInfo::Parse(kSiteAnswer);
    const YtDlpChoice choice = info.ChooseDefault(maxHeight, ourOnly);
    QCOMPARE(choice.Video < 0 ? QString() : info.Formats[choice.Video].FormatId, video);
    QCOMPARE(choice.Audio < 0 ? QString() : info.Formats[choice.Audio].FormatId, audio);
}

void tst_YtDlpInfo::errorLinesKeepTheReason_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("reason");
    using F = YtDlpOutput::Failure;

    QTest::newRow("private")
        << QByteArray("ERROR: [youtube] abc: Private video. Sign in if you've "
                      "been granted access to this video")
        << int(F::Private) << "Private video. Sign in if you've been granted access to this video";
    QTest::newRow("region") << QByteArray("ERROR: [x] 1: The uploader has not made this video "
                                          "available in your country")
                            << int(F::RegionBlocked)
                            << "The uploader has not made this video available in your country";
    QTest::newRow("sign in") << QByteArray("ERROR: [x] 1: Sign in to confirm your age")
                             << int(F::SignInRequired) << "Sign in to confirm your age";
    QTest::newRow("removed") << QByteArray("ERROR: [x] 1: Video unavailable. This video has been "
                                           "removed by the uploader")
                             << int(F::Removed)
                             << "Video unavailable. This video has been removed by the uploader";
    QTest::newRow("unsupported") << QByteArray("ERROR: Unsupported URL: http://a.example/")
                                 << int(F::Unsupported) << "Unsupported URL: http://a.example/";
    QTest::newRow("network, bug plea and cause cut")
        << QByteArray("ERROR: [generic] None: Unable to download webpage: <urlopen error [Errno "
                      "111] Connection refused> (caused by URLError(111)); please report this")
        << int(F::Network)
        << "Unable to download webpage: <urlopen error [Errno 111] Connection "
           "refused>";
    QTest::newRow("control characters go")
        << QByteArray("ERROR: odd\x1b[31m thing\x07") << int(F::Other) << "odd[31m thing";
    QTest::newRow("not an error line") << QByteArray("WARNING: [generic] Falling back") << -1 << "";
}

void tst_YtDlpInfo::errorLinesKeepTheReason() {
    QFETCH(QByteArray, line);
    QFETCH(int, kind);
    QFETCH(QString, reason);
    const auto error = YtDlpOutput::ErrorOfLine(line);
    QCOMPARE(error.has_value(), kind >= 0);
    if (!error)
        return;
    QCOMPARE(int(error->Kind), kind);
    QCOMPARE(error->Reason, reason);
    const QString text = YtDlpOutput::FailureText(*error, "https://a.example/v");
    QVERIFY(text.contains("https://a.example/v"));
    QVERIFY(text.endsWith("(yt-dlp: " + reason + ")"));
}

void tst_YtDlpInfo::progressLines_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("read");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<int>("eta");
    QTest::addColumn<bool>("finished");

    QTest::newRow("known total")
        << QByteArray("vantelo-progress 1047552 3000000 NA 45508467.7 2 downloading") << true
        << qint64(1047552) << qint64(3000000) << 2 << false;
    QTest::newRow("estimate only") << QByteArray("vantelo-progress 10 NA 400.5 NA NA downloading")
                                   << true << qint64(10) << qint64(400) << -1 << false;
    QTest::newRow("finished") << QByteArray("vantelo-progress 5 5 NA 1 NA finished") << true
                              << qint64(5) << qint64(5) << -1 << true;
    QTest::newRow("negative bytes") << QByteArray("vantelo-progress -5 5 NA 1 NA downloading")
                                    << false << qint64(0) << qint64(0) << 0 << false;
    QTest::newRow("too few fields")
        << QByteArray("vantelo-progress 5 5") << false << qint64(0) << qint64(0) << 0 << false;
    QTest::newRow("yt-dlp's own line") << QByteArray("[download]  10.0% of 3.00MiB") << false
                                       << qint64(0) << qint64(0) << 0 << false;
}

void tst_YtDlpInfo::progressLines() {
    QFETCH(QByteArray, line);
    QFETCH(bool, read);
    const auto progress = YtDlpOutput::ParseProgressLine(line);
    QCOMPARE(progress.has_value(), read);
    if (!progress)
        return;
    QTEST(progress->Bytes, "bytes");
    QTEST(progress->Total, "total");
    QTEST(progress->SecondsLeft, "eta");
    QTEST(progress->Finished, "finished");
}

void tst_YtDlpInfo::updateHintForOldVersions_data() {
    QTest::addColumn<QString>("version");
    QTest::addColumn<bool>("hint");
    const QDate today(2024, 6, 1);
    QTest::newRow("Debian 12's") << "2023.03.04" << true;
    QTest::newRow("a rebuild of an old one") << "2021.12.27.1" << true;
    QTest::newRow("exactly a year") << today.addYears(-1).toString("yyyy.MM.dd") << false;
    QTest::newRow("recent") << "2024.05.27" << false;
    QTest::newRow("no date") << "master-nightly" << false;
    QTest::newRow("impossible date") << "2023.02.30" << false;
}

void tst_YtDlpInfo::updateHintForOldVersions() {
    QFETCH(QString, version);
    QFETCH(bool, hint);
    const QString text = YtDlpOutput::UpdateHint(version, QDate(2024, 6, 1));
    QCOMPARE(!text.isEmpty(), hint);
    if (hint) {
        QVERIFY(text.contains(version));
        QVERIFY(text.contains("backports") && text.contains("pipx"));
    }
}

QTEST_APPLESS_MAIN(tst_YtDlpInfo)
#include "tst_YtDlpInfo.moc"
