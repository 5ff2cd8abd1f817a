#include "X11Clipboard.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <xcb/xcb.h>

using namespace std::chrono_literals;

namespace {

// A private Xvfb display.
class TestDisplay {
public:
    TestDisplay() {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        if (xvfb.isEmpty())
            return;
        // -displayfd picks a free display number and writes it to our standard output;
        // -noreset keeps the server from resetting whenever its last client leaves.
        server_.start(
            xvfb, {"-displayfd", "1", "-screen", "0", "64x64x24", "-nolisten", "tcp", "-noreset"});
        QByteArray number;
        while (!number.contains('\n') && server_.waitForReadyRead(10000))
            number += server_.readAllStandardOutput();
        if (!number.trimmed().isEmpty())
            name_ = ":" + number.trimmed();
    }
    ~TestDisplay() {
        server_.terminate();
        server_.waitForFinished(5000);
    }
    QByteArray name() const { return name_; }

private:
    QProcess server_;
    QByteArray name_;
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
    std::free(reply);
    return atom;
}

// Another program that takes the clipboard; it answers requests for its text only when told.
class ClipboardOwner {
public:
    ClipboardOwner(const QByteArray& display, const QByteArray& text, bool answers) : text_(text) {
        int screen = 0;
        connection_ = xcb_connect(display.constData(), &screen);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        window_ = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window_, root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        clipboard_ = Atom(connection_, "CLIPBOARD");
        xcb_set_selection_owner(connection_, window_, clipboard_, XCB_CURRENT_TIME);
        std::free(
            xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
        if (answers)
            answering_ = std::thread([this] { Answer(); });
    }
    ~ClipboardOwner() {
        stop_ = true;
        if (answering_.joinable())
            answering_.join();
        xcb_disconnect(connection_);
    }

private:
    void Answer() {
        while (!stop_) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection_);
            if (!event) {
                std::this_thread::sleep_for(5ms);
                continue;
            }
            if ((event->response_type & 0x7f) == XCB_SELECTION_REQUEST) {
                const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
                xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, request->requestor,
                                    request->property, request->target, 8, text_.size(),
                                    text_.constData());
                xcb_selection_notify_event_t notify{};
                notify.response_type = XCB_SELECTION_NOTIFY;
                notify.requestor = request->requestor;
                notify.selection = request->selection;
                notify.target = request->target;
                notify.property = request->property;
                notify.time = request->time;
                xcb_send_event(connection_, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                               reinterpret_cast<const char*>(&notify));
                xcb_flush(connection_);
            }
            std::free(event);
        }
    }

    QByteArray text_;
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t window_ = 0;
    xcb_atom_t clipboard_ = 0;
    std::atomic<bool> stop_{false};
    std::thread answering_;
};

} // namespace

// The clipboard read over its own X11 connection, against owners on a private display.
class tst_X11Clipboard : public QObject {
    Q_OBJECT
private slots:
    void readsTextAndNeverWaitsBeyondItsLimit() {
        TestDisplay display;
        if (display.name().isEmpty())
            QSKIP("Xvfb is not available");
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(X11Clipboard::Text(display.name(), 2000ms), QString()); // nobody owns it
        QVERIFY(clock.elapsed() < 1000);

        const QString address = QStringLiteral("http://www.youtube.com/watch?v=caf\u00e9");
        {
            ClipboardOwner owner(display.name(), address.toUtf8(), true);
            QCOMPARE(X11Clipboard::Text(display.name(), 2000ms), address);
        }
        ClipboardOwner silent(display.name(), address.toUtf8(), false);
        clock.restart();
        QCOMPARE(X11Clipboard::Text(display.name(), 300ms), QString());
        QVERIFY2(clock.elapsed() >= 290 && clock.elapsed() < 2000,
                 qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_GUILESS_MAIN(tst_X11Clipboard)
#include "tst_X11Clipboard.moc"
