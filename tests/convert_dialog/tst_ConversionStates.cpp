#include "AVC.h"
#include "DialogTestSupport.h"
#include "FakeDesktop.h"
#include "FakeDesktopSession.h"
#include "ProgressBar.h"
#include "RegEdit.h"
#include "StreamPlan.h"
#include "TestHome.h"
#include "frmConvert.h"
#include "modProcesses.h"

#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>
#include <memory>

// The dialog's states with a stand-in converter program (see
// StandInConverter.cpp): its source name says whether it holds, fails or ends normally.
namespace {
const QString kAvi = QStringLiteral("AVI Format (*.avi)");
const QStringList kStatusTexts{"Please Wait Converting...", "Please Wait Converting>..",
                               "Please Wait Converting.>.", "Please Wait Converting..>"};
constexpr int kWait = 20000;
} // namespace

class tst_ConversionStates : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void statusTextRepeatsAfterFourSteps();
    void busyBarCyclesFrom1To99();
    void reportedProgressReplacesTheBusyCycle();
    void progressCaption_data();
    void progressCaption();
    void convertingAnimatesUntilCancelAnsweredYes();
    void normalEndShowsConversionCompleted_data();
    void normalEndShowsConversionCompleted();
    void failedRunShowsTheMessageAndStopsTheBar();
    void longMessageIsShownWithTheBar_data();
    void longMessageIsShownWithTheBar();
    void closingWhileConvertingSavesAndEndsWithoutAQuestion();
    void closingEndsOnlyConvertersLeftBehind();

private:
    frmConvert& openDialog();
    void startConverting(const QString& sourceName);

    TestHome home_;
    FakeDesktop desktop_;
    FakeDesktopSession session_;
    std::unique_ptr<frmConvert> dialog_;
};

void tst_ConversionStates::initTestCase() {
    AVC::SetProgramFolder(STANDIN_CONVERTER_DIR);
}

void tst_ConversionStates::init() {
    QFile::remove(home_.settingsFile());
    desktop_.messages.clear();
    desktop_.answer = vbYes;
    session_.notifications.clear();
    session_.inhibitReasons.clear();
}

void tst_ConversionStates::cleanup() {
    if (dialog_)
        dialog_->close();
    dialog_.reset();
}

frmConvert& tst_ConversionStates::openDialog() {
    dialog_ = std::make_unique<frmConvert>();
    chooseFormat(*dialog_, kAvi);
    return *dialog_;
}

void tst_ConversionStates::startConverting(const QString& sourceName) {
    desktop_.fileAnswer = home_.path() + "/" + sourceName;
    dialog_->cmdSource->click();
    dialog_->cmdConvert->click();
}

void tst_ConversionStates::statusTextRepeatsAfterFourSteps() {
    frmConvert& dialog = openDialog();
    QStringList shown;
    for (int tick = 0; tick < 6; ++tick) {
        dialog.AVC1_Converting();
        shown.append(dialog.lblInfo->text());
        QVERIFY(dialog.tmrPrg->isActive());
    }
    QCOMPARE(shown, kStatusTexts + kStatusTexts.mid(0, 2));
    QCOMPARE(dialog.statusStep(), 2);
    // The label grows with its text.
    QVERIFY(dialog.lblInfo->width() >= dialog.lblInfo->sizeHint().width());
}

void tst_ConversionStates::busyBarCyclesFrom1To99() {
    frmConvert& dialog = openDialog();
    dialog.AVC1_Converting();
    for (int tick = 1; tick <= 99; ++tick) {
        dialog.tmrPrg_Timer();
        QCOMPARE(dialog.Prg->value(), tick);
    }
    dialog.tmrPrg_Timer();
    QCOMPARE(dialog.Prg->value(), 1);

    dialog.Timer1->start();
    dialog.AVC1_Complete();
    QVERIFY(isIdle(dialog) && !dialog.Timer1->isActive());
    QCOMPARE(dialog.Prg->value(), 0);
    QCOMPARE(dialog.statusStep(), 0);
    QVERIFY(dialog.lblInfo->text().isEmpty());
    // The next run's bar continues where this one stopped.
    dialog.tmrPrg_Timer();
    QCOMPARE(dialog.Prg->value(), 2);
}

