#include "FetcherTestSupport.h"
#include "LoopbackHttpServer.h"
#include "PartFile.h"
#include "PeakMemory.h"
#include "Redirects.h"
#include "TestHome.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <csignal>
#include <memory>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using Response = LoopbackHttpServer::Response;
using Ending = LoopbackHttpServer::Ending;
using Framing = LoopbackHttpServer::Framing;
Q_DECLARE_METATYPE(LoopbackHttpServer::Response)

namespace {

const QString VideoAddress = QStringLiteral("http://www.youtube.com/watch?v=abc123");
const QString StreamTarget =
    QStringLiteral("http://www.youtube.com/get_video.php?video_id=VID123&t=TOK456");
const QString TargetName = QStringLiteral("Cats  Dogs the movie.flv");
const QString ExpectedVideoData =
    QStringLiteral("VideoData|Cats  Dogs the movie|Pets &amp; Animals|catlover|March 3, "
                   "2008|12,345|Two cats meet a dog.");

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The most memory the process has held since the last reset (Linux's VmHWM).
qint64 PeakResidentBytes() {
    return std::max<qint64>(0, PeakResidentKb()) * 1024;
}

// Starts a new peak at the memory held now.
void ResetPeakResidentBytes() {
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    if (clearRefs.open(QIODevice::WriteOnly))
        clearRefs.write("5");
}

Response Cut(Response response, Ending ending, qint64 after) {
    response.ending = ending;
    response.endAfter = after;
    return response;
}

// Lowers the largest file this process may write, for the duration of one test.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
    rlimit saved_{};
};

} // namespace

class tst_Nabrix : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeLifecycleInOrder();
    void requestsCarryTheHeadersInOrder();
    void doubledSchemeIsRepaired();
    void invalidUrlDoesNothingElse_data();
    void invalidUrlDoesNothingElse();
    void addressWithoutSchemeReportsTheFailedRequest();
    void linksInTheOutputFolderAreNotFollowed_data();
    void linksInTheOutputFolderAreNotFollowed();
    void thumbnailIdIsEscaped();
    void pageDecodedByItsCharset();
    void hostileTitlesStayInTheOutputFolder_data();
    void hostileTitlesStayInTheOutputFolder();

    void existingFileIsReplaced_data();
    void existingFileIsReplaced();
    void streamWithoutContentLengthUsesThePageLength();
    void chunkedPageAndStream();
    void streamFollowsRedirectsPageDoesNot();
    void streamRedirectsEndAtTheHopLimitOrAnUnsafeScheme();
    void compressedAnswersCountAsSent();

    void pageErrorStatusRaisesInfoError();
    void pageDroppedHalfWayRaisesInfoError();
    void stalledPageTimesOut();
    void tricklingPageMeetsItsDeadline();
    void oversizedPageIsNoVideoPage();
    void secondRequestReplacesTheFirstPage();

    void streamErrorStatusLeavesTheOldFile();
    void onlyASuccessWithDataReplacesTheFile_data();
    void onlyASuccessWithDataReplacesTheFile();
    void lyingLengthsAreErrors_data();
    void lyingLengthsAreErrors();
    void unreadableAnswersAreNamed_data();
    void unreadableAnswersAreNamed();
    void brokenStreamResumes_data();
    void brokenStreamResumes();
    void streamThatKeepsBreakingEndsInOneError_data();
    void streamThatKeepsBreakingEndsInOneError();
    void leftoverPartIsContinuedOnlyWhenItsNoteMatches();
    void leftoverPartsNotToContinueStartOver_data();
    void leftoverPartsNotToContinueStartOver();
    void outputFolderChangesBeforeTheEnd_data();
    void outputFolderChangesBeforeTheEnd();
    void stalledStreamIsTriedAgain();
    void clearDownloadAfterCompletionIsSilent();
    void clearDownloadMidTransferKeepsThePartialFile();
    void missingOutputFolderFailsTheDownload();
    void partNameTakenByNoPlainFileIsLeftAlone_data();
    void partNameTakenByNoPlainFileIsLeftAlone();
    void writeFailureStopsTheDownload();

private:
    void servePage(const VideoPageText& page = VideoPageText());
    void serveStream(const Response& response) { server_.route("/get_video.php", response); }
    QString target() const { return out_->path() + QLatin1Char('/') + TargetName; }
    QString part() const { return target() + QStringLiteral(".part"); }
    int streamRequests() const;
    void fetch(const QString& address) { host_.Fetch(*nabrix_, address); }
    // Starts the usual video and waits for the end of its transfer, either way.
    void downloadVideo();

    // The Trash that earlier files go to lives in here.
    TestHome home_;
    LoopbackHttpServer server_;
    TestNabrixHost host_;
    std::unique_ptr<QTemporaryDir> out_;
    std::unique_ptr<Nabrix> nabrix_;
    std::unique_ptr<EventLog> log_;
};

void tst_Nabrix::initTestCase() {
    QVERIFY(server_.listen());
    // The server is the proxy, as for a user behind one: no request leaves the machine.
    for (const char* name : {"HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
        qunsetenv(name);
    qputenv("http_proxy", server_.proxyAddress());
}

void tst_Nabrix::init() {
    out_ = std::make_unique<QTemporaryDir>();
    host_ = TestNabrixHost();
    host_.folder = out_->path();
    server_.clearRoutes();
    server_.clearRequests();
    nabrix_ = std::make_unique<Nabrix>();
    // Retries wait 10, 20, 40... milliseconds here instead of seconds.
    nabrix_->setRetryWait(10);
    host_.Attach(*nabrix_);
    log_ = std::make_unique<EventLog>(*nabrix_);
}

void tst_Nabrix::cleanup() {
    log_.reset();
    nabrix_.reset();
    out_.reset();
}

void tst_Nabrix::servePage(const VideoPageText& page) {
    server_.route("/watch", Response::Fixed(page.html().toUtf8(), "text/html; charset=utf-8"));
}

int tst_Nabrix::streamRequests() const {
    int count = 0;
    for (const auto& request : server_.requests())
        count += request.url().path() == QLatin1String("/get_video.php");
    return count;
}

void tst_Nabrix::downloadVideo() {
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("DownloadComplete") || log_->contains("DownloadError"));
}

void tst_Nabrix::wholeLifecycleInOrder() {
    const int pageLength = VideoPageText().html().toUtf8().size();
    QCOMPARE(nabrix_->stallTimeout(), 30000);
    servePage();
    serveStream(Response::Generated(300000));
    downloadVideo();

    QCOMPARE(log_->folded(), QStringList({
                                 QStringLiteral("InfoProgress 0 %1").arg(pageLength),
                                 QStringLiteral("DownloadProgress ... %1 %1").arg(pageLength),
                                 "DownloadProgress 0 1",
                                 ExpectedVideoData,
                                 "DownloadProgress 0 300000",
                                 "DownloadProgress ... 300000 300000",
                                 "DownloadProgress 0 1",
                                 "DownloadComplete",
                             }));
    // The video's progress is told apart from the page's by the phase begun before it.
    const int videoStart = log_->all().indexOf("DownloadProgress 0 300000");
    QCOMPARE(log_->phases(),
             QStringList({"Page at 0", QStringLiteral("Video at %1").arg(videoStart)}));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 300000));
    QCOMPARE(host_.previews,
             QStringList({"about:<html><body scroll='no'></body></html>",
                          "about:<html><body scroll='no' topmargin=0 leftmargin=0><img "
                          "src='http://img.youtube.com/vi/abc123/default.jpg' width=180 "
                          "height=147></img></body></html>"}));
    QCOMPARE(host_.paneShown, 1);
    QCOMPARE(host_.folderReads, 1);
    const auto requests = server_.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[0].target, VideoAddress.toLatin1());
    QCOMPARE(requests[1].target, StreamTarget.toLatin1());
}

