#include "AVC.h"

#include "AppVersion.h"
#include "ChildProcess.h"
#include "ProgressReport.h"
#include "modProcesses.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Off unless QT_LOGGING_RULES switches them on ("vantelo.converter.*.debug=true").
Q_LOGGING_CATEGORY(lcArguments, "vantelo.converter.arguments", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCommand, "vantelo.converter.command", QtWarningMsg)
Q_LOGGING_CATEGORY(lcExit, "vantelo.converter.exit", QtWarningMsg)

const QString kConverterName = QStringLiteral("avformat.dll");
// What the user reads names the program, not the file its converter happens to be.
const QString kProduct = QString::fromLatin1(AppVersion::Product);
const QString kConverterPrefix = kConverterName + QStringLiteral(": ");
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

// The converter program writes the ffmpeg command it made of its arguments as one line,
// "avformat.dll: ffmpeg ...", among the output.
void LogTranslatedCommand(const QByteArray& lines) {
    if (!lcCommand().isDebugEnabled())
        return;
    for (const QByteArray& line : lines.split('\n'))
        if (line.startsWith(kConverterName.toLatin1() + ": ffmpeg "))
            qCDebug(lcCommand) << line.trimmed();
}

bool IsBreak(char c) {
    return c == '\n' || c == '\r';
}

// The last line of `data` that is not blank, or an empty array. One backward pass: each byte is
// looked at once however many blank lines there are.
QByteArray LastNonBlankLine(const QByteArray& data) {
    int end = data.size();
    while (end > 0) {
        int start = end;
        while (start > 0 && !IsBreak(data.at(start - 1)))
            --start;
        const QByteArray line = data.mid(start, end - start).trimmed();
        if (!line.isEmpty())
            return line;
        end = start - 1;
    }
    return QByteArray();
}

// The path of a "saved as" report line, when it names a file in `folder`; empty otherwise.
// Whatever the converter says, a result is taken nowhere else.
QString SavedAsIn(const QByteArray& line, const QString& folder) {
    const QString path = QFile::decodeName(
        QByteArray::fromPercentEncoding(line.mid(int(qstrlen(ProgressReport::kSavedAsPrefix)))));
    const QFileInfo info(path);
    if (!info.isAbsolute() || info.fileName().isEmpty() ||
        QDir::cleanPath(info.path()) != QDir::cleanPath(folder))
        return QString();
    return path;
}

} // namespace

AVC::AVC(QTimer* pollTimer, QObject* parent) : QObject(parent), timer_(pollTimer) {
    if (!timer_)
        timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &AVC::PollTick);
}

