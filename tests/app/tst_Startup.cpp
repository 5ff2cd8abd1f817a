#include "PrivateSessionBus.h"
#include "StandInDisplay.h"
#include "Startup.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

// The running-copy rule with real processes. This program doubles as a lock holder
// ("--hold-lock <path> [exit]"), and the real program is started for the end-to-end cases.
namespace {

bool takesLock(const QString& path) {
    const auto lock = Startup::AcquireInstanceLock(path);
    return lock && lock->isLocked();
}

int holdLock(const QString& path, bool dieAtOnce) {
    const auto lock = Startup::AcquireInstanceLock(path);
    std::printf(lock && lock->isLocked() ? "locked\n" : "refused\n");
    std::fflush(stdout);
    if (dieAtOnce)
        _exit(0); // like a crash: the lock file stays behind
    char buffer[16];
    while (read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}

bool startHolder(QProcess& holder, const QString& path, bool dieAtOnce) {
    QStringList arguments{"--hold-lock", path};
    if (dieAtOnce)
        arguments << "exit";
    holder.start(QCoreApplication::applicationFilePath(), arguments);
    return holder.waitForReadyRead(30000) && holder.readAllStandardOutput().trimmed() == "locked";
}

// The real program, off screen unless an X11 display is named.
void startProgram(QProcess& program, const QString& x11Display = QString(),
                  const QList<QPair<QString, QString>>& variables = {},
                  const QStringList& arguments = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : variables)
        env.insert(name, value);
    env.insert("QT_QPA_PLATFORM", x11Display.isEmpty() ? "offscreen" : "xcb");
    if (x11Display.isEmpty())
        env.remove("DISPLAY");
    else
        env.insert("DISPLAY", x11Display);
    env.insert("http_proxy", "http://127.0.0.1:9"); // keeps the advertisement pane offline
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VANTELO_PROGRAM), arguments);
}

// A dock on the desktop bus: what the launcher entry is told.
class Dock : public QObject {
    Q_OBJECT
public:
    QStringList apps;
public slots:
    void Update(const QString& app, const QVariantMap&) { apps << app; }
};
} // namespace

class tst_Startup : public QObject {
    Q_OBJECT
private slots:
    void init() { home_ = std::make_unique<TestHome>(); }
    void cleanup() { home_.reset(); }
    void oneLiveHolderAtATimeAndDeadHoldersDoNotCount();
    void unusableLockFolderDoesNotStopTheProgram();
    void damagedOrForeignLockDoesNotStopTheProgram_data();
    void damagedOrForeignLockDoesNotStopTheProgram();
    void lockFolderIsTheUsersOwn_data();
    void lockFolderIsTheUsersOwn();
    void holderThatDoesNotAnswerDoesNotStopTheProgram();
    void secondCopyOfTheProgramEndsAtOnceAndTouchesNothing();
    void secondStartBringsTheRunningWindowToTheFront();
    void laterStartsLeaveOneRunningCopy();
    void versionAndHelpNeedNoDisplayAndNoLock();
    void networkLibrariesStayOffTheStartPath();
    void jobsReachTheDesktopBus();

private:
    std::unique_ptr<TestHome> home_;
};

void tst_Startup::oneLiveHolderAtATimeAndDeadHoldersDoNotCount() {
    const QString path = Startup::InstanceLockPath();
    QCOMPARE(QFileInfo(path).absolutePath(), home_->path() + "/runtime");
    {
        const auto held = Startup::AcquireInstanceLock(path);
        QVERIFY(held && held->isLocked());
        QVERIFY(!Startup::AcquireInstanceLock(path));
    }
    QProcess holder;
    QVERIFY(startHolder(holder, path, false));
    QVERIFY(!Startup::AcquireInstanceLock(path));
    holder.kill();
    QVERIFY(holder.waitForFinished());
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(takesLock(path));

    QVERIFY(startHolder(holder, path, true));
    QVERIFY(holder.waitForFinished());
    QVERIFY(QFileInfo::exists(path));
    QVERIFY(takesLock(path));
}

void tst_Startup::unusableLockFolderDoesNotStopTheProgram() {
    const auto lock = Startup::AcquireInstanceLock(home_->path() + "/no such folder/x.lock");
    QVERIFY(lock);
    QVERIFY(!lock->isLocked());
}

void tst_Startup::damagedOrForeignLockDoesNotStopTheProgram_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("locked");
    QTest::newRow("garbage") << QByteArray("not a lock\n\x01\xff") << false << true;
    QTest::newRow("empty") << QByteArray() << false << true;
    QTest::newRow("empty folder") << QByteArray() << true << true;
    // Nothing of another's is thrown away: the program runs without the check.
    QTest::newRow("folder with a file") << QByteArray("x") << true << false;
}

