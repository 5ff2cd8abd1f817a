#pragma once
#include <QObject>
#include <QTimer>
#include <functional>

// Shows a changing state at the eye's pace: the first request is shown at once, later ones at
// most once per interval, and the last request is always shown in the end. Requests that come
// faster than that only mark the state as changed; the showing is done by `show`.
class DisplayPacer : public QObject {
    Q_OBJECT
public:
    // About 30 showings a second: smooth to the eye, cheap for the window.
    static constexpr int DefaultIntervalMs = 33;

    explicit DisplayPacer(std::function<void()> show, int intervalMs = DefaultIntervalMs,
                          QObject* parent = nullptr);

    // The state has changed and should be shown.
    void Request();
    // Shows a change not yet shown now, and lets the next request be shown at once: for the
    // moments (the end of a transfer, say) after which the window shows something else.
    void Flush();
    bool IsPending() const { return pending_; }

private:
    void ShowPending();

    std::function<void()> show_;
    QTimer interval_;
    bool pending_ = false;
};
