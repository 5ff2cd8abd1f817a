#include "DisplayPacer.h"

DisplayPacer::DisplayPacer(std::function<void()> show, int intervalMs, QObject* parent)
    : QObject(parent), show_(std::move(show)) {
    interval_.setSingleShot(true);
    interval_.setInterval(intervalMs);
    connect(&interval_, &QTimer::timeout, this, &DisplayPacer::ShowPending);
}

void DisplayPacer::Request() {
    pending_ = true;
    if (!interval_.isActive())
        ShowPending();
}

void DisplayPacer::Flush() {
    interval_.stop();
    if (pending_) {
        pending_ = false;
        show_();
    }
}

void DisplayPacer::ShowPending() {
    if (!pending_)
        return;
    pending_ = false;
    // The interval runs from this showing, so a slow `show` does not pile up showings.
    show_();
    interval_.start();
}
