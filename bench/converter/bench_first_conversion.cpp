// The first conversion in a new home against the next ones: the converter program keeps what
// it learns about ffmpeg (its encoder list) in the user's cache folder, so a new user's first
// conversion starts with an empty folder. Pairs run alternately, each with a fresh home for the
// first conversion followed by one in the home that run has just filled; the medians and their
// difference are printed. A second set also evicts ffmpeg and its libraries from the page cache
// before each pair where the system lets an ordinary user do that, for cold disk caches.
#include "AVC.h"
#include "TestClip.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kPairs = 15;

// The converter program measured: the build's, or the one named on the command line.
QString gConverter;

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? -1 : values.at(values.size() / 2);
}

bool RunToEnd(const QString& program, const QStringList& args,
              const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    const bool ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().right(300).constData());
    return ok;
}

// Milliseconds the converter program takes for the line with this cache folder; -1 on failure.
double TimeConversion(const QStringList& line, const QString& cacheFolder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CACHE_HOME", cacheFolder);
    QElapsedTimer clock;
    clock.start();
    const bool ok = RunToEnd(gConverter, line, env);
    return ok ? clock.nsecsElapsed() / 1e6 : -1;
}

// The converter's arguments, as the component builds them for the 3GP preset (H.263 at QCIF
// with AMR or its stand-in): one of the lines that asks the most of the encoder list.
QStringList LegacyLine(const QString& source, const QString& dest, const QString& missingFolder) {
    AVC::SetProgramFolder(missingFolder);
    AVC avc(nullptr);
    avc.SetSourceFile(source);
    avc.SetDestFile(dest);
    avc.SetVideoCodec("h263");
    avc.SetVideoSize("176x144");
    avc.SetVideoBitrate("120");
    avc.SetVideoFrameRate("11");
    avc.SetAudioCodec("amr_nb");
    avc.SetAudioBitrate("12.2");
    avc.SetAudioSamples("8000");
    avc.SetAudioChannels("1");
    avc.ConvertMedia(true);
    return avc.Arguments();
}

// ffmpeg and the libraries it loads, as ldd lists them.
QStringList FfmpegFiles() {
    QProcess ldd;
    ldd.start("sh", {"-c", "command -v ffmpeg && ldd \"$(command -v ffmpeg)\""});
    ldd.waitForFinished(-1);
    QStringList files;
    static const QRegularExpression path(QStringLiteral("(/\\S+)"));
    for (const QString& line : QString::fromLocal8Bit(ldd.readAllStandardOutput()).split('\n')) {
        const QRegularExpressionMatch match = path.match(line);
        if (match.hasMatch())
            files << match.captured(1);
    }
    return files;
}

// Asks the kernel to drop the files' cached pages; pages that a running program maps stay.
void Evict(const QStringList& files) {
    for (const QString& file : files) {
        const int fd = open(QFile::encodeName(file).constData(), O_RDONLY);
        if (fd < 0)
            continue;
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

void BenchPairs(const char* title, const QString& folder, const QStringList& line,
                const QStringList& evict) {
    QList<double> first, next;
    int failures = 0;
    for (int pair = 0; first.size() < kPairs; ++pair) {
        const QString cache = QStringLiteral("%1/home%2/.cache").arg(folder).arg(pair);
        Evict(evict);
        const double a = TimeConversion(line, cache);
        Evict(evict);
        const double b = TimeConversion(line, cache);
        if (a >= 0 && b >= 0) {
            first << a;
            next << b;
        } else if (++failures > 4 * kPairs) {
            // A converter is also ended by any Cancel on the machine; a few such pairs are
            // run again, but not forever.
            std::printf("%s: conversions keep failing\n", title);
            return;
        }
    }
    const double a = Median(first), b = Median(next);
    std::printf("%s, %d alternating pairs (%d pairs run again)\n", title, kPairs, failures);
    std::printf("  first conversion in a new home  median %7.1f ms\n", a);
    std::printf("  next conversion                 median %7.1f ms\n", b);
    std::printf("  difference %+.1f ms (target: at most +20 ms)\n", a - b);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    gConverter = argc > 1 ? QString::fromLocal8Bit(argv[1])
                          : QStringLiteral(CONVERTER_DIR) + "/avformat.dll";
    QTemporaryDir dir;
    const QString source = dir.filePath("clip.flv");
    if (!TestClip::Make(source, 1)) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }
    const QStringList line = LegacyLine(source, dir.filePath("out.3gp"), dir.filePath("none"));
    std::printf("1 s clip to 3GP through the converter program %s\n", qPrintable(gConverter));
    BenchPairs("warm disk caches", dir.filePath("warm"), line, {});
    BenchPairs("ffmpeg and its libraries evicted from the page cache", dir.filePath("cold"), line,
               FfmpegFiles());
    return 0;
}