void tst_Nabrix::requestsCarryTheHeadersInOrder() {
    servePage();
    serveStream(Response::Generated(1000));
    downloadVideo();

    const auto requests = server_.requests();
    QCOMPARE(requests.size(), 2);
    for (const auto& request : requests) {
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.version, QByteArray("HTTP/1.1"));
        QCOMPARE(request.header("Accept-Language"), QByteArray("en-us"));
        QCOMPARE(request.header("User-Agent"),
                 QByteArray("Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)"));
        QCOMPARE(request.header("Accept"), QByteArray("*/*"));
        QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
        const QList<QByteArray> names = request.headerNames();
        QVERIFY(names.indexOf("Accept-Language") < names.indexOf("User-Agent"));
        QVERIFY(names.indexOf("User-Agent") < names.indexOf("Accept"));
        QVERIFY(request.header("Upgrade").isEmpty());
    }
}

void tst_Nabrix::doubledSchemeIsRepaired() {
    servePage();
    serveStream(Response::Generated(1000));
    fetch(QStringLiteral("http://http://www.youtube.com/watch?v=abc123"));
    QTRY_VERIFY(log_->contains("DownloadComplete"));
    QCOMPARE(server_.requests().value(0).target, VideoAddress.toLatin1());
}

void tst_Nabrix::invalidUrlDoesNothingElse_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("no watch path") << "http://www.youtube.com/user/someone";
    QTest::newRow("path between") << "http://www.youtube.com/v/watch?v=abc";
    QTest::newRow("other letter case") << "http://www.YouTube.com/watch?v=abc";
    QTest::newRow("another page of the service") << "https://m.YouTube.com/results?q=abc";
    QTest::newRow("empty") << "";
}

void tst_Nabrix::invalidUrlDoesNothingElse() {
    QFETCH(QString, address);
    servePage();
    serveStream(Response::Generated(1000));
    fetch(address);
    QCOMPARE(log_->all(), QStringList({"InvalidUrl"}));
    QVERIFY(host_.previews.isEmpty());
    QCOMPARE(host_.paneShown, 0);

    // The next request the server sees is the next valid one's: none was made for the invalid.
    log_->clear();
    downloadVideo();
    QCOMPARE(server_.requests().value(0).target, VideoAddress.toLatin1());
}

void tst_Nabrix::addressWithoutSchemeReportsTheFailedRequest() {
    fetch(QStringLiteral("www.youtube.com/watch?v=abc123"));
    QCOMPARE(host_.paneShown, 1);
    QTRY_VERIFY(log_->contains("InfoError "));
    QCOMPARE(log_->all(), QStringList({"InfoError The address must begin with \"http://\". Type "
                                       "the whole address of the video page, for example "
                                       "http://www.youtube.com/watch?v=..."}));
}

void tst_Nabrix::linksInTheOutputFolderAreNotFollowed_data() {
    QTest::addColumn<QString>("linkName");
    // The link stays, and the video goes to a fresh "<name> (2).part" at once.
    QTest::newRow("named like the partial file") << TargetName + ".part";
    QTest::newRow("named like the final file") << TargetName;
}

void tst_Nabrix::linksInTheOutputFolderAreNotFollowed() {
    QFETCH(QString, linkName);
    // Dangling links, and one to the system's always full device.
    const QString outside = out_->path() + QStringLiteral("/outside.flv");
    const QString folder = out_->path() + QStringLiteral("/videos");
    QVERIFY(QDir().mkpath(folder));
    host_.folder = folder;
    for (const QString& pointee : {outside, QStringLiteral("/dev/full")}) {
        log_->clear();
        server_.clearRequests();
        QFile::remove(folder + '/' + linkName);
        QVERIFY(QFile::link(pointee, folder + '/' + linkName));
        servePage();
        serveStream(Response::Generated(5000));
        downloadVideo();
        QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
        QCOMPARE(streamRequests(), 1);
        QVERIFY(QFileInfo(folder + '/' + linkName).isSymLink());
        QVERIFY(!QFileInfo::exists(outside));
        if (linkName.endsWith(QStringLiteral(".part")))
            QCOMPARE(ReadAll(folder + '/' + TargetName),
                     LoopbackHttpServer::GeneratedBytes(0, 5000));
    }
}

void tst_Nabrix::thumbnailIdIsEscaped() {
    servePage();
    serveStream(Response::Generated(10));
    fetch(QStringLiteral("http://www.youtube.com/watch?v=x'><script>bad()</script>&feature=y"));
    QTRY_VERIFY(log_->contains("DownloadComplete"));
    QCOMPARE(host_.previews.size(), 2);
    QVERIFY(!host_.previews[1].contains(QStringLiteral("<script>")));
    QVERIFY(host_.previews[1].contains(
        QStringLiteral("/vi/x&#39;&gt;&lt;script&gt;bad()&lt;/script&gt;/default.jpg")));
}

void tst_Nabrix::pageDecodedByItsCharset() {
    VideoPageText page;
    page.title = QStringLiteral("YouTube - Caf\u00e9 cr\u00e8me \u20ac");
    QStringEncoder cp1252("windows-1252");
    const QByteArray body = cp1252(page.html());
    QVERIFY(body.contains("Caf\xe9"));
    server_.route("/watch", Response::Fixed(body, "text/html; charset=windows-1252"));
    serveStream(Response::Generated(100));
    downloadVideo();
    QVERIFY(log_->contains(QStringLiteral("VideoData|Caf\u00e9 cr\u00e8me \u20ac|")));
    QVERIFY(QFile::exists(out_->path() + QStringLiteral("/Caf\u00e9 cr\u00e8me \u20ac.flv")));
}

