#pragma once
#include "DesktopSession.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class QTimer;
class QWidget;

// What the desktop learns of one window's download or conversion: progress on the program's
// launcher entry while it runs, the machine kept awake meanwhile, and, when it ends while the
// user works in another program, a notification that leads to the file. The window's own
// message boxes stay as they are. Each window has one and tells it where its job stands.
class DesktopJob : public QObject {
    Q_OBJECT
public:
    enum class Kind { Download, Conversion };

    // `window` is the window that runs the jobs.
    DesktopJob(QWidget* window, Kind kind);
    ~DesktopJob() override;

    // A job begins that writes `file` (may be empty while not yet known). Until it says how
    // far it is, the launcher shows it without a share.
    void Started(const QString& file = QString());
    // How far the job is; a total of 0 or less leaves the share unknown.
    void Progress(qint64 done, qint64 total);
    // The job has ended with the text its message box shows ("Download Complete", "Error:...");
    // `file`, where given, is where the result went after all. Returns the notification told
    // of the end (0 when the user was here and none was shown).
    DesktopSession::NotificationId Finished(const QString& boxText, bool succeeded,
                                            const QString& file = QString());
    // The user has come back and answered the box of the end that `told` notified of: the
    // notification is no news any more.
    static void Answered(DesktopSession::NotificationId told);
    // The job was cancelled or its window closes: nothing is said.
    void Stopped();

    bool running() const { return running_; }

    // The action keys of the notification.
    static inline const QString kOpenFolderAction = QStringLiteral("open-folder");
    static inline const QString kPlayAction = QStringLiteral("play");
    static inline const QString kShowAction = QStringLiteral("default");

private:
    void ShowShare();
    void Leave();
    DesktopSession::NotificationId Notify(const QString& boxText, bool succeeded);
    void ActionChosen(const QString& key);
    QString WindowName() const;

    QPointer<QWidget> window_;
    QString reason_;
    QString file_;
    bool running_ = false;
    double share_ = 0;
    double shownShare_ = 0;
    // Paces the launcher: the first change is shown at once, then the latest at intervals.
    QTimer* launcherPace_ = nullptr;
    std::unique_ptr<DesktopSession::Inhibition> inhibition_;
};
