// Downloads of a stream in pieces (HLS, 2-second MPEG-TS segments) through the program's own main
// window, side by side with ffmpeg (-c copy, segment extensions allowed) and yt-dlp with four
// fragments at a time, as a user behind a proxy meets it: a page whose og:video names the
// playlist, the system proxy (http_proxy), nginx serving the segments with sendfile, and the
// output folder in memory (tmpfs).
//
// bench_streams [PROGRAM]
//     needs a display (DISPLAY; xvfb-run works), nginx, xdotool, ffmpeg and yt-dlp; PROGRAM is the
//     program to measure (the vantelo beside the benchmark unless given).
//
// Environment: VANTELO_BENCH_STREAM_MB (1024) the stream at full speed, VANTELO_BENCH_LIMITED_MB
// (128) the stream from an origin that sends each answer at 2 MB/s, VANTELO_BENCH_ROUNDS (1)
// rounds of the stream legs, VANTELO_BENCH_FIRST_BYTE_ROUNDS (5) rounds of the first byte.
//
// Four parts:
//   1. the stream at full speed: wall, CPU (children included) and peak memory of each;
//   2. the same stream from the limited origin (nginx limit_rate 2m, per request);
//   3. the program's peak memory on a 16 MB stream against the large one;
//   4. the time from pressing Enter (Download) to the first byte in the output folder, on the
//      same page, with yt-dlp on hand and with the "yt-dlp program" setting naming a missing file.
//
// The segments are made once, from a 20-second clip that ffmpeg encodes and then repeats by
// stream copy, and kept in bench-streams/ beside the build's bin/; the playlists of each size
// name the first segments of that one set.
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

const QString kFastHost = QStringLiteral("media.example.com");
const QString kSlowHost = QStringLiteral("slow.example.com");
constexpr qint64 kMB = 1 << 20;

// The origin: pages, the playlists of each size and the one set of segments; the slow host's
// answers go out at 2 MB/s each.
const QString kOriginSettings =
    QStringLiteral(" sendfile on; tcp_nopush on;\n"
                   " types { text/html html; application/vnd.apple.mpegurl m3u8;\n"
                   "         video/mp2t ts; }\n"
                   " map $host $origin_rate { %1 2m; default 0; }\n")
        .arg(kSlowHost);
const QString kOriginLocations =
    QStringLiteral("  limit_rate $origin_rate;\n"
                   "  location /watch/ { alias %ROOT%/www/pages/; }\n"
                   "  location ~ ^/hls/(s[0-9]+\\.m3u8)$ { alias %ROOT%/www/lists/$1; }\n"
                   "  location /hls/ { alias %ROOT%/www/segments/; }\n"
                   "  location / { return 404; }\n");

int EnvironmentNumber(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

bool Ffmpeg(const QStringList& arguments, const QString& folder) {
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(folder);
    ffmpeg.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                             QStringLiteral("error"), QStringLiteral("-y")} +
                     arguments);
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

struct Segment {
    QString name;
    double seconds = 0;
    qint64 bytes = 0;
};

// The cached segments, in playlist order.
QList<Segment> ReadSegments(const QString& cache) {
    QFile playlist(cache + QStringLiteral("/index.m3u8"));
    QList<Segment> segments;
    if (!playlist.open(QIODevice::ReadOnly))
        return segments;
    double seconds = 0;
    for (const QByteArray& raw : playlist.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("#EXTINF:")) {
            seconds = line.mid(8).split(',').value(0).toDouble();
        } else if (!line.isEmpty() && !line.startsWith('#')) {
            const QString name = QString::fromUtf8(line);
            segments.append({name, seconds, QFileInfo(cache + '/' + name).size()});
        }
    }
    return segments;
}

qint64 TotalBytes(const QList<Segment>& segments) {
    qint64 sum = 0;
    for (const Segment& segment : segments)
        sum += segment.bytes;
    return sum;
}

