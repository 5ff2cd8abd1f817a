#include "ChildProcess.h"
#include "LoopbackHttpServer.h"
#include "RegEdit.h"
#include "TestHome.h"
#include "YtDlpProgram.h"
#include "YtDlpRunner.h"

#include <QProcess>
#include <QSignalSpy>
#include <QtTest>
#include <csignal>
#include <cstdio>

namespace {

const QString kStandIn = QStringLiteral(VANTELO_TEST_SOURCE_DIR "/stand-in-yt-dlp");

// A page that names its video only in a player's configuration: yt-dlp's generic reader knows
// it, a reader of open tags finds nothing.
const QByteArray kPlayerPage = R"(<html><head><title>Harbour at dusk</title></head><body>
<div id="player"></div><script>
jwplayer("player").setup({ playlist: [{ title: "Harbour at dusk", description: "Boats.",
  image: "/media/poster.jpg", duration: 12,
  sources: [{file: "/media/small.mp4", label: "360p", height: 360},
            {file: "/media/clip.mp4", label: "720p", height: 720}] }] });
</script></body></html>)";
constexpr qint64 kClipSize = 300000;

void UseProgram(const QString& program) {
    SettingsStore().WriteKey(YtDlpProgram::kProgramSetting, program);
    YtDlpProgram::ForgetVersion();
}

} // namespace

class tst_YtDlpRunner : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void realYtDlpReadsAPlayerConfiguration();
    void realYtDlpDownloadsOneFormat();
    void standInAnswers_data();
    void standInAnswers();
    void cancelEndsTheWholeGroup();
    void whatYtDlpLeavesEndsWithItsRun_data();
    void whatYtDlpLeavesEndsWithItsRun();
    void downloadedFileIsChecked_data();
    void downloadedFileIsChecked();
    void killingTheProgramEndsYtDlp_data();
    void killingTheProgramEndsYtDlp();
    void versionIsAskedOnceAndAnOldOneGetsAHint();
    void withoutYtDlpTheRunIsUnavailable();
    void outsideTextNeverBecomesAnOption();

private:
    TestHome home_;
    LoopbackHttpServer server_;
};

void tst_YtDlpRunner::initTestCase() {
    QVERIFY(server_.listen());
    server_.route("/watch/player", LoopbackHttpServer::Response::Fixed(kPlayerPage));
    server_.route("/media/clip.mp4",
                  LoopbackHttpServer::Response::Generated(kClipSize, "video/mp4"));
    server_.route("/media/small.mp4", LoopbackHttpServer::Response::Generated(1000, "video/mp4"));
    // The pages are asked for by name, through the server as the proxy.
    qputenv("http_proxy", server_.proxyAddress());
    qunsetenv("no_proxy");
    qunsetenv("NO_PROXY");
}

void tst_YtDlpRunner::init() {
    UseProgram(kStandIn);
    qunsetenv("STANDIN_YTDLP_ARGS");
}

void tst_YtDlpRunner::realYtDlpReadsAPlayerConfiguration() {
    UseProgram("yt-dlp");
    if (YtDlpProgram::Path().isEmpty())
        QSKIP("yt-dlp is not installed (scripts/install-deps.sh installs it)");
    YtDlpRunner runner;
    QSignalSpy read(&runner, &YtDlpRunner::Read);
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    runner.ReadPage(QUrl("http://video.example/watch/player"));
    QVERIFY(read.wait(60000));
    QCOMPARE(failed.count(), 0);
    const YtDlpInfo info = read.first().first().value<YtDlpInfo>();
    QVERIFY(!info.FromSiteReader());
    QCOMPARE(info.Details.VideoTitle, "Harbour at dusk");
    QCOMPARE(info.Details.VideoDesc, "Boats.");
    QCOMPARE(info.Thumbnail, QUrl("http://video.example/media/poster.jpg"));
    QCOMPARE(info.DurationSeconds, 12);
    const YtDlpChoice choice = info.ChooseDefault(0, true);
    QCOMPARE(choice.Audio, -1);
    QCOMPARE(info.Formats.value(choice.Video).Address, QUrl("http://video.example/media/clip.mp4"));
    QCOMPARE(info.Formats.value(choice.Video).Height, 720);
    QCOMPARE(info.ChooseDefault(480).Video, info.ChooseDefault(360).Video);
    QVERIFY(!runner.IsRunning());
}