void tst_Nabrix::hostileTitlesStayInTheOutputFolder_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("fileName");
    QTest::newRow("NUL after a file's name")
        << QString::fromLatin1("YouTube - notes.txt\0", 20) << "notes.txt.flv";
    QTest::newRow("NUL after the shell's start-up file")
        << QString::fromLatin1(".bashrc\0 and more", 17) << "bashrc and more.flv";
    QTest::newRow("other controls")
        << QString::fromLatin1("notes\x01.txt\x1b\x7f\n", 13) << "notes.txt.flv";
    QTest::newRow("climbing out") << "../../notes.txt"
                                  << "notes.txt.flv";
    QTest::newRow("nothing left takes the video id") << ".. .."
                                                     << "abc123.flv";
    // The service's own pages keep their 20 characters, however long the title.
    QTest::newRow("a long title") << "YouTube - Harbour festival draws record crowds"
                                  << "Harbour festival dra.flv";
}

void tst_Nabrix::hostileTitlesStayInTheOutputFolder() {
    QFETCH(QString, title);
    QFETCH(QString, fileName);
    // The files a hostile title points at, in the output folder and above it.
    const QString folder = out_->path() + QStringLiteral("/videos");
    QVERIFY(QDir().mkpath(folder));
    host_.folder = folder;
    const QStringList prepared = {folder + "/notes.txt", folder + "/.bashrc",
                                  out_->path() + "/notes.txt"};
    for (const QString& path : prepared)
        WriteFile(path, "keep me");
    VideoPageText page;
    page.title = title;
    servePage(page);
    serveStream(Response::Generated(5000));
    downloadVideo();

    QVERIFY(log_->contains("DownloadComplete"));
    QCOMPARE(ReadAll(folder + '/' + fileName), LoopbackHttpServer::GeneratedBytes(0, 5000));
    for (const QString& path : prepared)
        QCOMPARE(ReadAll(path), QByteArray("keep me"));
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

void tst_Nabrix::existingFileIsReplaced_data() {
    QTest::addColumn<bool>("sameVideo");
    // The same video downloaded again: the earlier copy goes to the Trash.
    QTest::newRow("the same video again") << true;
    // Another video of the same 20 characters, or a file of the user's: it stays.
    QTest::newRow("a file of the user's") << false;
}

void tst_Nabrix::existingFileIsReplaced() {
    QFETCH(bool, sameVideo);
    const QString trash = home_.path() + "/.local/share/Trash";
    QDir(trash).removeRecursively();
    const QString trashed = trash + "/files/" + TargetName;
    const QByteArray earlier =
        sameVideo ? LoopbackHttpServer::GeneratedBytes(0, 4321) : QByteArray(500000, 'x');
    servePage();
    if (sameVideo) {
        serveStream(Response::Generated(4321));
        downloadVideo();
        QVERIFY(log_->contains("DownloadComplete"));
        log_->clear();
    } else {
        WriteFile(target(), earlier);
    }
    serveStream(Response::Generated(1234));
    downloadVideo();
    QVERIFY(log_->contains("DownloadComplete"));
    const QString saved = sameVideo ? target() : out_->path() + "/Cats  Dogs the movie (2).flv";
    QCOMPARE(nabrix_->TargetFile(), saved);
    QCOMPARE(ReadAll(saved), LoopbackHttpServer::GeneratedBytes(0, 1234));
    QCOMPARE(ReadAll(sameVideo ? trashed : target()), earlier);
    QCOMPARE(QFile::exists(trashed), sameVideo);
}

void tst_Nabrix::streamWithoutContentLengthUsesThePageLength() {
    const int pageLength = VideoPageText().html().toUtf8().size();
    servePage();
    Response stream = Response::Generated(200000);
    stream.framing = Framing::CloseDelimited;
    serveStream(stream);
    downloadVideo();
    const QStringList events = log_->folded();
    QCOMPARE(events.mid(3), QStringList({
                                ExpectedVideoData,
                                QStringLiteral("DownloadProgress 0 %1").arg(pageLength),
                                QStringLiteral("DownloadProgress ... 200000 %1").arg(pageLength),
                                "DownloadProgress 0 1",
                                "DownloadComplete",
                            }));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 200000));
}

void tst_Nabrix::chunkedPageAndStream() {
    const QByteArray html = VideoPageText().html().toUtf8();
    Response page = Response::Fixed(html, "text/html; charset=utf-8");
    page.framing = Framing::Chunked;
    server_.route("/watch", page);
    Response stream = Response::Generated(150000);
    stream.framing = Framing::Chunked;
    serveStream(stream);
    downloadVideo();
    // Nothing has given a length yet: both phases report against the first value, 0.
    QCOMPARE(log_->folded(), QStringList({
                                 "InfoProgress 0 0",
                                 QStringLiteral("DownloadProgress ... %1 0").arg(html.size()),
                                 "DownloadProgress 0 1",
                                 ExpectedVideoData,
                                 "DownloadProgress 0 0",
                                 "DownloadProgress ... 150000 0",
                                 "DownloadProgress 0 1",
                                 "DownloadComplete",
                             }));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 150000));
}

void tst_Nabrix::streamFollowsRedirectsPageDoesNot() {
    // The page's redirect answer is not the page: nothing is followed, nothing downloaded.
    Response page = Response::Status(301, "Moved Permanently", VideoPageText().html().toUtf8());
    page.headers.append({QByteArray("Location"), QByteArray("http://www.youtube.com/elsewhere")});
    server_.route("/watch", page);
    fetch(VideoAddress);
    QTRY_COMPARE(log_->all(), QStringList({"InfoError 301 Moved Permanently"}));
    QCOMPARE(server_.requests().size(), 1);

    log_->clear();
    server_.clearRequests();
    servePage();
    serveStream(Response::Redirect("http://www.youtube.com/media/one.flv"));
    server_.route("/media/one.flv", Response::Redirect("/media/two.flv", 307));
    server_.route("/media/two.flv", Response::Generated(100000));
    downloadVideo();

    const QStringList events = log_->folded();
    QCOMPARE(events.mid(3), QStringList({
                                ExpectedVideoData,
                                "DownloadProgress 0 100000",
                                "DownloadProgress ... 100000 100000",
                                "DownloadProgress 0 1",
                                "DownloadComplete",
                            }));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 100000));
    QStringList targets;
    for (const auto& request : server_.requests())
        targets.append(QString::fromLatin1(request.target));
    QCOMPARE(targets,
             QStringList({VideoAddress, StreamTarget, "http://www.youtube.com/media/one.flv",
                          "http://www.youtube.com/media/two.flv"}));
}

void tst_Nabrix::streamRedirectsEndAtTheHopLimitOrAnUnsafeScheme() {
    const QString refused = "DownloadError The server sent the download on to too many or to "
                            "unsafe addresses.";
    servePage();
    serveStream(Response::Redirect("/loop", 303));
    server_.route("/loop", Response::Redirect("/loop", 302));
    downloadVideo();
    QCOMPARE(log_->all().last(), refused);
    // The page, the stream address, then one request per hop followed.
    QCOMPARE(server_.requests().size(), 2 + Redirects::MaxHops);
    QVERIFY(!QFileInfo::exists(target()));

    log_->clear();
    serveStream(Response::Redirect("file:///etc/passwd", 303));
    downloadVideo();
    QCOMPARE(log_->all().last(), refused);
}

