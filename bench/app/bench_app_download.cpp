// A download through the program's own main window, side by side with curl fetching the same
// page and stream, as a user behind a proxy meets it: the system proxy (http_proxy), the
// service's 303 redirect from the stream address to the file, a server as fast as the machine
// (Debian's nginx serving with sendfile) and the output folder in memory (tmpfs).
//
// bench_app_download [ROUNDS [PROGRAM]]
//     needs a display (DISPLAY; xvfb-run works), nginx and xdotool; PROGRAM is the program to
//     measure (the vantelo beside the benchmark unless given), for comparing two builds.
//
// The benchmark starts two nginx processes: one is the origin server, the other a forwarding
// proxy in front of it. The program runs in a private home whose settings point the output
// folder into /dev/shm; xdotool types the page address and presses Enter. The clock starts when
// the Enter key reaches the window and stops when the completion box is mapped; both moments are
// seen by a passive X client (it only selects events, it never polls the server). CPU time is
// user plus system time of all the program's threads between pressing Enter and the map.
#include "PeakMemory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <signal.h>
#include <sys/resource.h>
#include <time.h>
#include <xcb/xcb.h>

namespace {

constexpr int kDefaultRounds = 7;
const QString kPageHost = QStringLiteral("http://www.youtube.com");

double MonotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool WriteFile(const QString& path, const QByteArray& contents) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(contents) == contents.size();
}

// A stream file of `size` bytes, written in pieces so the benchmark itself stays small; a sparse
// one (all zeros, no memory taken) for the sizes of today's long videos.
bool WriteStream(const QString& path, qint64 size, bool sparse) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (sparse)
        return file.resize(size);
    QByteArray piece(1 << 20, Qt::Uninitialized);
    for (int i = 0; i < piece.size(); ++i)
        piece[i] = char((i * 131 + i / 4099) & 0xff);
    for (qint64 written = 0; written < size; written += piece.size())
        if (file.write(piece.constData(), std::min<qint64>(piece.size(), size - written)) < 0)
            return false;
    return true;
}

// A video page in the form the fetcher reads; its stream is "/get_video.php?video_id=ID".
QByteArray VideoPage(const QString& id) {
    return QStringLiteral("<html><head><title>YouTube - Benchmark video %1</title></head><body>"
                          "<script>var watchUsername = 'bench';</script>"
                          "<span class=\"description\">A stream served by nginx.</span>"
                          "<embed flashvars=\"video_id=x&video_id=%1&t=token&x=1\"></body>"
                          "</html>")
        .arg(id)
        .toUtf8();
}