// Segments of at least `bytes` in all, made once: a 20-second 720p clip at about 8 Mbit/s (noise
// keeps the encoder from making it small), repeated by stream copy into 2-second segments.
QList<Segment> CachedSegments(const QString& cache, qint64 bytes) {
    QList<Segment> segments = ReadSegments(cache);
    if (TotalBytes(segments) >= bytes)
        return segments;
    QDir(cache).removeRecursively();
    QDir().mkpath(cache);
    std::printf("making the segments (once, in %s)\n", qPrintable(cache));
    std::fflush(stdout);
    const QString clip = cache + QStringLiteral("/clip.ts");
    if (!Ffmpeg({QStringLiteral("-f"),
                 QStringLiteral("lavfi"),
                 QStringLiteral("-i"),
                 QStringLiteral("testsrc2=size=1280x720:rate=30"),
                 QStringLiteral("-f"),
                 QStringLiteral("lavfi"),
                 QStringLiteral("-i"),
                 QStringLiteral("sine=frequency=440:sample_rate=48000"),
                 QStringLiteral("-t"),
                 QStringLiteral("20"),
                 QStringLiteral("-vf"),
                 QStringLiteral("noise=alls=20:allf=t"),
                 QStringLiteral("-c:v"),
                 QStringLiteral("libx264"),
                 QStringLiteral("-preset"),
                 QStringLiteral("ultrafast"),
                 QStringLiteral("-g"),
                 QStringLiteral("60"),
                 QStringLiteral("-sc_threshold"),
                 QStringLiteral("0"),
                 QStringLiteral("-b:v"),
                 QStringLiteral("8M"),
                 QStringLiteral("-maxrate"),
                 QStringLiteral("8M"),
                 QStringLiteral("-bufsize"),
                 QStringLiteral("8M"),
                 QStringLiteral("-c:a"),
                 QStringLiteral("aac"),
                 QStringLiteral("-b:a"),
                 QStringLiteral("128k"),
                 clip},
                cache))
        return {};
    const qint64 loops = bytes / std::max<qint64>(1, QFileInfo(clip).size()) + 1;
    if (!Ffmpeg({QStringLiteral("-stream_loop"), QString::number(loops), QStringLiteral("-i"), clip,
                 QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-f"),
                 QStringLiteral("hls"), QStringLiteral("-hls_time"), QStringLiteral("2"),
                 QStringLiteral("-hls_list_size"), QStringLiteral("0"),
                 QStringLiteral("-hls_playlist_type"), QStringLiteral("vod"),
                 QStringLiteral("-hls_segment_filename"), QStringLiteral("seg%05d.ts"),
                 QStringLiteral("index.m3u8")},
                cache))
        return {};
    QFile::remove(clip);
    return ReadSegments(cache);
}

// A media playlist of the first segments that hold `bytes`; returns the bytes it names.
qint64 WritePlaylist(const QString& path, const QList<Segment>& segments, qint64 bytes) {
    QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n"
                      "#EXT-X-MEDIA-SEQUENCE:0\n#EXT-X-PLAYLIST-TYPE:VOD\n";
    qint64 named = 0;
    for (const Segment& segment : segments) {
        if (named >= bytes)
            break;
        text += "#EXTINF:" + QByteArray::number(segment.seconds, 'f', 6) + ",\n" +
                segment.name.toUtf8() + '\n';
        named += segment.bytes;
    }
    text += "#EXT-X-ENDLIST\n";
    return WriteFile(path, text) ? named : 0;
}

// A page of today: Open Graph names the playlist.
QByteArray StreamPage(const QString& host, const QString& list) {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                          "<title>Benchmark stream %2</title>"
                          "<meta property=\"og:title\" content=\"Benchmark stream %2\">"
                          "<meta property=\"og:site_name\" content=\"Bench\">"
                          "<meta property=\"og:video\" content=\"http://%1/hls/%2.m3u8\">"
                          "<meta property=\"og:video:type\" "
                          "content=\"application/vnd.apple.mpegurl\">"
                          "</head><body><p>A stream in pieces served by nginx.</p></body></html>")
        .arg(host, list)
        .toUtf8();
}

// One stream the legs download: its page, its playlist and the bytes the playlist names.
struct Stream {
    QString label;
    QString page;
    QString playlist;
    qint64 bytes = 0;
};