void tst_Nabrix::compressedAnswersCountAsSent() {
    // A server that compresses what the client says it can take: asked for the stored body,
    // it sends the lengths the caption counts against.
    const QByteArray html = VideoPageText().html().toUtf8();
    auto compressingIfAsked = [](Response response) {
        return [response](const LoopbackHttpServer::Request& request) {
            return request.header("Accept-Encoding").contains("gzip")
                       ? LoopbackHttpServer::Gzipped(response)
                       : response;
        };
    };
    server_.route("/watch", compressingIfAsked(Response::Fixed(html)));
    server_.route("/get_video.php", compressingIfAsked(Response::Generated(200000)));
    downloadVideo();
    QCOMPARE(log_->folded().first(), QStringLiteral("InfoProgress 0 %1").arg(html.size()));
    QCOMPARE(log_->folded().mid(3), QStringList({ExpectedVideoData, "DownloadProgress 0 200000",
                                                 "DownloadProgress ... 200000 200000",
                                                 "DownloadProgress 0 1", "DownloadComplete"}));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 200000));

    // A server that compresses anyway: the bytes are not the video's, and are not kept.
    const Response gzipped = LoopbackHttpServer::Gzipped(Response::Generated(200000));
    for (const Framing framing : {Framing::ContentLength, Framing::Chunked}) {
        log_->clear();
        Response stream = gzipped;
        stream.framing = framing;
        serveStream(stream);
        downloadVideo();
        QCOMPARE(log_->all().last(),
                 QStringLiteral("DownloadError The server sent the answer compressed (gzip), "
                                "though it was asked to send it as stored"));
        QVERIFY(!log_->contains("DownloadComplete"));
        // The file of the truthful answer above stays as it was.
        QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 200000));
    }
}

void tst_Nabrix::pageErrorStatusRaisesInfoError() {
    server_.route("/watch", Response::Status(404, "Not Found", "<html>gone</html>"));
    serveStream(Response::Generated(100));
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("InfoError"));
    QCoreApplication::processEvents();
    QCOMPARE(log_->all(), QStringList({"InfoError 404 Not Found"}));
    QCOMPARE(server_.requests().size(), 1);

    // A server error without a reason phrase is named by its number.
    log_->clear();
    server_.route("/watch", Response::Status(503, ""));
    fetch(VideoAddress);
    QTRY_COMPARE(log_->all(), QStringList({"InfoError 503"}));

    // A redirect is not the page either (the page request follows none).
    log_->clear();
    server_.route("/watch", Response::Redirect("http://www.youtube.com/elsewhere"));
    fetch(VideoAddress);
    QTRY_COMPARE(log_->all(), QStringList({"InfoError 302 Found"}));
    QCOMPARE(server_.requests().size(), 3);
}

void tst_Nabrix::pageDroppedHalfWayRaisesInfoError() {
    const QByteArray html = VideoPageText().html().toUtf8();
    server_.route("/watch", Cut(Response::Fixed(html), Ending::Drop, 100));
    serveStream(Response::Generated(100));
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("InfoError"));
    const QStringList events = log_->folded();
    QCOMPARE(events.first(), QStringLiteral("InfoProgress 0 %1").arg(html.size()));
    QVERIFY(events.last().size() > QStringLiteral("InfoError ").size());
    QVERIFY(!log_->contains("VideoData"));
    QCOMPARE(server_.requests().size(), 1);
}

void tst_Nabrix::stalledPageTimesOut() {
    nabrix_->setStallTimeout(1000);
    const QByteArray html = VideoPageText().html().toUtf8();
    server_.route("/watch", Cut(Response::Fixed(html), Ending::Stall, 0));
    const int closedBefore = server_.connectionsClosed();
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("InfoError"));
    QCOMPARE(log_->all(),
             QStringList({QStringLiteral("InfoProgress 0 %1").arg(html.size()),
                          "InfoError The server sent nothing for 1 seconds. Try again later."}));
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
}

void tst_Nabrix::tricklingPageMeetsItsDeadline() {
    nabrix_->setPageDeadline(1500);
    Response page = Response::Fixed(VideoPageText().html().toUtf8());
    page.bytesPerSecond = 1;
    server_.route("/watch", page);
    const int closedBefore = server_.connectionsClosed();
    QElapsedTimer clock;
    clock.start();
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("InfoError"));
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(log_->all().last(), QStringLiteral("InfoError The video page did not arrive within "
                                                "1 seconds. Try again later."));
    QVERIFY(!log_->contains("VideoData"));
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
}

// The most an oversized page may add to the peak resident memory. Under the address sanitizer
// every freed buffer of the growing page stays resident in its quarantine.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kPageMemoryBound = 96 * 1024 * 1024;
#else
constexpr qint64 kPageMemoryBound = 40 * 1024 * 1024;
#endif

void tst_Nabrix::oversizedPageIsNoVideoPage() {
    const QString tooLarge = QStringLiteral(
        "InfoError The page is larger than 8.00 MB, so it is not a video page. Check the address.");
    // Announced: refused at once.
    server_.route("/watch", Response::Generated(9 * 1024 * 1024, "text/html"));
    fetch(VideoAddress);
    QTRY_COMPARE(log_->all(), QStringList({tooLarge}));

    // Not announced: refused when it grows past the limit, and the page held no more.
    log_->clear();
    Response chunked = Response::Generated(64 * 1024 * 1024, "text/html");
    chunked.framing = Framing::Chunked;
    server_.route("/watch", chunked);
    ResetPeakResidentBytes();
    const qint64 before = PeakResidentBytes();
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("InfoError"));
    QCOMPARE(log_->all().last(), tooLarge);
    QVERIFY(log_->lastProgress() <= Nabrix::MaxPageSize);
    const qint64 grown = PeakResidentBytes() - before;
    QVERIFY2(grown < kPageMemoryBound, qPrintable(QString::number(grown >> 20) + " MB"));
    QCOMPARE(server_.requests().size(), 2);
}

void tst_Nabrix::secondRequestReplacesTheFirstPage() {
    const QByteArray html = VideoPageText().html().toUtf8();
    server_.route("/watch", [html](const LoopbackHttpServer::Request& request) {
        const bool slow = request.url().query().contains(QLatin1String("v=slow"));
        return Cut(Response::Fixed(html), slow ? Ending::Stall : Ending::Complete, 10);
    });
    serveStream(Response::Generated(5000));
    fetch(QStringLiteral("http://www.youtube.com/watch?v=slow"));
    QTRY_VERIFY(log_->contains("DownloadProgress 10 "));
    log_->clear();
    const int closedBefore = server_.connectionsClosed();
    fetch(VideoAddress);
    QTRY_VERIFY(log_->contains("DownloadComplete"));
    // The first request was given up: its connection is closed and none of its events came.
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
    QCOMPARE(log_->folded().first(), QStringLiteral("InfoProgress 0 %1").arg(html.size()));
    QCOMPARE(log_->folded().last(), QStringLiteral("DownloadComplete"));
    QVERIFY(!log_->contains("InfoError"));
}