void tst_YtDlpRunner::realYtDlpDownloadsOneFormat() {
    UseProgram("yt-dlp");
    if (YtDlpProgram::Path().isEmpty())
        QSKIP("yt-dlp is not installed (scripts/install-deps.sh installs it)");
    QTemporaryDir output;
    YtDlpRunner runner;
    QSignalSpy done(&runner, &YtDlpRunner::Downloaded);
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    QList<YtDlpOutput::Progress> progress;
    connect(&runner, &YtDlpRunner::Progress, this,
            [&](const YtDlpOutput::Progress& p) { progress.append(p); });
    runner.DownloadFormat(QUrl("http://video.example/watch/player"), "720p", output.path());
    QVERIFY2(done.wait(60000), qPrintable(failed.value(0).value(0).toString()));
    const QString path = done.first().first().toString();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), LoopbackHttpServer::GeneratedBytes(0, kClipSize));
    QVERIFY(QFileInfo(path).dir().dirName().startsWith(".vantelo-yt-dlp-"));
    QCOMPARE(QFileInfo(QFileInfo(path).path()).path(), output.path());
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last().Bytes, kClipSize);
    QVERIFY(progress.last().Finished);
    // The private folder goes with the runner's next step.
    runner.Cancel();
    QVERIFY(!QFileInfo::exists(path));
}

void tst_YtDlpRunner::standInAnswers_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("failure"); // empty: the answer is read
    QTest::addColumn<int>("answerMs");
    QTest::newRow("site reader") << "site"
                                 << "" << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("private") << "private"
                             << "This video is private: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("region block") << "region"
                                  << "not available in your country: "
                                  << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("sign-in required")
        << "signin"
        << "only be watched signed in: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("removed") << "removed"
                             << "was removed or is no longer available: "
                             << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("unsupported") << "unsupported"
                                 << "does not know this address: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("network") << "network"
                             << "could not reach the site: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("no JSON") << "garbage"
                             << "answer could not be read: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("stderr flood then the reason")
        << "stderr-flood"
        << "This video is private: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("oversized JSON")
        << "huge"
        << "answer is too large to read: " << YtDlpRunner::DefaultAnswerMs;
    QTest::newRow("slow answer") << "slow"
                                 << "did not answer in time: " << 1000;
    QTest::newRow("hang") << "hang"
                          << "did not answer in time: " << 1000;
}

void tst_YtDlpRunner::standInAnswers() {
    QFETCH(QString, page);
    QFETCH(QString, failure);
    QFETCH(int, answerMs);
    YtDlpRunner runner;
    runner.SetTimeouts(answerMs, answerMs);
    QSignalSpy read(&runner, &YtDlpRunner::Read);
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    const QUrl address("https://site.example/v/" + page);
    runner.ReadPage(address);
    const qint64 group = runner.ProcessGroup();
    QVERIFY(group > 0);
    QTRY_VERIFY_WITH_TIMEOUT(read.count() + failed.count() > 0, 30000);
    QCOMPARE(read.count() + failed.count(), 1);
    if (failure.isEmpty()) {
        const YtDlpInfo info = read.first().first().value<YtDlpInfo>();
        QVERIFY(info.FromSiteReader());
        const YtDlpChoice choice = info.ChooseDefault(0, true);
        QCOMPARE(info.Formats[choice.Video].FormatId, "v720");
        QCOMPARE(info.Formats[choice.Audio].FormatId, "a128");
        QCOMPARE(info.Formats[choice.Video].HttpHeaders.value(0).second, "https://site.example/");
    } else {
        const QString text = failed.first().first().toString();
        QVERIFY2(text.contains(failure + address.toString()), qPrintable(text));
    }
    QVERIFY(!runner.IsRunning());
    QTRY_VERIFY(!ChildProcess::GroupIsRunning(group));
}

void tst_YtDlpRunner::cancelEndsTheWholeGroup() {
    QTemporaryDir scratch;
    const QString argsFile = scratch.filePath("args");
    qputenv("STANDIN_YTDLP_ARGS", argsFile.toUtf8());
    YtDlpRunner runner;
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    runner.ReadPage(QUrl("https://site.example/v/hang"));
    const qint64 group = runner.ProcessGroup();
    QTRY_VERIFY(QFileInfo::exists(argsFile));
    QVERIFY(ChildProcess::GroupIsRunning(group));
    runner.Cancel();
    QVERIFY(!runner.IsRunning());
    QTRY_VERIFY(!ChildProcess::GroupIsRunning(group));
    QTest::qWait(0);
    QCOMPARE(failed.count(), 0); // a cancelled run says nothing
}