// A converter that reports how far it is: the bar shows the percentage instead of cycling, the
// status text still animates, and the next run starts with the busy cycle again.
void tst_ConversionStates::reportedProgressReplacesTheBusyCycle() {
    frmConvert& dialog = openDialog();
    startConverting("hold-half.flv");
    QTRY_VERIFY_WITH_TIMEOUT(dialog.Prg->text() == "50 %", kWait);
    QCOMPARE(dialog.Prg->value(), 50);
    QVERIFY(!dialog.tmrPrg->isActive());
    const QString status = dialog.lblInfo->text();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.lblInfo->text() != status, kWait);
    QVERIFY(kStatusTexts.contains(dialog.lblInfo->text()));
    QCOMPARE(dialog.Prg->value(), 50);
    dialog.btnCancel->click();
    QVERIFY(isIdle(dialog));
    QCOMPARE(dialog.Prg->text(), QString("0"));
    dialog.AVC1_Converting();
    QVERIFY(dialog.tmrPrg->isActive());
}

void tst_ConversionStates::progressCaption_data() {
    QTest::addColumn<qint64>("done");
    QTest::addColumn<qint64>("firstDone");
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<QString>("caption");
    // Of a 10-minute source.
    QTest::newRow("start") << qint64(0) << qint64(0) << qint64(0) << "0 %";
    QTest::newRow("pace not known yet") << qint64(252000) << qint64(0) << qint64(2000) << "42 %";
    QTest::newRow("time left") << qint64(252000) << qint64(12000) << qint64(120000)
                               << QString::fromUtf8("42 % · 2 min 54 s left");
    QTest::newRow("seconds left") << qint64(594000) << qint64(0) << qint64(99000)
                                  << QString::fromUtf8("99 % · 1 s left");
    QTest::newRow("hours left") << qint64(1000) << qint64(0) << qint64(10000)
                                << QString::fromUtf8("0 % · 1 h 39 min left");
}

// The time left is paced from the first report of the run, whenever it comes.
void tst_ConversionStates::progressCaption() {
    QFETCH(qint64, done);
    QFETCH(qint64, firstDone);
    QFETCH(qint64, elapsed);
    QFETCH(QString, caption);
    frmConvert& dialog = openDialog();
    qint64 now = 5000000;
    dialog.SetPaceClock([&now] { return now; });
    dialog.AVC1_Progress(firstDone, 600000);
    now += elapsed;
    dialog.AVC1_Progress(done, 600000);
    QCOMPARE(dialog.Prg->text(), caption);
}

