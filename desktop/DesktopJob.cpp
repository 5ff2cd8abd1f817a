#include "DesktopJob.h"

#include "Desktop.h"

#include <QApplication>
#include <QFileInfo>
#include <QList>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace {

// Docks draw the launcher's bar a few pixels wide: updates closer than this are not seen.
constexpr double kVisibleStep = 0.01;
constexpr qint64 kLauncherUpdateMs = 250;

// The launcher entry belongs to the program: it shows every running job together.
struct Launcher {
    QList<const DesktopJob*> running;
    QList<double> shares;
    // A job failed while the user was away; cleared when the program is active again.
    bool urgent = false;
    DesktopSession::LauncherState shown;
    bool watchingActivation = false;

    void Show() {
        DesktopSession::LauncherState state;
        state.progressVisible = !running.isEmpty();
        for (const double share : shares)
            state.progress += share / shares.size();
        state.urgent = urgent;
        if (state == shown)
            return;
        shown = state;
        DesktopSession::Instance().ShowLauncherState(state);
    }
    void Set(const DesktopJob* job, double share) {
        const int index = running.indexOf(job);
        if (index < 0) {
            running.append(job);
            shares.append(share);
        } else {
            shares[index] = share;
        }
    }
    void Remove(const DesktopJob* job) {
        const int index = running.indexOf(job);
        if (index < 0)
            return;
        running.removeAt(index);
        shares.removeAt(index);
    }
    void WatchActivation() {
        if (watchingActivation || !qApp)
            return;
        watchingActivation = true;
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, qApp,
                         [this](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationActive || !urgent)
                                 return;
                             urgent = false;
                             Show();
                         });
    }
};

Launcher& TheLauncher() {
    static Launcher launcher;
    return launcher;
}

// Whether the user is working in this program rather than another one.
bool ProgramIsActive() {
    return QApplication::activeWindow() != nullptr;
}

// Why the machine is kept awake, as the desktop shows it.
QString ReasonFor(DesktopJob::Kind kind) {
    return kind == DesktopJob::Kind::Download ? QStringLiteral("Downloading a video")
                                              : QStringLiteral("Converting a video");
}

} // namespace

DesktopJob::DesktopJob(QWidget* window, Kind kind)
    : QObject(window), window_(window), reason_(ReasonFor(kind)), launcherPace_(new QTimer(this)) {
    launcherPace_->setSingleShot(true);
    launcherPace_->setInterval(kLauncherUpdateMs);
    connect(launcherPace_, &QTimer::timeout, this, &DesktopJob::ShowShare);
}

DesktopJob::~DesktopJob() {
    Stopped();
}

void DesktopJob::Started(const QString& file) {
    file_ = file;
    share_ = 0;
    if (!running_)
        inhibition_ = DesktopSession::Instance().Inhibit(WindowName(), reason_);
    running_ = true;
    shownShare_ = 0;
    TheLauncher().Set(this, 0);
    TheLauncher().Show();
}

void DesktopJob::Progress(qint64 done, qint64 total) {
    if (!running_)
        return;
    share_ = total > 0 ? std::clamp(double(done) / double(total), 0.0, 1.0) : 0.0;
    if (!launcherPace_->isActive())
        ShowShare();
}

void DesktopJob::ShowShare() {
    if (!running_ || std::abs(share_ - shownShare_) < kVisibleStep)
        return;
    shownShare_ = share_;
    TheLauncher().Set(this, share_);
    TheLauncher().Show();
    launcherPace_->start();
}

DesktopSession::NotificationId DesktopJob::Finished(const QString& boxText, bool succeeded,
                                                    const QString& file) {
    if (!file.isEmpty())
        file_ = file;
    const bool away = !ProgramIsActive();
    Leave();
    if (!succeeded && away) {
        TheLauncher().urgent = true;
        TheLauncher().WatchActivation();
    }
    TheLauncher().Show();
    return away ? Notify(boxText, succeeded) : 0;
}

void DesktopJob::Answered(DesktopSession::NotificationId told) {
    if (told != 0)
        DesktopSession::Instance().Withdraw(told);
}

void DesktopJob::Stopped() {
    if (!running_)
        return;
    Leave();
    TheLauncher().Show();
}

void DesktopJob::Leave() {
    running_ = false;
    launcherPace_->stop();
    inhibition_.reset();
    TheLauncher().Remove(this);
}

DesktopSession::NotificationId DesktopJob::Notify(const QString& boxText, bool succeeded) {
    DesktopSession::Notification notification;
    notification.summary = boxText;
    notification.body = QFileInfo(file_).fileName();
    notification.actions << kShowAction << QStringLiteral("Show");
    // Opening a file or folder takes xdg-open: without it Qt falls back to a web browser, which
    // offers to save the video instead of playing it.
    if (!file_.isEmpty() && Desktop::instance().canOpenFiles()) {
        notification.actions << kOpenFolderAction << QStringLiteral("Open folder");
        if (succeeded && QFileInfo(file_).isFile())
            notification.actions << kPlayAction << QStringLiteral("Play");
    }
    QPointer<DesktopJob> self(this);
    return DesktopSession::Instance().Notify(notification, [self](const QString& key) {
        if (self)
            self->ActionChosen(key);
    });
}

void DesktopJob::ActionChosen(const QString& key) {
    const QFileInfo file(file_);
    if (key == kOpenFolderAction) {
        Desktop::instance().openUrl(QUrl::fromLocalFile(file.absolutePath()));
    } else if (key == kPlayAction) {
        Desktop::instance().openUrl(QUrl::fromLocalFile(file.absoluteFilePath()));
    } else if (key == kShowAction && window_) {
        window_->showNormal();
        window_->raise();
        window_->activateWindow();
    }
}

// The portal asks for the window as "x11:<id in hex>"; Wayland needs a handle exported by the
// compositor, which Qt does not give, so there the window stays unnamed.
QString DesktopJob::WindowName() const {
    if (!window_ || QGuiApplication::platformName() != QLatin1String("xcb"))
        return QString();
    const QWindow* handle = window_->window()->windowHandle();
    return handle ? QStringLiteral("x11:") + QString::number(handle->winId(), 16) : QString();
}
