#pragma once
#include "DesktopSession.h"

#include <QList>
#include <memory>

// A desktop session that records what the program shows of its jobs, installed for the lifetime
// of the object.
class FakeDesktopSession : public DesktopSession {
public:
    struct Shown {
        Notification notification;
        ActionChosen chosen;
    };

    FakeDesktopSession() { DesktopSession::SetInstance(this); }
    ~FakeDesktopSession() override { DesktopSession::SetInstance(nullptr); }

    void ShowLauncherState(const LauncherState& state) override { launcher.push_back(state); }
    NotificationId Notify(const Notification& notification, ActionChosen chosen) override {
        notifications.push_back({notification, std::move(chosen)});
        return NotificationId(notifications.size());
    }
    // Withdrawn notifications, by their place in `notifications` counted from 1.
    void Withdraw(NotificationId id) override { withdrawn.push_back(id); }
    std::unique_ptr<Inhibition> Inhibit(const QString&, const QString& reason) override {
        inhibitReasons.push_back(reason);
        ++held;
        return std::make_unique<Held>(held);
    }

    QList<LauncherState> launcher;
    QList<Shown> notifications;
    QList<NotificationId> withdrawn;
    QStringList inhibitReasons;
    int held = 0; // inhibitions not yet released

private:
    class Held : public Inhibition {
    public:
        explicit Held(int& count) : count_(count) {}
        ~Held() override { --count_; }

    private:
        int& count_;
    };
};