void tst_Nabrix::streamErrorStatusLeavesTheOldFile() {
    WriteFile(target(), "an earlier download");
    servePage();
    serveStream(Response::Status(404, "Not Found", "<html>No such video</html>"));
    downloadVideo();
    QCoreApplication::processEvents();
    const QStringList events = log_->folded();
    QCOMPARE(events.mid(3), QStringList({ExpectedVideoData, "DownloadError 404 Not Found"}));
    QCOMPARE(ReadAll(target()), QByteArray("an earlier download"));

    // Without an earlier file, no file at all.
    QFile::remove(target());
    log_->clear();
    serveStream(Response::Status(500, "Internal Server Error", "oops"));
    downloadVideo();
    QVERIFY(log_->contains("DownloadError 500 Internal Server Error"));
    QVERIFY(!QFile::exists(target()));

    // A server that refuses the first connection was never there: no try waits for it.
    log_->clear();
    server_.clearRequests();
    WriteFile(target(), "an earlier download");
    nabrix_->setRetryWait(1000);
    const QByteArray html = VideoPageText().html().toUtf8();
    server_.route("/watch", [this, html](const LoopbackHttpServer::Request&) {
        server_.refuseConnectionsFor(500);
        return Response::Fixed(html, "text/html; charset=utf-8");
    });
    serveStream(Response::Generated(1000));
    downloadVideo();
    QVERIFY(log_->all().last().startsWith("DownloadError "));
    QCOMPARE(streamRequests(), 0);
    QCOMPARE(ReadAll(target()), QByteArray("an earlier download"));
    // Listening again before the next test.
    QTRY_VERIFY([this] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, server_.port());
        return probe.waitForConnected(1000);
    }());
}

void tst_Nabrix::onlyASuccessWithDataReplacesTheFile_data() {
    QTest::addColumn<Response>("stream");
    QTest::addColumn<QString>("error");
    const QString noData = QStringLiteral("The server sent no data. Try again later.");
    QTest::newRow("302 without Location") << Response::Status(302, "Found", "moved") << "302 Found";
    QTest::newRow("304") << Response::Status(304, "Not Modified") << "304 Not Modified";
    QTest::newRow("204") << Response::Status(204, "No Content") << noData;
    QTest::newRow("200 empty") << Response::Fixed("", "video/x-flv") << noData;
    Response chunked = Response::Fixed("", "video/x-flv");
    chunked.framing = Framing::Chunked;
    QTest::newRow("200 empty, chunked") << chunked << noData;
    // The server is the proxy here: its 407 asks the user for the proxy's password.
    QTest::newRow("407 from the proxy")
        << Response::Status(407, "Proxy Authentication Required")
        << "The proxy server asks for a user name and password. Check the proxy settings "
           "(http_proxy).";
}

void tst_Nabrix::onlyASuccessWithDataReplacesTheFile() {
    QFETCH(Response, stream);
    QFETCH(QString, error);
    WriteFile(target(), "an earlier download");
    servePage();
    serveStream(stream);
    downloadVideo();
    QCOMPARE(log_->all().last(), "DownloadError " + error);
    QVERIFY(!log_->contains("DownloadComplete"));
    QCOMPARE(ReadAll(target()), QByteArray("an earlier download"));
}

void tst_Nabrix::lyingLengthsAreErrors_data() {
    QTest::addColumn<QList<QByteArray>>("lengths");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("error");
    const QString unreadable = QStringLiteral("The server's answer could not be read");
    QTest::newRow("past 64 bits") << QList<QByteArray>{"99999999999999999999999"} << "0"
                                  << unreadable;
    QTest::newRow("not a number") << QList<QByteArray>{"12abc"} << "0" << unreadable;
    QTest::newRow("signed") << QList<QByteArray>{"-5"} << "0" << unreadable;
    QTest::newRow("two different") << QList<QByteArray>{"100", "5000"} << "0" << unreadable;
    // Counted in 64 bits: 3 GiB announced, a short body, and the same on every retry.
    QTest::newRow("3 GiB, short body")
        << QList<QByteArray>{"3221225472"} << "3221225472"
        << "The server closed the connection before everything had arrived. Try again.";
}

void tst_Nabrix::lyingLengthsAreErrors() {
    QFETCH(QList<QByteArray>, lengths);
    QFETCH(QString, total);
    QFETCH(QString, error);
    WriteFile(target(), "an earlier download");
    servePage();
    Response stream = Response::Generated(50000);
    stream.framing = Framing::CloseDelimited;
    for (const QByteArray& length : lengths)
        stream.headers.append({QByteArray("Content-Length"), length});
    serveStream(stream);
    downloadVideo();
    QCoreApplication::processEvents();
    // One start, the counts against that total (tried again from the start when the server
    // breaks off), one error.
    const QStringList events = log_->all();
    QCOMPARE(events.count("DownloadProgress 0 " + total), 1);
    QCOMPARE(events.value(4), "DownloadProgress 0 " + total);
    QCOMPARE(events.last(), "DownloadError " + error);
    for (const QString& event : events.mid(5, events.size() - 6))
        QVERIFY2(event.startsWith("DownloadProgress ") && event.endsWith(' ' + total),
                 qPrintable(event));
    QCOMPARE(ReadAll(target()), QByteArray("an earlier download"));
    QCOMPARE(ReadAll(part()), LoopbackHttpServer::GeneratedBytes(0, 50000));
}

void tst_Nabrix::unreadableAnswersAreNamed_data() {
    QTest::addColumn<Response>("stream");
    QTest::addColumn<QString>("error");
    Response garbled = Response::Generated(1000);
    garbled.rawHead = "HTXP/1.1 2OO OK\r\nContent-Length: 1000\r\n\r\n";
    QTest::newRow("garbled status line") << garbled << "The server's answer could not be read";
    Response longHeader = Response::Generated(1000);
    longHeader.headers.append({QByteArray("X-Padding"), QByteArray(1024 * 1024, 'a')});
    Response unasked = Response::Generated(1000);
    unasked.status = 206;
    unasked.headers.append({QByteArray("Content-Range"), QByteArray("bytes 0-999/1000")});
    QTest::newRow("206 to no range") << unasked << "The server's answer could not be read";
    QTest::newRow("1 MB header line")
        << longHeader << "The server sent a header line that is too long";
}

void tst_Nabrix::unreadableAnswersAreNamed() {
    QFETCH(Response, stream);
    QFETCH(QString, error);
    servePage();
    serveStream(stream);
    downloadVideo();
    QCOMPARE(log_->all().last(), "DownloadError " + error);
}

