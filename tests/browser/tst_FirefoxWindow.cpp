// Finding Firefox's window on an X11 display, and the whole pickup from display to address.
#include "FirefoxWindow.h"
#include "SessionFiles.h"
#include "StandInDisplay.h"
#include "TestHome.h"
#include "modNabrix.h"
#include <QtTest>

using namespace SessionFiles;

namespace {

const QString kCatTitle = QStringLiteral("YouTube - Funny cat");
const QString kCatUrl = QStringLiteral("http://www.youtube.com/watch?v=cat123&feature=related");
const QString kDash = QStringLiteral(" \u2014 Mozilla Firefox");

// Points $DISPLAY somewhere for one scope.
class DisplayVariable {
public:
    explicit DisplayVariable(const QString& value) : old_(qgetenv("DISPLAY")) {
        if (value.isNull())
            qunsetenv("DISPLAY");
        else
            qputenv("DISPLAY", value.toLocal8Bit());
    }
    ~DisplayVariable() { qputenv("DISPLAY", old_); }

private:
    QByteArray old_;
};

// A Wayland session for one scope: $WAYLAND_DISPLAY set, or unset when value is null.
class WaylandVariable {
public:
    explicit WaylandVariable(const QString& value) {
        qunsetenv("XDG_SESSION_TYPE");
        if (value.isNull())
            qunsetenv("WAYLAND_DISPLAY");
        else
            qputenv("WAYLAND_DISPLAY", value.toLocal8Bit());
    }
    ~WaylandVariable() { qunsetenv("WAYLAND_DISPLAY"); }
};

} // namespace

class tst_FirefoxWindow : public QObject {
    Q_OBJECT
private slots:
    void firefoxWindowClass_data() {
        QTest::addColumn<QByteArray>("wmClass");
        QTest::addColumn<bool>("isFirefox");
        QTest::newRow("firefox") << QByteArray("Navigator\0firefox\0", 18) << true;
        QTest::newRow("Debian ESR") << QByteArray("Navigator\0firefox-esr\0", 22) << true;
        QTest::newRow("Flatpak") << QByteArray("Navigator\0org.mozilla.firefox\0", 30) << true;
        QTest::newRow("older Firefox") << QByteArray("Navigator\0Firefox\0", 18) << true;
        QTest::newRow("without final NUL") << QByteArray("Navigator\0firefox", 17) << true;
        QTest::newRow("Firefox dialog") << QByteArray("Dialog\0firefox\0", 15) << false;
        QTest::newRow("other browser") << QByteArray("Navigator\0SeaMonkey\0", 20) << false;
        QTest::newRow("terminal") << QByteArray("xterm\0XTerm\0", 12) << false;
        QTest::newRow("instance only") << QByteArray("Navigator") << false;
        QTest::newRow("missing") << QByteArray() << false;
    }
    void firefoxWindowClass() {
        QFETCH(QByteArray, wmClass);
        QFETCH(bool, isFirefox);
        QCOMPARE(FirefoxWindow::IsBrowserWindowClass(wmClass), isFirefox);
    }

    void pageTitleFromWindowTitle_data() {
        QTest::addColumn<QString>("windowTitle");
        QTest::addColumn<QString>("pageTitle");
        QTest::newRow("dash") << kCatTitle + kDash << kCatTitle;
        QTest::newRow("hyphen") << kCatTitle + " - Mozilla Firefox" << kCatTitle;
        QTest::newRow("empty tab") << "Mozilla Firefox" << QString();
        QTest::newRow("hyphens inside") << "A - B - C - Mozilla Firefox"
                                        << "A - B - C";
        QTest::newRow("no brand") << kCatTitle << kCatTitle;
        QTest::newRow("brand not at the end") << "Mozilla Firefox - YouTube - x"
                                              << "Mozilla Firefox - YouTube - x";
        QTest::newRow("private window") << "Clip \u2014 Mozilla Firefox Private Browsing"
                                        << "Clip \u2014 Mozilla Firefox Private Browsing";
        QTest::newRow("empty") << QString() << QString();
    }
    void pageTitleFromWindowTitle() {
        QFETCH(QString, windowTitle);
        QFETCH(QString, pageTitle);
        QCOMPARE(FirefoxWindow::PageTitle(windowTitle), pageTitle);
    }

