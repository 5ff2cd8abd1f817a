// The converter program avformat.dll as a process: finding ffmpeg, the temporary output, its
// exit status, and ending ffmpeg with it. A scripted ffmpeg on the PATH plays the long runs.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "TestHome.h"
#include "modProcesses.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

using namespace ConverterTest;

namespace {

// Answers the encoder question like ffmpeg, counting the questions; otherwise records its arguments
// and process id, starts the output file and works until told otherwise by FAKE_MODE ("shrink"
// empties the source and ends well).
const QByteArray kFakeFfmpeg = R"(
if [ "$2" = "-encoders" ]; then
  echo asked >> "$FAKE_DIR/encoder-queries"
  printf 'Encoders:\n V..... = Video\n ------\n V..... mpeg4 MPEG-4 part 2\n A..... aac AAC\n'
  [ "$FAKE_MODE" = listfails ] && exit 1
  exit 0
fi
for a in "$@"; do printf '%s\n' "$a"; done > "$FAKE_DIR/ffmpeg.args"
prev=; for a; do [ "$prev" = -i ] && source="${a#file:}"; prev="$a"; done
for last; do :; done
echo partial > "${last#file:}"
echo "fake ffmpeg at work"
case "$FAKE_MODE" in
  exit*) exit "${FAKE_MODE#exit}" ;;
  shrink) : > "$source"; exit 0 ;;
  listfails) exit 0 ;;
  stubborn) trap '' TERM ;;
  *) trap 'exit 255' TERM ;;
esac
echo $$ > "$FAKE_DIR/ffmpeg.pid"
while :; do sleep 0.1; done
)";

} // namespace

class TestTool : public QObject {
    Q_OBJECT

    TestHome home_; // the converter program keeps its encoder list in the cache folder
    QTemporaryDir dir_;
    QString tool_;
    QString fakeBin_; // holds the scripted ffmpeg
    QString out_;     // output folder
    QString source_;

