#include "WindowDownload.h"

#include "PeakMemory.h"
#include "XListener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QThread>
#include <cstdio>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

bool Fail(const QString& why) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    return false;
}

bool Xdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

constexpr double kIdleSeconds = 30;

qint64 FolderBytes(const QString& folder) {
    qint64 sum = 0;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        sum += file.size();
    return sum;
}

// Notes every write into one folder, so the first byte on disk is seen when it lands.
class FolderWrites {
public:
    explicit FolderWrites(const QString& folder) : folder_(folder) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ >= 0)
            inotify_add_watch(fd_, QFile::encodeName(folder).constData(),
                              IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO);
    }
    ~FolderWrites() {
        if (fd_ >= 0)
            close(fd_);
    }

    // When the folder first held a byte (MonotonicSeconds), or 0 after `timeout` seconds.
    double firstByte(double timeout) {
        const double deadline = MonotonicSeconds() + timeout;
        while (MonotonicSeconds() < deadline) {
            pollfd wait{fd_, POLLIN, 0};
            if (poll(&wait, 1, 100) > 0) {
                const double at = MonotonicSeconds();
                char events[4096];
                while (read(fd_, events, sizeof events) > 0) {
                }
                if (FolderBytes(folder_) > 0)
                    return at;
            }
        }
        return 0;
    }

private:
    QString folder_;
    int fd_ = -1;
};

} // namespace

WindowDownload::WindowDownload(const QString& root, const QByteArray& proxy, const QString& program)
    : root_(root), out_(root + QStringLiteral("/out")), program_(program),
      display_(xcb_connect(nullptr, nullptr)) {
    QDir(root).mkpath(QStringLiteral("out"));
    const QString home = root + QStringLiteral("/home");
    QDir(home).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(home + QStringLiteral("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    setSetting(QStringLiteral("Youtube Video output path"), out_);
    env_ = QProcessEnvironment::systemEnvironment();
    env_.insert(QStringLiteral("HOME"), home);
    env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env_.insert(QStringLiteral("http_proxy"), QString::fromLatin1(proxy));
    for (const char* name : {"no_proxy", "NO_PROXY", "HTTP_PROXY", "https_proxy", "all_proxy"})
        env_.remove(QString::fromLatin1(name));
}

WindowDownload::~WindowDownload() {
    xcb_disconnect(display_);
}

void WindowDownload::setSetting(const QString& key, const QString& value) {
    QSettings settings(root_ + QStringLiteral("/home/.config/Morvane/Vantelo.conf"),
                       QSettings::IniFormat);
    settings.setValue(key, value);
}

void WindowDownload::setEnvironment(const QString& name, const QString& value) {
    env_.insert(name, value);
}

bool WindowDownload::run(const QString& address, Run& run, Until until) {
    EmptyFolder(out_);
    XListener x;
    if (!x.ok())
        return Fail(QStringLiteral("no X display"));
    QProcess program;
    program.setProcessEnvironment(env_);
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(program_, {});
    if (!program.waitForStarted(10000))
        return Fail(QStringLiteral("the program did not start"));
    const auto stop = [&program] {
        program.kill();
        program.waitForFinished(5000);
    };
    const XListener::Event shown = x.next(20);
    if (shown.kind != XListener::Event::Map) {
        stop();
        return Fail(QStringLiteral("the main window did not appear"));
    }
    const QString window = QString::number(shown.window);
    // Let the first paint and the requests after it settle before typing.
    QThread::msleep(400);
    x.watchKeys(shown.window);
    if (!Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) ||
        !Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}) ||
        !Xdotool(
            {QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("1"), address})) {
        stop();
        return Fail(QStringLiteral("xdotool failed"));
    }
    QThread::msleep(200);
    while (x.next(0.05).kind != XListener::Event::None) {
    }
    FolderWrites writes(out_);
    const double cpuBefore = ProcessCpuSeconds(program.processId());
    Xdotool({QStringLiteral("key"), QStringLiteral("Return")});
    XListener::Event event = x.next(20);
    if (event.kind != XListener::Event::KeyPress) {
        stop();
        return Fail(QStringLiteral("the window saw no Enter"));
    }
    const double started = event.at;
    double stopped = 0;
    if (until == Until::FirstByte) {
        stopped = writes.firstByte(60);
    } else {
        // However long the download, it gives up on a program that writes nothing for a while.
        qint64 written = 0;
        double lastWrite = MonotonicSeconds();
        while (event.kind != XListener::Event::Map &&
               MonotonicSeconds() - lastWrite < kIdleSeconds) {
            event = x.next(1);
            if (const qint64 now = FolderBytes(out_); now != written) {
                written = now;
                lastWrite = MonotonicSeconds();
            }
        }
        stopped = event.kind == XListener::Event::Map ? event.at : 0;
    }
    run.cpu = ProcessCpuSeconds(program.processId()) - cpuBefore;
    run.wall = stopped - started;
    run.peakKb = PeakResidentKb(QString::number(program.processId()));
    stop();
    if (stopped == 0)
        return Fail(until == Until::FirstByte
                        ? QStringLiteral("no byte reached the disk: ") + address
                        : QStringLiteral("no completion box, nothing written for %1 s: %2")
                              .arg(kIdleSeconds)
                              .arg(address));
    return true;
}

void WindowDownload::reset() {
    QFile::remove(root_ + QStringLiteral("/home/runtime/Morvane-Vantelo.lock"));
}
