#include "AVC.h"

#include "modProcesses.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <algorithm>

namespace {

const QString kConverterName = QStringLiteral("avformat.dll");
constexpr int kPollMilliseconds = 300;
constexpr int kStopGraceMilliseconds = 3000;
constexpr int kLineCap = 4096;

QString& ProgramFolderSetting() {
    static QString folder;
    return folder;
}

QString Quoted(const QString& text) {
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// The index of the last line break in `data`, or -1.
int LastBreak(const QByteArray& data) {
    return std::max(data.lastIndexOf('\n'), data.lastIndexOf('\r'));
}

// The last line of `data` that is not blank, or an empty array.
QByteArray LastNonBlankLine(const QByteArray& data) {
    int end = data.size();
    while (end > 0) {
        const int start = LastBreak(data.left(end)) + 1;
        const QByteArray line = data.mid(start, end - start).trimmed();
        if (!line.isEmpty())
            return line;
        end = start - 1;
    }
    return QByteArray();
}

} // namespace

AVC::AVC(QTimer* pollTimer, QObject* parent) : QObject(parent), timer_(pollTimer) {
    if (!timer_)
        timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &AVC::PollTick);
}

AVC::~AVC() {
    if (!process_)
        return;
    process_->disconnect(this);
    if (process_->state() != QProcess::NotRunning) {
        // A converter that is told to stop removes its partial output; only a stuck one is killed.
        process_->terminate();
        if (!process_->waitForFinished(kStopGraceMilliseconds))
            process_->kill();
        process_->waitForFinished(kStopGraceMilliseconds);
    }
}

void AVC::SetRateControlBuffer(const QString& value) {
    parameters_.SetText(ConverterProperty::RateControlBuffer, value);
}
void AVC::SetVideoBitrateTolerance(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoBitrateTolerance, value);
}
void AVC::SetTargetFormat(const QString& value) {
    parameters_.SetText(ConverterProperty::TargetFormat, value);
}
void AVC::SetGroupOfPictureSize(const QString& value) {
    parameters_.SetText(ConverterProperty::GroupOfPictureSize, value);
}
void AVC::SetVideoQuantiserScale(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoQuantiserScale, value);
}
void AVC::SetMaxVideoBitrate(const QString& value) {
    parameters_.SetText(ConverterProperty::MaxVideoBitrate, value);
}
void AVC::SetSourceFile(const QString& value) {
    parameters_.SetText(ConverterProperty::SourceFile, value);
}
void AVC::SetDestFile(const QString& value) {
    parameters_.SetText(ConverterProperty::DestFile, value);
}
void AVC::SetDeInterlace(bool value) {
    parameters_.SetFlag(ConverterProperty::DeInterlace, value);
}
void AVC::SetSameQuality(bool value) {
    parameters_.SetFlag(ConverterProperty::SameQuality, value);
}
void AVC::SetVideoSize(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoSize, value);
}
void AVC::SetVideoBitrate(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoBitrate, value);
}
void AVC::SetVideoFrameRate(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoFrameRate, value);
}
void AVC::SetVideoCodec(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoCodec, value);
}
void AVC::SetVideoFourCCTag(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoFourCCTag, value);
}
void AVC::SetVideoAspectRatio(const QString& value) {
    parameters_.SetText(ConverterProperty::VideoAspectRatio, value);
}
void AVC::SetForceFormat(const QString& value) {
    parameters_.SetText(ConverterProperty::ForceFormat, value);
}
void AVC::SetAudioBitrate(const QString& value) {
    parameters_.SetText(ConverterProperty::AudioBitrate, value);
}
void AVC::SetAudioCodec(const QString& value) {
    parameters_.SetText(ConverterProperty::AudioCodec, value);
}
void AVC::SetAudioFourCCTag(const QString& value) {
    parameters_.SetText(ConverterProperty::AudioFourCCTag, value);
}
void AVC::SetAudioSamples(const QString& value) {
    parameters_.SetText(ConverterProperty::AudioSamples, value);
}
void AVC::SetAudioChannels(const QString& value) {
    parameters_.SetText(ConverterProperty::AudioChannels, value);
}
void AVC::SetParameter(const ConverterSetting& setting) {
    parameters_.Set(setting);
}

void AVC::SetProgramFolder(const QString& folder) {
    ProgramFolderSetting() = folder;
}

QString AVC::ProgramFolder() {
    const QString& folder = ProgramFolderSetting();
    return folder.isEmpty() ? QCoreApplication::applicationDirPath() : folder;
}

