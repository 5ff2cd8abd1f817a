#pragma once
#include "AVC.h"
#include "TestClip.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QString>
#include <QTest>
#include <optional>

// Helpers shared by the converter tests: stand-in converters, waiting for the end of a run,
// small media made with ffmpeg and read back with ffprobe.
namespace ConverterTest {

// Writes an executable shell script.
inline void WriteScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                QFileDevice::ExeOwner));
}

// Events of one AVC in the order they came: "Converting", "Complete", "ErrorEvent:<text>".
class EventLog : public QObject {
public:
    template <class Converter> explicit EventLog(Converter* avc) {
        connect(avc, &Converter::Converting, this, [this] { events << "Converting"; });
        connect(avc, &Converter::Complete, this, [this] { events << "Complete"; });
        connect(avc, &Converter::ErrorEvent, this,
                [this](const QString& text) { events << "ErrorEvent:" + text; });
    }
    bool Ended() const {
        return !events.isEmpty() &&
               (events.last() == "Complete" || events.last().startsWith("ErrorEvent:"));
    }
    // Runs the event loop until the run ends; false when it did not end in time.
    bool WaitForEnd(int timeoutMs = 60000) {
        return QTest::qWaitFor([this] { return Ended(); }, timeoutMs);
    }
    int Count(const QString& event) const { return events.count(event); }
    QString Last() const { return events.isEmpty() ? QString() : events.last(); }
    QStringList events;
};

// Runs a program to its end and returns its standard output.
inline QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, args);
    process.waitForFinished(120000);
    if (exitCode)
        *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return process.readAllStandardOutput();
}

// A clip like the ones the fetcher downloads: Sorenson H.263 video with MP3 audio in FLV.
inline bool MakeFlv(const QString& path, int seconds, const QString& size = "320x240") {
    return TestClip::Make(path, seconds, size);
}

// What ffprobe reads back from a media file.
struct Probe {
    bool ok = false;
    int width = 0;
    int height = 0;
    bool hasAudio = false;
    double duration = 0;
    QString videoCodec;
    QString audioCodec;
    QString formatName;
};

inline Probe ProbeFile(const QString& path) {
    Probe probe;
    const QByteArray json = Run(
        "ffprobe", {"-v", "error", "-print_format", "json", "-show_streams", "-show_format", path});
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    for (const QJsonValue& value : root.value("streams").toArray()) {
        const QJsonObject stream = value.toObject();
        const QString type = stream.value("codec_type").toString();
        if (type == "video" && probe.videoCodec.isEmpty()) {
            probe.videoCodec = stream.value("codec_name").toString();
            probe.width = stream.value("width").toInt();
            probe.height = stream.value("height").toInt();
        } else if (type == "audio" && !probe.hasAudio) {
            probe.hasAudio = true;
            probe.audioCodec = stream.value("codec_name").toString();
        }
    }
    const QJsonObject format = root.value("format").toObject();
    probe.duration = format.value("duration").toString().toDouble();
    probe.formatName = format.value("format_name").toString();
    probe.ok = !probe.videoCodec.isEmpty();
    return probe;
}

// What a folder holds, hidden files and folders included (the converter works in a hidden one).
inline QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

// Applies "Name=value" and bare flag words ("SameQuality") to the component, by the
// properties' own names; false at the first word that names no property.
inline bool Apply(AVC& avc, const QString& settings) {
    for (const QString& item : settings.split(' ', Qt::SkipEmptyParts)) {
        const std::optional<ConverterProperty> property = PropertyNamed(item.section('=', 0, 0));
        if (!property)
            return false;
        avc.SetParameter(IsFlagProperty(*property)
                             ? ConverterSetting::Flag(*property, true)
                             : ConverterSetting::Text(*property, item.section('=', 1)));
    }
    return true;
}

} // namespace ConverterTest