enum Leg { Program, FfmpegLeg, YtDlpLeg, LegCount };
const char* const kLegNames[LegCount] = {"Vantelo", "ffmpeg -c copy", "yt-dlp -N 4"};

class Legs {
public:
    Legs(WindowDownload& window) : window_(window), out_(window.outFolder()) {}

    bool run(Leg leg, const Stream& stream, Run& run) {
        EmptyFolder(out_);
        bool done = false;
        if (leg == Program) {
            window_.reset();
            done = window_.run(stream.page, run);
        } else if (leg == FfmpegLeg) {
            done = MeasuredChild(
                QStringLiteral("ffmpeg"),
                {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                 QStringLiteral("error"), QStringLiteral("-allowed_segment_extensions"),
                 QStringLiteral("ALL"), QStringLiteral("-i"), stream.playlist, QStringLiteral("-c"),
                 QStringLiteral("copy"), out_ + QStringLiteral("/video.mp4")},
                window_.environment(), out_, run);
        } else {
            done = MeasuredChild(QStringLiteral("yt-dlp"),
                                 {QStringLiteral("-q"), QStringLiteral("--no-warnings"),
                                  QStringLiteral("--no-progress"), QStringLiteral("-N"),
                                  QStringLiteral("4"), QStringLiteral("-o"),
                                  out_ + QStringLiteral("/video.%(ext)s"), stream.page},
                                 window_.environment(), out_, run);
        }
        if (!done) {
            std::fprintf(stderr, "%s failed on %s\n", kLegNames[leg], qPrintable(stream.label));
            return false;
        }
        return wholeFile(leg, stream);
    }

private:
    // One finished file and nothing partial; MPEG-TS packed as MP4 takes less room, so the file
    // may be smaller than the segments, but not by a fifth.
    bool wholeFile(Leg leg, const Stream& stream) const {
        const QFileInfoList files = QDir(out_).entryInfoList(QDir::Files | QDir::Hidden);
        qint64 largest = 0;
        for (const QFileInfo& file : files) {
            if (file.suffix() == QLatin1String("part") || file.fileName().contains(".part-"))
                return complain(leg, QStringLiteral("a partial file is left: ") + file.fileName());
            largest = std::max(largest, file.size());
        }
        if (largest < stream.bytes * 4 / 5)
            return complain(
                leg,
                QStringLiteral("its file holds %1 of %2 bytes").arg(largest).arg(stream.bytes));
        return true;
    }

    static bool complain(Leg leg, const QString& why) {
        std::fprintf(stderr, "%s: %s\n", kLegNames[leg], qPrintable(why));
        return false;
    }

    WindowDownload& window_;
    QString out_;
};

struct Figures {
    QList<double> wall, cpu, peakMb;
    bool any() const { return !wall.isEmpty(); }
};

// Every leg on one stream, `rounds` times, each round in another order.
void Measure(Legs& legs, const Stream& stream, int rounds, Figures (&figures)[LegCount]) {
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < LegCount; ++i) {
            const Leg leg = Leg((i + round) % LegCount);
            Run run;
            if (!legs.run(leg, stream, run))
                continue;
            figures[leg].wall.append(run.wall);
            figures[leg].cpu.append(run.cpu);
            figures[leg].peakMb.append(run.peakKb / 1024.0);
        }
    }
}

void PrintTable(const Figures (&figures)[LegCount]) {
    std::printf("  %-16s %9s %9s %9s\n", "", "wall s", "CPU s", "peak MB");
    for (int leg = 0; leg < LegCount; ++leg) {
        if (figures[leg].any())
            std::printf("  %-16s %9.2f %9.2f %9.1f\n", kLegNames[leg], Median(figures[leg].wall),
                        Median(figures[leg].cpu), Median(figures[leg].peakMb));
        else
            std::printf("  %-16s %9s\n", kLegNames[leg], "failed");
    }
}

// "ffmpeg's wall / the program's" and the like, or "-" when either leg failed.
QByteArray Ratio(const QList<double>& over, const QList<double>& under) {
    if (over.isEmpty() || under.isEmpty() || Median(under) <= 0)
        return "-";
    return QByteArray::number(Median(over) / Median(under), 'f', 2);
}

