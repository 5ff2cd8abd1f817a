#include "XListener.h"

#include "BenchFigures.h"

#include <cstdlib>
#include <sys/select.h>

XListener::XListener() {
    connection_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection_))
        return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    ok_ = true;
}

XListener::~XListener() {
    xcb_disconnect(connection_);
}

void XListener::watchKeys(xcb_window_t window) {
    const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
    xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
}

XListener::Event XListener::next(double timeout) {
    const double deadline = MonotonicSeconds() + timeout;
    const int fd = xcb_get_file_descriptor(connection_);
    while (MonotonicSeconds() < deadline) {
        while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
            Event event;
            event.at = MonotonicSeconds();
            const uint8_t type = raw->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY) {
                const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(raw);
                event = {Event::Map, map->window, event.at};
            } else if (type == XCB_KEY_PRESS) {
                const auto* key = reinterpret_cast<xcb_key_press_event_t*>(raw);
                event = {Event::KeyPress, key->event, event.at};
            }
            free(raw);
            if (event.kind != Event::None)
                return event;
        }
        if (xcb_connection_has_error(connection_))
            return {};
        fd_set read;
        FD_ZERO(&read);
        FD_SET(fd, &read);
        timeval wait{0, 100000};
        select(fd + 1, &read, nullptr, nullptr, &wait);
    }
    return {};
}
