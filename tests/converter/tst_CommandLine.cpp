// The converter component's parameter checks, its command line and the argument list that the
// converter receives.
#include "AVC.h"
#include "ConverterTestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

using namespace ConverterTest;

class TestCommandLine : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString programs_; // holds a stand-in avformat.dll that records its arguments
    QString argLog_;

    QString Program() const { return programs_ + "/avformat.dll"; }

    // Runs a conversion to its end and returns the arguments the stand-in received.
    QStringList ArgumentsReceived(AVC& avc) {
        QFile::remove(argLog_);
        EventLog log(&avc);
        avc.ConvertMedia(true);
        if (!log.WaitForEnd())
            return {"<no end>"};
        QFile file(argLog_);
        if (!file.open(QIODevice::ReadOnly))
            return {"<no log>"};
        QStringList args = QString::fromUtf8(file.readAll()).split('\0');
        args.removeLast(); // after the last terminator
        return args;
    }

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        programs_ = dir_.filePath("app folder");
        QVERIFY(QDir().mkpath(programs_));
        argLog_ = dir_.filePath("args.bin");
        WriteScript(Program(),
                    "for a in \"$@\"; do printf '%s\\0' \"$a\"; done > '" + argLog_.toUtf8() + "'");
        AVC::SetProgramFolder(programs_);
    }

    void checksComeInOrder() {
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        avc.ConvertMedia(true);
        QCOMPARE(log.events, QStringList{"ErrorEvent:No source filename defined"});
        QVERIFY(avc.CommandLine().isEmpty());

        avc.SetSourceFile("/in/clip.flv");
        avc.ConvertMedia(true);
        QCOMPARE(log.Last(), QString("ErrorEvent:No destination filename defined"));
        QVERIFY(avc.CommandLine().isEmpty());
        QCOMPARE(log.events.size(), 2);
    }

    void missingConverterIsReportedAfterTheLineIsBuilt() {
        QTemporaryDir empty;
        AVC::SetProgramFolder(empty.path());
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        avc.SetSourceFile("/in/clip.flv");
        avc.SetDestFile("/out/clip.avi");
        avc.ConvertMedia(true);
        AVC::SetProgramFolder(programs_);
        QCOMPARE(log.events, QStringList{"ErrorEvent:Unable to locate avformat.dll"});
        QCOMPARE(avc.CommandLine(),
                 empty.path() + "/avformat.dll -i \"/in/clip.flv\" -y \"/out/clip.avi\"");
        QVERIFY(!timer.isActive());
        QTest::qWait(50);
        QCOMPARE(log.events.size(), 1); // nothing was started
    }

    void bareLineWithoutOverwrite() {
        QTimer timer;
        AVC avc(&timer);
        avc.SetSourceFile("/in/clip.flv");
        avc.SetDestFile("/out/clip.avi");
        avc.ConvertMedia(false);
        // The converter's path holds a space here, so it is quoted.
        QCOMPARE(avc.CommandLine(), "\"" + Program() + "\" -i \"/in/clip.flv\" \"/out/clip.avi\"");
        QVERIFY(!avc.Arguments().contains("-y"));
    }

    void lineOfTheXvidExample() {
        QTimer timer;
        AVC avc(&timer);
        avc.SetSourceFile("/in/clip.flv");
        avc.SetDestFile("/out/clip.avi");
        avc.SetVideoCodec("xvid");
        avc.SetAudioCodec("mp3");
        avc.ConvertMedia(true);
        QCOMPARE(avc.CommandLine(), "\"" + Program() +
                                        "\" -i \"/in/clip.flv\" -y -vcodec xvid -acodec mp3 "
                                        "\"/out/clip.avi\"");
    }

    void everyOptionInItsPlace() {
        QTimer timer;
        AVC avc(&timer);
        avc.SetSourceFile("s");
        avc.SetDestFile("d");
        // Set in the interface's order, which differs from the line's.
        avc.SetRateControlBuffer("11");
        avc.SetVideoBitrateTolerance("7");
        avc.SetTargetFormat("9");
        avc.SetGroupOfPictureSize("12");
        avc.SetVideoQuantiserScale("13");
        avc.SetMaxVideoBitrate("14");
        avc.SetDeInterlace(true);
        avc.SetSameQuality(true);
        avc.SetVideoSize("3");
        avc.SetVideoBitrate("1");
        avc.SetVideoFrameRate("2");
        avc.SetVideoCodec("4");
        avc.SetVideoFourCCTag("5");
        avc.SetVideoAspectRatio("6");
        avc.SetForceFormat("8");
        avc.SetAudioBitrate("17");
        avc.SetAudioCodec("15");
        avc.SetAudioFourCCTag("16");
        avc.SetAudioSamples("18");
        avc.SetAudioChannels("0");
        avc.ConvertMedia(true);
        const QString expected = "-y -b 1 -r 2 -s 3 -vcodec 4 -vtag 5 -aspect 6 -bt 7 -f 8 "
                                 "-target 9 -bufsize 11 -g 12 -qscale 13 -maxrate 14 -deinterlace "
                                 "-sameq -acodec 15 -atag 16 -ab 17 -ar 18 -ac 0 \"d\"";
        QVERIFY2(avc.CommandLine().endsWith(" -i \"s\" " + expected),
                 qPrintable(avc.CommandLine()));
    }

    void valuesGoOutUnquotedAndUnchanged() {
        QTimer timer;
        AVC avc(&timer);
        avc.SetSourceFile("/my videos/a clip.flv");
        avc.SetDestFile("/out dir/a clip.avi");
        avc.SetVideoSize("320 x 240");
        avc.SetVideoBitrate("0");
        QCOMPARE(ArgumentsReceived(avc),
                 (QStringList{"-i", "/my videos/a clip.flv", "-y", "-b", "0", "-s", "320", "x",
                              "240", "/out dir/a clip.avi"}));
        QVERIFY(avc.CommandLine().contains(" -b 0 -s 320 x 240 \"/out dir/a clip.avi\""));
    }

    // Each path reaches the converter as one argument whatever it holds; no shell reads it.
    void fileNamesCannotAddOptions() {
        QTimer timer;
        AVC avc(&timer);
        const QString source = "-y \"quoted\" $(touch pwned) `id` ; & | *.flv";
        const QString dest = "-f mp4 'single' \\back\\slash.avi";
        avc.SetSourceFile(source);
        avc.SetDestFile(dest);
        avc.SetAudioCodec("mp3");
        QCOMPARE(ArgumentsReceived(avc), (QStringList{"-i", source, "-y", "-acodec", "mp3", dest}));
        QVERIFY(!QFile::exists("pwned"));
    }

    void parametersStayAfterAFailedCheck() {
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        avc.SetSourceFile("/in/clip.flv");
        avc.SetVideoCodec("mpeg4");
        avc.ConvertMedia(true);
        QCOMPARE(log.Last(), QString("ErrorEvent:No destination filename defined"));
        avc.SetDestFile("/out/clip.avi");
        QCOMPARE(ArgumentsReceived(avc),
                 (QStringList{"-i", "/in/clip.flv", "-y", "-vcodec", "mpeg4", "/out/clip.avi"}));
    }

    void theProgramsOwnFolderByDefault() {
        AVC::SetProgramFolder(QString());
        QCOMPARE(AVC::ProgramFolder(), QCoreApplication::applicationDirPath());
        AVC::SetProgramFolder(programs_);
        QCOMPARE(AVC::ProgramFolder(), programs_);
    }

    void installedConverterUnderLibexec() {
        QTemporaryDir prefix;
        const QString bin = prefix.path() + "/bin";
        const QString libexec = prefix.path() + "/libexec/vantelo";
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(libexec));
        QCOMPARE(AVC::DefaultProgramFolder(bin), bin); // nothing installed: the build tree
        QVERIFY(QFile::copy(Program(), libexec + "/avformat.dll"));
        QCOMPARE(AVC::DefaultProgramFolder(bin), libexec);
        QVERIFY(QFile::setPermissions(libexec + "/avformat.dll", QFileDevice::ReadOwner));
        QCOMPARE(AVC::DefaultProgramFolder(bin), bin); // not a program
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_CommandLine.moc"