void tst_Startup::damagedOrForeignLockDoesNotStopTheProgram() {
    QFETCH(QByteArray, content);
    QFETCH(bool, folder);
    QFETCH(bool, locked);
    const QString path = Startup::InstanceLockPath();
    QFile planted(folder ? path + "/inside" : path);
    QVERIFY(!folder || QDir().mkpath(path));
    if (!folder || !content.isEmpty()) {
        QVERIFY(planted.open(QIODevice::WriteOnly));
        planted.write(content);
        planted.close();
    }
    const auto lock = Startup::AcquireInstanceLock(path);
    QVERIFY(lock);
    QCOMPARE(lock->isLocked(), locked);
    // A copy started now meets the lock taken over: only one runs.
    QCOMPARE(!Startup::AcquireInstanceLock(path), locked);
}

void tst_Startup::lockFolderIsTheUsersOwn_data() {
    QTest::addColumn<QString>("runtime");
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("othersOwn");
    QTest::addColumn<bool>("usable");
    QTest::newRow("private") << "runtime" << 0700 << false << true;
    QTest::newRow("unset") << "" << 0 << false << false;
    QTest::newRow("missing") << "no such folder" << 0 << false << false;
    QTest::newRow("open to all") << "runtime" << 01777 << false << false;
    QTest::newRow("readable by the group") << "runtime" << 0750 << false << false;
    QTest::newRow("another user's") << "runtime" << 0700 << true << false;
}

// The runtime folder only when it is the user's alone; otherwise a folder of the user's own
// home, never one that every user shares.
void tst_Startup::lockFolderIsTheUsersOwn() {
    QFETCH(QString, runtime);
    QFETCH(int, mode);
    QFETCH(bool, othersOwn);
    QFETCH(bool, usable);
    const QString given = home_->path() + "/" + runtime;
    if (runtime.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", given.toUtf8());
    if (mode)
        QCOMPARE(chmod(QFile::encodeName(given).constData(), mode_t(mode)), 0);
    if (othersOwn && chown(QFile::encodeName(given).constData(), 65534, 65534) != 0)
        QSKIP("only root can give a folder to another user");
    const QString folder = QFileInfo(Startup::InstanceLockPath()).path();
    if (usable)
        QCOMPARE(folder, given);
    else
        QCOMPARE(folder, home_->path() + "/.cache/Morvane-Vantelo");
    QCOMPARE(QFileInfo(Startup::InstanceSocketPath()).path(), folder);
    struct stat made {};
    QCOMPARE(stat(QFile::encodeName(folder).constData(), &made), 0);
    QCOMPARE(made.st_uid, geteuid());
    QCOMPARE(made.st_mode & 07777, mode_t(0700));
    QVERIFY(takesLock(Startup::InstanceLockPath()));

    // The private folder is refused too once another could reach into it: no lock, no socket.
    if (!usable) {
        QCOMPARE(chmod(QFile::encodeName(folder).constData(), 0755), 0);
        QVERIFY(Startup::InstanceLockPath().isEmpty() && Startup::InstanceSocketPath().isEmpty());
        QVERIFY(!takesLock(Startup::InstanceLockPath()));
    }
}

// A lock whose holder never answers (here this test program) must not keep the program away.
void tst_Startup::holderThatDoesNotAnswerDoesNotStopTheProgram() {
    QProcess holder, program;
    QVERIFY(startHolder(holder, Startup::InstanceLockPath(), false));
    startProgram(program);
    const QString output = home_->path() + "/Documents/Morvane/Vantelo";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(output), 60000);
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    holder.kill();
    QVERIFY(program.waitForFinished() && holder.waitForFinished());
}

void tst_Startup::secondCopyOfTheProgramEndsAtOnceAndTouchesNothing() {
    QProcess first, second;
    startProgram(first);
    // Loading the window makes the output folder; the lock is taken before that.
    const QString output = home_->path() + "/Documents/Morvane/Vantelo";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(output), 60000);
    QVERIFY(!Startup::AcquireInstanceLock(Startup::InstanceLockPath()));
    QDir(output).removeRecursively();

    startProgram(second);
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(output));
    QVERIFY(!QFileInfo::exists(home_->settingsFile()));
    QCOMPARE(first.state(), QProcess::Running);

    first.kill(); // a crash: the next copy must start anyway
    QVERIFY(first.waitForFinished());
    QVERIFY(takesLock(Startup::InstanceLockPath()));
}

void tst_Startup::secondStartBringsTheRunningWindowToTheFront() {
    StandInDisplay display;
    if (!display.ready())
        QSKIP("Xvfb is not available");
    display.TakeWindowManagerRequests();
    QProcess first, second;
    startProgram(first, display.name());
    xcb_window_t window = 0;
    QTRY_VERIFY_WITH_TIMEOUT((window = display.FindWindow("Vantelo ")) != 0, 60000);
    // The user has gone on to another window, which now covers Vantelo's.
    const xcb_window_t other = display.AddWindow("xterm", "XTerm", "Terminal");
    QCOMPARE(display.ShownWindows().last(), other);
    display.WindowManagerRequests();

    // Started from the menu: the desktop's startup id carries the time of the click.
    startProgram(second, display.name(), {{"DESKTOP_STARTUP_ID", "menu-42_TIME4242"}});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    // The second start waits for the running copy's answer, though not for ever on a busy
    // machine, hence the retries.
    QTRY_COMPARE(display.ShownWindows().last(), window);
    StandInDisplay::Requests requests;
    const auto collect = [&] {
        const StandInDisplay::Requests more = display.WindowManagerRequests();
        requests.activations += more.activations;
        requests.launchMessages += more.launchMessages;
        return requests.activations.contains({window, 4242});
    };
    QTRY_VERIFY(collect());
    // The launch is over for the desktop: no busy cursor is left turning.
    QVERIFY(requests.launchMessages.contains("remove: ID=\"menu-42_TIME4242\""));
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished());
}

