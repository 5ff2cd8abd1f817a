// Converter overhead, side by side with a reference run:
//  1. a 60-second clip converted through AVC and the converter program, against the same
//     ffmpeg command run directly;
//  2. a stand-in converter that writes 5 MB of output while it works, through AVC and run
//     directly with its output discarded;
//  3. the same with 2 MB of blank lines, which the component must skip in linear time.
// Each pair runs alternately a few times; the medians and their ratio are printed.
#include "AVC.h"
#include "BenchSupport.h"
#include "TestClip.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtAlgorithms>

#include <cstdio>
#include <functional>

namespace {

constexpr int kRounds = 3;

double Median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

bool RunToEnd(const QString& program, const QStringList& args, bool discardOutput = true) {
    QProcess process;
    if (discardOutput)
        process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, args);
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Seconds from ConvertMedia to Complete; negative when the run failed.
double TimeThroughAvc(const QString& programFolder, const std::function<void(AVC&)>& setUp) {
    AVC::SetProgramFolder(programFolder);
    QTimer timer;
    AVC avc(&timer);
    setUp(avc);
    QEventLoop loop;
    bool ok = false;
    QObject::connect(&avc, &AVC::Complete, &loop, [&] {
        ok = true;
        loop.quit();
    });
    QObject::connect(&avc, &AVC::ErrorEvent, &loop, [&](const QString& message) {
        std::fprintf(stderr, "conversion failed: %s\n", qPrintable(message));
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    avc.ConvertMedia(true);
    loop.exec();
    return ok ? clock.nsecsElapsed() / 1e9 : -1;
}

double TimeDirect(const QString& program, const QStringList& args) {
    QElapsedTimer clock;
    clock.start();
    return RunToEnd(program, args) ? clock.nsecsElapsed() / 1e9 : -1;
}

void Report(const char* title, const QList<double>& avc, const QList<double>& direct) {
    const double a = Median(avc);
    const double d = Median(direct);
    std::printf("%-44s AVC %7.3f s   direct %7.3f s   +%.3f s   ratio %.3f (target <= 1.05)\n",
                title, a, d, a - d, a / d);
}

// "Name=value" and bare flag words ("SameQuality"), by the properties' own names.
void SetParameters(AVC& avc, const QStringList& pairs) {
    for (const QString& pair : pairs)
        if (const std::optional<ConverterProperty> property =
                PropertyNamed(pair.section('=', 0, 0)))
            avc.SetParameter(IsFlagProperty(*property)
                                 ? ConverterSetting::Flag(*property, true)
                                 : ConverterSetting::Text(*property, pair.section('=', 1)));
}

struct Conversion {
    const char* title;
    const char* extension;
    QStringList parameters;
};

// The converter's arguments for this conversion, taken from a component whose converter is
// missing: it builds the line and stops there.
QStringList LegacyLine(const Conversion& conversion, const QString& source, const QString& dest,
                       const QString& missingFolder) {
    AVC::SetProgramFolder(missingFolder);
    AVC avc(nullptr);
    SetParameters(avc, conversion.parameters);
    avc.SetSourceFile(source);
    avc.SetDestFile(dest);
    avc.ConvertMedia(true);
    return avc.Arguments();
}

void BenchConversion(const QString& folder, const QString& source, const Conversion& conversion) {
    const QString dest = folder + "/out" + conversion.extension;
    const QStringList ffmpegArgs =
        FfmpegCommand(LegacyLine(conversion, source, dest, folder + "/none"),
                      folder + "/direct" + conversion.extension);
    QList<double> avcTimes, directTimes;
    for (int round = 0; round < kRounds; ++round) {
        avcTimes << TimeThroughAvc(CONVERTER_DIR, [&](AVC& avc) {
            SetParameters(avc, conversion.parameters);
            avc.SetSourceFile(source);
            avc.SetDestFile(dest);
        });
        directTimes << TimeDirect("ffmpeg", ffmpegArgs);
    }
    Report(conversion.title, avcTimes, directTimes);
}

void BenchTalkativeConverter(const QString& folder, const QString& output, const char* title) {
    const QString programs = folder + "/chatty";
    QDir().mkpath(programs);
    QFile::remove(programs + "/avformat.dll");
    // The stand-in ignores its arguments; the component passes the usual line.
    QFile::copy(CHATTY_PROGRAM, programs + "/avformat.dll");
    QList<double> avcTimes, directTimes;
    for (int round = 0; round < kRounds; ++round) {
        avcTimes << TimeThroughAvc(programs, [&](AVC& avc) {
            avc.SetSourceFile(output);
            avc.SetDestFile(output);
        });
        directTimes << TimeDirect(CHATTY_PROGRAM, {output});
    }
    Report(title, avcTimes, directTimes);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    // The converter program keeps ffmpeg's encoder list in the cache folder; a private one
    // leaves the user's alone. The first run fills it, as a user's first conversion does.
    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
    const QString source = dir.filePath("clip.flv");
    std::printf("making a 60-second FLV (Sorenson H.263 + MP3, 320x240)...\n");
    if (!TestClip::Make(source, 60)) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 1;
    }
    const QStringList apple = {"VideoFrameRate=29.97", "AudioCodec=aac",  "AudioBitrate=48",
                               "AudioSamples=22050",   "AudioChannels=1", "SameQuality",
                               "DeInterlace"};
    const Conversion conversions[] = {
        {"60 s clip, QuickTime MOV (x264) first use", ".mov",
         apple + QStringList{"VideoSize=320x240", "VideoBitrate=360"}},
        {"60 s clip, iPOD Video2 640x480 first use", ".mpg",
         apple + QStringList{"VideoSize=640x480", "VideoBitrate=1200", "VideoCodec=Auto"}},
        {"60 s clip, DivX first use",
         ".avi",
         {"VideoSize=320x240", "VideoFrameRate=29.97", "VideoBitrate=1200", "VideoCodec=mpeg4",
          "AudioCodec=mp3", "AudioBitrate=128", "AudioSamples=44100", "AudioChannels=1",
          "SameQuality", "DeInterlace"}},
    };
    for (const Conversion& conversion : conversions)
        BenchConversion(dir.path(), source, conversion);
    BenchTalkativeConverter(dir.path(), "5", "stand-in writing 5 MB while it works");
    BenchTalkativeConverter(dir.path(), "blank2", "stand-in writing 2 MB of blank lines");
    return 0;
}