void tst_ConversionStates::convertingAnimatesUntilCancelAnsweredYes() {
    frmConvert& dialog = openDialog();
    startConverting("hold.flv");
    QVERIFY(isConverting(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(runningConverterChildren(), 1, kWait);
    QVERIFY(dialog.Timer1->isActive());

    // The first poll tick starts the animation; later ticks move it on.
    QTRY_VERIFY_WITH_TIMEOUT(dialog.tmrPrg->isActive(), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(dialog.lblInfo->text(), kStatusTexts.at(2), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(dialog.Prg->value() > 1, kWait);
    QVERIFY(isConverting(dialog));
    // The options are locked, but the status text and the bar stay lit.
    QVERIFY(dialog.Prg->isEnabled() && dialog.lblInfo->isEnabled());
    QCOMPARE(session_.inhibitReasons, QStringList{"Converting a video"});
    QCOMPARE(session_.held, 1);
    QVERIFY(session_.launcher.last().progressVisible);

    desktop_.answer = vbNo;
    dialog.btnCancel->click();
    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.last().text,
             QStringLiteral("Do you want to abort current conversion?"));
    QCOMPARE(desktop_.messages.last().title, QStringLiteral("Vantelo"));
    QCOMPARE(desktop_.messages.last().style & 0x0F, int(vbYesNo));
    QVERIFY(isConverting(dialog));
    QVERIFY(dialog.Timer1->isActive());
    QVERIFY(dialog.tmrPrg->isActive());
    QCOMPARE(runningConverterChildren(), 1);

    desktop_.answer = vbYes;
    dialog.btnCancel->click();
    QVERIFY(isIdle(dialog));
    QVERIFY(!dialog.Timer1->isActive());
    QCOMPARE(dialog.Prg->value(), 0);
    QCOMPARE(dialog.statusStep(), 0);
    QVERIFY(dialog.lblInfo->text().isEmpty());
    // A cancelled run lets the machine sleep and leaves the launcher; nothing is told.
    QCOMPARE(session_.held, 0);
    QVERIFY(!session_.launcher.last().progressVisible);
    QTRY_COMPARE_WITH_TIMEOUT(runningConverterChildren(), 0, kWait);
    // Nothing further arrives once the poll timer is off.
    QTest::qWait(700);
    QCOMPARE(desktop_.messages.size(), 2);
    QVERIFY(dialog.lblInfo->text().isEmpty());
    QVERIFY(session_.notifications.isEmpty());
}

void tst_ConversionStates::normalEndShowsConversionCompleted_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("result");
    QTest::newRow("under the destination name") << "clip.flv"
                                                << "clip.avi";
    QTest::newRow("beside an earlier file") << "taken.flv"
                                            << "taken (2).avi";
}

void tst_ConversionStates::normalEndShowsConversionCompleted() {
    QFETCH(QString, source);
    QFETCH(QString, result);
    frmConvert& dialog = openDialog();
    bool idleWhenAnnounced = false;
    desktop_.onMessage = [&] { idleWhenAnnounced = isIdle(dialog); };
    startConverting(source);
    QVERIFY(isConverting(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(desktop_.messages.size(), 1, kWait);
    desktop_.onMessage = nullptr;
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("Conversion Completed"));
    QCOMPARE(desktop_.messages.first().title, QStringLiteral("Vantelo"));
    QCOMPARE(desktop_.messages.first().style, int(vbInformation));
    QVERIFY(idleWhenAnnounced);
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.lblInfo->text().isEmpty());
    QCOMPARE(dialog.Prg->value(), 0);
    QVERIFY(!dialog.Timer1->isActive());

    // The user was away: the desktop tells of the end and leads to the result.
    QCOMPARE(session_.held, 0);
    QCOMPARE(session_.notifications.size(), 1);
    QCOMPARE(session_.notifications[0].notification.summary, "Conversion Completed");
    QCOMPARE(session_.notifications[0].notification.body, result);

    // The stand-in wrote what it was given into the result file.
    QFile written(dialog.txtDest->text() + "/" + result);
    QVERIFY(written.open(QIODevice::ReadOnly));
    const QStringList arguments = QString::fromUtf8(written.readAll()).split('\n');
    QVERIFY(arguments.contains(home_.path() + "/" + source));
    QVERIFY(arguments.contains("mpeg4"));
    QVERIFY(arguments.contains("pcm_s16le"));
}

void tst_ConversionStates::failedRunShowsTheMessageAndStopsTheBar() {
    frmConvert& dialog = openDialog();
    startConverting("fail.flv");
    QTRY_VERIFY_WITH_TIMEOUT(isIdle(dialog), kWait);
    QVERIFY(!dialog.lblInfo->text().isEmpty());
    QVERIFY(!kStatusTexts.contains(dialog.lblInfo->text()));
    QCOMPARE(dialog.Prg->value(), 0);
    QVERIFY(!dialog.Timer1->isActive());
    QVERIFY(!dialog.tmrPrg->isActive());
    QCOMPARE(dialog.statusStep(), 0);
    QVERIFY(desktop_.messages.isEmpty());
}

// A message with a long path, and what becomes of each stream with the sound-only warning:
// each is the label's whole text, shown whole where it fits above the bar, else cut with its
// whole text in the tool tip; screen readers hear it whole; the bar stays in sight.
void tst_ConversionStates::longMessageIsShownWithTheBar_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("fromPlan");
    QTest::newRow("error with a long path")
        << "Vantelo: the output folder '/home/someone/Documents/Morvane/Vantelo/Converted "
           "videos of the summer' does not exist"
        << false;
    QTest::newRow("copy and re-encode, sound only")
        << "Video: copy (the source's H.264 fits MP4)\nAudio: re-encode (the source's Opus "
           "is not AAC)\nsound only: the result has no picture"
        << true;
}

void tst_ConversionStates::longMessageIsShownWithTheBar() {
    QFETCH(QString, message);
    QFETCH(bool, fromPlan);
    frmConvert& dialog = openDialog();
    dialog.show();
    if (fromPlan)
        emit dialog.findChild<StreamPlan*>()->Answered(message);
    else
        dialog.AVC1_ErrorEvent(message);
    StatusLabel* label = dialog.lblInfo;
    QCOMPARE(label->text(), message);
    QCOMPARE(label->accessibleDescription(), message);
    QVERIFY2(label->showsAll() || label->toolTip() == message, qPrintable(label->toolTip()));
    QVERIFY(label->width() <= label->maximumWidth());
    QVERIFY(dialog.Prg->isVisible());
    QVERIFY(label->geometry().bottom() < dialog.Prg->y());
}

void tst_ConversionStates::closingWhileConvertingSavesAndEndsWithoutAQuestion() {
    frmConvert& dialog = openDialog();
    startConverting("hold.flv");
    QTRY_VERIFY_WITH_TIMEOUT(dialog.tmrPrg->isActive(), kWait);

    dialog.close();
    QVERIFY(desktop_.messages.isEmpty());
    QVERIFY(!dialog.isLoaded());
    QVERIFY(!dialog.Timer1->isActive());
    QVERIFY(!dialog.tmrPrg->isActive());
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.lblInfo->text().isEmpty());
    QCOMPARE(SettingsStore().LoadKey("Youtube Video format", QString()), kAvi);
    QTRY_COMPARE_WITH_TIMEOUT(runningConverterChildren(), 0, kWait);
    QTest::qWait(700);
    QVERIFY(desktop_.messages.isEmpty());
}

