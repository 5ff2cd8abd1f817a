#include "DesktopSession.h"

namespace {

// Where nothing made a session: jobs run as they do without a desktop.
class NoDesktopSession : public DesktopSession {
public:
    void ShowLauncherState(const LauncherState&) override {}
    NotificationId Notify(const Notification&, ActionChosen) override { return 0; }
    void Withdraw(NotificationId) override {}
    std::unique_ptr<Inhibition> Inhibit(const QString&, const QString&) override { return nullptr; }
};

DesktopSession* overrideSession = nullptr;
DesktopSession::Maker maker = nullptr;

} // namespace

DesktopSession& DesktopSession::Instance() {
    if (overrideSession)
        return *overrideSession;
    static DesktopSession* made = maker ? maker() : nullptr;
    if (made)
        return *made;
    static NoDesktopSession none;
    return none;
}

void DesktopSession::SetInstance(DesktopSession* session) {
    overrideSession = session;
}

void DesktopSession::SetMaker(Maker make) {
    maker = make;
}
