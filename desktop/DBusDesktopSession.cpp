#include "DBusDesktopSession.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QPointer>
#include <QVariantMap>

namespace {

const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kLogin = QStringLiteral("org.freedesktop.login1");
// The portal's inhibition flags: suspending and the session going idle.
constexpr uint kInhibitSuspend = 4;
constexpr uint kInhibitIdle = 8;
// Notifications that the server ends after its own time.
constexpr int kServerTimeout = -1;

// Runs `answered` with the reply once the call has come back, on the caller's thread.
void WhenAnswered(const QDBusPendingCall& call, QObject* context,
                  std::function<void(const QDBusMessage&)> answered) {
    auto* watcher = new QDBusPendingCallWatcher(call, context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, answered = std::move(answered)] {
                         answered(watcher->reply());
                         watcher->deleteLater();
                     });
}

// One inhibition: asked for at once, released by Release(), or as soon as the answer comes when
// that is later. The portal holds it until its request is closed, logind until the file it
// handed out is.
class BusInhibition : public QObject {
public:
    BusInhibition(const QDBusConnection& session, const QDBusConnection& system,
                  const QString& window, const QString& reason, QObject* parent)
        : QObject(parent), session_(session), system_(system), reason_(reason) {
        if (!session_.isConnected()) {
            AskLogin();
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            kPortal, kPortalPath, QStringLiteral("org.freedesktop.portal.Inhibit"),
            QStringLiteral("Inhibit"));
        call << window << (kInhibitSuspend | kInhibitIdle)
             << QVariantMap{{QStringLiteral("reason"), reason}};
        Ask(session_, call, [this](const QDBusMessage& reply) {
            if (!Granted(reply))
                return AskLogin();
            portalRequest_ = qvariant_cast<QDBusObjectPath>(reply.arguments().first()).path();
            EndIfReleased();
        });
    }

    void Release() {
        released_ = true;
        if (!waiting_)
            End();
    }

private:
    static bool Granted(const QDBusMessage& reply) {
        return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty();
    }

    void Ask(const QDBusConnection& bus, const QDBusMessage& call,
             std::function<void(const QDBusMessage&)> answered) {
        waiting_ = true;
        WhenAnswered(bus.asyncCall(call), this, [this, answered](const QDBusMessage& reply) {
            waiting_ = false;
            answered(reply);
        });
    }

    void AskLogin() {
        if (!system_.isConnected())
            return EndIfReleased();
        QDBusMessage call = QDBusMessage::createMethodCall(
            kLogin, QStringLiteral("/org/freedesktop/login1"),
            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("Inhibit"));
        call << QStringLiteral("sleep:idle") << QCoreApplication::applicationName() << reason_
             << QStringLiteral("block");
        Ask(system_, call, [this](const QDBusMessage& reply) {
            if (Granted(reply))
                loginFile_ = qvariant_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
            EndIfReleased();
        });
    }

    void EndIfReleased() {
        if (released_)
            End();
    }

    // The logind file closes with the object.
    void End() {
        if (!portalRequest_.isEmpty())
            session_.asyncCall(QDBusMessage::createMethodCall(
                kPortal, portalRequest_, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Close")));
        portalRequest_.clear();
        deleteLater();
    }

    QDBusConnection session_;
    QDBusConnection system_;
    QString reason_;
    bool waiting_ = false;
    bool released_ = false;
    QString portalRequest_;
    QDBusUnixFileDescriptor loginFile_;
};

class ReleaseOnDestruction : public DesktopSession::Inhibition {
public:
    explicit ReleaseOnDestruction(BusInhibition* inhibition) : inhibition_(inhibition) {}
    ~ReleaseOnDestruction() override {
        if (inhibition_)
            inhibition_->Release();
    }

private:
    QPointer<BusInhibition> inhibition_;
};

} // namespace

DBusDesktopSession::DBusDesktopSession(const QDBusConnection& session,
                                       const QDBusConnection& system, QObject* parent)
    : QObject(parent), session_(session), system_(system) {}

void DBusDesktopSession::ShowLauncherState(const LauncherState& state) {
    if (!session_.isConnected())
        return;
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/com/morvane/Vantelo"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
        QStringLiteral("Update"));
    update << kApplicationUri
           << QVariantMap{{QStringLiteral("progress"), state.progress},
                          {QStringLiteral("progress-visible"), state.progressVisible},
                          {QStringLiteral("urgent"), state.urgent}};
    session_.send(update);
}

DesktopSession::NotificationId DBusDesktopSession::Notify(const Notification& notification,
                                                          ActionChosen chosen) {
    if (!session_.isConnected())
        return 0;
    ListenToNotifications();
    QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                       kNotifications, QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral("com.morvane.Vantelo")}};
    call << QCoreApplication::applicationName() << uint(0) << QStringLiteral("vantelo")
         << notification.summary << notification.body << notification.actions << hints
         << kServerTimeout;
    const NotificationId id = ++lastId_;
    unanswered_.insert(id);
    WhenAnswered(session_.asyncCall(call), this,
                 [this, id, chosen = std::move(chosen)](const QDBusMessage& reply) {
                     unanswered_.remove(id);
                     const bool withdrawn = withdrawnEarly_.remove(id);
                     if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
                         return;
                     const uint serverId = reply.arguments().first().toUInt();
                     if (withdrawn)
                         return Close(serverId);
                     serverIds_.insert(id, serverId);
                     if (chosen)
                         actionsById_.insert(serverId, chosen);
                 });
    return id;
}

void DBusDesktopSession::Withdraw(NotificationId id) {
    if (id == 0 || !session_.isConnected())
        return;
    if (serverIds_.contains(id))
        Close(serverIds_.take(id));
    else if (unanswered_.contains(id))
        withdrawnEarly_.insert(id);
}

void DBusDesktopSession::Close(uint serverId) {
    actionsById_.remove(serverId);
    session_.asyncCall(QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                      kNotifications,
                                                      QStringLiteral("CloseNotification"))
                       << serverId);
}

void DBusDesktopSession::ListenToNotifications() {
    if (listening_)
        return;
    listening_ = true;
    session_.connect(kNotifications, kNotificationsPath, kNotifications,
                     QStringLiteral("ActionInvoked"), this, SLOT(ActionInvoked(uint, QString)));
    session_.connect(kNotifications, kNotificationsPath, kNotifications,
                     QStringLiteral("NotificationClosed"), this,
                     SLOT(NotificationClosed(uint, uint)));
}

void DBusDesktopSession::ActionInvoked(uint id, const QString& key) {
    // Copied: the action may show a window, and the notification may close meanwhile.
    const ActionChosen chosen = actionsById_.value(id);
    if (chosen)
        chosen(key);
}

void DBusDesktopSession::NotificationClosed(uint id, uint reason) {
    Q_UNUSED(reason);
    actionsById_.remove(id);
    for (auto shown = serverIds_.begin(); shown != serverIds_.end();)
        shown = shown.value() == id ? serverIds_.erase(shown) : std::next(shown);
}

std::unique_ptr<DesktopSession::Inhibition> DBusDesktopSession::Inhibit(const QString& window,
                                                                        const QString& reason) {
    if (!session_.isConnected() && !system_.isConnected())
        return nullptr;
    return std::make_unique<ReleaseOnDestruction>(
        new BusInhibition(session_, system_, window, reason, this));
}