// The origin server and the proxy, each one nginx process without a master.
class Servers {
public:
    explicit Servers(const QString& root) : root_(root) {}
    ~Servers() {
        for (QProcess* process : {&origin_, &proxy_}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }

    bool start() {
        QDir(root_).mkpath(QStringLiteral("temp"));
        originPort_ = FreePort();
        proxyPort_ = FreePort();
        const QString common =
            QStringLiteral("daemon off; master_process off; worker_processes 1;\n"
                           "error_log %1/%2.log warn; pid %1/%2.pid;\n"
                           "events { worker_connections 64; }\n"
                           "http {\n access_log off;\n"
                           " client_body_temp_path %1/temp; proxy_temp_path %1/temp;\n"
                           " fastcgi_temp_path %1/temp; uwsgi_temp_path %1/temp;\n"
                           " scgi_temp_path %1/temp;\n")
                .arg(root_);
        // The origin: pages, the stream address answering 303, and the stream files.
        const QString origin =
            common.arg(QStringLiteral("origin")) +
            QStringLiteral(" sendfile on; tcp_nopush on;\n"
                           " types { video/x-flv flv; }\n"
                           " server {\n  listen 127.0.0.1:%1; root %2/www;\n"
                           "  location = /watch { default_type \"text/html; charset=utf-8\";\n"
                           "   try_files /pages/$arg_v.html =404; }\n"
                           "  location = /get_video.php {\n"
                           "   return 303 http://$host/videos/$arg_video_id.flv; }\n"
                           "  location /videos/ { }\n"
                           "  location / { return 404; }\n }\n}\n")
                .arg(originPort_)
                .arg(root_);
        // The proxy forwards whatever it is asked for to the origin, whatever the host.
        const QString proxy =
            common.arg(QStringLiteral("proxy")) +
            QStringLiteral(" server {\n  listen 127.0.0.1:%1;\n"
                           "  location / { proxy_pass http://127.0.0.1:%2;\n"
                           "   proxy_http_version 1.1; proxy_set_header Connection \"\";\n"
                           "   proxy_set_header Host $host; proxy_redirect off;\n"
                           "   proxy_buffers 16 64k; proxy_max_temp_file_size 0; }\n }\n}\n")
                .arg(proxyPort_)
                .arg(originPort_);
        return run(origin_, QStringLiteral("origin"), origin, originPort_) &&
               run(proxy_, QStringLiteral("proxy"), proxy, proxyPort_);
    }

    QByteArray proxyAddress() const { return "http://127.0.0.1:" + QByteArray::number(proxyPort_); }

private:
    bool run(QProcess& process, const QString& name, const QString& config, quint16 port) {
        const QString configPath = root_ + '/' + name + QStringLiteral(".conf");
        if (!WriteFile(configPath, config.toUtf8()))
            return false;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("/usr/sbin/nginx"),
                      {QStringLiteral("-p"), root_, QStringLiteral("-e"),
                       root_ + '/' + name + QStringLiteral("-start.log"), QStringLiteral("-c"),
                       configPath});
        if (!process.waitForStarted(5000))
            return false;
        // Ready once it accepts connections.
        for (int attempt = 0; attempt < 100; ++attempt) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port);
            if (socket.waitForConnected(100))
                return true;
            QThread::msleep(20);
        }
        return false;
    }

    QString root_;
    quint16 originPort_ = 0;
    quint16 proxyPort_ = 0;
    QProcess origin_;
    QProcess proxy_;
};

// A passive X client: it learns of top-level windows being mapped (SubstructureNotify on the
// root) and of key presses on the window it is told to watch.
class XListener {
public:
    XListener() {
        connection_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        ok_ = true;
    }
    ~XListener() { xcb_disconnect(connection_); }
    bool ok() const { return ok_; }

    void watchKeys(xcb_window_t window) {
        const uint32_t mask = XCB_EVENT_MASK_KEY_PRESS;
        xcb_change_window_attributes(connection_, window, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
    }

    struct Event {
        enum Kind { None, Map, KeyPress } kind = None;
        xcb_window_t window = 0;
        double at = 0; // when it arrived (MonotonicSeconds)
    };

    // The next map or key press, or None after `timeout` seconds.
    Event next(double timeout) {
        const double deadline = MonotonicSeconds() + timeout;
        const int fd = xcb_get_file_descriptor(connection_);
        while (MonotonicSeconds() < deadline) {
            while (xcb_generic_event_t* raw = xcb_poll_for_event(connection_)) {
                Event event;
                event.at = MonotonicSeconds();
                const uint8_t type = raw->response_type & 0x7f;
                if (type == XCB_MAP_NOTIFY) {
                    const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(raw);
                    event = {Event::Map, map->window, event.at};
                } else if (type == XCB_KEY_PRESS) {
                    const auto* key = reinterpret_cast<xcb_key_press_event_t*>(raw);
                    event = {Event::KeyPress, key->event, event.at};
                }
                free(raw);
                if (event.kind != Event::None)
                    return event;
            }
            if (xcb_connection_has_error(connection_))
                return {};
            fd_set read;
            FD_ZERO(&read);
            FD_SET(fd, &read);
            timeval wait{0, 100000};
            select(fd + 1, &read, nullptr, nullptr, &wait);
        }
        return {};
    }

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
    bool ok_ = false;
};

// CPU time of a process so far: the sum over its threads, in nanoseconds (schedstat).
double ProcessCpuSeconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    double sum = 0;
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + '/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            sum += stat.readAll().split(' ').value(0).toDouble() / 1e9;
    }
    return sum;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The bytes of the finished videos in the folder; a partial file left behind counts against it.
qint64 FolderBytes(const QString& folder) {
    qint64 sum = 0;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        sum += file.suffix() == QLatin1String("part") ? -file.size() - 1 : file.size();
    return sum;
}

void EmptyFolder(const QString& folder) {
    for (const QString& name : QDir(folder).entryList(QDir::Files))
        QFile::remove(folder + '/' + name);
}