// Addresses the running copy turns down at once (with a message box) or never takes, and a
// running copy that hangs: the later start ends, and the running copy keeps its socket.
void tst_Startup::laterStartsLeaveOneRunningCopy() {
    QProcess first;
    startProgram(first);
    const QString socket = Startup::InstanceSocketPath();
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(socket), 60000);
    const QString tooLong = "http://www.example.com/" + QString(2048, 'a');
    const QList<QPair<QString, QByteArray>> starts = {
        {"file:///etc/passwd", ""},
        {"javascript:alert(1)", ""},
        {"data:text/html,<b>x</b>", ""},
        {tooLong, "An address longer than 2048 characters was left out"},
    };
    for (const auto& [address, said] : starts) {
        QProcess later;
        startProgram(later, QString(), {}, {address});
        QVERIFY2(later.waitForFinished(30000), qPrintable(address.left(40)));
        QCOMPARE(later.exitCode(), 0);
        const QByteArray errors = later.readAllStandardError();
        QVERIFY2(said.isEmpty() || errors.contains(said), errors.constData());
        QCOMPARE(Startup::ShowRunningCopy(socket), Startup::Answer::Shown);
    }

    // Stopped, the running copy still takes connections but answers none.
    QCOMPARE(::kill(pid_t(first.processId()), SIGSTOP), 0);
    QProcess later;
    startProgram(later);
    const bool ended = later.waitForFinished(60000);
    QCOMPARE(::kill(pid_t(first.processId()), SIGCONT), 0);
    QVERIFY(ended);
    QCOMPARE(later.exitCode(), 1);
    const QByteArray errors = later.readAllStandardError();
    QVERIFY2(errors.contains("does not answer"), errors.constData());
    QCOMPARE(Startup::ShowRunningCopy(socket), Startup::Answer::Shown);
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    QVERIFY(first.waitForFinished());
}

void tst_Startup::versionAndHelpNeedNoDisplayAndNoLock() {
    QProcess holder;
    QVERIFY(startHolder(holder, Startup::InstanceLockPath(), false));
    for (const QString option : {"--version", "--help"}) {
        QProcess program;
        // Were a display opened, Qt would end the program for want of one.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(VANTELO_PROGRAM), {option});
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitCode(), 0);
        const QString text = QString::fromLocal8Bit(program.readAllStandardOutput());
        if (option == "--version")
            QCOMPARE(text, QStringLiteral("Vantelo 1.5.0.1\n"));
        else
            QVERIFY2(text.contains("--version") && text.contains("--help"), qPrintable(text));
    }
    QVERIFY(!Startup::AnswerCommandLine({"vantelo", "-platform", "offscreen"}));
    holder.kill();
    QVERIFY(holder.waitForFinished());
}

void tst_Startup::networkLibrariesStayOffTheStartPath() {
    // The dynamic loader lists what it would map before main(); both are loaded later on.
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LD_TRACE_LOADED_OBJECTS", "1");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VANTELO_PROGRAM), {});
    QVERIFY(program.waitForFinished(30000));
    const QByteArray loaded = program.readAllStandardOutput();
    QVERIFY2(loaded.contains("libQt6Widgets"), loaded.constData());
    QVERIFY2(!loaded.contains("libQt6Network") && !loaded.contains("libcurl"), loaded.constData());
}

// The program makes its desktop session itself: a download started from the command line shows
// on the launcher of the session bus it was given (a private one, with only a dock on it).
void tst_Startup::jobsReachTheDesktopBus() {
    if (!PrivateSessionBus::Installed())
        QSKIP("dbus-daemon is not installed");
    PrivateSessionBus bus;
    const QString address = bus.address();
    QVERIFY(!address.isEmpty());
    {
        QDBusConnection desktop = QDBusConnection::connectToBus(address, "desktop");
        Dock dock;
        QVERIFY(desktop.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                                &dock, SLOT(Update(QString, QVariantMap))));
        QProcess program;
        startProgram(program, QString(),
                     {{"DBUS_SESSION_BUS_ADDRESS", address}, {"DBUS_SYSTEM_BUS_ADDRESS", address}},
                     {"http://www.youtube.com/watch?v=abc"});
        QTRY_VERIFY_WITH_TIMEOUT(!dock.apps.isEmpty(), 60000);
        QCOMPARE(dock.apps.first(), "application://com.morvane.Vantelo.desktop");
        program.kill();
        QVERIFY(program.waitForFinished());
    }
    QDBusConnection::disconnectFromBus("desktop");
    QVERIFY(bus.Stop());
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(QString::fromLocal8Bit(argv[2]), argc > 3 && qstrcmp(argv[3], "exit") == 0);
    tst_Startup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Startup.moc"
