#pragma once
// What the converter benchmarks share: the direct ffmpeg command they measure against, and the
// clip they convert.
#include "modEncoders.h"
#include "modLegacyCommand.h"
#include "modTranslate.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// The ffmpeg command that the converter program runs for this legacy line, without its
// progress report.
inline QStringList FfmpegCommand(const QStringList& legacy, const QString& output) {
    std::vector<std::string> args;
    for (const QString& arg : legacy)
        args.push_back(arg.toStdString());
    const auto request = modLegacyCommand::Parse(args).request;
    QProcess query;
    query.start("ffmpeg", {"-hide_banner", "-encoders"});
    query.waitForFinished(-1);
    const auto encoders =
        modEncoders::EncoderSet::FromListing(query.readAllStandardOutput().toStdString());
    QStringList command = {"-hide_banner", "-nostdin", "-y", "-i", "file:" + legacy.at(1)};
    for (const std::string& option : modTranslate::Translate(request, encoders))
        command << QString::fromStdString(option);
    return command << "file:" + output;
}

// A clip like the ones the fetcher downloads: Sorenson H.263 video with MP3 audio in FLV.
inline bool MakeFlv(const QString& path, int seconds, const QString& size) {
    QProcess make;
    make.start("ffmpeg", {"-hide_banner",
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
                          QString("sine=frequency=440:sample_rate=22050:duration=%1").arg(seconds),
                          "-c:v",
                          "flv",
                          "-b:v",
                          "300k",
                          "-c:a",
                          "libmp3lame",
                          "-ar",
                          "22050",
                          "-ac",
                          "1",
                          path});
    return make.waitForFinished(-1) && make.exitStatus() == QProcess::NormalExit &&
           make.exitCode() == 0;
}