void PrintFullSpeed(const Stream& stream, int segments, int rounds, const Figures (&f)[LegCount]) {
    std::printf("\n1. %s HLS (%d segments of 2 s) from nginx at full speed, through the proxy, to "
                "tmpfs; medians of %d round(s)\n",
                qPrintable(stream.label), segments, rounds);
    PrintTable(f);
    std::printf("  ffmpeg/Vantelo wall %s, yt-dlp/Vantelo wall %s\n",
                Ratio(f[FfmpegLeg].wall, f[Program].wall).constData(),
                Ratio(f[YtDlpLeg].wall, f[Program].wall).constData());
    std::printf("  Vantelo/yt-dlp CPU %s (target: at most 1.00), Vantelo/ffmpeg CPU %s\n",
                Ratio(f[Program].cpu, f[YtDlpLeg].cpu).constData(),
                Ratio(f[Program].cpu, f[FfmpegLeg].cpu).constData());
}

void PrintLimited(const Stream& stream, int segments, int rounds, const Figures (&f)[LegCount]) {
    std::printf("\n2. %s HLS (%d segments) from an origin sending each answer at 2 MB/s "
                "(limit_rate 2m); medians of %d round(s)\n",
                qPrintable(stream.label), segments, rounds);
    PrintTable(f);
    std::printf("  ffmpeg/Vantelo wall %s (target: at least 3.50), yt-dlp/Vantelo wall %s "
                "(target: at least 1.00)\n",
                Ratio(f[FfmpegLeg].wall, f[Program].wall).constData(),
                Ratio(f[YtDlpLeg].wall, f[Program].wall).constData());
}

