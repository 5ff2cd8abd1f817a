#include "FirefoxWindow.h"
#include <QList>
#include <QtGlobal>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace FirefoxWindow {

namespace {

// More windows than any desktop has; keeps a broken window list from costing much.
constexpr int kMaxWindows = 4096;
// Property lengths are counted in 32-bit units: 16 KB of title is plenty.
constexpr uint32_t kMaxPropertyUnits = 4096;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XReply = std::unique_ptr<T, FreeDeleter>;

// One connection to the display with the EWMH atoms interned; closed on destruction.
class Display {
public:
    Display() {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        connection_ = xcb_connect(nullptr, &screen_);
        if (xcb_connection_has_error(connection_))
            return;
        xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection_, &ewmh_);
        usable_ = cookies && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
    }
    ~Display() {
        if (usable_)
            xcb_ewmh_connection_wipe(&ewmh_);
        if (connection_)
            xcb_disconnect(connection_);
    }
    Display(const Display&) = delete;
    Display& operator=(const Display&) = delete;

    bool usable() const { return usable_ && screen_ >= 0 && screen_ < ewmh_.nb_screens; }
    xcb_connection_t* connection() const { return connection_; }
    xcb_ewmh_connection_t* ewmh() { return &ewmh_; }
    int screen() const { return screen_; }
    xcb_window_t root() const { return ewmh_.screens[screen_]->root; }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
    int screen_ = 0;
    bool usable_ = false;
};

QList<xcb_window_t> ToList(const xcb_window_t* windows, uint32_t count) {
    const int n = static_cast<int>(std::min<uint32_t>(count, kMaxWindows));
    return QList<xcb_window_t>(windows, windows + n);
}

// A window list property of the root window, or nothing when the window manager lacks it.
std::optional<QList<xcb_window_t>> EwmhWindowList(Display& display,
                                                  xcb_get_property_cookie_t cookie) {
    xcb_ewmh_get_windows_reply_t reply;
    if (!xcb_ewmh_get_windows_reply(display.ewmh(), cookie, &reply, nullptr))
        return std::nullopt;
    QList<xcb_window_t> windows = ToList(reply.windows, reply.windows_len);
    xcb_ewmh_get_windows_reply_wipe(&reply);
    return windows;
}

// The root window's children, bottom of the stack first (no window manager running).
QList<xcb_window_t> RootChildren(Display& display) {
    xcb_query_tree_cookie_t cookie = xcb_query_tree(display.connection(), display.root());
    XReply<xcb_query_tree_reply_t> reply(
        xcb_query_tree_reply(display.connection(), cookie, nullptr));
    if (!reply)
        return {};
    return ToList(xcb_query_tree_children(reply.get()),
                  static_cast<uint32_t>(xcb_query_tree_children_length(reply.get())));
}

// The managed top-level windows, topmost first: the window manager's stacking list, else its
// client list, else the root window's children.
QList<xcb_window_t> TopLevelWindows(Display& display) {
    xcb_get_property_cookie_t stacking =
        xcb_ewmh_get_client_list_stacking(display.ewmh(), display.screen());
    xcb_get_property_cookie_t clients = xcb_ewmh_get_client_list(display.ewmh(), display.screen());
    std::optional<QList<xcb_window_t>> stack = EwmhWindowList(display, stacking);
    std::optional<QList<xcb_window_t>> list = EwmhWindowList(display, clients);
    if (stack && !stack->isEmpty()) {
        std::reverse(stack->begin(), stack->end());
        return *stack;
    }
    if (list && !list->isEmpty())
        return *list;
    QList<xcb_window_t> children = RootChildren(display);
    std::reverse(children.begin(), children.end());
    return children;
}

xcb_get_property_cookie_t RequestProperty(Display& display, xcb_window_t window, xcb_atom_t name) {
    return xcb_get_property(display.connection(), 0, window, name, XCB_GET_PROPERTY_TYPE_ANY, 0,
                            kMaxPropertyUnits);
}

// The property's bytes together with its type; empty bytes when it is missing.
struct Property {
    xcb_atom_t type = XCB_ATOM_NONE;
    QByteArray bytes;
};

Property TakeProperty(Display& display, xcb_get_property_cookie_t cookie) {
    XReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(display.connection(), cookie, nullptr));
    if (!reply || reply->format != 8)
        return {};
    const int length = xcb_get_property_value_length(reply.get());
    return {reply->type,
            QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())), length)};
}

// The first window whose WM_CLASS is Firefox's; all WM_CLASS requests go out at once.
std::optional<xcb_window_t> FirstFirefoxWindow(Display& display,
                                               const QList<xcb_window_t>& windows) {
    QList<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t window : windows)
        cookies.append(RequestProperty(display, window, XCB_ATOM_WM_CLASS));
    std::optional<xcb_window_t> found;
    for (int i = 0; i < windows.size(); ++i) {
        const Property wmClass = TakeProperty(display, cookies[i]); // every reply is collected
        if (!found && IsBrowserWindowClass(wmClass.bytes))
            found = windows[i];
    }
    return found;
}

QString CutAtNul(const QString& text) {
    const int nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// _NET_WM_NAME (UTF-8) when set, else the older WM_NAME.
QString WindowTitle(Display& display, xcb_window_t window) {
    xcb_get_property_cookie_t netName =
        RequestProperty(display, window, display.ewmh()->_NET_WM_NAME);
    xcb_get_property_cookie_t wmName = RequestProperty(display, window, XCB_ATOM_WM_NAME);
    const Property utf8Name = TakeProperty(display, netName);
    const Property plainName = TakeProperty(display, wmName);
    if (!utf8Name.bytes.isEmpty())
        return CutAtNul(QString::fromUtf8(utf8Name.bytes));
    if (plainName.type == display.ewmh()->UTF8_STRING)
        return CutAtNul(QString::fromUtf8(plainName.bytes));
    return CutAtNul(QString::fromLatin1(plainName.bytes));
}

} // namespace

bool IsBrowserWindowClass(const QByteArray& wmClass) {
    const QList<QByteArray> names = wmClass.split('\0');
    if (names.size() < 2 || names[0] != "Navigator")
        return false;
    const QByteArray className = names[1].toLower();
    // The Flatpak names its windows after its application id.
    return className == "firefox" || className == "firefox-esr" ||
           className == "org.mozilla.firefox";
}

QString PageTitle(const QString& windowTitle) {
    static const QString kBrand = QStringLiteral("Mozilla Firefox");
    if (windowTitle == kBrand)
        return QString(); // an empty tab
    for (const QString& separator : {QStringLiteral(" \u2014 "), QStringLiteral(" - ")}) {
        const QString suffix = separator + kBrand;
        if (windowTitle.endsWith(suffix))
            return windowTitle.left(windowTitle.size() - suffix.size());
    }
    return windowTitle;
}

QString FirstWindowTitle() {
    Display display;
    if (!display.usable())
        return QString();
    const std::optional<xcb_window_t> window =
        FirstFirefoxWindow(display, TopLevelWindows(display));
    return window ? WindowTitle(display, *window) : QString();
}

} // namespace FirefoxWindow