AVC::~AVC() {
    if (reportFd_ >= 0)
        ::close(reportFd_);
    if (!process_)
        return;
    process_->disconnect(this);
    // A converter that is told to stop removes its partial output; only a stuck one is killed.
    if (process_->state() != QProcess::NotRunning)
        modProcesses::EndProcessTrees({process_->processId()}, kStopGraceMilliseconds);
    process_->waitForFinished(kStopGraceMilliseconds);
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

QString AVC::ConverterPath() {
    return ProgramFolder() + QLatin1Char('/') + kConverterName;
}

QString AVC::ProgramFolder() {
    const QString& folder = ProgramFolderSetting();
    return folder.isEmpty() ? DefaultProgramFolder(QCoreApplication::applicationDirPath()) : folder;
}

QString AVC::DefaultProgramFolder(const QString& applicationFolder) {
    // The converter is no command of its own, so an installation keeps it off the PATH.
    const QString installed =
        QDir::cleanPath(applicationFolder + QStringLiteral("/" VANTELO_CONVERTER_FROM_PROGRAM));
    if (QFileInfo(installed + QLatin1Char('/') + kConverterName).isExecutable())
        return installed;
    return applicationFolder;
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
    const QString converterPath = ConverterPath();
    // No short names here: the converter's path is quoted when it holds a space.
    const QString shownPath =
        converterPath.contains(QLatin1Char(' ')) ? Quoted(converterPath) : converterPath;
    const QString input = QLatin1String(RowOf(ConverterProperty::SourceFile).option);
    commandLine_ = shownPath + QLatin1Char(' ') + input + QLatin1Char(' ') + Quoted(sourceFile) +
                   QLatin1Char(' ') + block + Quoted(destFile);
    arguments_ = ArgumentsOf(parameters_, OverWrite);
    if (!QFileInfo(converterPath).isFile()) {
        emit ErrorEvent(QStringLiteral("Unable to locate ") + kConverterName);
        return;
    }
    StartConverterProcess(converterPath);
}

QStringList AVC::ArgumentsOf(const ConverterParameters& parameters, bool overWrite) {
    QString block;
    for (const QString& piece : parameters.OptionPieces(overWrite))
        block += piece + QLatin1Char(' ');
    // As the old command line was read: option tokens split at spaces, each path one argument.
    return QStringList{QLatin1String(RowOf(ConverterProperty::SourceFile).option),
                       parameters.Text(ConverterProperty::SourceFile)} +
           block.split(QLatin1Char(' '), Qt::SkipEmptyParts) +
           QStringList{parameters.Text(ConverterProperty::DestFile)};
}

void AVC::PrepareChild(QProcess* process, int keptDescriptor) {
    const pid_t parent = ::getpid();
    process->setChildProcessModifier([parent, keptDescriptor] {
        if (keptDescriptor >= 0)
            ::fcntl(keptDescriptor, F_SETFD, 0); // the child's, across exec
        // SIGTERM on our end lets the converter remove its partial output.
        ChildProcess::LeadOwnGroupAndDieWithParent(parent, SIGTERM);
    });
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
    exitLogged_ = false;
    doneMs_ = totalMs_ = 0;
    progressNews_ = false;
    pendingLine_.clear();
    pendingReport_.clear();
    lastLine_.clear();
    savedAs_.clear();
    process_ = new QProcess(this);
    process_->setProcessChannelMode(QProcess::MergedChannels);
    process_->setStandardInputFile(QProcess::nullDevice());
    // The converter reports on a pipe of its own, apart from ffmpeg's text.
    int report[2] = {-1, -1};
    if (::pipe2(report, O_CLOEXEC) == 0)
        ::fcntl(report[0], F_SETFL, O_NONBLOCK);
    reportFd_ = report[0];
    // The converter leads a process group with its ffmpeg and ends with this process; it
    // carries this copy's mark, so that a later copy can tell a converter it left behind.
    const int reportWriteEnd = report[1];
    PrepareChild(process_, reportWriteEnd);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(modProcesses::kOwnerVariable), modProcesses::OwnerMark());
    if (reportWriteEnd >= 0)
        environment.insert(QLatin1String(ProgressReport::kDescriptorVariable),
                           QString::number(reportWriteEnd));
    else
        environment.remove(QLatin1String(ProgressReport::kDescriptorVariable));
    process_->setProcessEnvironment(environment);
    connect(process_, &QProcess::readyReadStandardOutput, this, &AVC::DrainOutput);
    // Queued: the tick it runs raises events whose handlers may open a modal box, which should
    // not happen inside QProcess's own signal.
    connect(process_, &QProcess::finished, this, &AVC::ConverterFinished, Qt::QueuedConnection);
    qCDebug(lcArguments) << converterPath << arguments_;
    process_->start(converterPath, arguments_);
    if (reportWriteEnd >= 0)
        ::close(reportWriteEnd); // the pipe ends when the converter does
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
    if (reportFd_ >= 0)
        ::close(reportFd_);
    reportFd_ = -1;
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
        const QByteArray lines = pendingLine_ + data.left(lastBreak);
        LogTranslatedCommand(lines);
        const QByteArray line = LastNonBlankLine(lines);
        if (!line.isEmpty())
            lastLine_ = line;
        pendingLine_ = data.mid(lastBreak + 1);
    }
    if (pendingLine_.size() > kLineCap)
        pendingLine_ = pendingLine_.right(kLineCap);
}

// Takes what the converter reported on its own pipe since the last look.
void AVC::DrainReports() {
    char buffer[4096];
    for (;;) {
        const ssize_t n = reportFd_ >= 0 ? ::read(reportFd_, buffer, sizeof buffer) : 0;
        if (n > 0)
            pendingReport_.append(buffer, int(n));
        else if (n == 0 || errno != EINTR)
            break; // the end, or nothing more for now
    }
    int start = 0;
    for (int end; (end = pendingReport_.indexOf('\n', start)) >= 0; start = end + 1)
        TakeReport(pendingReport_.mid(start, end - start));
    pendingReport_.remove(0, start);
    if (pendingReport_.size() > kLineCap) // no report is that long
        pendingReport_.clear();
}

void AVC::TakeReport(const QByteArray& line) {
    if (line.startsWith(ProgressReport::kSavedAsPrefix)) {
        const QString& destFile = parameters_.Text(ConverterProperty::DestFile);
        savedAs_ = SavedAsIn(line, QFileInfo(destFile).absolutePath());
    } else if (line.startsWith(ProgressReport::kPrefix)) {
        TakeProgress(line.mid(int(qstrlen(ProgressReport::kPrefix))));
    }
}