// A process that yt-dlp starts in a session of its own is gone once the run ends or is called
// off: not running, and not left as a zombie.
void tst_YtDlpRunner::whatYtDlpLeavesEndsWithItsRun_data() {
    QTest::addColumn<QString>("page");
    QTest::newRow("run that ends by itself") << "orphan";
    QTest::newRow("run called off") << "orphan-hang";
}

void tst_YtDlpRunner::whatYtDlpLeavesEndsWithItsRun() {
    QFETCH(QString, page);
    QTemporaryDir scratch;
    const QString orphanFile = scratch.filePath("orphan");
    qputenv("STANDIN_YTDLP_ORPHAN", orphanFile.toUtf8());
    qint64 orphan = 0;
    const auto killOrphan = qScopeGuard([&orphan] {
        if (orphan > 0)
            ::kill(pid_t(orphan), SIGKILL);
    });
    YtDlpRunner runner;
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    runner.ReadPage(QUrl("https://site.example/v/" + page));
    QTRY_VERIFY(QFileInfo::exists(orphanFile));
    QFile file(orphanFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    orphan = file.readAll().trimmed().toLongLong();
    const QString proc = QStringLiteral("/proc/%1").arg(orphan);
    QVERIFY(orphan > 0 && QFileInfo::exists(proc));
    if (page == "orphan")
        QTRY_COMPARE(failed.count(), 1);
    else
        runner.Cancel();
    QVERIFY(!runner.IsRunning());
    QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(proc), 3000);
    orphan = 0;
}

// Only a file with something in it is a download.
void tst_YtDlpRunner::downloadedFileIsChecked_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("failure"); // empty: the file is downloaded
    QTest::newRow("a file") << "download"
                            << "";
    QTest::newRow("an empty file") << "download-empty"
                                   << "yt-dlp's download left an empty file: ";
    QTest::newRow("no file") << "download-none"
                             << "yt-dlp's download left no file: ";
}

void tst_YtDlpRunner::downloadedFileIsChecked() {
    QFETCH(QString, page);
    QFETCH(QString, failure);
    QTemporaryDir output;
    YtDlpRunner runner;
    QSignalSpy done(&runner, &YtDlpRunner::Downloaded);
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    const QUrl address("https://site.example/v/" + page);
    runner.DownloadFormat(address, "hls-720p", output.path());
    QTRY_VERIFY_WITH_TIMEOUT(done.count() + failed.count() > 0, 30000);
    if (failure.isEmpty()) {
        QCOMPARE(done.count(), 1);
        QFile file(done.first().first().toString());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "abcdefgh");
    } else {
        QCOMPARE(done.count(), 0);
        QCOMPARE(failed.value(0).value(0).toString(), failure + address.toString());
    }
}

// The program ends while yt-dlp reads: yt-dlp ends with it, killed outright or told to end,
// and when told, so does what yt-dlp started in its group.
void tst_YtDlpRunner::killingTheProgramEndsYtDlp_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<QString>("page");
    QTest::newRow("killed") << int(SIGKILL) << "hang-alone";
    QTest::newRow("told to end, a child in yt-dlp's group") << int(SIGTERM) << "hang";
    QTest::newRow("hung up, a child in yt-dlp's group") << int(SIGHUP) << "hang";
}

void tst_YtDlpRunner::killingTheProgramEndsYtDlp() {
    QFETCH(int, signal);
    QFETCH(QString, page);
    QProcess holder;
    holder.setProgram(QCoreApplication::applicationFilePath());
    holder.setArguments({"--hold-yt-dlp", "https://site.example/v/" + page});
    holder.start();
    QVERIFY(holder.waitForReadyRead(30000));
    const qint64 ytDlp = holder.readLine().trimmed().toLongLong();
    QVERIFY(ytDlp > 0);
    QVERIFY(ChildProcess::GroupIsRunning(ytDlp));
    ::kill(pid_t(holder.processId()), signal);
    QVERIFY(holder.waitForFinished(30000));
    QCOMPARE(holder.exitStatus(), QProcess::CrashExit);
    QTRY_VERIFY(!ChildProcess::GroupIsRunning(ytDlp));
}

