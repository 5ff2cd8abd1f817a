#include "X11Clipboard.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <xcb/xcb.h>

namespace X11Clipboard {

namespace {

using Clock = std::chrono::steady_clock;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XReply = std::unique_ptr<T, FreeDeleter>;

// URLs and short texts; a larger text (sent in pieces, INCR) counts as none.
constexpr uint32_t kMaxPropertyUnits = 64 * 1024;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name);
    XReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_NONE);
}

xcb_window_t RootOf(xcb_connection_t* connection, int screenNumber) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    return screens.rem ? screens.data->root : xcb_window_t(XCB_NONE);
}

// The converted text that the owner left in the property.
QString TakeProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                     xcb_atom_t utf8) {
    const xcb_get_property_cookie_t cookie = xcb_get_property(
        connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyUnits);
    XReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->format != 8)
        return QString();
    const char* bytes = static_cast<const char*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get());
    if (reply->type == utf8)
        return QString::fromUtf8(bytes, length);
    if (reply->type == XCB_ATOM_STRING)
        return QString::fromLatin1(bytes, length);
    return QString();
}

} // namespace

QString Text(const QByteArray& display, std::chrono::milliseconds limit) {
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> connection(
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screenNumber),
        xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return QString();
    xcb_connection_t* c = connection.get();
    const xcb_window_t root = RootOf(c, screenNumber);
    const xcb_atom_t clipboard = Atom(c, "CLIPBOARD");
    const xcb_atom_t utf8 = Atom(c, "UTF8_STRING");
    const xcb_atom_t property = Atom(c, "VANTELO_CLIPBOARD");
    if (root == XCB_NONE || clipboard == XCB_NONE || utf8 == XCB_NONE || property == XCB_NONE)
        return QString();

    // The owner answers by putting the text on a window of ours and telling us so.
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_convert_selection(c, window, clipboard, utf8, property, XCB_CURRENT_TIME);
    xcb_flush(c);

    const Clock::time_point deadline = Clock::now() + limit;
    pollfd readable{xcb_get_file_descriptor(c), POLLIN, 0};
    for (;;) {
        while (XReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
            if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                continue;
            const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
            if (notify->requestor != window)
                continue;
            // No owner, or one that cannot give text: the property is none.
            if (notify->property == XCB_NONE)
                return QString();
            return TakeProperty(c, window, notify->property, utf8);
        }
        if (xcb_connection_has_error(c))
            return QString();
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return QString();
        poll(&readable, 1, int(left.count()));
    }
}

} // namespace X11Clipboard