namespace {

enum class Resume {
    RangeKept,
    RangeIgnored,
    FileChanged,
    LastModifiedOnly,
    WeakETagFileChanged,
    NoValidator,
    Busy,
    ServerRestarts,
    // Answers to the range that cannot continue the file.
    StartsEarly,
    StopsShort,
    OtherTotal,
    UnknownTotal,
    Refused,
};

// An answer 206 that says it holds bytes first-last of a file of `total` bytes ("*" unknown),
// and holds them.
Response PartialContent(qint64 first, qint64 last, const QByteArray& total) {
    Response part = Response::Generated(last - first + 1);
    part.status = 206;
    part.reason = "Partial Content";
    part.generatedOffset = first;
    part.headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' +
                                              QByteArray::number(last) + '/' + total});
    return part;
}

// The first byte a request asks for with "Range: bytes=N-"; 0 without one.
qint64 RangeStart(const LoopbackHttpServer::Request& request) {
    const QByteArray range = request.header("Range");
    return range.startsWith("bytes=") ? range.mid(6).chopped(1).toLongLong() : 0;
}

// Where the server lies about the range asked for; a request for the whole file is answered
// truly.
Response LyingAboutTheRange(Resume resume, const Response& whole,
                            const LoopbackHttpServer::Request& request) {
    const qint64 first = RangeStart(request);
    const qint64 size = whole.generatedSize;
    const QByteArray total = QByteArray::number(size);
    switch (first > 0 ? resume : Resume::RangeIgnored) {
    case Resume::StartsEarly:
        return PartialContent(first - 1000, size - 1, total);
    case Resume::StopsShort:
        return PartialContent(first, size - 1001, total);
    case Resume::OtherTotal:
        return PartialContent(first, size + 999, QByteArray::number(size + 1000));
    case Resume::UnknownTotal:
        return PartialContent(first, size - 1, "*");
    case Resume::Refused: {
        Response refused = Response::Status(416, "Range Not Satisfiable");
        refused.headers.append({"Content-Range", "bytes */" + total});
        return refused;
    }
    default:
        return whole;
    }
}

// A stream server that breaks the first answer at 40 % and then behaves as `resume` says.
LoopbackHttpServer::Handler BreakingOnce(Resume resume, qint64 size, LoopbackHttpServer* server) {
    auto tries = std::make_shared<int>(0);
    return [=](const LoopbackHttpServer::Request& request) {
        Response whole = Response::Generated(size);
        const bool changed =
            (resume == Resume::FileChanged || resume == Resume::WeakETagFileChanged) && *tries > 0;
        const QByteArray etag = changed ? "\"v2\"" : "\"v1\"";
        if (resume == Resume::WeakETagFileChanged)
            whole.headers.append({QByteArray("ETag"), "W/" + etag});
        else if (resume != Resume::NoValidator && resume != Resume::LastModifiedOnly)
            whole.headers.append({QByteArray("ETag"), etag});
        if (resume != Resume::NoValidator) {
            whole.headers.append(
                {QByteArray("Last-Modified"), QByteArray("Wed, 21 Oct 2015 07:28:00 GMT")});
            whole.headers.append({QByteArray("Date"), QByteArray("Thu, 22 Oct 2015 07:28:00 GMT")});
        }
        if (changed)
            whole.generatedOffset = 12345;
        if ((*tries)++ == 0) {
            if (resume == Resume::Busy) {
                Response busy = Response::Status(503, "Service Unavailable", "busy");
                busy.headers.append({QByteArray("Retry-After"), QByteArray("2")});
                return busy;
            }
            // Back after the first retry or two: those find no one listening.
            if (resume == Resume::ServerRestarts)
                server->refuseConnectionsFor(120);
            return Cut(whole, Ending::Drop, size * 4 / 10);
        }
        if (resume >= Resume::StartsEarly)
            return LyingAboutTheRange(resume, whole, request);
        return resume == Resume::RangeIgnored ? whole : whole.rangedFor(request);
    };
}

} // namespace
Q_DECLARE_METATYPE(Resume)

void tst_Nabrix::brokenStreamResumes_data() {
    QTest::addColumn<Resume>("resume");
    QTest::addColumn<QByteArray>("ifRange");
    QTest::addColumn<qint64>("contentOffset");
    QTest::addColumn<int>("streams");
    const QByteArray date = "Wed, 21 Oct 2015 07:28:00 GMT";
    const QByteArray v1 = "\"v1\"";
    QTest::newRow("range kept") << Resume::RangeKept << v1 << qint64(0) << 2;
    QTest::newRow("range ignored: starts over") << Resume::RangeIgnored << v1 << qint64(0) << 2;
    QTest::newRow("file changed: starts over, no splice")
        << Resume::FileChanged << v1 << qint64(12345) << 2;
    QTest::newRow("Last-Modified only") << Resume::LastModifiedOnly << date << qint64(0) << 2;
    QTest::newRow("weak ETag: all again, no splice")
        << Resume::WeakETagFileChanged << QByteArray() << qint64(12345) << 2;
    QTest::newRow("no validator: all again")
        << Resume::NoValidator << QByteArray() << qint64(0) << 2;
    QTest::newRow("busy, then whole") << Resume::Busy << QByteArray() << qint64(0) << 2;
    QTest::newRow("server restarts: refused, then resumed")
        << Resume::ServerRestarts << v1 << qint64(0) << 2;
    // A range answer that does not continue the file exactly: the range is dropped, once.
    QTest::newRow("range starts early") << Resume::StartsEarly << v1 << qint64(0) << 3;
    QTest::newRow("range stops short") << Resume::StopsShort << v1 << qint64(0) << 3;
    QTest::newRow("range of another total") << Resume::OtherTotal << v1 << qint64(0) << 3;
    QTest::newRow("range of an unknown total") << Resume::UnknownTotal << v1 << qint64(0) << 3;
    QTest::newRow("range refused (416)") << Resume::Refused << v1 << qint64(0) << 3;
}

void tst_Nabrix::brokenStreamResumes() {
    QFETCH(Resume, resume);
    QFETCH(QByteArray, ifRange);
    QFETCH(qint64, contentOffset);
    QFETCH(int, streams);
    constexpr qint64 size = 3000000;
    WriteFile(target(), "an earlier download");
    PartFile::WriteMark(target(), "VID123");
    servePage();
    server_.route("/get_video.php", BreakingOnce(resume, size, &server_));
    if (resume == Resume::ServerRestarts)
        nabrix_->setRetryWait(50);
    // The server's Retry-After (2 s) in place of the first wait of 1 s, here in 10 ms units.
    if (resume == Resume::Busy) {
        QLoggingCategory::setFilterRules(QStringLiteral("*.retry.debug=true"));
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(" retry 1 in 20 ms "));
    }
    const auto quiet = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });
    downloadVideo();
    QCoreApplication::processEvents();

    // The host saw one transfer.
    const QStringList events = log_->all();
    QCOMPARE(events.count(QStringLiteral("DownloadProgress 0 %1").arg(size)), 1);
    QCOMPARE(events.mid(events.size() - 2),
             QStringList({"DownloadProgress 0 1", "DownloadComplete"}));
    QVERIFY(!log_->contains("DownloadError"));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(contentOffset, size));
    QVERIFY(!QFileInfo::exists(part()));

    QCOMPARE(streamRequests(), streams);
    QList<LoopbackHttpServer::Request> tries;
    for (const auto& request : server_.requests())
        if (request.url().path() == QLatin1String("/get_video.php"))
            tries.append(request);
    const auto retry = tries.value(1);
    QCOMPARE(retry.header("If-Range"), ifRange);
    QCOMPARE(retry.header("Range").isEmpty(), ifRange.isEmpty());
    QVERIFY(tries.last().header("Range").isEmpty() || streams == 2);
    if (resume == Resume::RangeKept) {
        QVERIFY(retry.header("Range").startsWith("bytes="));
        QCOMPARE(log_->folded().mid(4, 2),
                 QStringList({QStringLiteral("DownloadProgress 0 %1").arg(size),
                              QStringLiteral("DownloadProgress ... %1 %1").arg(size)}));
    }
}

