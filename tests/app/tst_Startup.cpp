#include "StandInDisplay.h"
#include "Startup.h"
#include "TestHome.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <cstdio>
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
                  const QList<QPair<QString, QString>>& variables = {}) {
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
    program.start(QStringLiteral(VANTELO_PROGRAM), {});
}
} // namespace

class tst_Startup : public QObject {
    Q_OBJECT
private slots:
    void init() { home_ = std::make_unique<TestHome>(); }
    void cleanup() { home_.reset(); }
    void oneLiveHolderAtATimeAndDeadHoldersDoNotCount();
    void unusableLockFolderDoesNotStopTheProgram();
    void secondCopyOfTheProgramEndsAtOnceAndTouchesNothing();
    void secondStartBringsTheRunningWindowToTheFront();
    void versionAndHelpNeedNoDisplayAndNoLock();
    void networkLibrariesStayOffTheStartPath();

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

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--hold-lock") == 0)
        return holdLock(QString::fromLocal8Bit(argv[2]), argc > 3 && qstrcmp(argv[3], "exit") == 0);
    tst_Startup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_Startup.moc"
