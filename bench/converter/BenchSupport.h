#pragma once
// What the converter benchmarks share: the direct ffmpeg command they measure against.
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
    QStringList command;
    for (const std::string& arg : modTranslate::CommandLine(
             modTranslate::Translate(request, encoders), "file:" + request.source,
             "file:" + output.toStdString(), false, false))
        command << QString::fromStdString(arg);
    return command;
}
