#include "Startup.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <unistd.h>

// The running-copy rule, with real processes: this program doubles as a lock holder
// ("--hold-lock <path> [exit]") and starts the real program for the end-to-end cases.
namespace {

int holdLock(const QString& path, bool exitWithoutUnlocking) {
    const auto lock = Startup::AcquireInstanceLock(path);
    const bool locked = lock && lock->isLocked();
    std::printf(locked ? "locked\n" : "refused\n");
    std::fflush(stdout);
    if (!locked)
        return 1;
    if (exitWithoutUnlocking)
        _exit(0); // like a crash: the lock file stays behind
    // Holds the lock until the test closes our input or kills us.
    char buffer[16];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

QStringList holderArguments(const QString& path, bool exitAtOnce) {
    QStringList arguments{QStringLiteral("--hold-lock"), path};
    if (exitAtOnce)
        arguments << QStringLiteral("exit");
    return arguments;
}

// Starts this program as a lock holder and waits until it has answered.
bool startHolder(QProcess& holder, const QString& path, bool exitAtOnce) {
    holder.start(QCoreApplication::applicationFilePath(), holderArguments(path, exitAtOnce));
    if (!holder.waitForStarted() || !holder.waitForReadyRead(30000))
        return false;
    return holder.readAllStandardOutput().trimmed() == "locked";
}

// Whether this process gets the lock (and keeps it until the end of the statement).
bool takesLock(const QString& path) {
    const auto lock = Startup::AcquireInstanceLock(path);
    return lock && lock->isLocked();
}

QProcessEnvironment programEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A refused proxy keeps the advertisement pane off the network.
    env.insert(QStringLiteral("http_proxy"), QStringLiteral("http://127.0.0.1:9"));
    return env;
}

} // namespace

class tst_Startup : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void lockIsInTheRuntimeFolder();
    void oneLockPerUserWithinAProcess();
    void folderWithoutRoomForALockDoesNotStopTheProgram();
    void liveHolderInAnotherProcessRefusesTheLock();
    void lockOfACopyThatDiedIsTakenOver();
    void secondCopyOfTheProgramEndsAtOnceAndTouchesNothing();
    void runningProgramHoldsTheLockUntilItDies();

private:
    std::unique_ptr<TestHome> home_;
};

void tst_Startup::init() {
    home_ = std::make_unique<TestHome>();
}

void tst_Startup::cleanup() {
    home_.reset();
}

void tst_Startup::lockIsInTheRuntimeFolder() {
    QCOMPARE(QFileInfo(Startup::InstanceLockPath()).absolutePath(), home_->path() + "/runtime");
}

void tst_Startup::oneLockPerUserWithinAProcess() {
    const QString path = Startup::InstanceLockPath();
    auto first = Startup::AcquireInstanceLock(path);
    QVERIFY(first && first->isLocked());
    QVERIFY(!Startup::AcquireInstanceLock(path));
    first.reset();
    QVERIFY(takesLock(path));
}

void tst_Startup::folderWithoutRoomForALockDoesNotStopTheProgram() {
    const auto lock = Startup::AcquireInstanceLock(home_->path() + "/no such folder/x.lock");
    QVERIFY(lock);
    QVERIFY(!lock->isLocked());
}

void tst_Startup::liveHolderInAnotherProcessRefusesTheLock() {
    const QString path = Startup::InstanceLockPath();
    QProcess holder;
    QVERIFY(startHolder(holder, path, false));
    QVERIFY(!Startup::AcquireInstanceLock(path));
    QVERIFY(!Startup::AcquireInstanceLock(path));
    // A crash of the holder frees the lock for the next copy.
    holder.kill();
    QVERIFY(holder.waitForFinished());
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(takesLock(path));
}

void tst_Startup::lockOfACopyThatDiedIsTakenOver() {
    const QString path = Startup::InstanceLockPath();
    QProcess holder;
    QVERIFY(startHolder(holder, path, true));
    QVERIFY(holder.waitForFinished());
    QVERIFY2(QFileInfo::exists(path), "the dead copy should have left its lock file");
    const auto lock = Startup::AcquireInstanceLock(path);
    QVERIFY(lock && lock->isLocked());
    qint64 owner = 0;
    QVERIFY(lock->getLockInfo(&owner, nullptr, nullptr));
    QCOMPARE(owner, QCoreApplication::applicationPid());
}

void tst_Startup::secondCopyOfTheProgramEndsAtOnceAndTouchesNothing() {
    const auto lock = Startup::AcquireInstanceLock(Startup::InstanceLockPath());
    QVERIFY(lock && lock->isLocked());
    QProcess second;
    second.setProcessEnvironment(programEnvironment());
    second.start(QStringLiteral(VANTELO_PROGRAM), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(home_->settingsFile()));
    QVERIFY(!QFileInfo::exists(home_->path() + "/Documents/Morvane"));
}

void tst_Startup::runningProgramHoldsTheLockUntilItDies() {
    const QString path = Startup::InstanceLockPath();
    QProcess first;
    first.setProcessEnvironment(programEnvironment());
    first.start(QStringLiteral(VANTELO_PROGRAM), {});
    QVERIFY(first.waitForStarted());
    // Loading the window makes the output folder; by then the lock is long taken.
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(home_->path() + "/Documents/Morvane/Vantelo"),
                             60000);
    QCOMPARE(first.state(), QProcess::Running);
    QVERIFY(!Startup::AcquireInstanceLock(path));

    QProcess second;
    second.setProcessEnvironment(programEnvironment());
    second.start(QStringLiteral(VANTELO_PROGRAM), {});
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(takesLock(path));
}

int main(int argc, char* argv[]) {
    if (argc >= 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        QCoreApplication app(argc, argv);
        return holdLock(QString::fromLocal8Bit(argv[2]), argc > 3 && qstrcmp(argv[3], "exit") == 0);
    }
    QCoreApplication app(argc, argv);
    tst_Startup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Startup.moc"