void AVC::TakeProgress(const QByteArray& report) {
    const int slash = report.indexOf('/');
    if (slash < 0)
        return;
    bool doneRead = false, totalRead = false;
    const double done = report.left(slash).toDouble(&doneRead);
    const double total = report.mid(slash + 1).trimmed().toDouble(&totalRead);
    // A damaged file can claim any length (even one past what milliseconds can count); none
    // past a century is a real source's.
    constexpr double longestSeconds = 100.0 * 365 * 24 * 3600;
    if (!doneRead || !totalRead || !(total > 0) || total > longestSeconds || !(done >= 0))
        return;
    totalMs_ = qRound64(total * 1000);
    doneMs_ = qRound64(std::min(done, total) * 1000);
    progressNews_ = true;
}

QString AVC::LastOutputLine() const {
    const QByteArray pending = pendingLine_.trimmed();
    return QString::fromLocal8Bit(pending.isEmpty() ? lastLine_ : pending);
}

// Why the run failed, in words. A converter ended by a signal from outside says so: its last
// line is then only ffmpeg's progress or its command line. Paths that ffmpeg writes as
// "file:" addresses are shown as the file names the user chose.
QString AVC::FailureMessage() const {
    if (process_->exitStatus() == QProcess::CrashExit) {
        const int signal = process_->exitCode();
        if (signal == SIGKILL)
            return kProduct + QStringLiteral(": the converter was killed from outside; the "
                                             "conversion was not finished");
        if (signal == SIGTERM || signal == SIGINT || signal == SIGHUP)
            return kProduct + QStringLiteral(": the converter was terminated from outside; the "
                                             "conversion was not finished");
        return kProduct + QStringLiteral(": the converter ended abnormally");
    }
    const QString line = LastOutputLine();
    if (!line.isEmpty())
        return ReadableLine(line);
    return kProduct +
           QStringLiteral(": the converter ended with exit code %1").arg(process_->exitCode());
}

QString AVC::ReadableLine(QString line) const {
    static const QRegularExpression partialFile(
        QStringLiteral(R"(file:[^:]*/\.~avformat-\d+-\w+/[^/:]*)"));
    const QString& sourceFile = parameters_.Text(ConverterProperty::SourceFile);
    const QString& destFile = parameters_.Text(ConverterProperty::DestFile);
    if (line.startsWith(kConverterPrefix))
        line.replace(0, kConverterName.size(), kProduct);
    line.replace(partialFile, QFileInfo(destFile).fileName());
    for (const QString& path : {sourceFile, destFile})
        if (!path.isEmpty())
            line.replace(QStringLiteral("file:") + QFileInfo(path).absoluteFilePath(),
                         QFileInfo(path).fileName());
    return line;
}

void AVC::PollTick() {
    if (!process_ || inTick_)
        return;
    inTick_ = true;
    DrainOutput();
    DrainReports();
    emit Converting();
    if (progressNews_) {
        progressNews_ = false;
        emit Progress(doneMs_, totalMs_);
    }
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
    LogExit();
    ReleaseProcess();
    timer_->stop();
    resultFile_ = savedAs_.isEmpty() ? parameters_.Text(ConverterProperty::DestFile) : savedAs_;
    ClearParameters();
    if (succeeded)
        emit Complete();
    else
        emit ErrorEvent(failure);
}

void AVC::ClearParameters() {
    parameters_.Clear();
}

// Ends this component's converter with its ffmpeg, and any converter of the same program that
// an earlier copy of Vantelo left running when it ended; never anyone else's.
void AVC::CancelConvert() {
    QList<qint64> ending = modProcesses::LeftBehind(ConverterPath());
    const bool running = process_ && process_->state() != QProcess::NotRunning;
    if (process_)
        cancelled_ = true;
    if (running)
        ending.prepend(process_->processId());
    modProcesses::EndProcessTrees(ending);
    // Logged now: an owner that switches the poll off after a cancel hears of no end.
    if (running && process_->waitForFinished(kStopGraceMilliseconds))
        LogExit();
}

void AVC::LogExit() {
    if (exitLogged_)
        return;
    exitLogged_ = true;
    qCDebug(lcExit) << process_->exitStatus() << "exit code" << process_->exitCode() << "cancelled"
                    << cancelled_;
}