void AVC::ConvertMedia(bool OverWrite) {
    const QString& sourceFile = parameters_.Text(ConverterProperty::SourceFile);
    const QString& destFile = parameters_.Text(ConverterProperty::DestFile);
    if (sourceFile.isEmpty()) {
        emit ErrorEvent(QStringLiteral("No source filename defined"));
        return;
    }
    if (destFile.isEmpty()) {
        emit ErrorEvent(QStringLiteral("No destination filename defined"));
        return;
    }
    QString block;
    for (const QString& piece : parameters_.OptionPieces(OverWrite))
        block += piece + QLatin1Char(' ');
    const QString converterPath = ProgramFolder() + QLatin1Char('/') + kConverterName;
    // No short names here: the converter's path is quoted when it holds a space.
    const QString shownPath =
        converterPath.contains(QLatin1Char(' ')) ? Quoted(converterPath) : converterPath;
    const QString input = QLatin1String(RowOf(ConverterProperty::SourceFile).option);
    commandLine_ = shownPath + QLatin1Char(' ') + input + QLatin1Char(' ') + Quoted(sourceFile) +
                   QLatin1Char(' ') + block + Quoted(destFile);
    // As the old command line was read: option tokens split at spaces, each path one argument.
    arguments_ = QStringList{input, sourceFile} +
                 block.split(QLatin1Char(' '), Qt::SkipEmptyParts) + QStringList{destFile};
    if (!QFileInfo(converterPath).isFile()) {
        emit ErrorEvent(QStringLiteral("Unable to locate ") + kConverterName);
        return;
    }
    StartConverterProcess(converterPath);
}

QString AVC::CommandLine() const {
    return commandLine_;
}
QStringList AVC::Arguments() const {
    return arguments_;
}

void AVC::StartConverterProcess(const QString& converterPath) {
    ReleaseProcess();
    cancelled_ = false;
    pendingLine_.clear();
    lastLine_.clear();
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    connect(process_, &QProcess::readyReadStandardOutput, this, &AVC::DrainOutput);
    // Queued: the tick it runs raises events whose handlers may open a modal box, which should
    // not happen inside QProcess's own signal.
    connect(process_, &QProcess::finished, this, &AVC::ConverterFinished, Qt::QueuedConnection);
    process_->start(converterPath, arguments_);
    if (!process_->waitForStarted()) {
        const QString reason = process_->errorString();
        ReleaseProcess();
        emit ErrorEvent(QStringLiteral("Unable to start ") + kConverterName + QStringLiteral(": ") +
                        reason);
        return;
    }
    timer_->setInterval(kPollMilliseconds);
    timer_->start();
}

// Lets go of the previous run's process. One that still runs (the caller started anew without
// waiting) is left to finish on its own, as the old records were simply overwritten.
void AVC::ReleaseProcess() {
    if (!process_)
        return;
    process_->disconnect(this);
    if (process_->state() == QProcess::NotRunning) {
        process_->deleteLater();
    } else {
        QProcess* orphan = process_;
        connect(orphan, &QProcess::readyReadStandardOutput, orphan,
                [orphan] { orphan->readAll(); });
        connect(orphan, &QProcess::finished, orphan, &QObject::deleteLater);
    }
    process_ = nullptr;
}

// Takes everything waiting in the pipe, so the converter never blocks on a full pipe; only the
// last line is kept, for the error message of a failed run.
void AVC::DrainOutput() {
    if (!process_)
        return;
    const QByteArray data = process_->readAll();
    const int lastBreak = LastBreak(data);
    if (lastBreak < 0) {
        pendingLine_ += data;
    } else {
        const QByteArray line = LastNonBlankLine(pendingLine_ + data.left(lastBreak));
        if (!line.isEmpty())
            lastLine_ = line;
        pendingLine_ = data.mid(lastBreak + 1);
    }
    if (pendingLine_.size() > kLineCap)
        pendingLine_ = pendingLine_.right(kLineCap);
}

QString AVC::LastOutputLine() const {
    const QByteArray pending = pendingLine_.trimmed();
    return QString::fromLocal8Bit(pending.isEmpty() ? lastLine_ : pending);
}

QString AVC::FailureMessage() const {
    const QString line = LastOutputLine();
    if (!line.isEmpty())
        return line;
    if (process_->exitStatus() == QProcess::CrashExit)
        return kConverterName + QStringLiteral(" ended abnormally");
    return kConverterName + QStringLiteral(" ended with exit code %1").arg(process_->exitCode());
}

void AVC::PollTick() {
    if (!process_ || inTick_)
        return;
    inTick_ = true;
    DrainOutput();
    emit Converting();
    inTick_ = false;
    if (!process_ || process_->state() != QProcess::NotRunning)
        return;
    EndConversion();
}

// The end is seen at once instead of on the next tick: the tick that would find it runs now.
// Only while the poll is on; an owner that switched the timer off (a cancel) hears nothing more.
void AVC::ConverterFinished() {
    if (!process_ || process_->state() != QProcess::NotRunning || !timer_->isActive())
        return;
    PollTick();
}

void AVC::EndConversion() {
    const bool succeeded =
        cancelled_ || (process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0);
    const QString failure = succeeded ? QString() : FailureMessage();
    ReleaseProcess();
    timer_->stop();
    ClearParameters();
    if (succeeded)
        emit Complete();
    else
        emit ErrorEvent(failure);
}

void AVC::ClearParameters() {
    parameters_.Clear();
}

void AVC::CancelConvert() {
    if (process_)
        cancelled_ = true;
    modProcesses::TerminateProcessesByName(kConverterName);
}