// Closing spares a converter of the same name that this program did not start, and ends one
// that a crashed copy of it left behind.
void tst_ConversionStates::closingEndsOnlyConvertersLeftBehind() {
    frmConvert& dialog = openDialog();
    QProcess crashed;
    crashed.start("sleep", {"0.1"});
    QVERIFY(crashed.waitForStarted());
    const QString crashedMark = modProcesses::OwnerMark(crashed.processId());
    QVERIFY(crashed.waitForFinished());
    QProcess other, leftBehind;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(modProcesses::kOwnerVariable, crashedMark);
    leftBehind.setProcessEnvironment(environment);
    for (QProcess* process : {&other, &leftBehind}) {
        process->start(QStringLiteral(STANDIN_CONVERTER_DIR "/avformat.dll"),
                       {"hold", "/dev/null"});
        QVERIFY(process->waitForStarted());
    }
    QCOMPARE(runningConverterChildren(), 2);
    dialog.close();
    // The close lets pending events run, so the end may already have been noticed.
    QVERIFY(leftBehind.state() == QProcess::NotRunning || leftBehind.waitForFinished(kWait));
    QCOMPARE(other.state(), QProcess::Running);
    QVERIFY(desktop_.messages.isEmpty());
    other.kill();
    other.waitForFinished();
}

QTEST_MAIN(tst_ConversionStates)
#include "tst_ConversionStates.moc"
