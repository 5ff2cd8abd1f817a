// Running, watching and cancelling the converter process, with stand-in converters.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "ProgressReport.h"
#include "modProcesses.h"

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

using namespace ConverterTest;

// The start of most runs below: a stand-in converter made of `script`, then `timer` (the poll
// timer), `avc` (the component, both paths set) and `log` (its events).
#define STAND_IN_RUN(script)                                                                       \
    UseStandIn(script);                                                                            \
    QTimer timer;                                                                                  \
    AVC avc(&timer);                                                                               \
    EventLog log(&avc);                                                                            \
    SetPaths(avc)

class TestProcess : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    // A fresh program folder with a stand-in avformat.dll made of `script`.
    void UseStandIn(const QByteArray& script) {
        const QString folder = dir_.filePath(QString("app%1").arg(++folders_));
        QDir().mkpath(folder);
        WriteScript(folder + "/avformat.dll", script);
        AVC::SetProgramFolder(folder);
    }
    int folders_ = 0;

    static void SetPaths(AVC& avc) {
        avc.SetSourceFile("/in/clip.flv");
        avc.SetDestFile("/out/clip.avi");
    }

    // A process started outside any AVC, named `name`, that sleeps until it is ended.
    QProcess* StartSleeper(const QString& name, const QString& mark = QString()) {
        const QString path = dir_.filePath(name);
        WriteScript(path, "while :; do sleep 0.1; done");
        auto* process = new QProcess(this);
        if (!mark.isEmpty())
            process->setProcessEnvironment(MarkedEnvironment(mark));
        process->start(path, {});
        process->waitForStarted();
        return process;
    }

    static QProcessEnvironment MarkedEnvironment(const QString& mark) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(modProcesses::kOwnerVariable, mark);
        return environment;
    }

    // The current stand-in converter, started outside any AVC with an owner's mark.
    QProcess* StartMarkedConverter(const QString& mark) {
        auto* process = new QProcess(this);
        process->setProcessEnvironment(MarkedEnvironment(mark));
        process->start(AVC::ConverterPath(), {});
        process->waitForStarted();
        return process;
    }

    // Waits for a stand-in to write its process id.
    static qint64 ReadPid(const QString& path) {
        (void)QTest::qWaitFor([&] { return QFileInfo(path).size() > 0; }, 10000);
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.readAll().trimmed().toLongLong();
    }

