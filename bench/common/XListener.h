#pragma once
#include <xcb/xcb.h>

// A passive X client: it learns of top-level windows being mapped (SubstructureNotify on the
// root) and of key presses on the window it is told to watch. It only selects events, it never
// polls the server.
class XListener {
public:
    XListener();
    ~XListener();
    XListener(const XListener&) = delete;
    XListener& operator=(const XListener&) = delete;

    bool ok() const { return ok_; }
    void watchKeys(xcb_window_t window);

    struct Event {
        enum Kind { None, Map, KeyPress } kind = None;
        xcb_window_t window = 0;
        double at = 0; // when it arrived (MonotonicSeconds)
    };

    // The next map or key press, or None after `timeout` seconds.
    Event next(double timeout);

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    bool ok_ = false;
};
