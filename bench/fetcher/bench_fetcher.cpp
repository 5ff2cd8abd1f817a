// Download throughput and peak memory of the video fetcher against curl.
//
// bench_fetcher                      runs everything and prints the figures
// bench_fetcher --serve              a loopback server (video pages and generated streams)
// bench_fetcher --fetch SIZE PROXY DIR
//                                    one download of SIZE bytes with Nabrix; prints
//                                    "<seconds> <peak resident kB>"
//
// The server runs in its own process so that neither client shares its event loop; each
// Nabrix download runs in its own process so its peak memory belongs to that size alone.
// A page address "http://www.youtube.com/watch?v=SIZE" leads to a stream of SIZE generated
// bytes; "SIZE_RATE" paces the stream and "SIZE_RATE_PAGERATE" the page too (bytes per
// second), for watching a download in the program's window.

#include "LoopbackHttpServer.h"
#include "Nabrix.h"
#include "PeakMemory.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QUrlQuery>
#include <algorithm>
#include <sys/resource.h>

namespace {

using Response = LoopbackHttpServer::Response;

constexpr int Rounds = 5;

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// "SIZE" or "SIZE_RATE" from a video id.
void ParseVideoId(const QString& id, qint64& size, qint64& rate) {
    const QStringList parts = id.split(QLatin1Char('_'));
    size = parts.value(0).toLongLong();
    rate = parts.value(1).toLongLong();
}

QByteArray VideoPage(const QString& id) {
    return QStringLiteral("<html><head><title>YouTube - Benchmark video %1</title></head><body>"
                          "<script>var watchUsername = 'bench';</script>"
                          "<span class=\"description\">A generated stream.</span>"
                          "<embed flashvars=\"video_id=x&video_id=%1&t=token&x=1\"></body>"
                          "</html>")
        .arg(id)
        .toUtf8();
}

QByteArray Thumbnail() {
    QImage image(180, 147, QImage::Format_RGB32);
    image.fill(QColor(0x2a, 0x5d, 0x9f));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Generated\nvideo"));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

int Serve(QCoreApplication& app) {
    LoopbackHttpServer server;
    if (!server.listen())
        return 1;
    server.route(QStringLiteral("/watch"), [](const LoopbackHttpServer::Request& request) {
        const QString id = QUrlQuery(request.url()).queryItemValue(QStringLiteral("v"));
        Response response = Response::Fixed(VideoPage(id), "text/html; charset=utf-8");
        response.bytesPerSecond = id.section(QLatin1Char('_'), 2, 2).toLongLong();
        return response;
    });
    server.route(QStringLiteral("/get_video.php"), [](const LoopbackHttpServer::Request& request) {
        qint64 size = 0;
        qint64 rate = 0;
        ParseVideoId(QUrlQuery(request.url()).queryItemValue(QStringLiteral("video_id")), size,
                     rate);
        if (size <= 0)
            return Response::Status(404, "Not Found", "<html>No such video</html>");
        Response response = Response::Generated(size, "video/x-flv");
        response.bytesPerSecond = rate;
        return response;
    });
    // Thumbnails, for watching a download in the program's window.
    server.setFallback([](const LoopbackHttpServer::Request& request) {
        if (!request.url().path().startsWith(QStringLiteral("/vi/")))
            return Response::Status(404, "Not Found");
        return Response::Fixed(Thumbnail(), "image/png");
    });
    out() << server.port() << Qt::endl;
    return app.exec();
}

int Fetch(QCoreApplication& app, qint64 size, const QByteArray& proxy, const QString& folder) {
    qputenv("http_proxy", proxy);
    Nabrix nabrix;
    QElapsedTimer clock;
    double cpuAtStart = 0;
    int result = 1;
    QObject::connect(&nabrix, &Nabrix::VideoData, [&] {
        cpuAtStart = CpuSeconds(RUSAGE_SELF);
        clock.start();
    });
    QObject::connect(&nabrix, &Nabrix::DownloadComplete, [&] {
        const double seconds = clock.nsecsElapsed() / 1e9;
        const double cpu = CpuSeconds(RUSAGE_SELF) - cpuAtStart;
        const qint64 written =
            QFileInfo(PageText::TargetFilePath(
                          folder, QStringLiteral("Benchmark video %1").arg(size), QString()))
                .size();
        if (written == size) {
            out() << seconds << ' ' << PeakResidentKb() << ' ' << cpu << Qt::endl;
            result = 0;
        } else {
            out() << "wrong size " << written << Qt::endl;
        }
        app.quit();
    });
    auto fail = [&](const QString& error) {
        out() << "error " << error << Qt::endl;
        app.quit();
    };
    QObject::connect(&nabrix, &Nabrix::DownloadError, fail);
    QObject::connect(&nabrix, &Nabrix::InfoError, fail);
    nabrix.SetOutputFolder(folder);
    nabrix.GetVideoInfo(QStringLiteral("http://www.youtube.com/watch?v=") + QString::number(size));
    app.exec();
    return result;
}

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;
    qint64 peakKb = 0;
};

bool RunNabrix(qint64 size, const QByteArray& proxy, const QString& folder, Run& run) {
    QProcess fetch;
    fetch.start(
        QCoreApplication::applicationFilePath(),
        {QStringLiteral("--fetch"), QString::number(size), QString::fromLatin1(proxy), folder});
    if (!fetch.waitForFinished(600000) || fetch.exitCode() != 0) {
        out() << "fetch failed: " << fetch.readAllStandardOutput() << Qt::endl;
        return false;
    }
    const QList<QByteArray> figures = fetch.readAllStandardOutput().trimmed().split(' ');
    run.seconds = figures.value(0).toDouble();
    run.peakKb = figures.value(1).toLongLong();
    run.cpuSeconds = figures.value(2).toDouble();
    return true;
}

bool RunCurl(qint64 size, const QByteArray& proxy, const QString& folder, Run& run) {
    QProcess curl;
    const double cpuBefore = CpuSeconds(RUSAGE_CHILDREN);
    curl.start(
        QStringLiteral("curl"),
        {QStringLiteral("-s"), QStringLiteral("-o"), folder + QStringLiteral("/curl.flv"),
         QStringLiteral("-x"), QString::fromLatin1(proxy), QStringLiteral("-w"),
         QStringLiteral("%{time_total} %{size_download}"),
         QStringLiteral("http://www.youtube.com/get_video.php?video_id=%1&t=token").arg(size)});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0)
        return false;
    run.cpuSeconds = CpuSeconds(RUSAGE_CHILDREN) - cpuBefore;
    const QList<QByteArray> figures = curl.readAllStandardOutput().trimmed().split(' ');
    run.seconds = figures.value(0).toDouble();
    return figures.value(1).toLongLong() == size;
}