void tst_Nabrix::streamThatKeepsBreakingEndsInOneError_data() {
    QTest::addColumn<bool>("resumedShort");
    QTest::newRow("each try breaks off") << false;
    // Answers that name their range but no length, and end 1000 bytes before it.
    QTest::newRow("resumed bodies end short") << true;
}

void tst_Nabrix::streamThatKeepsBreakingEndsInOneError() {
    QFETCH(bool, resumedShort);
    WriteFile(target(), "an earlier download");
    servePage();
    Response stream = Response::Generated(300000);
    stream.headers.append({QByteArray("ETag"), QByteArray("\"v1\"")});
    // Each try gets 100000 bytes further at most, never to the end.
    server_.route("/get_video.php",
                  [stream, resumedShort](const LoopbackHttpServer::Request& request) {
                      Response ranged = stream.rangedFor(request);
                      if (resumedShort && ranged.status == 206) {
                          ranged.framing = Framing::CloseDelimited;
                          ranged.generatedSize = std::max<qint64>(0, ranged.generatedSize - 1000);
                          return ranged;
                      }
                      ranged.ending = Ending::Drop;
                      ranged.endAfter = std::min<qint64>(ranged.generatedSize - 1, 50000);
                      return ranged;
                  });
    downloadVideo();
    QCoreApplication::processEvents();
    QCOMPARE(streamRequests(), 1 + 5);
    const QStringList events = log_->folded();
    QCOMPARE(events.mid(3),
             QStringList({ExpectedVideoData, "DownloadProgress 0 300000", events.value(5),
                          "DownloadError The server closed the connection before "
                          "everything had arrived. Try again."}));
    QVERIFY(events.value(5).startsWith("DownloadProgress ... "));
    // The earlier file is as it was; what arrived waits in the partial file.
    QCOMPARE(ReadAll(target()), QByteArray("an earlier download"));
    const QByteArray partial = ReadAll(part());
    QCOMPARE(qint64(partial.size()), log_->lastProgress());
    QCOMPARE(partial, LoopbackHttpServer::GeneratedBytes(0, partial.size()));
}

void tst_Nabrix::leftoverPartIsContinuedOnlyWhenItsNoteMatches() {
    constexpr qint64 size = 400000;
    Response stream = Response::Generated(size);
    stream.headers.append({QByteArray("ETag"), QByteArray("\"v1\"")});
    servePage();
    serveStream(Cut(stream, Ending::Drop, 150000));
    nabrix_->setRetryWait(0);
    downloadVideo();
    QVERIFY(log_->contains("DownloadError"));
    const qint64 kept = QFileInfo(part()).size();
    QVERIFY(kept > 0 && kept <= 150000);

    // The same page again: the partial file goes on from where it ended.
    log_->clear();
    server_.clearRequests();
    server_.route("/get_video.php", [stream](const LoopbackHttpServer::Request& request) {
        return stream.rangedFor(request);
    });
    downloadVideo();
    QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
    QCOMPARE(server_.requests().last().header("Range"), "bytes=" + QByteArray::number(kept) + '-');
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, size));

    // A partial file without a note (another program's, an older attempt's) starts over.
    log_->clear();
    server_.clearRequests();
    WriteFile(part(), "not from this video");
    downloadVideo();
    QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
    QVERIFY(server_.requests().last().header("Range").isEmpty());
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, size));
}

namespace {
enum class Holder { None, OtherName, OtherDownload };
}
Q_DECLARE_METATYPE(Holder)

void tst_Nabrix::leftoverPartsNotToContinueStartOver_data() {
    QTest::addColumn<QByteArray>("videoId");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<Holder>("holder");
    QTest::addColumn<int>("streams");
    // Written whole again in place of the leftover.
    QTest::newRow("another video's") << QByteArray("OTHER") << qint64(400000) << Holder::None << 1;
    // The server's length differs from the note's: the range is dropped once.
    QTest::newRow("another total") << QByteArray("VID123") << qint64(400005) << Holder::None << 2;
    // Never written: the video goes into a fresh file beside it.
    QTest::newRow("a hard link's other name")
        << QByteArray("VID123") << qint64(400000) << Holder::OtherName << 1;
    QTest::newRow("held by another download")
        << QByteArray("VID123") << qint64(400000) << Holder::OtherDownload << 1;
}

void tst_Nabrix::leftoverPartsNotToContinueStartOver() {
    QFETCH(QByteArray, videoId);
    QFETCH(qint64, total);
    QFETCH(Holder, holder);
    QFETCH(int, streams);
    constexpr qint64 size = 400000;
    Response stream = Response::Generated(size);
    stream.headers.append({QByteArray("ETag"), QByteArray("\"v1\"")});
    servePage();
    server_.route("/get_video.php", [stream](const LoopbackHttpServer::Request& request) {
        return stream.rangedFor(request);
    });
    const QByteArray leftover(150000, 'x');
    WriteFile(part(), leftover);
    QFile held(part());
    QVERIFY(held.open(QIODevice::ReadWrite));
    PartFile::WriteNote(held.handle(), {videoId, total, "\"v1\""});
    const QString otherName = out_->path() + QStringLiteral("/notes.txt");
    if (holder == Holder::OtherName)
        QVERIFY(::link(QFile::encodeName(part()).constData(),
                       QFile::encodeName(otherName).constData()) == 0);
    if (holder == Holder::OtherDownload)
        QVERIFY(::flock(held.handle(), LOCK_EX | LOCK_NB) == 0);
    else
        held.close();

    downloadVideo();
    QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, size));
    QCOMPARE(streamRequests(), streams);
    QVERIFY(server_.requests().last().header("Range").isEmpty());
    if (holder != Holder::None)
        QCOMPARE(ReadAll(part()), leftover);
    if (holder == Holder::OtherName)
        QCOMPARE(ReadAll(otherName), leftover);
    // Nothing else is left in the folder.
    QCOMPARE(QDir(out_->path()).entryList(QDir::Files).size(), holder == Holder::None        ? 1
                                                               : holder == Holder::OtherName ? 3
                                                                                             : 2);
}

