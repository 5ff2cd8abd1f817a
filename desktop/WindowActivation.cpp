#include "WindowActivation.h"

#include <QGuiApplication>
#include <QWidget>
#include <QtGui/qguiapplication_platform.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace WindowActivation {

namespace {

constexpr int kPieceSize = 20; // the data of one client message in 8-bit format
const QByteArray kTimeMarker("_TIME");

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

void SendToRoot(xcb_connection_t* connection, xcb_window_t root, uint32_t mask,
                const xcb_client_message_event_t& message) {
    xcb_send_event(connection, 0, root, mask, reinterpret_cast<const char*>(&message));
}

xcb_client_message_event_t ClientMessage(xcb_window_t window, xcb_atom_t type, uint8_t format) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = format;
    message.window = window;
    message.type = type;
    return message;
}

// Ends the launch feedback and asks the window manager for the focus with the click's time,
// which Qt does not know: it was given to the later start.
void AnswerX11Launch(xcb_connection_t* connection, xcb_window_t window,
                     const QByteArray& startupId) {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t begin = Atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = Atom(connection, "_NET_STARTUP_INFO");
    const QList<QByteArray> pieces = StartupRemovalPieces(startupId);
    for (int i = 0; i < pieces.size(); ++i) {
        xcb_client_message_event_t message = ClientMessage(window, i == 0 ? begin : more, 8);
        std::memcpy(message.data.data8, pieces[i].constData(), size_t(pieces[i].size()));
        SendToRoot(connection, root, XCB_EVENT_MASK_PROPERTY_CHANGE, message);
    }
    if (const uint32_t time = StartupIdTime(startupId)) {
        xcb_client_message_event_t message =
            ClientMessage(window, Atom(connection, "_NET_ACTIVE_WINDOW"), 32);
        message.data.data32[0] = 1; // asked for by an application
        message.data.data32[1] = time;
        SendToRoot(connection, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   message);
    }
    xcb_flush(connection);
}

} // namespace

bool IsLaunchToken(const QByteArray& token) {
    if (token.isEmpty() || token.size() > kMaxTokenSize)
        return false;
    return std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
}

uint32_t StartupIdTime(const QByteArray& startupId) {
    const int marker = startupId.lastIndexOf(kTimeMarker);
    if (marker < 0)
        return 0;
    bool ok = false;
    const uint time = startupId.mid(marker + kTimeMarker.size()).toUInt(&ok);
    return ok ? time : 0;
}

QList<QByteArray> StartupRemovalPieces(const QByteArray& startupId) {
    QByteArray quoted;
    for (const char c : startupId) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        quoted += c;
    }
    const QByteArray text = "remove: ID=\"" + quoted + "\"" + '\0';
    QList<QByteArray> pieces;
    for (int at = 0; at < text.size(); at += kPieceSize)
        pieces.append(text.mid(at, kPieceSize));
    return pieces;
}

void BringToFront(QWidget& window, const QByteArray& startupId, const QByteArray& activationToken) {
    // Qt's Wayland activation takes the token from the environment.
    if (IsLaunchToken(activationToken))
        qputenv(kActivationTokenVariable, activationToken);
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 && IsLaunchToken(startupId))
        AnswerX11Launch(x11->connection(), xcb_window_t(window.winId()), startupId);
}

} // namespace WindowActivation
