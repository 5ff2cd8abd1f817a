#pragma once
#include "BrowserSource.h"
#include <QByteArray>
#include <optional>

// The user's running Firefox: the first browser window on the X11 display and the page its
// selected tab shows according to the session store. In a Wayland session, where Firefox
// lists no X11 window, the window that the session store names as used last stands in for it.
class FirefoxSource : public BrowserSource {
public:
    QString FirstWindowTitle() override;
    QString ShownPageUrl(const QString& pageTitle) override;

    // Whether the desktop session is a Wayland one ($XDG_SESSION_TYPE or $WAYLAND_DISPLAY).
    static bool IsWaylandSession();

private:
    // The session read for the title, so that the address comes from the same state.
    std::optional<QByteArray> session_;
};
