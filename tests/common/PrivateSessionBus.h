#pragma once
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

// A session bus of the test's own that starts no services: only what the test puts on it
// answers. It ends with the object.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        const QString program = QStandardPaths::findExecutable("dbus-daemon");
        QFile config(folder_.filePath("bus.conf"));
        if (program.isEmpty() || !config.open(QIODevice::WriteOnly))
            return;
        config.write("<busconfig><type>session</type><listen>unix:dir=" + folder_.path().toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                     "<allow own=\"*\"/></policy></busconfig>");
        config.close();
        daemon_.start(program,
                      {"--config-file=" + config.fileName(), "--nofork", "--print-address=1"});
        QByteArray line;
        while (!line.contains('\n') && daemon_.waitForReadyRead(10000))
            line += daemon_.readAllStandardOutput();
        address_ = QString::fromUtf8(line).trimmed();
    }
    ~PrivateSessionBus() { Stop(); }
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    static bool Installed() { return !QStandardPaths::findExecutable("dbus-daemon").isEmpty(); }
    // Empty when dbus-daemon is missing or did not start.
    QString address() const { return address_; }

    // Ends the bus; false when it had to be killed.
    bool Stop() {
        if (daemon_.state() == QProcess::NotRunning)
            return true;
        daemon_.terminate();
        if (daemon_.waitForFinished(5000))
            return true;
        daemon_.kill();
        daemon_.waitForFinished(5000);
        return false;
    }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};
