#pragma once
#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QtGlobal>
#include <csignal>
#include <cstdlib>
#include <sys/types.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

// A private Xvfb display with stand-in browser windows on it: top-level windows carrying the
// class and title properties that Firefox sets. The test acts as the window manager and
// publishes the window lists itself.
class StandInDisplay {
public:
    StandInDisplay() {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        // -displayfd picks a free display number and writes it to our standard output.
        server_.start(xvfb, {"-displayfd", "1", "-screen", "0", "320x240x24", "-nolisten", "tcp"});
        QByteArray number;
        while (!number.contains('\n') && server_.waitForReadyRead(10000))
            number += server_.readAllStandardOutput();
        if (number.trimmed().isEmpty())
            return;
        name_ = ":" + QString::fromLatin1(number.trimmed());
        connection_ = xcb_connect(name_.toLocal8Bit().constData(), &screen_);
        if (xcb_connection_has_error(connection_))
            return;
        ready_ =
            xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr);
    }
    ~StandInDisplay() {
        if (ready_)
            xcb_ewmh_connection_wipe(&ewmh_);
        if (connection_)
            xcb_disconnect(connection_);
        Thaw();
        server_.terminate();
        server_.waitForFinished(5000);
    }
    StandInDisplay(const StandInDisplay&) = delete;
    StandInDisplay& operator=(const StandInDisplay&) = delete;

    bool ready() const { return ready_; }
    // The value for $DISPLAY, e.g. ":7".
    QString name() const { return name_; }

    // A new top-level window with WM_CLASS (instance, class) and a title in _NET_WM_NAME; the
    // title goes into WM_NAME instead when netWmName is false.
    xcb_window_t AddWindow(const QByteArray& instance, const QByteArray& className,
                           const QString& title, bool netWmName = true) {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root(), 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const QByteArray wmClass = instance + '\0' + className + '\0';
        SetProperty(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, wmClass);
        if (netWmName)
            SetProperty(window, ewmh_._NET_WM_NAME, ewmh_.UTF8_STRING, title.toUtf8());
        else
            SetProperty(window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title.toLatin1());
        xcb_map_window(connection_, window);
        Sync();
        return window;
    }

    // Publishes the window manager's lists: stacking order bottom to top, client list in order
    // of mapping.
    void PublishLists(QList<xcb_window_t> stacking, QList<xcb_window_t> clients) {
        xcb_ewmh_set_client_list_stacking(&ewmh_, screen_, stacking.size(), stacking.data());
        xcb_ewmh_set_client_list(&ewmh_, screen_, clients.size(), clients.data());
        Sync();
    }

    // Stops and resumes the display server, which then accepts connections but answers nothing.
    void Freeze() { ::kill(static_cast<pid_t>(server_.processId()), SIGSTOP); }
    void Thaw() { ::kill(static_cast<pid_t>(server_.processId()), SIGCONT); }

    void DestroyWindow(xcb_window_t window) {
        xcb_destroy_window(connection_, window);
        Sync();
    }

    // The shown top-level windows, bottom of the stack first (no window manager runs here).
    QList<xcb_window_t> ShownWindows() {
        QList<xcb_window_t> shown;
        xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root()), nullptr);
        if (!tree)
            return shown;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            xcb_get_window_attributes_reply_t* attributes = xcb_get_window_attributes_reply(
                connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
            if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE)
                shown.append(children[i]);
            std::free(attributes);
        }
        std::free(tree);
        return shown;
    }

    // The first shown top-level window whose _NET_WM_NAME starts with `prefix`, or 0.
    xcb_window_t FindWindow(const QString& prefix) {
        for (const xcb_window_t window : ShownWindows()) {
            xcb_get_property_reply_t* name =
                xcb_get_property_reply(connection_,
                                       xcb_get_property(connection_, 0, window, ewmh_._NET_WM_NAME,
                                                        ewmh_.UTF8_STRING, 0, 256),
                                       nullptr);
            const bool found =
                name && QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(name)),
                                          xcb_get_property_value_length(name))
                            .startsWith(prefix);
            std::free(name);
            if (found)
                return window;
        }
        return 0;
    }

    // What programs asked the window manager for: windows to activate, with the X server time
    // of each request, and launch feedback messages ("remove: ID=...").
    struct Requests {
        QList<QPair<xcb_window_t, uint32_t>> activations;
        QList<QByteArray> launchMessages;
    };

    // Tells the programs that start from now on that a window manager takes activation
    // requests (_NET_ACTIVE_WINDOW), and starts collecting what they ask for.
    void TakeWindowManagerRequests() {
        xcb_ewmh_set_supported(&ewmh_, screen_, 1, &ewmh_._NET_ACTIVE_WINDOW);
        startupBegin_ = Atom("_NET_STARTUP_INFO_BEGIN");
        startupMore_ = Atom("_NET_STARTUP_INFO");
        // Requests go to the root window with one of these in their event mask.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY |
                              XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection_, root(), XCB_CW_EVENT_MASK, &mask);
        Sync();
    }

    // The requests that came since the last call.
    Requests WindowManagerRequests() {
        Sync();
        Requests requests;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE)
                Take(*message, requests);
            std::free(event);
        }
        return requests;
    }

private:
    xcb_window_t root() const { return ewmh_.screens[screen_]->root; }

    xcb_atom_t Atom(const char* name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, uint16_t(qstrlen(name)), name), nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    // Launch feedback messages come in 20-byte pieces and end in a NUL.
    void Take(const xcb_client_message_event_t& message, Requests& requests) {
        if (message.type == ewmh_._NET_ACTIVE_WINDOW) {
            requests.activations.append({message.window, message.data.data32[1]});
        } else if (message.type == startupBegin_ || message.type == startupMore_) {
            if (message.type == startupBegin_)
                launchText_.clear();
            const char* piece = reinterpret_cast<const char*>(message.data.data8);
            const int length = int(qstrnlen(piece, 20));
            launchText_.append(piece, length);
            if (length < 20)
                requests.launchMessages.append(launchText_);
        }
    }

    void SetProperty(xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                     const QByteArray& value) {
        xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, name, type, 8, value.size(),
                            value.constData());
    }

    // A round trip: every request sent so far has been carried out when it returns.
    void Sync() {
        std::free(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }

    QProcess server_;
    QString name_;
    xcb_connection_t* connection_ = nullptr;
    xcb_ewmh_connection_t ewmh_{};
    int screen_ = 0;
    bool ready_ = false;
    xcb_atom_t startupBegin_ = XCB_ATOM_NONE;
    xcb_atom_t startupMore_ = XCB_ATOM_NONE;
    QByteArray launchText_;
};