private slots:
    void initTestCase() { QVERIFY(dir_.isValid()); }
    void cleanupTestCase() { AVC::SetProgramFolder(QString()); }

    void quietConverterEndsWithOneTickAndComplete() {
        STAND_IN_RUN("exit 0");
        avc.ConvertMedia(true);
        QVERIFY(log.events.isEmpty()); // nothing before the first tick
        QVERIFY(timer.isActive());
        QCOMPARE(timer.interval(), 300);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.events.last(), QString("Complete"));
        QVERIFY(log.Count("Converting") >= 1);
        QCOMPARE(log.events.at(log.events.size() - 2), QString("Converting"));
        QVERIFY(!timer.isActive());
    }

    // The end is seen when the converter exits, not on the next tick: with the timer slowed to
    // an hour after the start, only that prompt tick can end the run, in the usual order.
    void endIsSeenWithoutWaitingForTheTimer() {
        STAND_IN_RUN("exit 0");
        int ticks = 0;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        avc.ConvertMedia(true);
        timer.setInterval(3600 * 1000);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.events, QStringList({"Converting", "Complete"}));
        QCOMPARE(ticks, 0);
        QVERIFY(!timer.isActive());
        QTest::qWait(50);
        QCOMPARE(log.events.size(), 2); // no second end
    }

    void promptEndOfAFailedRun() {
        STAND_IN_RUN("echo 'no such codec'; exit 1");
        avc.ConvertMedia(true);
        timer.setInterval(3600 * 1000);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.events, QStringList({"Converting", "ErrorEvent:no such codec"}));
    }

    // A Converting handler that runs a nested event loop (as a message box does) while the
    // converter ends: the exit, noticed meanwhile, starts no second tick inside it, and the run
    // ends once, after the handler returns.
    void tickIsNotReenteredFromANestedLoop() {
        const QString pidFile = dir_.filePath("nested.pid");
        STAND_IN_RUN("echo $$ > '" + pidFile.toUtf8() + "'; echo working; sleep 0.5");
        int depth = 0;
        bool nested = false;
        connect(&avc, &AVC::Converting, this, [&] {
            nested = nested || depth > 0;
            if (log.Count("Converting") > 1)
                return;
            ++depth;
            const qint64 pid = ReadPid(pidFile);
            (void)QTest::qWaitFor([&] { return !modProcesses::IsRunning(pid); }, 10000);
            QTest::qWait(400); // the exit is noticed in here
            --depth;
        });
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QVERIFY(!nested);
        QCOMPARE(log.events, QStringList({"Converting", "Complete"}));
    }

    // The dialog's cancel ends the converter and switches the timer off: nothing follows, not
    // even when the exit is noticed afterwards.
    void nothingFollowsACancelWithTheTimerOff() {
        const QString pidFile = dir_.filePath("cancelled.pid");
        STAND_IN_RUN("echo $$ > '" + pidFile.toUtf8() + "'; while :; do sleep 0.1; done");
        avc.ConvertMedia(true);
        const qint64 pid = ReadPid(pidFile);
        log.events.clear();
        // The end of a cancelled run is logged all the same.
        QLoggingCategory::setFilterRules("vantelo.converter.exit.debug=true");
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression("cancelled true$"));
        avc.CancelConvert();
        QLoggingCategory::setFilterRules(QString());
        timer.stop();
        QVERIFY(!modProcesses::IsRunning(pid));
        QTest::qWait(400);
        QVERIFY(log.events.isEmpty());
    }

    void parametersAreClearedAtTheEnd() {
        STAND_IN_RUN("exit 0");
        avc.SetSameQuality(true);
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        avc.ConvertMedia(true);
        QCOMPARE(log.Last(), QString("ErrorEvent:No source filename defined"));
        avc.SetSourceFile("/in/b.flv");
        avc.SetDestFile("/out/b.avi");
        avc.ConvertMedia(false);
        QVERIFY(!avc.CommandLine().contains("-sameq"));
    }

    // 5 MB of output must not hold the converter back: it writes it all and then reports, and
    // the run ends right after.
    void talkativeConverterRunsFree() {
        const QString marker = dir_.filePath("talker-done");
        STAND_IN_RUN("i=0; while [ $i -lt 80 ]; do head -c 65536 /dev/zero | tr '\\0' 'x'; "
                     "echo; i=$((i+1)); done; echo 'all written'; touch '" +
                     marker.toUtf8() + "'");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
        QVERIFY(QFile::exists(marker));
    }

    void failingConverterReportsItsLastLine() {
        STAND_IN_RUN("echo 'working...'; printf 'frame=1\\r'; echo 'disk full, giving up'; echo; "
                     "echo 'avformat.dll: progress 1.0/2.0' >&$VANTELO_REPORT_FD; exit 3");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("ErrorEvent:disk full, giving up"));
        QCOMPARE(log.Count("Complete"), 0);
        QCOMPARE(log.events.at(log.events.size() - 2), QString("Converting"));
        QVERIFY(!timer.isActive());
    }

    // How far the run is and where its result went are heard on the converter's own
    // descriptor only, never from the output text (which holds names the user did not choose),
    // and a result is taken only in the destination's folder.
    void reportsComeOnTheirOwnDescriptor_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("resultFile");
        QTest::addColumn<QString>("progress");
        const QByteArray report =
            QByteArray("> /dev/fd/$") + ProgressReport::kDescriptorVariable + "; exit 0";
        QTest::newRow("in the output text")
            << QByteArray("printf 'avformat.dll: progress 30.0/60.0\\navformat.dll: saved as "
                          "/out/clip (2).avi\\n'")
            << "/out/clip.avi"
            << "";
        QTest::newRow("on the descriptor")
            << "printf 'avformat.dll: progress 30.0/60.0\\navformat.dll: saved as "
               "/out/clip (2).avi\\n' " +
                   report
            << "/out/clip (2).avi"
            << "30000/60000";
        QTest::newRow("result in another folder")
            << "printf 'avformat.dll: saved as /out/../clip (2).avi\\n' " + report
            << "/out/clip.avi"
            << "";
        QTest::newRow("result named with a line break")
            << "printf 'avformat.dll: saved as /out/clip%%0Aavformat.dll: saved as x.avi\\n' " +
                   report
            << "/out/clip\navformat.dll: saved as x.avi"
            << "";
    }
    void reportsComeOnTheirOwnDescriptor() {
        QFETCH(QByteArray, script);
        QFETCH(QString, resultFile);
        QFETCH(QString, progress);
        STAND_IN_RUN(script);
        QStringList heard;
        connect(&avc, &AVC::Progress, this,
                [&](qint64 done, qint64 total) { heard << QString("%1/%2").arg(done).arg(total); });
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
        QCOMPARE(avc.ResultFile(), resultFile);
        QCOMPARE(heard.join(' '), progress);
    }

    void crashingConverterIsAFailure() {
        STAND_IN_RUN("kill -SEGV $$");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("ErrorEvent:Vantelo: the converter ended abnormally"));
    }

    void silentFailureNamesTheExitCode() {
        STAND_IN_RUN("exit 2");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("ErrorEvent:Vantelo: the converter ended with exit code 2"));
    }

    void converterThatCannotStart() {
        STAND_IN_RUN("exit 0");
        QFile::setPermissions(AVC::ProgramFolder() + "/avformat.dll",
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        avc.ConvertMedia(true);
        QCOMPARE(log.events.size(), 1);
        QVERIFY2(log.Last().startsWith("ErrorEvent:Unable to start avformat.dll: "),
                 qPrintable(log.Last()));
        QVERIFY(log.Last().size() > QString("ErrorEvent:Unable to start avformat.dll: ").size());
        QVERIFY(!timer.isActive());
    }

    void noStandardInput() {
        const QString seen = dir_.filePath("stdin-seen");
        STAND_IN_RUN("cat > '" + seen.toUtf8() + "'");
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd(10000)); // a converter reading stdin would wait forever
        QCOMPARE(QFileInfo(seen).size(), 0);
    }

    void cancelEndsTheConverterAndTheRunCompletes() {
        const QString pidFile = dir_.filePath("hanger.pid");
        STAND_IN_RUN("echo $$ > '" + pidFile.toUtf8() +
                     "'; while :; do echo tick; sleep 0.1; done");
        avc.ConvertMedia(true);
        QVERIFY(QTest::qWaitFor([&] { return log.Count("Converting") >= 2; }, 10000));
        const qint64 pid = ReadPid(pidFile);
        QVERIFY(modProcesses::IsRunning(pid));
        const int before = log.events.size();
        avc.CancelConvert();
        QCOMPARE(log.events.size(), before); // Cancel itself raises nothing
        QVERIFY(!modProcesses::IsRunning(pid));
        // The poll timer was left on: the next tick ends the run in the ordinary way.
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
    }

    // Cancel ends this component's converter only: processes of the same name that it did not
    // start, and converters of a copy of Vantelo that still runs, go on.
    void cancelSparesConvertersItDidNotStart() {
        QProcess* upper = StartSleeper("XAVFORMAT.DLL");
        QProcess* mixed = StartSleeper("AvFormat.Dll");
        QVERIFY(modProcesses::FindByName("avformat.dll").contains(upper->processId()));
        UseStandIn("while :; do sleep 0.1; done");
        QProcess* otherCopy = StartMarkedConverter(modProcesses::OwnerMark(mixed->processId()));
        QTimer timer;
        AVC avc(&timer);
        avc.CancelConvert();
        QTest::qWait(200);
        for (QProcess* process : {upper, mixed, otherCopy}) {
            QCOMPARE(process->state(), QProcess::Running);
            process->kill();
            process->waitForFinished();
        }
    }

    // Converters that a copy of Vantelo left running when it died are ended, whether their
    // owner is gone or its process id now belongs to another process.
    void cancelEndsConvertersLeftBehind() {
        UseStandIn("while :; do sleep 0.1; done");
        QProcess gone;
        gone.start("sleep", {"0.1"});
        QVERIFY(gone.waitForStarted());
        const QString goneMark = modProcesses::OwnerMark(gone.processId());
        QVERIFY(gone.waitForFinished());
        const QString self = modProcesses::OwnerMark();
        QProcess* deadOwner = StartMarkedConverter(goneMark);
        QProcess* reusedId = StartMarkedConverter(self.section(':', 0, 0) + ":1");
        QProcess* otherProgram = StartSleeper("avformat.dll", goneMark);
        QTimer timer;
        AVC avc(&timer);
        avc.CancelConvert();
        QVERIFY(deadOwner->waitForFinished(5000));
        QVERIFY(reusedId->waitForFinished(5000));
        QCOMPARE(otherProgram->state(), QProcess::Running);
        otherProgram->kill();
        otherProgram->waitForFinished();
    }

    void stubbornConverterIsKilled() {
        const QString pidFile = dir_.filePath("stubborn.pid");
        STAND_IN_RUN("trap '' TERM; echo $$ > '" + pidFile.toUtf8() +
                     "'; while :; do sleep 0.1; done");
        avc.ConvertMedia(true);
        const qint64 pid = ReadPid(pidFile);
        avc.CancelConvert();
        QVERIFY(!modProcesses::IsRunning(pid));
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
    }

    // A converter that ignores SIGTERM and has a child of its own: Cancel ends both, as the
    // converter leads a process group and the group is what is signalled.
    void cancelEndsAStubbornConverterWithItsChild() {
        const QString pidFile = dir_.filePath("group.pid");
        const QString childFile = dir_.filePath("group-child.pid");
        STAND_IN_RUN("sleep 600 & echo $! > '" + childFile.toUtf8() +
                     "'; trap '' TERM; echo $$ > '" + pidFile.toUtf8() +
                     "'; while :; do sleep 0.1; done");
        avc.ConvertMedia(true);
        const qint64 pid = ReadPid(pidFile);
        const qint64 child = ReadPid(childFile);
        QVERIFY(modProcesses::IsRunning(child));
        avc.CancelConvert();
        QVERIFY(!modProcesses::IsRunning(pid));
        QVERIFY(QTest::qWaitFor([&] { return !modProcesses::IsRunning(child); }, 2000));
    }

    void cancelWithNothingRunning() {
        QTimer timer;
        AVC avc(&timer);
        EventLog log(&avc);
        avc.CancelConvert();
        QTest::qWait(50);
        QVERIFY(log.events.isEmpty());
    }

    // The owner may switch the timer off after a cancel; a new run starts cleanly anyway.
    void newRunAfterACancelWithTheTimerOff() {
        STAND_IN_RUN("while :; do sleep 0.1; done");
        avc.ConvertMedia(true);
        QTest::qWait(100);
        avc.CancelConvert();
        timer.stop();
        UseStandIn("exit 0");
        log.events.clear();
        avc.ConvertMedia(true);
        QVERIFY(log.WaitForEnd());
        QCOMPARE(log.Last(), QString("Complete"));
    }

    void destroyingTheComponentEndsItsConverter() {
        const QString pidFile = dir_.filePath("orphan.pid");
        UseStandIn("echo $$ > '" + pidFile.toUtf8() + "'; while :; do sleep 0.1; done");
        QTimer timer;
        qint64 pid = 0;
        {
            AVC avc(&timer);
            SetPaths(avc);
            avc.ConvertMedia(true);
            pid = ReadPid(pidFile);
            QVERIFY(modProcesses::IsRunning(pid));
        }
        QVERIFY(!modProcesses::IsRunning(pid));
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"
