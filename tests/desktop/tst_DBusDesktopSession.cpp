#include "DBusDesktopSession.h"
#include "PrivateSessionBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QTest>
#include <optional>
#include <poll.h>
#include <unistd.h>

// The desktop session against stand-in desktop services on a private bus of a real
// dbus-daemon: the notification server, the desktop portal, logind, and a dock listening to the
// launcher entry.
namespace {

class StandInNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString app, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Shown> shown;
    QList<uint> closed;

public slots:
    void CloseNotification(uint id) { closed << id; }
    uint Notify(const QString& app, uint, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        shown.push_back({app, summary, body, actions, hints});
        return uint(shown.size());
    }
signals:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);
};

class StandInRequest : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Request")
public:
    bool closed = false;
public slots:
    void Close() { closed = true; }
};

class StandInPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Inhibit")
public:
    explicit StandInPortal(QDBusConnection bus) : bus_(bus) {}
    QList<uint> flags;
    QStringList reasons;
    QList<StandInRequest*> requests;
public slots:
    QDBusObjectPath Inhibit(const QString&, uint flagsAsked, const QVariantMap& options) {
        flags << flagsAsked;
        reasons << options.value("reason").toString();
        requests << new StandInRequest;
        const QString path =
            QString("/org/freedesktop/portal/desktop/request/t%1").arg(flags.size());
        bus_.registerObject(path, requests.last(), QDBusConnection::ExportAllSlots);
        return QDBusObjectPath(path);
    }

private:
    QDBusConnection bus_;
};

// Hands out the write end of a pipe; the read end sees the end of file once the program has
// let go of it.
class StandInLogin : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    QStringList asked;
    int readEnd = -1;
    ~StandInLogin() override {
        if (readEnd >= 0)
            ::close(readEnd);
    }
    bool released() const {
        pollfd watched{readEnd, POLLIN, 0};
        return ::poll(&watched, 1, 0) == 1 && (watched.revents & POLLHUP);
    }
public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        asked << what + "|" + who + "|" + why + "|" + mode;
        int ends[2];
        if (::pipe(ends) != 0)
            return QDBusUnixFileDescriptor();
        readEnd = ends[0];
        QDBusUnixFileDescriptor handed(ends[1]); // a copy travels; ours closes now
        ::close(ends[1]);
        return handed;
    }
};

class Dock : public QObject {
    Q_OBJECT
public:
    QList<QPair<QString, QVariantMap>> updates;
public slots:
    void Update(const QString& app, const QVariantMap& properties) {
        updates.push_back({app, properties});
    }
};

} // namespace

class tst_DBusDesktopSession : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void launcherAndNotificationsReachTheDesktop();
    void machineStaysAwakeUntilReleasedThroughPortalOrLogind();
    void withoutABusNothingHappens();

private:
    std::optional<PrivateSessionBus> bus_;
    QString address_;
};

void tst_DBusDesktopSession::initTestCase() {
    if (!PrivateSessionBus::Installed())
        QSKIP("dbus-daemon is not installed");
    // Only the stand-ins answer on it.
    address_ = bus_.emplace().address();
    QVERIFY(!address_.isEmpty());
}

void tst_DBusDesktopSession::cleanupTestCase() {
    bus_.reset();
}

