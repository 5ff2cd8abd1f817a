#include "StreamJoin.h"

#include "AVC.h"
#include "modProcesses.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <csignal>

namespace {
constexpr int kStopGraceMilliseconds = 3000;
const QString kConverterName = QStringLiteral("avformat.dll");
// The converter's echo of the ffmpeg command it runs: no complaint.
const QByteArray kCommandEcho = "avformat.dll: ffmpeg ";
} // namespace

StreamJoin::StreamJoin(QObject* parent) : MediaJoiner(parent) {}

StreamJoin::~StreamJoin() {
    Cancel();
}

void StreamJoin::Join(const QStringList& inputs, const QString& output) {
    Cancel();
    ++joins_;
    const QString converter = AVC::ConverterPath();
    if (!QFileInfo(converter).isFile()) {
        EmitLater(QStringLiteral("Unable to locate ") + kConverterName);
        return;
    }
    output_ = output;
    process_ = MakeConverter();
    connect(process_, &QProcess::finished, this, &StreamJoin::Finished);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Finished();
    });
    process_->start(converter, QStringList{QStringLiteral("--join"), output} + inputs);
}

void StreamJoin::ReadBack(const QString& file) {
    DropReadBack();
    readBack_ = MakeConverter();
    readBack_->setProcessChannelMode(QProcess::SeparateChannels);
    connect(readBack_, &QProcess::finished, this, &StreamJoin::ReadBackEnded);
    connect(readBack_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ReadBackEnded();
    });
    readBack_->start(AVC::ConverterPath(), {QStringLiteral("--probe"), file});
}

QProcess* StreamJoin::MakeConverter() {
    auto* process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    AVC::PrepareChild(process);
    // Marked like a conversion, so that a later copy of the program can end one left behind.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(modProcesses::kOwnerVariable), modProcesses::OwnerMark());
    process->setProcessEnvironment(environment);
    return process;
}

// "video 1", "audio 1", "seconds 2.000" on standard output; a complaint on standard error.
void StreamJoin::ReadBackEnded() {
    if (!readBack_)
        return;
    QProcess* done = readBack_;
    readBack_ = nullptr;
    done->disconnect(this);
    done->deleteLater();
    if (done->error() == QProcess::FailedToStart) {
        emit MediaJoiner::ReadBackDone(QStringLiteral("Unable to start ") + kConverterName +
                                           QStringLiteral(": ") + done->errorString(),
                                       0, 0, 0);
        return;
    }
    if (done->exitStatus() != QProcess::NormalExit || done->exitCode() != 0) {
        QString said = QString::fromLocal8Bit(done->readAllStandardError()).trimmed();
        said = said.section(QLatin1Char('\n'), -1);
        const QString prefix = kConverterName + QStringLiteral(": ");
        if (said.startsWith(prefix))
            said.remove(0, prefix.size());
        emit MediaJoiner::ReadBackDone(
            said.isEmpty() ? kConverterName + QStringLiteral(" could not read the file") : said, 0,
            0, 0);
        return;
    }
    int video = 0, audio = 0;
    double seconds = 0;
    for (const QByteArray& line : done->readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.trimmed().split(' ');
        if (words.size() != 2)
            continue;
        if (words[0] == "video")
            video = words[1].toInt();
        else if (words[0] == "audio")
            audio = words[1].toInt();
        else if (words[0] == "seconds")
            seconds = words[1].toDouble();
    }
    emit MediaJoiner::ReadBackDone(QString(), video, audio, seconds);
}

void StreamJoin::DropReadBack() {
    if (!readBack_)
        return;
    QProcess* process = readBack_;
    readBack_ = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        modProcesses::EndProcessTrees({process->processId()}, kStopGraceMilliseconds);
        process->waitForFinished(kStopGraceMilliseconds);
    }
    delete process;
}

// Ends the converter with its ffmpeg; it removes its partial file. A result that took the
// output's name just before goes too: the join was called off.
void StreamJoin::Cancel() {
    ++joins_; // a Joined still to come is dropped
    DropReadBack();
    if (!process_)
        return;
    QProcess* process = process_;
    process_ = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        modProcesses::EndProcessTrees({process->processId()}, kStopGraceMilliseconds);
        process->waitForFinished(kStopGraceMilliseconds);
    }
    if (process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0 &&
        process->error() != QProcess::FailedToStart)
        QFile::remove(output_);
    delete process;
}

void StreamJoin::Finished() {
    if (!process_)
        return;
    const bool joined = process_->error() != QProcess::FailedToStart &&
                        process_->exitStatus() == QProcess::NormalExit && process_->exitCode() == 0;
    const QString error = joined ? QString() : FailureMessage();
    process_->disconnect(this);
    process_->deleteLater();
    process_ = nullptr;
    emit Joined(error);
}

// The converter's last line that is not its echo of the ffmpeg command.
QString StreamJoin::FailureMessage() const {
    if (process_->error() == QProcess::FailedToStart)
        return QStringLiteral("Unable to start ") + kConverterName + QStringLiteral(": ") +
               process_->errorString();
    if (process_->exitStatus() == QProcess::CrashExit)
        return kConverterName + QStringLiteral(" was ended from outside; the streams were not "
                                               "joined");
    const QList<QByteArray> lines = process_->readAll().split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line)
        if (!line->trimmed().isEmpty() && !line->startsWith(kCommandEcho))
            return QString::fromLocal8Bit(line->trimmed());
    return kConverterName + QStringLiteral(" ended with exit code %1").arg(process_->exitCode());
}

void StreamJoin::EmitLater(const QString& error) {
    QMetaObject::invokeMethod(
        this,
        [this, error, join = joins_] {
            if (join == joins_)
                emit Joined(error);
        },
        Qt::QueuedConnection);
}