    QProcessEnvironment FakeEnvironment(const QString& mode) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", fakeBin_ + ":/usr/bin:/bin");
        env.insert("FAKE_DIR", dir_.path());
        env.insert("FAKE_MODE", mode);
        return env;
    }

    void StartTool(QProcess& process, const QStringList& args, const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(tool_, args);
        QVERIFY(process.waitForStarted());
    }

    qint64 FakePid() const {
        const QString path = dir_.filePath("ffmpeg.pid");
        (void)QTest::qWaitFor([&] { return QFileInfo(path).size() > 0; }, 10000);
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll().trimmed().toLongLong();
    }

    // A destination that already holds a file, which no failed run may touch.
    QString ExistingDest(const QString& name) {
        const QString dest = out_ + "/" + name;
        QFile file(dest);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write("precious");
        return dest;
    }

    static qint64 ParentOf(qint64 pid) {
        QFile stat(QString("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray text = stat.readAll();
        return text.mid(text.lastIndexOf(')') + 2).split(' ').value(1).toLongLong();
    }

    static QByteArray Contents(const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        tool_ = QStringLiteral(CONVERTER_DIR) + "/avformat.dll";
        QVERIFY(QFile::exists(tool_));
        fakeBin_ = dir_.filePath("fakebin");
        out_ = dir_.filePath("out");
        QDir().mkpath(fakeBin_);
        QDir().mkpath(out_);
        WriteScript(fakeBin_ + "/ffmpeg", kFakeFfmpeg);
        // Reads every result back as a second of video.
        WriteScript(fakeBin_ + "/ffprobe", "printf 'codec_type=video\\nduration=1.0\\n'");
        source_ = dir_.filePath("clip.flv");
        QVERIFY(MakeFlv(source_, 1));
    }

    void init() {
        QFile::remove(dir_.filePath("ffmpeg.pid"));
        for (const QString& name : FilesIn(out_))
            QFile::remove(out_ + "/" + name);
    }

    void missingFfmpegIsNamed() {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PATH", dir_.filePath("nowhere"));
        StartTool(process, {"-i", source_, "-y", out_ + "/a.avi"}, env);
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 127);
        QVERIFY(process.readAll().contains("ffmpeg was not found"));
    }

    void badCommandLineIsRefused() {
        QProcess process;
        StartTool(process, {"-i", source_, "-bogus", "1", out_ + "/a.avi"},
                  QProcessEnvironment::systemEnvironment());
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAll().contains("unrecognized option '-bogus'"));
    }

    void ffmpegGetsTodaysLineAndSafePaths() {
        QProcess process;
        StartTool(process, {"-i", "-y.flv", "-vcodec", "xvid", "-ab", "64", out_ + "/-f.avi"},
                  FakeEnvironment("exit0"));
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        const QStringList args = QString::fromUtf8(Contents(dir_.filePath("ffmpeg.args")))
                                     .split('\n', Qt::SkipEmptyParts);
        QVERIFY(args.contains("-nostdin"));
        QCOMPARE(args.at(args.indexOf("-i") + 1), "file:" + QDir::currentPath() + "/-y.flv");
        QVERIFY2(args.last().startsWith("file:" + out_ + "/.~avformat-"), qPrintable(args.last()));
        QVERIFY(args.last().endsWith(".avi"));
        QVERIFY(args.join(' ').contains("-c:v mpeg4 -b:a 64k"));
        // The finished temporary file was moved into place under the asked name.
        QCOMPARE(FilesIn(out_), QStringList{"-f.avi"});
    }

    // The encoder list is asked once and kept; an ffmpeg that changes is asked again.
    void encoderListIsKeptBetweenRuns() {
        const QString queries = dir_.filePath("encoder-queries");
        QFile::remove(queries);
        QFile::remove(home_.path() + "/.cache/Morvane/Vantelo/ffmpeg-encoders");
        const auto convert = [&](const QString& name, const QString& mode = "exit0") {
            QProcess process;
            StartTool(process, {"-i", source_, "-y", "-vcodec", "xvid", out_ + "/" + name},
                      FakeEnvironment(mode));
            QVERIFY(process.waitForFinished());
            QCOMPARE(process.exitCode(), 0);
            QVERIFY(Contents(dir_.filePath("ffmpeg.args")).contains("mpeg4"));
        };
        convert("a.avi");
        convert("b.avi");
        QCOMPARE(Contents(queries).count("asked"), 1);
        WriteScript(fakeBin_ + "/ffmpeg", kFakeFfmpeg + "\n# a newer build\n");
        convert("c.avi");
        convert("d.avi");
        QCOMPARE(Contents(queries).count("asked"), 2);
        // A listing from an ffmpeg that then failed serves its run but is not kept.
        QFile::remove(home_.path() + "/.cache/Morvane/Vantelo/ffmpeg-encoders");
        convert("e.avi", "listfails");
        convert("f.avi", "listfails");
        QCOMPARE(Contents(queries).count("asked"), 4);
    }

    void exitStatusIsFfmpegsAndFailureKeepsTheOldFile() {
        const QString dest = ExistingDest("kept.avi");
        QProcess process;
        StartTool(process, {"-i", source_, "-y", dest}, FakeEnvironment("exit7"));
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 7);
        QCOMPARE(Contents(dest), QByteArray("precious"));
        QCOMPARE(FilesIn(out_), QStringList{"kept.avi"});
    }

    void noOverwriteWithoutY() {
        const QString dest = ExistingDest("there.avi");
        QProcess process;
        StartTool(process, {"-i", source_, "-vcodec", "mpeg4", dest}, FakeEnvironment("exit0"));
        QVERIFY(process.waitForFinished());
        QVERIFY(process.exitCode() != 0);
        QVERIFY(process.readAll().contains("already exists"));
        QCOMPARE(Contents(dest), QByteArray("precious"));
    }

    void realFfmpegReplacesTheFileOnSuccessOnly() {
        const QString dest = ExistingDest("real.avi");
        int code = -1;
        Run(tool_, {"-i", dir_.filePath("missing.flv"), "-y", dest}, &code);
        QVERIFY(code != 0);
        QCOMPARE(Contents(dest), QByteArray("precious"));
        QCOMPARE(FilesIn(out_), QStringList{"real.avi"});

        Run(tool_,
            {"-i", source_, "-y", "-s", "160x120", "-vcodec", "mpeg4", "-acodec", "mp3", dest},
            &code);
        QCOMPARE(code, 0);
        const Probe probe = ProbeFile(dest);
        QCOMPARE(probe.width, 160);
        QVERIFY(probe.hasAudio);
        QCOMPARE(FilesIn(out_), QStringList{"real.avi"});
    }

    // In a new home the conversion need not wait for ffmpeg's encoder list: when this is the
    // ffmpeg the program was built beside it starts at once, once, and the list is still kept.
    void firstConversionInANewHomeStartsFfmpegOnce() {
        const QString cache = home_.path() + "/.cache/Morvane/Vantelo/ffmpeg-encoders";
        for (const QString& name : {QString("first.3gp"), QString("next.3gp")}) {
            if (name == "first.3gp")
                QFile::remove(cache);
            QProcess process;
            StartTool(process,
                      {"-i", source_, "-y", "-vcodec", "h263", "-s", "176x144", "-acodec", "amr_nb",
                       "-ar", "8000", "-ac", "1", out_ + "/" + name},
                      QProcessEnvironment::systemEnvironment());
            QVERIFY(process.waitForFinished(60000));
            const QByteArray output = process.readAll();
            QCOMPARE(process.exitCode(), 0);
            QCOMPARE(output.count("avformat.dll: ffmpeg "), 1);
            QVERIFY(QFile::exists(cache));
            QCOMPARE(ProbeFile(out_ + "/" + name).width, 176);
        }
    }

    void terminationEndsFfmpegAndRemovesThePartialFile_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<int>("signal");
        QTest::newRow("ffmpeg obeys SIGTERM") << "work" << SIGTERM;
        QTest::newRow("ffmpeg ignores SIGTERM") << "stubborn" << SIGTERM;
        QTest::newRow("interrupt") << "work" << SIGINT;
    }
    void terminationEndsFfmpegAndRemovesThePartialFile() {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        const QString dest = ExistingDest("busy.avi");
        QProcess process;
        StartTool(process, {"-i", source_, "-y", dest}, FakeEnvironment(mode));
        const qint64 ffmpeg = FakePid();
        QVERIFY(modProcesses::IsRunning(ffmpeg));
        QCOMPARE(FilesIn(out_).size(), 2); // the destination and the partial file
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QVERIFY(!modProcesses::IsRunning(ffmpeg));
        QCOMPARE(FilesIn(out_), QStringList{"busy.avi"});
        QCOMPARE(Contents(dest), QByteArray("precious"));
    }

    void killedConverterTakesFfmpegWithIt() {
        QProcess process;
        StartTool(process, {"-i", source_, "-y", out_ + "/k.avi"}, FakeEnvironment("work"));
        const qint64 ffmpeg = FakePid();
        QVERIFY(modProcesses::IsRunning(ffmpeg));
        process.kill();
        QVERIFY(process.waitForFinished());
        QVERIFY(QTest::qWaitFor([&] { return !modProcesses::IsRunning(ffmpeg); }, 5000));
    }

    // A source cut short while it is converted gives no result: the earlier file stays.
    void sourceThatShrinksIsAFailure() {
        const QString source = dir_.filePath("shrinking.flv");
        QFile::remove(source);
        QVERIFY(QFile::copy(source_, source));
        const QString dest = ExistingDest("shrunk.avi");
        QProcess process;
        StartTool(process, {"-i", source, "-y", dest}, FakeEnvironment("shrink"));
        QVERIFY(process.waitForFinished());
        QVERIFY(process.exitCode() != 0);
        QVERIFY(process.readAll().contains("the source became shorter during the conversion"));
        QCOMPARE(Contents(dest), QByteArray("precious"));
        QCOMPARE(FilesIn(out_), QStringList{"shrunk.avi"});
    }

    // The program that started a conversion is killed outright: its converter and ffmpeg end
    // with it, and nothing takes the destination's name afterwards.
    void killedOwnerTakesConverterAndFfmpegWithIt() {
        QProcess owner;
        owner.setProcessEnvironment(FakeEnvironment("work"));
        owner.start(OWNER_PROGRAM, {CONVERTER_DIR, source_, out_ + "/owned.avi"});
        QVERIFY(owner.waitForStarted());
        const qint64 ffmpeg = FakePid();
        const qint64 converter = ParentOf(ffmpeg);
        QCOMPARE(ParentOf(converter), owner.processId());
        ::kill(static_cast<pid_t>(owner.processId()), SIGKILL);
        QVERIFY(owner.waitForFinished());
        QVERIFY(QTest::qWaitFor(
            [&] { return !modProcesses::IsRunning(converter) && !modProcesses::IsRunning(ffmpeg); },
            3000));
        QTest::qWait(300);
        QVERIFY(FilesIn(out_).isEmpty());
    }

    // The whole tree ends on Cancel: the converter, its ffmpeg and the partial output.
    void cancelThroughTheComponent() {
        const QByteArray oldPath = qgetenv("PATH");
        const QProcessEnvironment env = FakeEnvironment("work");
        for (const char* name : {"PATH", "FAKE_DIR", "FAKE_MODE"})
            qputenv(name, env.value(name).toUtf8());
        AVC::SetProgramFolder(CONVERTER_DIR);
        const QString dest = ExistingDest("cancelled.avi");
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        avc.SetSourceFile(source_);
        avc.SetDestFile(dest);
        avc.SetVideoCodec("mpeg4");
        avc.ConvertMedia(true);
        const qint64 ffmpeg = FakePid();
        qputenv("PATH", oldPath);
        QVERIFY(modProcesses::IsRunning(ffmpeg));
        avc.CancelConvert();
        QVERIFY(!modProcesses::IsRunning(ffmpeg));
        QCOMPARE(FilesIn(out_), QStringList{"cancelled.avi"});
        QCOMPARE(Contents(dest), QByteArray("precious"));
        AVC::SetProgramFolder(QString());
    }
};

QTEST_GUILESS_MAIN(TestTool)
#include "tst_Tool.moc"