void tst_YtDlpRunner::versionIsAskedOnceAndAnOldOneGetsAHint() {
    qputenv("STANDIN_YTDLP_VERSION", "2021.01.02");
    QCOMPARE(YtDlpProgram::Version(), "2021.01.02");
    QVERIFY(YtDlpProgram::UpdateHint().contains("2021.01.02"));
    qputenv("STANDIN_YTDLP_VERSION", QDate::currentDate().toString("yyyy.MM.dd").toUtf8());
    QCOMPARE(YtDlpProgram::Version(), "2021.01.02"); // kept for the run
    YtDlpProgram::ForgetVersion();
    QVERIFY(YtDlpProgram::UpdateHint().isEmpty());
    // A version text that is no plain version is not shown.
    qputenv("STANDIN_YTDLP_VERSION", "<b>1</b>");
    YtDlpProgram::ForgetVersion();
    QCOMPARE(YtDlpProgram::Version(), QString());
    qunsetenv("STANDIN_YTDLP_VERSION");
}

void tst_YtDlpRunner::withoutYtDlpTheRunIsUnavailable() {
    for (const QString& program : {QString("no-such-yt-dlp"), home_.path() + "/missing"}) {
        UseProgram(program);
        QCOMPARE(YtDlpProgram::Version(), QString());
        YtDlpRunner runner;
        QSignalSpy unavailable(&runner, &YtDlpRunner::Unavailable);
        runner.ReadPage(QUrl("https://site.example/v/site"));
        QVERIFY(unavailable.wait(10000));
    }
}

// The address comes after "--" whatever it looks like; the format id must be a plain one; the
// cookie profile is checked before it becomes an argument.
void tst_YtDlpRunner::outsideTextNeverBecomesAnOption() {
    QTemporaryDir scratch;
    const QString argsFile = scratch.filePath("args");
    qputenv("STANDIN_YTDLP_ARGS", argsFile.toUtf8());
    YtDlpRunner runner;
    QSignalSpy done(&runner, &YtDlpRunner::Downloaded);
    QSignalSpy failed(&runner, &YtDlpRunner::Failed);
    const QUrl address("https://site.example/--exec=rm%20-rf/download");
    runner.DownloadFormat(address, "hls-720p", scratch.path());
    QVERIFY(done.wait(30000));
    QFile args(argsFile);
    QVERIFY(args.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = args.readAll().split('\n');
    QCOMPARE(lines.value(lines.size() - 3), "--");
    QCOMPARE(lines.value(lines.size() - 2), address.toEncoded());
    QVERIFY(lines.contains("hls-720p"));
    QVERIFY(!lines.contains("--cookies-from-browser")); // off by default

    for (const QString& id :
         {QString("-x"), QString("best+bestaudio"), QString("1/2"), QString()}) {
        runner.DownloadFormat(address, id, scratch.path());
        QVERIFY(failed.wait(10000));
    }
    QCOMPARE(done.count(), 1);

    // Cookies: only a folder of the user's with Firefox's cookie file, and no ':' in its path.
    QDir(scratch.path()).mkpath("good.profile");
    QDir(scratch.path()).mkpath("bad:profile");
    QDir(scratch.path()).mkpath("empty.profile");
    for (const char* profile : {"good.profile", "bad:profile"}) {
        QFile cookies(scratch.filePath(QString(profile) + "/cookies.sqlite"));
        QVERIFY(cookies.open(QIODevice::WriteOnly));
    }
    QCOMPARE(YtDlpProgram::CheckedProfile(scratch.filePath("good.profile")),
             QFileInfo(scratch.filePath("good.profile")).canonicalFilePath());
    QCOMPARE(YtDlpProgram::CheckedProfile(scratch.filePath("bad:profile")), QString());
    QCOMPARE(YtDlpProgram::CheckedProfile(scratch.filePath("empty.profile")), QString());
    QCOMPARE(YtDlpProgram::CheckedProfile("good.profile"), QString());
}

namespace {

// The program that the kill test kills: it reads a page with yt-dlp and prints yt-dlp's id.
int HoldYtDlp(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ChildProcess::EndTrackedGroupsOnTermination(); // as the program's main does
    TestHome home;
    UseProgram(kStandIn);
    YtDlpRunner runner;
    runner.ReadPage(QUrl(QString::fromUtf8(argv[2])));
    std::printf("%lld\n", static_cast<long long>(runner.ProcessGroup()));
    std::fflush(stdout);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && qstrcmp(argv[1], "--hold-yt-dlp") == 0)
        return HoldYtDlp(argc, argv);
    QCoreApplication app(argc, argv);
    tst_YtDlpRunner test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_YtDlpRunner.moc"
