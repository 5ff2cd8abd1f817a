#pragma once
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <QStringList>

// The clip that tests and benchmarks convert, made by ffmpeg from its lavfi sources: a test
// picture and a tone, as Sorenson H.263 video with MP3 audio in FLV, like the videos the
// fetcher downloads, or in another encoding.
namespace TestClip {

// The FLV encoding: Sorenson H.263 and MP3.
inline QStringList FlvEncoding() {
    return {"-c:v", "flv", "-b:v", "300k", "-c:a", "libmp3lame", "-ar", "22050", "-ac", "1"};
}

// `encoding`: ffmpeg's options after the two generated inputs.
inline QStringList FfmpegArguments(const QString& path, int seconds,
                                   const QString& size = QStringLiteral("320x240"),
                                   const QStringList& encoding = FlvEncoding()) {
    return QStringList{"-hide_banner",
                       "-loglevel",
                       "error",
                       "-nostdin",
                       "-y",
                       "-f",
                       "lavfi",
                       "-i",
                       QString("testsrc=size=%1:rate=25:duration=%2").arg(size).arg(seconds),
                       "-f",
                       "lavfi",
                       "-i",
                       QString("sine=frequency=440:sample_rate=22050:duration=%1").arg(seconds)} +
           encoding + QStringList{"-shortest", path};
}

// Makes the clip at `path`; false when ffmpeg failed or left nothing.
inline bool Make(const QString& path, int seconds, const QString& size = QStringLiteral("320x240"),
                 const QStringList& encoding = FlvEncoding()) {
    QProcess ffmpeg;
    ffmpeg.setStandardOutputFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"), FfmpegArguments(path, seconds, size, encoding));
    return ffmpeg.waitForFinished(-1) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0 && QFileInfo(path).size() > 0;
}

// H.264 with a key frame every 5 frames (short segments cut cleanly) and AAC.
inline QStringList SegmentableEncoding() {
    return {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-g", "5", "-c:a", "aac"};
}

// Runs ffmpeg in `folder` on a clip in SegmentableEncoding with the `output` options, whose last
// is the file (a playlist or manifest, say). Empty text on success, else what ffmpeg said.
inline QString Package(const QString& folder, int seconds, const QString& size,
                       const QStringList& output) {
    QProcess ffmpeg;
    ffmpeg.setWorkingDirectory(folder);
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 FfmpegArguments(output.last(), seconds, size,
                                 SegmentableEncoding() + output.mid(0, output.size() - 1)));
    ffmpeg.waitForFinished(120000);
    return ffmpeg.exitCode() == 0 ? QString() : QString::fromLocal8Bit(ffmpeg.readAll());
}

} // namespace TestClip