int Main(const QString& programPath) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::printf("needs a display (run it under xvfb-run)\n");
        return 1;
    }
    const qint64 fullBytes = EnvironmentNumber("VANTELO_BENCH_STREAM_MB", 1024) * kMB;
    const qint64 limitedBytes = EnvironmentNumber("VANTELO_BENCH_LIMITED_MB", 128) * kMB;
    const int rounds = EnvironmentNumber("VANTELO_BENCH_ROUNDS", 1);
    const int firstByteRounds = EnvironmentNumber("VANTELO_BENCH_FIRST_BYTE_ROUNDS", 5);

    const QString cache =
        QCoreApplication::applicationDirPath() + QStringLiteral("/../bench-streams");
    const QList<Segment> segments =
        CachedSegments(QDir::cleanPath(cache), std::max({fullBytes, limitedBytes, 16 * kMB}));
    if (segments.isEmpty()) {
        std::printf("ffmpeg could not make the segments\n");
        return 1;
    }
    QTemporaryDir root(QStringLiteral("/dev/shm/bench_streams-XXXXXX"));
    for (const char* folder : {"www/pages", "www/lists"})
        QDir(root.path()).mkpath(QString::fromLatin1(folder));
    if (!QFile::link(QDir::cleanPath(cache), root.path() + QStringLiteral("/www/segments"))) {
        std::printf("cannot link the segments\n");
        return 1;
    }
    const auto stream = [&](const QString& host, qint64 bytes) {
        const QString list = QStringLiteral("s%1").arg(bytes / kMB);
        const QString page = (host == kSlowHost ? QStringLiteral("slow-") : QString()) + list;
        Stream made;
        made.bytes = WritePlaylist(root.path() + QStringLiteral("/www/lists/%1.m3u8").arg(list),
                                   segments, bytes);
        WriteFile(root.path() + QStringLiteral("/www/pages/%1.html").arg(page),
                  StreamPage(host, list));
        made.label = QStringLiteral("%1 MB").arg(made.bytes / double(kMB), 0, 'f', 0);
        made.page = QStringLiteral("http://%1/watch/%2.html").arg(host, page);
        made.playlist = QStringLiteral("http://%1/hls/%2.m3u8").arg(host, list);
        return made;
    };
    const Stream full = stream(kFastHost, fullBytes);
    const Stream limited = stream(kSlowHost, limitedBytes);
    const Stream small = stream(kFastHost, 16 * kMB);
    const auto segmentCount = [](qint64 bytes, const QList<Segment>& all) {
        int count = 0;
        for (qint64 named = 0; count < all.size() && named < bytes; ++count)
            named += all[count].bytes;
        return count;
    };

    NginxServers servers(root.path());
    if (!servers.start(kOriginSettings, kOriginLocations)) {
        std::printf("nginx did not start\n");
        return 1;
    }
    WindowDownload window(root.path(), servers.proxyAddress(), programPath);
    Legs legs(window);
    QFile loadAverage(QStringLiteral("/proc/loadavg"));
    if (loadAverage.open(QIODevice::ReadOnly))
        std::printf("load average at start: %s\n",
                    loadAverage.readAll().split(' ').value(0).constData());
    std::printf("CPU counts each one's children (the converter and ffmpeg; yt-dlp's ffmpeg); peak "
                "memory is the program's own, and the largest process of ffmpeg's and yt-dlp's\n");
    std::fflush(stdout);

    Figures fullFigures[LegCount];
    Measure(legs, full, rounds, fullFigures);
    PrintFullSpeed(full, segmentCount(fullBytes, segments), rounds, fullFigures);
    std::fflush(stdout);

    Figures limitedFigures[LegCount];
    Measure(legs, limited, rounds, limitedFigures);
    PrintLimited(limited, segmentCount(limitedBytes, segments), rounds, limitedFigures);
    std::fflush(stdout);

    QList<double> smallPeak;
    for (int round = 0; round < rounds; ++round) {
        Run run;
        if (legs.run(Program, small, run))
            smallPeak.append(run.peakKb / 1024.0);
    }
    std::printf(
        "\n3. the program's peak memory: %s stream %s MB, %s stream %s MB: %s MB more "
        "(target: at most +8)\n",
        qPrintable(small.label),
        smallPeak.isEmpty() ? "-" : QByteArray::number(Median(smallPeak), 'f', 1).constData(),
        qPrintable(full.label),
        fullFigures[Program].any()
            ? QByteArray::number(Median(fullFigures[Program].peakMb), 'f', 1).constData()
            : "-",
        smallPeak.isEmpty() || !fullFigures[Program].any()
            ? "-"
            : QByteArray::number(Median(fullFigures[Program].peakMb) - Median(smallPeak), 'f', 1)
                  .constData());

    // With and without yt-dlp, alternating; without it the setting names a program that is not
    // there, as on a machine where it was never installed.
    QList<double> firstByte[2];
    for (int round = 0; round < firstByteRounds * 2; ++round) {
        const bool withYtDlp = round % 2 == (round / 2) % 2;
        window.setSetting(QStringLiteral("yt-dlp program"),
                          withYtDlp ? QStringLiteral("yt-dlp")
                                    : root.path() + QStringLiteral("/no-yt-dlp/yt-dlp"));
        window.reset();
        Run run;
        if (window.run(small.page, run, WindowDownload::Until::FirstByte))
            firstByte[withYtDlp ? 0 : 1].append(run.wall * 1000);
    }
    window.setSetting(QStringLiteral("yt-dlp program"), QStringLiteral("yt-dlp"));
    std::printf("\n4. from pressing Download to the first byte on disk, the %s page (Open Graph); "
                "medians of %d alternating runs\n",
                qPrintable(small.label), firstByteRounds);
    std::printf(
        "  with yt-dlp installed %s ms, without %s ms: with/without %s (target: at most "
        "1.00, yt-dlp's start-up must not slow a page our reader reads)\n",
        firstByte[0].isEmpty() ? "-" : QByteArray::number(Median(firstByte[0]), 'f', 0).constData(),
        firstByte[1].isEmpty() ? "-" : QByteArray::number(Median(firstByte[1]), 'f', 0).constData(),
        Ratio(firstByte[0], firstByte[1]).constData());
    for (const Figures& f : fullFigures)
        if (!f.any())
            return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QString program =
        argc > 1 ? QString::fromLocal8Bit(argv[1])
                 : QCoreApplication::applicationDirPath() + QStringLiteral("/vantelo");
    return Main(program);
}
