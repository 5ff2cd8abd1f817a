#include "ShownProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

namespace ShownProbe {

namespace {

// User plus system CPU time of this process so far, in microseconds.
long long cpuMicroseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
           usage.ru_stime.tv_usec;
}

void report() {
    std::printf("shown %lld %lld\n", MonotonicNanoseconds(), cpuMicroseconds());
    std::fflush(stdout);
    if (!std::getenv("PROBE_STAY"))
        _exit(0); // nothing after the first window belongs to the measurement
}

class ExposeWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!reported_ && event->type() == QEvent::Expose) {
            const auto* window = qobject_cast<QWindow*>(watched);
            if (window && window->isTopLevel() && window->isExposed()) {
                reported_ = true;
                // Queued, so the report follows the paint that this expose triggers.
                QTimer::singleShot(0, &report);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool reported_ = false;
};

void installWatcher() {
    auto* watcher = new ExposeWatcher(QCoreApplication::instance());
    QCoreApplication::instance()->installEventFilter(watcher);
}

} // namespace
} // namespace ShownProbe

// Runs inside the QApplication constructor, before any window exists.
static void installShownProbe() {
    ShownProbe::installWatcher();
}
Q_COREAPP_STARTUP_FUNCTION(installShownProbe)
