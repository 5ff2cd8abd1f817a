#include "FirefoxSource.h"
#include "FirefoxSession.h"
#include "FirefoxWindow.h"

QString FirefoxSource::FirstWindowTitle() {
    return FirefoxWindow::PageTitle(FirefoxWindow::FirstWindowTitle());
}

QString FirefoxSource::ShownPageUrl(const QString& pageTitle) {
    return FirefoxSession::ShownPageUrl(pageTitle);
}
