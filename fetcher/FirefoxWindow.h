#pragma once
#include <QByteArray>
#include <QString>

// The first Firefox browser window on the X11 display, found through the window properties
// that Firefox and the window manager publish.
namespace FirefoxWindow {

// Whether a WM_CLASS property value (instance name and class name, each ending in NUL) is that
// of a Firefox browser window: instance "Navigator", class "firefox", "firefox-esr" or the
// Flatpak's "org.mozilla.firefox".
bool IsBrowserWindowClass(const QByteArray& wmClass);

// The page title inside a Firefox window title: "<page> — Mozilla Firefox" (or with " - ")
// gives "<page>"; a title without the browser's name is returned as it is.
QString PageTitle(const QString& windowTitle);

// The title of the topmost Firefox browser window on the display named by $DISPLAY; empty when
// there is no display, no such window, or no title.
QString FirstWindowTitle();

} // namespace FirefoxWindow
