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
#include "BenchFigures.h"
#include "NginxServers.h"
#include "WindowDownload.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

namespace {

constexpr int kDefaultRounds = 7;
const QString kPageHost = QStringLiteral("http://www.youtube.com");
// The origin: pages, the stream address answering 303, and the stream files.
const QString kOriginSettings = QStringLiteral(" sendfile on; tcp_nopush on;\n"
                                               " types { video/x-flv flv; }\n");
const QString kOriginLocations =
    QStringLiteral("  location = /watch { default_type \"text/html; charset=utf-8\";\n"
                   "   try_files /pages/$arg_v.html =404; }\n"
                   "  location = /get_video.php {\n"
                   "   return 303 http://$host/videos/$arg_video_id.flv; }\n"
                   "  location /videos/ { }\n"
                   "  location / { return 404; }\n");

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

// The bytes of the finished videos in the folder; a partial file left behind counts against it.
qint64 FolderBytes(const QString& folder) {
    qint64 sum = 0;
    for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
        sum += file.suffix() == QLatin1String("part") ? -file.size() - 1 : file.size();
    return sum;
}

class Bench {
public:
    Bench(const QString& root, const QByteArray& proxy, const QString& program)
        : window_(root, proxy, program), out_(window_.outFolder()) {}

    bool program(const QString& id, qint64 size, Run& run) {
        if (!window_.run(kPageHost + QStringLiteral("/watch?v=") + id, run))
            return false;
        if (FolderBytes(out_) != size)
            return fail(QStringLiteral("the program saved %1 bytes").arg(FolderBytes(out_)));
        return true;
    }

    bool curl(const QString& id, qint64 size, Run& run) {
        EmptyFolder(out_);
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
        if (!MeasuredChild(QStringLiteral("curl"), arguments, window_.environment(), out_, run))
            return fail("curl failed");
        if (QFileInfo(out_ + QStringLiteral("/video.flv")).size() != size)
            return fail("curl saved a wrong size");
        return true;
    }

    void reset() { window_.reset(); }

private:
    static bool fail(const QString& why) {
        std::fprintf(stderr, "%s\n", qPrintable(why));
        return false;
    }

    WindowDownload window_;
    QString out_;
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
    NginxServers servers(root.path());
    if (!servers.start(kOriginSettings, kOriginLocations)) {
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
