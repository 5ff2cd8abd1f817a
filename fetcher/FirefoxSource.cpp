#include "FirefoxSource.h"
#include "FirefoxSession.h"
#include "FirefoxWindow.h"

QString FirefoxSource::FirstWindowTitle() {
    const QString title = FirefoxWindow::PageTitle(FirefoxWindow::FirstWindowTitle());
    if (!title.isEmpty() || !IsWaylandSession())
        return title;
    session_ = FirefoxSession::CurrentSession();
    return session_ ? FirefoxSession::MostRecentWindowTitle(*session_) : QString();
}

QString FirefoxSource::ShownPageUrl(const QString& pageTitle) {
    if (session_)
        return FirefoxSession::SelectedTabUrl(*session_, pageTitle);
    return FirefoxSession::ShownPageUrl(pageTitle);
}

bool FirefoxSource::IsWaylandSession() {
    return qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}