bool Xdotool(const QStringList& arguments) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), arguments);
    return xdotool.waitForFinished(10000) && xdotool.exitCode() == 0;
}

struct Run {
    double wall = 0;
    double cpu = 0;
    qint64 peakKb = 0;
};

class Bench {
public:
    Bench(const QString& root, const QByteArray& proxy, const QString& program)
        : root_(root), out_(root + QStringLiteral("/out")), proxy_(proxy), program_(program) {
        QDir(root).mkpath(QStringLiteral("out"));
        const QString home = root + QStringLiteral("/home");
        QDir(home).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(home + QStringLiteral("/runtime"), QFileDevice::ReadOwner |
                                                                     QFileDevice::WriteOwner |
                                                                     QFileDevice::ExeOwner);
        QSettings settings(home + QStringLiteral("/.config/Morvane/Vantelo.conf"),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("Youtube Video output path"), out_);
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert(QStringLiteral("HOME"), home);
        env_.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        env_.insert(QStringLiteral("http_proxy"), QString::fromLatin1(proxy));
        for (const char* name : {"no_proxy", "NO_PROXY", "HTTP_PROXY", "https_proxy", "all_proxy"})
            env_.remove(QString::fromLatin1(name));
    }

    bool program(const QString& id, qint64 size, Run& run) {
        EmptyFolder(out_);
        XListener x;
        if (!x.ok())
            return fail("no X display");
        QProcess vantelo;
        vantelo.setProcessEnvironment(env_);
        vantelo.setProcessChannelMode(QProcess::ForwardedChannels);
        vantelo.start(program_, {});
        if (!vantelo.waitForStarted(10000))
            return fail("the program did not start");
        const auto stop = [&vantelo] {
            vantelo.kill();
            vantelo.waitForFinished(5000);
        };
        const XListener::Event shown = x.next(20);
        if (shown.kind != XListener::Event::Map) {
            stop();
            return fail("the main window did not appear");
        }
        const QString window = QString::number(shown.window);
        // Let the first paint and the requests after it settle before typing.
        QThread::msleep(400);
        x.watchKeys(shown.window);
        if (!Xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}) ||
            !Xdotool({QStringLiteral("key"), QStringLiteral("ctrl+a")}) ||
            !Xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("1"),
                      kPageHost + QStringLiteral("/watch?v=") + id})) {
            stop();
            return fail("xdotool failed");
        }
        QThread::msleep(200);
        while (x.next(0.05).kind != XListener::Event::None) {
        }
        const double cpuBefore = ProcessCpuSeconds(vantelo.processId());
        Xdotool({QStringLiteral("key"), QStringLiteral("Return")});
        XListener::Event event = x.next(20);
        const double started = event.at;
        while (event.kind == XListener::Event::KeyPress)
            event = x.next(600);
        run.cpu = ProcessCpuSeconds(vantelo.processId()) - cpuBefore;
        run.wall = event.at - started;
        run.peakKb = PeakResidentKb(QString::number(vantelo.processId()));
        stop();
        if (event.kind != XListener::Event::Map)
            return fail("no completion box");
        if (FolderBytes(out_) != size)
            return fail(QStringLiteral("the program saved %1 bytes").arg(FolderBytes(out_)));
        return true;
    }

    bool curl(const QString& id, qint64 size, Run& run) {
        EmptyFolder(out_);
        QProcess curl;
        curl.setProcessEnvironment(env_);
        const QStringList arguments = {
            QStringLiteral("-s"),
            QStringLiteral("-f"),
            QStringLiteral("-L"),
            QStringLiteral("-o"),
            out_ + QStringLiteral("/page.html"),
            kPageHost + QStringLiteral("/watch?v=") + id,
            QStringLiteral("-o"),
            out_ + QStringLiteral("/video.flv"),
            kPageHost + QStringLiteral("/get_video.php?video_id=%1&t=token").arg(id)};
        const double cpuBefore = ChildrenCpuSeconds();
        const double started = MonotonicSeconds();
        curl.start(QStringLiteral("curl"), arguments);
        if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
            return fail("curl failed");
        run.wall = MonotonicSeconds() - started;
        run.cpu = ChildrenCpuSeconds() - cpuBefore;
        if (QFileInfo(out_ + QStringLiteral("/video.flv")).size() != size)
            return fail("curl saved a wrong size");
        return true;
    }

    void reset() { QFile::remove(root_ + QStringLiteral("/home/runtime/Morvane-Vantelo.lock")); }

