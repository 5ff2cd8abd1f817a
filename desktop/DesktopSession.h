#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// What the desktop session offers a program that runs long jobs: progress on its launcher or
// task bar entry, notifications, and keeping the machine awake. The program makes the real one,
// which speaks D-Bus (DBusDesktopSession); tests install their own.
class DesktopSession {
public:
    // What the launcher entry shows.
    struct LauncherState {
        bool progressVisible = false;
        double progress = 0; // 0 to 1
        bool urgent = false;
        bool operator==(const LauncherState& other) const {
            return progressVisible == other.progressVisible && progress == other.progress &&
                   urgent == other.urgent;
        }
    };

    struct Notification {
        QString summary;
        QString body;
        // Action keys and their labels, in pairs, as the notification shows them.
        QStringList actions;
    };
    // Runs with the key of the action the user chose on the notification.
    using ActionChosen = std::function<void(const QString& key)>;
    // A notification shown, to withdraw it by; 0 is none.
    using NotificationId = quint64;

    // Keeps the machine from sleeping or idling until it is destroyed.
    class Inhibition {
    public:
        virtual ~Inhibition() = default;
    };

    virtual ~DesktopSession() = default;

    virtual void ShowLauncherState(const LauncherState& state) = 0;
    virtual NotificationId Notify(const Notification& notification, ActionChosen chosen) = 0;
    // Takes a notification back once what it says is no news any more; one already gone (or 0)
    // is left alone.
    virtual void Withdraw(NotificationId id) = 0;
    // `window` is the window the job belongs to, as the desktop names it ("x11:1a00003"), or
    // empty.
    virtual std::unique_ptr<Inhibition> Inhibit(const QString& window, const QString& reason) = 0;

    // The session in use: a test's own, else the one the program's maker made, else one that
    // shows nothing.
    static DesktopSession& Instance();
    // Replaces the session (tests); nullptr puts the made one back. Not owned.
    static void SetInstance(DesktopSession* session);
    // How the program makes its real session: called once, with the first job, so that the
    // desktop is not reached while the program starts. Not owned.
    using Maker = DesktopSession* (*)();
    static void SetMaker(Maker make);
};