    void noDisplayGivesEmptyText() {
        TestHome home;
        QVERIFY(WriteFile(ShutdownFile(MakeProfile(home.path())),
                          MozLz4(SessionJson({Window{{Tab{{{kCatTitle, kCatUrl}}, 1}}, 1}}))));
        {
            DisplayVariable none{QString()};
            QCOMPARE(FirefoxWindow::FirstWindowTitle(), QString());
            QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
        }
        {
            DisplayVariable unreachable(":4999");
            QCOMPARE(FirefoxWindow::FirstWindowTitle(), QString());
            QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
        }
    }

    void windowsOnADisplay() {
        StandInDisplay display;
        if (!display.ready())
            QSKIP("Xvfb is not available");
        DisplayVariable variable(display.name());
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), QString()); // nothing open yet

        // Without a window manager the root window's children are searched, topmost first.
        const xcb_window_t terminal = display.AddWindow("xterm", "XTerm", "YouTube - shell");
        const xcb_window_t older = display.AddWindow("Navigator", "firefox", "Older" + kDash);
        const xcb_window_t dialog = display.AddWindow("Dialog", "firefox", "Downloads");
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), "Older" + kDash);
        const xcb_window_t newer =
            display.AddWindow("Navigator", "firefox-esr", "Newer - Mozilla Firefox", false);
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), QString("Newer - Mozilla Firefox"));

        // With a window manager its stacking list decides which window is on top.
        display.PublishLists({terminal, newer, older, dialog}, {terminal, older, dialog, newer});
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), "Older" + kDash);
        display.PublishLists({}, {terminal, newer, older, dialog});
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), QString("Newer - Mozilla Firefox"));

        // A listed window that is already gone is passed over.
        display.DestroyWindow(newer);
        QCOMPARE(FirefoxWindow::FirstWindowTitle(), "Older" + kDash);
    }

    void pickupFromDisplayAndProfile() {
        StandInDisplay display;
        if (!display.ready())
            QSKIP("Xvfb is not available");
        DisplayVariable variable(display.name());
        TestHome home;
        const QString profile = MakeProfile(home.path());
        const Window catWindow{
            {Tab{{{"News", "http://news.example/"}}, 1}, Tab{{{kCatTitle, kCatUrl}}, 1}}, 2};
        const Window homeWindow{
            {Tab{{{"YouTube - Broadcast Yourself", "http://www.youtube.com/"}}, 1}}, 1};
        QVERIFY(WriteFile(RecoveryFile(profile), MozLz4(SessionJson({homeWindow, catWindow}))));

        const xcb_window_t cat = display.AddWindow("Navigator", "firefox", kCatTitle + kDash);
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), kCatUrl);

        // Only the first window counts: the home page on top hides the video behind it.
        const xcb_window_t home1 =
            display.AddWindow("Navigator", "firefox", "YouTube - Broadcast Yourself" + kDash);
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
        display.DestroyWindow(home1);
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), kCatUrl);

        // A display server that stops answering does not hold the caller.
        display.Freeze();
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
        display.Thaw();
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), kCatUrl);

        // A title the session store does not know yet (saved a few seconds late).
        display.DestroyWindow(cat);
        display.AddWindow("Navigator", "firefox", "YouTube - Brand new" + kDash);
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
    }

    void waylandSessionTakesTheWindowUsedLast() {
        TestHome home;
        const QString profile = MakeProfile(home.path());
        const Window catWindow{{Tab{{{kCatTitle, kCatUrl}}, 1}}, 1};
        const Window homeWindow{
            {Tab{{{"YouTube - Broadcast Yourself", "http://www.youtube.com/"}}, 1}}, 1};
        QVERIFY(WriteFile(RecoveryFile(profile), MozLz4(SessionJson({homeWindow, catWindow}, 2))));
        DisplayVariable noX11{QString()};
        {
            WaylandVariable x11Session{QString()};
            QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());
        }
        WaylandVariable wayland("wayland-0");
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), kCatUrl);
        // The same title rules: the home page used last is no video.
        QVERIFY(WriteFile(RecoveryFile(profile), MozLz4(SessionJson({homeWindow, catWindow}, 1))));
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), QString());

        // A Firefox on XWayland has a window, and that window counts.
        StandInDisplay display;
        if (!display.ready())
            QSKIP("Xvfb is not available");
        DisplayVariable x11(display.name());
        display.AddWindow("Navigator", "firefox", kCatTitle + kDash);
        QCOMPARE(modNabrix::GetBrowserVideoUrl(), kCatUrl);
    }
};

QTEST_GUILESS_MAIN(tst_FirefoxWindow)
#include "tst_FirefoxWindow.moc"