private:
    static bool fail(const QString& why) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }

    QString root_;
    QString out_;
    QByteArray proxy_;
    QString program_;
    QProcessEnvironment env_;
};

int Main(int rounds, QString programPath) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("needs a display (run it under xvfb-run)\n");
        return 1;
    }
    QTemporaryDir root(QStringLiteral("/dev/shm/bench_app_download-XXXXXX"));
    QDir(root.path()).mkpath(QStringLiteral("www/pages"));
    QDir(root.path()).mkpath(QStringLiteral("www/videos"));
    struct Size {
        QString id;
        qint64 bytes;
        bool sparse;
    };
    // The last is past every 32-bit count, as long videos are today.
    const QList<Size> sizes = {{QStringLiteral("s16"), 16LL << 20, false},
                               {QStringLiteral("s512"), 512LL << 20, false},
                               {QStringLiteral("s4608"), 4608LL << 20, true}};
    for (const Size& size : sizes) {
        if (!WriteFile(root.path() + QStringLiteral("/www/pages/%1.html").arg(size.id),
                       VideoPage(size.id)) ||
            !WriteStream(root.path() + QStringLiteral("/www/videos/%1.flv").arg(size.id),
                         size.bytes, size.sparse)) {
            std::printf("cannot write the served files\n");
            return 1;
        }
    }
    Servers servers(root.path());
    if (!servers.start()) {
        std::printf("nginx did not start\n");
        return 1;
    }
    Bench bench(root.path(), servers.proxyAddress(), programPath);
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly))
        std::printf("load average at start: %s\n",
                    loadAverage.readAll().split(' ').value(0).constData());
    std::printf(
        "Download through the main window, the proxy and a 303 redirect from nginx (sendfile) "
        "to tmpfs;\n%d alternating pairs per size, medians (program vs curl, page and stream)\n",
        rounds);
    std::printf("size     program s  curl s  curl/program wall   program CPU s  curl CPU s  "
                "program/curl CPU   program peak MB (max)\n");
    QList<qint64> peaks;
    int status = 0;
    for (const Size& size : sizes) {
        QList<double> wall[2], cpu[2], ratioWall, ratioCpu;
        QList<double> peak;
        for (int round = 0; round < rounds; ++round) {
            Run program, curl;
            const bool curlFirst = round % 2 == 1;
            bench.reset();
            bool done = !curlFirst || bench.curl(size.id, size.bytes, curl);
            done = done && bench.program(size.id, size.bytes, program);
            done = done && (curlFirst || bench.curl(size.id, size.bytes, curl));
            if (!done) {
                status = 1;
                continue;
            }
            wall[0].append(program.wall);
            wall[1].append(curl.wall);
            cpu[0].append(program.cpu);
            cpu[1].append(curl.cpu);
            ratioWall.append(curl.wall / program.wall);
            ratioCpu.append(program.cpu / curl.cpu);
            peak.append(program.peakKb / 1024.0);
        }
        if (peak.isEmpty())
            continue;
        std::printf("%-7s %9.3f %7.3f %18.2f %15.3f %11.3f %18.2f %16.1f (%.1f)\n",
                    qPrintable(QStringLiteral("%1 MB").arg(size.bytes >> 20)), Median(wall[0]),
                    Median(wall[1]), Median(ratioWall), Median(cpu[0]), Median(cpu[1]),
                    Median(ratioCpu), Median(peak), *std::max_element(peak.begin(), peak.end()));
        peaks.append(qint64(*std::max_element(peak.begin(), peak.end()) * 1024));
    }
    for (qsizetype i = 1; i < peaks.size(); ++i)
        std::printf("peak memory %lld MB - 16 MB (largest runs): %+.1f MB (target: at most +8)\n",
                    sizes[i].bytes >> 20, (peaks[i] - peaks[0]) / 1024.0);
    std::printf("targets: program CPU at most 1.0x curl; curl/program wall at least 0.95\n");
    return status;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : kDefaultRounds;
    const QString program =
        argc > 2 ? QString::fromLocal8Bit(argv[2])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/vantelo");
    return Main(rounds, program);
}