void tst_DBusDesktopSession::launcherAndNotificationsReachTheDesktop() {
    QDBusConnection desktop = QDBusConnection::connectToBus(address_, "desktop");
    StandInNotifications server;
    QVERIFY(desktop.registerObject("/org/freedesktop/Notifications", &server,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllSignals));
    QVERIFY(desktop.registerService("org.freedesktop.Notifications"));
    Dock dock;
    QVERIFY(desktop.connect(QString(), QString(), "com.canonical.Unity.LauncherEntry", "Update",
                            &dock, SLOT(Update(QString, QVariantMap))));

    QCoreApplication::setApplicationName("Vantelo");
    const QDBusConnection bus = QDBusConnection::connectToBus(address_, "program");
    DBusDesktopSession session(bus, bus);
    session.ShowLauncherState({true, 0.25, false});
    QTRY_COMPARE(dock.updates.size(), 1);
    QCOMPARE(dock.updates[0].first, "application://com.morvane.Vantelo.desktop");
    QCOMPARE(dock.updates[0].second.value("progress").toDouble(), 0.25);
    QCOMPARE(dock.updates[0].second.value("progress-visible").toBool(), true);
    QCOMPARE(dock.updates[0].second.value("urgent").toBool(), false);

    QStringList chosen;
    session.Notify({"Download Complete", "Sample Clip.flv", {"open-folder", "Open folder"}},
                   [&chosen](const QString& key) { chosen << key; });
    QTRY_COMPARE(server.shown.size(), 1);
    QCOMPARE(server.shown[0].app, "Vantelo");
    QCOMPARE(server.shown[0].summary, "Download Complete");
    QCOMPARE(server.shown[0].body, "Sample Clip.flv");
    QCOMPARE(server.shown[0].actions, (QStringList{"open-folder", "Open folder"}));
    QCOMPARE(server.shown[0].hints.value("desktop-entry").toString(), "com.morvane.Vantelo");
    // The server's answer (the id) left before its signals do, so the choice finds it.
    emit server.ActionInvoked(1, "open-folder");
    QTRY_COMPARE(chosen, QStringList{"open-folder"});

    // Once closed, its actions are gone, while another notification's still work (its choice
    // arrives after the others, so they have been handled by then).
    QStringList chosenLater;
    const auto later = session.Notify({"Conversion Completed", "clip.avi", {"play", "Play"}},
                                      [&chosenLater](const QString& key) { chosenLater << key; });
    QTRY_COMPARE(server.shown.size(), 2);
    emit server.NotificationClosed(1, 2);
    emit server.ActionInvoked(1, "open-folder");
    emit server.ActionInvoked(2, "play");
    QTRY_COMPARE(chosenLater, QStringList{"play"});
    QCOMPARE(chosen, QStringList{"open-folder"});

    // Withdrawn once answered in the window; also one withdrawn before the server answered.
    session.Withdraw(later);
    session.Withdraw(session.Notify({"Download Complete", "clip.flv", {}}, {}));
    QTRY_COMPARE(server.closed, (QList<uint>{2, 3}));
    QDBusConnection::disconnectFromBus("program");
    QDBusConnection::disconnectFromBus("desktop");
}

void tst_DBusDesktopSession::machineStaysAwakeUntilReleasedThroughPortalOrLogind() {
    QDBusConnection desktop = QDBusConnection::connectToBus(address_, "services");
    StandInLogin login;
    QVERIFY(
        desktop.registerObject("/org/freedesktop/login1", &login, QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService("org.freedesktop.login1"));
    QCoreApplication::setApplicationName("Vantelo");
    const QDBusConnection bus = QDBusConnection::connectToBus(address_, "awake");
    DBusDesktopSession session(bus, bus);

    // No portal: logind keeps the machine awake for as long as its file is open.
    auto held = session.Inhibit("x11:1a00003", "Downloading a video");
    QVERIFY(held);
    QTRY_COMPARE(login.asked.size(), 1);
    QCOMPARE(login.asked[0], "sleep:idle|Vantelo|Downloading a video|block");
    QTRY_VERIFY(login.readEnd >= 0);
    QVERIFY(!login.released());
    held.reset();
    QTRY_VERIFY(login.released());

    // With the portal, it is asked, and its request closed on release; also when the job ends
    // before the portal has answered.
    StandInPortal portal(desktop);
    QVERIFY(desktop.registerObject("/org/freedesktop/portal/desktop", &portal,
                                   QDBusConnection::ExportAllSlots));
    QVERIFY(desktop.registerService("org.freedesktop.portal.Desktop"));
    held = session.Inhibit("x11:1a00003", "Converting a video");
    QTRY_COMPARE(portal.requests.size(), 1);
    QCOMPARE(portal.flags[0], 4u | 8u); // suspend and idle
    QCOMPARE(portal.reasons[0], "Converting a video");
    QVERIFY(!portal.requests[0]->closed);
    held.reset();
    QTRY_VERIFY(portal.requests[0]->closed);
    session.Inhibit(QString(), "Downloading a video").reset();
    QTRY_COMPARE(portal.requests.size(), 2);
    QTRY_VERIFY(portal.requests[1]->closed);
    QCOMPARE(login.asked.size(), 1);
    qDeleteAll(portal.requests);
    QDBusConnection::disconnectFromBus("awake");
    QDBusConnection::disconnectFromBus("services");
}

void tst_DBusDesktopSession::withoutABusNothingHappens() {
    const QDBusConnection none = QDBusConnection::connectToBus("unix:path=/nonexistent", "none");
    QVERIFY(!none.isConnected());
    DBusDesktopSession session(none, none);
    session.ShowLauncherState({true, 0.5, true});
    session.Notify({"Download Complete", "clip.flv", {}}, [](const QString&) {});
    QVERIFY(!session.Inhibit(QString(), "Downloading a video"));
}

QTEST_GUILESS_MAIN(tst_DBusDesktopSession)
#include "tst_DBusDesktopSession.moc"
