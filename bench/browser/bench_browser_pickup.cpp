// How long the Download click waits for the browser page pickup, on the paths where nothing is
// found and on the path where a page is found. Prints per-call figures side by side with a
// reference run: the bare worker-thread round trip with a stand-in browser that has no window.
#include "BrowserPickup.h"
#include "SessionFiles.h"
#include "StandInDisplay.h"
#include "TestHome.h"
#include "modNabrix.h"
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <functional>

using namespace SessionFiles;

namespace {

const QString kDash = QStringLiteral(" \u2014 Mozilla Firefox");
const QString kVideoTitle = QStringLiteral("YouTube - Funny cat");
const QString kVideoUrl = QStringLiteral("http://www.youtube.com/watch?v=cat123");

class NoWindowBrowser : public BrowserSource {
public:
    QString FirstWindowTitle() override { return QString(); }
    QString ShownPageUrl(const QString&) override { return QString(); }
};

struct Figures {
    double meanMs = 0;
    double maxMs = 0;
    QString answer;
};

Figures Measure(int calls, const std::function<QString()>& call) {
    call(); // warm-up: first-use costs (thread start, symbol binding) are not counted
    Figures figures;
    double totalMs = 0;
    for (int i = 0; i < calls; ++i) {
        QElapsedTimer timer;
        timer.start();
        figures.answer = call();
        const double ms = timer.nsecsElapsed() / 1e6;
        totalMs += ms;
        figures.maxMs = std::max(figures.maxMs, ms);
    }
    figures.meanMs = totalMs / calls;
    return figures;
}

// A session of several windows with many tabs each; the video is the selected tab of the last
// window, which is also the one used last.
QByteArray BigSession(int windows, int tabsPerWindow) {
    QList<Window> list;
    for (int w = 0; w < windows; ++w) {
        Window window;
        for (int t = 0; t < tabsPerWindow; ++t) {
            Tab tab;
            for (int e = 0; e < 5; ++e)
                tab.entries.append(
                    {QString("Page %1.%2.%3 with a longish title").arg(w).arg(t).arg(e),
                     QString("https://site%1.example/path/%2?entry=%3").arg(w).arg(t).arg(e)});
            tab.index = 5;
            window.tabs.append(tab);
        }
        window.selected = tabsPerWindow;
        list.append(window);
    }
    list.last().tabs.last().entries.last() = {kVideoTitle, kVideoUrl};
    return SessionJson(list, windows);
}

class Report {
public:
    explicit Report(QTextStream& out) : out_(out) {
        out_ << QString("%1 %2 %3 %4 %5  %6\n")
                    .arg("path", -44)
                    .arg("calls", 6)
                    .arg("mean ms", 9)
                    .arg("max ms", 9)
                    .arg("x ref", 8)
                    .arg("answer");
    }
    void Line(const QString& path, int calls, const Figures& f) {
        if (referenceMs_ == 0)
            referenceMs_ = f.meanMs;
        out_ << QString("%1 %2 %3 %4 %5  %6\n")
                    .arg(path, -44)
                    .arg(calls, 6)
                    .arg(f.meanMs, 9, 'f', 3)
                    .arg(f.maxMs, 9, 'f', 3)
                    .arg(f.meanMs / referenceMs_, 8, 'f', 1)
                    .arg(f.answer.isEmpty() ? "(empty)" : f.answer);
        out_.flush();
    }

private:
    QTextStream& out_;
    double referenceMs_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    TestHome home;
    Report report(out);
    const auto pickup = [] { return modNabrix::GetBrowserVideoUrl(); };

    report.Line("reference: worker round trip, no window", 500, Measure(500, [] {
                    return BrowserPickup::VideoPageUrlWithin(std::make_shared<NoWindowBrowser>(),
                                                             std::chrono::seconds(1));
                }));

    qunsetenv("DISPLAY");
    report.Line("no X11 display", 500, Measure(500, pickup));
    qputenv("DISPLAY", ":4999");
    report.Line("display that does not answer", 500, Measure(500, pickup));

    StandInDisplay display;
    if (!display.ready()) {
        out << "Xvfb is not available: the display paths were not measured.\n";
        return 0;
    }
    qputenv("DISPLAY", display.name().toLocal8Bit());
    for (int i = 0; i < 30; ++i)
        display.AddWindow("xterm", "XTerm", QString("Terminal %1").arg(i));
    report.Line("display with 30 windows, no Firefox", 200, Measure(200, pickup));

    const xcb_window_t other = display.AddWindow("Navigator", "firefox", "News" + kDash);
    report.Line("Firefox on another page", 200, Measure(200, pickup));
    display.DestroyWindow(other);

    display.AddWindow("Navigator", "firefox", kVideoTitle + kDash);
    display.Freeze();
    report.Line("display server that hangs", 3, Measure(3, pickup));
    display.Thaw();

    report.Line("Firefox on a video page, no profile", 200, Measure(200, pickup));

    const QString profile = MakeProfile(home.path());
    WriteFile(RecoveryFile(profile), QByteArray("mozLz40\0\xff\xff\xff\x00garbage", 19));
    report.Line("video page, damaged session file", 200, Measure(200, pickup));

    const QByteArray usual = BigSession(3, 40);
    WriteFile(RecoveryFile(profile), MozLz4(usual));
    report.Line(QString("video page, session of 120 tabs (%1 KB)").arg(usual.size() / 1024), 100,
                Measure(100, pickup));

    const QByteArray large = BigSession(10, 1000);
    WriteFile(RecoveryFile(profile), MozLz4(large));
    report.Line(QString("video page, session of 10000 tabs (%1 MB)").arg(large.size() >> 20), 10,
                Measure(10, pickup));

    // A Wayland session: Firefox has no X11 window, and the session is read for the title too.
    qunsetenv("DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    report.Line(QString("Wayland, session of 10000 tabs (%1 MB)").arg(large.size() >> 20), 10,
                Measure(10, pickup));
    out << "Budget per call: 1000 ms (the pickup gives up after 900 ms).\n";
    return 0;
}
