#pragma once
#include "DesktopSession.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QSet>

// The desktop session over D-Bus: the launcher entry of Unity's LauncherEntry interface (read by
// KDE's task manager and GNOME's docks), freedesktop notifications, and the desktop portal's
// inhibition, or logind's where no portal answers. Every call is asynchronous, so a slow or
// missing service never holds the window; without a bus nothing happens.
class DBusDesktopSession : public QObject, public DesktopSession {
    Q_OBJECT
public:
    // The desktop entry the launcher state belongs to.
    static inline const QString kApplicationUri =
        QStringLiteral("application://com.morvane.Vantelo.desktop");

    DBusDesktopSession(const QDBusConnection& session, const QDBusConnection& system,
                       QObject* parent = nullptr);

    void ShowLauncherState(const LauncherState& state) override;
    NotificationId Notify(const Notification& notification, ActionChosen chosen) override;
    void Withdraw(NotificationId id) override;
    std::unique_ptr<Inhibition> Inhibit(const QString& window, const QString& reason) override;

private slots:
    void ActionInvoked(uint id, const QString& key);
    void NotificationClosed(uint id, uint reason);

private:
    void ListenToNotifications();

    QDBusConnection session_;
    QDBusConnection system_;
    bool listening_ = false;
    void Close(uint serverId);

    // What each shown notification's actions do, until it closes.
    QHash<uint, ActionChosen> actionsById_;
    // The server's id of each notification of ours, once it has answered; those withdrawn
    // before it answered are closed when it does.
    NotificationId lastId_ = 0;
    QHash<NotificationId, uint> serverIds_;
    QSet<NotificationId> unanswered_;
    QSet<NotificationId> withdrawnEarly_;
};
