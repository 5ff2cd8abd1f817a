// The converter program avformat.dll as a process: finding ffmpeg, the temporary output, its
// exit status, and ending ffmpeg with it. A scripted ffmpeg on the PATH plays the long runs.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "TestHome.h"
#include "modProcesses.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>

using namespace ConverterTest;

namespace {

// Answers the encoder question like ffmpeg, counting the questions; otherwise records its arguments
// and process id, starts the output file and works until told otherwise by FAKE_MODE ("shrink"
// empties the source, "swap" puts a link to $FAKE_DIR/outside in place of its output, "vanish"
// removes the folder $FAKE_REMOVE; each then ends well).
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
  swap) rm -f "${last#file:}"; ln -s "$FAKE_DIR/outside" "${last#file:}"; exit 0 ;;
  vanish) rm -rf "$FAKE_REMOVE"; exit 0 ;;
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

    qint64 FakePid(const QString& program = "ffmpeg") const {
        const QString path = dir_.filePath(program + ".pid");
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

    static void WriteFile(const QString& path, const QByteArray& data) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(data);
    }

    // A process that has ended: its id names no converter that runs.
    static qint64 DeadPid() {
        QProcess gone;
        gone.start("true", {});
        gone.waitForStarted();
        const qint64 pid = gone.processId();
        gone.waitForFinished();
        return pid;
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
        // Reads every result back as a second of video; "stubborn probe" hangs instead, deaf to
        // SIGTERM.
        WriteScript(fakeBin_ + "/ffprobe", "if [ \"$FAKE_MODE\" = stubbornprobe ]; then\n"
                                           "  trap '' TERM; echo $$ > \"$FAKE_DIR/ffprobe.pid\"\n"
                                           "  while :; do sleep 0.1; done\n"
                                           "fi\n"
                                           "printf 'codec_type=video\\nduration=1.0\\n'");
        source_ = dir_.filePath("clip.flv");
        QVERIFY(MakeFlv(source_, 1));
    }

    void init() {
        QFile::remove(dir_.filePath("ffmpeg.pid"));
        QFile::remove(dir_.filePath("ffmpeg.args"));
        QDir(out_).removeRecursively();
        QDir().mkpath(out_);
        WriteFile(dir_.filePath("outside"), "outside");
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
        QTest::newRow("hang-up") << "work" << SIGHUP;
        // While the source is measured, by an ffprobe that hangs and keeps its pipe open.
        QTest::newRow("ffprobe ignores SIGTERM") << "stubbornprobe" << SIGTERM;
    }
    void terminationEndsFfmpegAndRemovesThePartialFile() {
        QFETCH(QString, mode);
        QFETCH(int, signal);
        QFile::remove(dir_.filePath("ffprobe.pid"));
        const QString dest = ExistingDest("busy.avi");
        QProcess process;
        StartTool(process, {"-i", source_, "-y", dest}, FakeEnvironment(mode));
        const qint64 child = FakePid(mode == "stubbornprobe" ? "ffprobe" : "ffmpeg");
        QVERIFY(modProcesses::IsRunning(child));
        QCOMPARE(FilesIn(out_).size(), 2); // the destination and the partial file's folder
        ::kill(static_cast<pid_t>(process.processId()), signal);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
        QCOMPARE(process.exitCode(), signal);
        QVERIFY(!modProcesses::IsRunning(child));
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

    // Hostile sources, folders and meddling during the run: each is named, nothing outside the
    // run is written, and the earlier file stays. The first three are refused before ffmpeg.
    void hostileRunsFailWithAText_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::newRow("FIFO source") << "fifo"
                                     << "is not a regular file";
        QTest::newRow(".part source") << "part"
                                      << "is an incomplete download";
        QTest::newRow("relative output folder") << "relative"
                                                << "is not a full path";
        QTest::newRow("output folder removed meanwhile")
            << "vanish"
            << "was removed or renamed during the conversion";
        QTest::newRow("partial file swapped for a link") << "swap"
                                                         << "was replaced";
    }
    void hostileRunsFailWithAText() {
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QString source = source_;
        if (kind == "fifo")
            QCOMPARE(::mkfifo(qPrintable(source = dir_.filePath("pipe.flv")), 0600) == 0 ||
                         errno == EEXIST,
                     true);
        if (kind == "part") {
            source = dir_.filePath("clip.flv.part");
            QVERIFY(QFile::exists(source) || QFile::copy(source_, source));
        }
        QString folder = out_;
        QProcessEnvironment env =
            FakeEnvironment(kind == "vanish" || kind == "swap" ? kind : "exit0");
        if (kind == "vanish") {
            QVERIFY(QDir().mkpath(folder = dir_.filePath("vanishing")));
            env.insert("FAKE_REMOVE", folder);
        }
        const QString dest =
            kind == "relative" ? "relative/out/result.avi" : folder + "/result.avi";
        if (kind != "vanish" && kind != "relative")
            ExistingDest("result.avi");
        QDir(dir_.path()).mkpath("relative/out");
        QProcess process;
        process.setWorkingDirectory(dir_.path());
        StartTool(process, {"-i", source, "-y", "-vcodec", "mpeg4", dest}, env);
        QVERIFY(process.waitForFinished());
        const QString output = QString::fromUtf8(process.readAll());
        QVERIFY(process.exitCode() != 0);
        QVERIFY2(output.contains(text) && !output.contains("damaged"), qPrintable(output));
        if (kind == "fifo" || kind == "part" || kind == "relative")
            QVERIFY(!QFile::exists(dir_.filePath("ffmpeg.args")));
        QCOMPARE(Contents(dir_.filePath("outside")), QByteArray("outside"));
        if (kind != "vanish" && kind != "relative") {
            QVERIFY(!QFileInfo(dest).isSymLink());
            QCOMPARE(Contents(dest), QByteArray("precious"));
            QCOMPARE(FilesIn(out_), QStringList{"result.avi"});
        }
    }

    // Links under the names of the partial files of the next runs lead nowhere: the run writes
    // only what it made itself.
    void plantedLinkIsNeverWrittenThrough() {
        QProcess process;
        process.setProcessEnvironment(FakeEnvironment("exit0"));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start("/bin/sh", {"-c",
                                  "ln -s \"$1\" \"$2/.~avformat-$$.avi\"; exec \"$3\" -i \"$4\" -y "
                                  "\"$2/planted.avi\"",
                                  "sh", dir_.filePath("outside"), out_, tool_, source_});
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(Contents(dir_.filePath("outside")), QByteArray("outside"));
        QVERIFY(!QFileInfo(out_ + "/planted.avi").isSymLink());
        QCOMPARE(Contents(out_ + "/planted.avi"), QByteArray("partial\n"));
    }

    // What a run removes of the runs before it: only a dead run's own folder, never a file or
    // folder of the user's that looks like one.
    void onlyItsOwnLeftoversAreRemoved_data() {
        QTest::addColumn<QString>("name"); // %1: the process id of a run that died
        QTest::addColumn<QString>("inside");
        QTest::addColumn<bool>("removed");
        QTest::newRow("user's file, old partial name") << ".~%1~notes.txt"
                                                       << "" << false;
        QTest::newRow("user's file, partial name") << ".~avformat-%1.txt"
                                                   << "" << false;
        QTest::newRow("dead run's folder") << ".~avformat-%1-Ab3dE9"
                                           << "partial.avi" << true;
        QTest::newRow("look-alike folder") << ".~avformat-%1-Xy7pQ2"
                                           << "notes.txt" << false;
    }
    void onlyItsOwnLeftoversAreRemoved() {
        QFETCH(QString, name);
        QFETCH(QString, inside);
        QFETCH(bool, removed);
        const QString leftover = out_ + "/" + name.arg(DeadPid());
        if (inside.isEmpty()) {
            WriteFile(leftover, "mine");
        } else {
            QVERIFY(QDir().mkdir(leftover));
            QVERIFY(QFile::setPermissions(leftover, QFileDevice::ReadOwner |
                                                        QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner));
            WriteFile(leftover + "/" + inside, "mine");
        }
        QProcess process;
        StartTool(process, {"-i", source_, "-y", out_ + "/next.avi"}, FakeEnvironment("exit0"));
        QVERIFY(process.waitForFinished());
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QFileInfo::exists(leftover), !removed);
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