void tst_Nabrix::outputFolderChangesBeforeTheEnd_data() {
    QTest::addColumn<bool>("partSwapped");
    QTest::addColumn<QString>("error");
    QTest::newRow("folder gone") << false
                                 << "Cannot finish %1: the output folder does not exist. Choose "
                                    "another one.";
    QTest::newRow("partial file swapped for a link")
        << true << "Cannot finish %1.part: another file took its name while the video was written.";
}

void tst_Nabrix::outputFolderChangesBeforeTheEnd() {
    QFETCH(bool, partSwapped);
    QFETCH(QString, error);
    const QString folder = out_->path() + QStringLiteral("/videos");
    QVERIFY(QDir().mkpath(folder));
    host_.folder = folder;
    const QString file = folder + '/' + TargetName;
    const QString outside = out_->path() + QStringLiteral("/outside.flv");
    servePage();
    // The change comes while the stream breaks: the retry writes to a file no name holds.
    auto tries = std::make_shared<int>(0);
    server_.route("/get_video.php", [=](const LoopbackHttpServer::Request& request) {
        Response stream = Response::Generated(200000);
        stream.headers.append({QByteArray("ETag"), QByteArray("\"v1\"")});
        if ((*tries)++ == 0)
            return Cut(stream, Ending::Drop, 100000);
        if (partSwapped) {
            QFile::rename(file + ".part", folder + "/moved");
            QFile::link(outside, file + ".part");
        } else {
            QDir(folder).removeRecursively();
        }
        return stream.rangedFor(request);
    });
    downloadVideo();
    QCOMPARE(log_->all().last(), "DownloadError " + error.arg(file));
    QVERIFY(!log_->contains("DownloadComplete"));
    QVERIFY(!QFileInfo(file).isSymLink());
    QVERIFY(!QFileInfo::exists(outside));
}

void tst_Nabrix::stalledStreamIsTriedAgain() {
    nabrix_->setStallTimeout(300);
    servePage();
    auto tries = std::make_shared<int>(0);
    server_.route("/get_video.php", [tries](const LoopbackHttpServer::Request& request) {
        Response stream = Response::Generated(300000);
        stream.headers.append(
            {QByteArray("Last-Modified"), QByteArray("Wed, 21 Oct 2015 07:28:00 GMT")});
        stream.headers.append({QByteArray("Date"), QByteArray("Thu, 22 Oct 2015 07:28:00 GMT")});
        return (*tries)++ == 0 ? Cut(stream, Ending::Stall, 50000) : stream.rangedFor(request);
    });
    const int closedBefore = server_.connectionsClosed();
    downloadVideo();
    QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 300000));
    QCOMPARE(server_.requests().last().header("Range"), QByteArray("bytes=50000-"));
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
}

void tst_Nabrix::clearDownloadAfterCompletionIsSilent() {
    servePage();
    serveStream(Response::Generated(70000));
    downloadVideo();
    QVERIFY(log_->contains("DownloadComplete"));
    log_->clear();
    nabrix_->ClearDownload();
    nabrix_->ClearDownload();
    QCoreApplication::processEvents();
    QVERIFY(log_->all().isEmpty());
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 70000));
}

void tst_Nabrix::clearDownloadMidTransferKeepsThePartialFile() {
    servePage();
    serveStream(Cut(Response::Generated(300000), Ending::Stall, 70000));
    fetch(VideoAddress);
    QTRY_COMPARE(log_->lastProgress(), 70000);
    const int closedBefore = server_.connectionsClosed();
    const int eventsBefore = log_->all().size();
    nabrix_->ClearDownload();
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
    QCOMPARE(log_->all().size(), eventsBefore);
    QCOMPARE(ReadAll(part()), LoopbackHttpServer::GeneratedBytes(0, 70000));
    QVERIFY(!QFileInfo::exists(target()));

    // The next download of the same title, from a server without validators, starts over.
    log_->clear();
    serveStream(Response::Generated(1000));
    downloadVideo();
    QVERIFY(log_->contains("DownloadComplete"));
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 1000));
}

void tst_Nabrix::missingOutputFolderFailsTheDownload() {
    host_.folder = out_->path() + QStringLiteral("/missing/sub");
    servePage();
    serveStream(Cut(Response::Generated(300000), Ending::Stall, 1000));
    const int closedBefore = server_.connectionsClosed();
    downloadVideo();
    const QStringList events = log_->folded();
    QCOMPARE(events.size(), 6);
    QCOMPARE(events[3], ExpectedVideoData);
    QCOMPARE(events[4], QStringLiteral("DownloadProgress 0 300000"));
    QVERIFY2(events[5].startsWith(QStringLiteral("DownloadError Cannot create ") + out_->path() +
                                  QStringLiteral("/missing/sub/") + TargetName +
                                  QStringLiteral(".part: ")),
             qPrintable(events[5]));
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
    // A file that cannot be made is no reason to fetch the video again.
    QCOMPARE(streamRequests(), 1);
    QVERIFY(!QFileInfo::exists(out_->path() + QStringLiteral("/missing")));
}

void tst_Nabrix::partNameTakenByNoPlainFileIsLeftAlone_data() {
    QTest::addColumn<bool>("pipe");
    QTest::newRow("a folder") << false;
    QTest::newRow("a pipe") << true;
}

void tst_Nabrix::partNameTakenByNoPlainFileIsLeftAlone() {
    QFETCH(bool, pipe);
    // Nothing to write to under the partial file's name: the video goes to a fresh one beside it.
    if (pipe)
        QVERIFY(::mkfifo(QFile::encodeName(part()).constData(), 0600) == 0);
    else
        QVERIFY(QDir().mkpath(part()));
    servePage();
    serveStream(Response::Generated(1000));
    downloadVideo();
    QCOMPARE(log_->all().last(), QStringLiteral("DownloadComplete"));
    QCOMPARE(streamRequests(), 1);
    QCOMPARE(ReadAll(target()), LoopbackHttpServer::GeneratedBytes(0, 1000));
    QVERIFY(QFileInfo::exists(part()) && !QFileInfo(part()).isFile());
}

void tst_Nabrix::writeFailureStopsTheDownload() {
    servePage();
    serveStream(Response::Generated(20 * 1024 * 1024));
    const int closedBefore = server_.connectionsClosed();
    {
        FileSizeLimit limit(100000);
        downloadVideo();
    }
    const QString last = log_->all().last();
    QCOMPARE(last, QStringLiteral("DownloadError Cannot write ") + part() +
                       QStringLiteral(": the file is too large for this disk."));
    QVERIFY(!log_->contains("DownloadComplete"));
    QTRY_VERIFY(server_.connectionsClosed() > closedBefore);
    QCOMPARE(streamRequests(), 1);
    QVERIFY(QFileInfo(part()).size() <= 100000);
    QVERIFY(!QFileInfo::exists(target()));
}

QTEST_GUILESS_MAIN(tst_Nabrix)
#include "tst_Nabrix.moc"