void RemoveFiles(const QString& folder) {
    for (const QString& name : QDir(folder).entryList(QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + name);
}

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.value(values.size() / 2);
}

int Benchmark() {
    QProcess server;
    server.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--serve")});
    if (!server.waitForReadyRead(10000)) {
        out() << "the server did not start" << Qt::endl;
        return 1;
    }
    const QByteArray proxy = "http://127.0.0.1:" + server.readLine().trimmed();
    // Files go to memory when it can hold them, so the disk's write-back does not blur the
    // comparison; both programs write to the same place either way.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                             ? QStringLiteral("/dev/shm")
                             : QDir::tempPath();
    QTemporaryDir folder(base + QStringLiteral("/bench_fetcher-XXXXXX"));

    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly))
        out() << "load average at start: " << loadAverage.readAll().split(' ').value(0) << "\n";
    out() << "Download of a generated stream from a loopback server into " << base << ", " << Rounds
          << " runs each; rates are medians (best run in brackets)\n";
    out() << "size          Nabrix MB/s         curl MB/s  ratio (best)  Nabrix peak memory\n";
    QList<qint64> peaks;
    QStringList cpuLines;
    int status = 0;
    for (const qint64 size : {16LL << 20, 512LL << 20}) {
        QList<double> nabrixSeconds;
        QList<double> curlSeconds;
        QList<double> nabrixCpu;
        QList<double> curlCpu;
        qint64 peakKb = 0;
        for (int round = 0; round < Rounds; ++round) {
            Run nabrix;
            Run curl;
            // Alternate which goes first, so neither always meets a warmer system.
            const bool curlFirst = round % 2 == 1;
            bool done = !curlFirst || RunCurl(size, proxy, folder.path(), curl);
            done = done && RunNabrix(size, proxy, folder.path(), nabrix);
            done = done && (curlFirst || RunCurl(size, proxy, folder.path(), curl));
            if (!done) {
                out() << "a download failed" << Qt::endl;
                status = 1;
                break;
            }
            RemoveFiles(folder.path());
            nabrixSeconds.append(nabrix.seconds);
            curlSeconds.append(curl.seconds);
            nabrixCpu.append(nabrix.cpuSeconds);
            curlCpu.append(curl.cpuSeconds);
            peakKb = std::max(peakKb, nabrix.peakKb);
        }
        if (nabrixSeconds.isEmpty())
            break;
        const double megabytes = size / 1048576.0;
        const double nabrixRate = megabytes / Median(nabrixSeconds);
        const double curlRate = megabytes / Median(curlSeconds);
        const double nabrixBest =
            megabytes / *std::min_element(nabrixSeconds.begin(), nabrixSeconds.end());
        const double curlBest =
            megabytes / *std::min_element(curlSeconds.begin(), curlSeconds.end());
        out() << QStringLiteral("%1 MB %2 (%3) %4 (%5) %6 (%7) %8 MB\n")
                     .arg(size >> 20, -6)
                     .arg(nabrixRate, 9, 'f', 1)
                     .arg(nabrixBest, 6, 'f', 1)
                     .arg(curlRate, 9, 'f', 1)
                     .arg(curlBest, 6, 'f', 1)
                     .arg(nabrixRate / curlRate, 5, 'f', 2)
                     .arg(nabrixBest / curlBest, 4, 'f', 2)
                     .arg(peakKb / 1024.0, 8, 'f', 1);
        peaks.append(peakKb);
        cpuLines.append(QStringLiteral("%1 MB %2 %3 %4\n")
                            .arg(size >> 20, -6)
                            .arg(Median(nabrixCpu) * 1000 * 100 / megabytes, 10, 'f', 0)
                            .arg(Median(curlCpu) * 1000 * 100 / megabytes, 8, 'f', 0)
                            .arg(Median(curlCpu) / Median(nabrixCpu), 6, 'f', 2));
    }
    out() << "CPU time per 100 MB, medians (independent of other load on the machine)\n"
          << "size      Nabrix ms  curl ms  curl/Nabrix\n"
          << cpuLines.join(QString());
    if (peaks.size() == 2)
        out() << QStringLiteral(
                     "peak memory difference 512 MB - 16 MB: %1 MB (target: at most 8)\n")
                     .arg((peaks[1] - peaks[0]) / 1024.0, 0, 'f', 1);
    out() << "target: throughput ratio at least 0.90" << Qt::endl;
    RemoveFiles(folder.path());
    server.kill();
    server.waitForFinished();
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && QByteArray(argv[1]) == "--serve") {
        // Drawing the thumbnail needs fonts, not a display.
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return Serve(app);
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("--fetch") && args.size() == 5)
        return Fetch(app, args[2].toLongLong(), args[3].toLatin1(), args[4]);
    return Benchmark();
}
