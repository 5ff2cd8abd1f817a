// Today's formats against the field's usual tool: a 10-second 1080p clip converted to
// "MP4 H.264 / AAC (*.mp4)" by the converter program, and by HandBrakeCLI with its preset
// "Fast 1080p30", side by side: wall time, CPU time, size, and SSIM against the source. Then
// the copy of an H.264/AAC source into MP4 against its encode. Prints figures; asserts nothing.
#include "TestClip.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

struct Figures {
    bool ran = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    qint64 bytes = 0;
    double ssim = 0;
};

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Runs a program to its end; its standard error when `errors` is given.
bool Run(const QString& program, const QStringList& args, QByteArray* errors = nullptr) {
    QProcess process;
    process.setProcessChannelMode(errors ? QProcess::SeparateChannels
                                         : QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    process.waitForFinished(-1);
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

Figures Measure(const QString& program, const QStringList& args, const QString& output) {
    Figures figures;
    const double cpuBefore = ChildrenCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    QByteArray ignored;
    figures.ran = Run(program, args, &ignored);
    figures.wallSeconds = clock.elapsed() / 1000.0;
    figures.cpuSeconds = ChildrenCpuSeconds() - cpuBefore;
    figures.bytes = QFileInfo(output).size();
    return figures;
}

double Ssim(const QString& result, const QString& source) {
    QByteArray errors;
    Run("ffmpeg",
        {"-hide_banner", "-nostdin", "-i", result, "-i", source, "-lavfi", "[0:v][1:v]ssim", "-f",
         "null", "-"},
        &errors);
    const QRegularExpression all(QStringLiteral("All:([0-9.]+)"));
    const auto match = all.match(QString::fromLatin1(errors));
    return match.hasMatch() ? match.captured(1).toDouble() : 0;
}

QStringList PacketHashes(const QString& path) {
    QProcess process;
    process.start("ffmpeg", {"-v", "error", "-i", path, "-map", "0:v:0", "-map", "0:a:0", "-c",
                             "copy", "-f", "framemd5", "-"});
    process.waitForFinished(-1);
    QStringList hashes;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n'))
        if (!line.startsWith('#') && !line.isEmpty())
            hashes << QString::fromLatin1(line.split(',').value(5).trimmed());
    return hashes;
}

void Print(const char* name, const Figures& f) {
    if (!f.ran) {
        std::printf("%-28s failed\n", name);
        return;
    }
    std::printf("%-28s %8.2f s %8.2f s %10.0f kB %8.4f\n", name, f.wallSeconds, f.cpuSeconds,
                f.bytes / 1024.0, f.ssim);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString converter = QStringLiteral(CONVERTER_DIR "/avformat.dll");
    const QString source = dir.filePath("source.mp4");
    std::printf("making a 10 s 1080p H.264/AAC source...\n");
    // The tests' clip, at 1080p and 10 s, as the H.264/AAC of a good camera or a download.
    const QStringList encoding = {"-c:v", "libx264",  "-preset", "veryfast", "-crf",
                                  "12",   "-pix_fmt", "yuv420p", "-c:a",     "aac",
                                  "-b:a", "192k",     "-ac",     "2"};
    if (!TestClip::Make(source, 10, QStringLiteral("1920x1080"), encoding)) {
        std::printf("could not make the source\n");
        return 1;
    }
    // The dialog's first choices for "MP4 H.264 / AAC (*.mp4)", with "Same quality" off so
    // that the H.264 source is encoded, not copied.
    const QStringList encodeLine = {"-i", source, "-y",      "-b",  "RF22", "-vcodec", "h264",
                                    "-f", "mp4",  "-acodec", "aac", "-ab",  "160"};
    const QString ours = dir.filePath("vantelo.mp4");
    Figures vantelo = Measure(converter, encodeLine + QStringList{ours}, ours);
    vantelo.ssim = Ssim(ours, source);

    std::printf("\n%-28s %10s %10s %13s %8s\n", "MP4 H.264 / AAC, 10 s 1080p", "wall", "CPU",
                "size", "SSIM");
    Print("Vantelo (avformat.dll)", vantelo);
    const QString handbrake = QStandardPaths::findExecutable("HandBrakeCLI");
    if (handbrake.isEmpty()) {
        std::printf("%-28s not found (Debian's handbrake-cli): column skipped\n", "HandBrakeCLI");
    } else {
        const QString theirs = dir.filePath("handbrake.mp4");
        Figures hb =
            Measure(handbrake, {"-i", source, "-o", theirs, "--preset", "Fast 1080p30"}, theirs);
        hb.ssim = Ssim(theirs, source);
        Print("HandBrakeCLI Fast 1080p30", hb);
        if (hb.ran && vantelo.ran)
            std::printf("ratios (Vantelo / HandBrake): wall %.2f, CPU %.2f, size %.2f, SSIM "
                        "%+.4f\n",
                        vantelo.wallSeconds / hb.wallSeconds, vantelo.cpuSeconds / hb.cpuSeconds,
                        double(vantelo.bytes) / hb.bytes, vantelo.ssim - hb.ssim);
    }

    const QString copied = dir.filePath("copied.mp4");
    const Figures copy = Measure(converter, encodeLine + QStringList{"-sameq", copied}, copied);
    std::printf("\n%-28s %10s %10s %13s\n", "H.264/AAC source into MP4", "wall", "CPU", "size");
    Print("copy (Same quality)", copy);
    Print("encode", vantelo);
    const bool identical =
        !PacketHashes(copied).isEmpty() && PacketHashes(copied) == PacketHashes(source);
    std::printf("copy is %.1fx faster than the encode; packets %s\n",
                vantelo.wallSeconds / std::max(copy.wallSeconds, 0.001),
                identical ? "identical" : "DIFFER");
    return 0;
}
