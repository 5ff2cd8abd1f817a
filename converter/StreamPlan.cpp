#include "StreamPlan.h"

#include "AVC.h"

#include <QFileInfo>
#include <QProcess>

namespace {
constexpr int kEndWaitMilliseconds = 1000;
} // namespace

StreamPlan::StreamPlan(QObject* parent) : QObject(parent) {}

StreamPlan::~StreamPlan() {
    Drop();
}

void StreamPlan::Drop() {
    if (!process_)
        return;
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(kEndWaitMilliseconds);
    delete process_;
    process_ = nullptr;
}

void StreamPlan::Ask(const std::vector<ConverterSetting>& settings) {
    Drop();
    if (settings.empty())
        return;
    ConverterParameters parameters;
    for (const ConverterSetting& setting : settings)
        parameters.Set(setting);
    const QString converter = AVC::ConverterPath();
    if (!QFileInfo(converter).isFile())
        return;
    process_ = new QProcess(this);
    process_->setStandardInputFile(QProcess::nullDevice());
    process_->setStandardErrorFile(QProcess::nullDevice());
    AVC::PrepareChild(process_);
    QProcess* asked = process_;
    connect(asked, &QProcess::finished, this, [this, asked] {
        const QString text = QString::fromLocal8Bit(asked->readAllStandardOutput()).trimmed();
        asked->deleteLater();
        process_ = nullptr;
        emit Answered(text);
    });
    connect(asked, &QProcess::errorOccurred, this, [this, asked](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        asked->deleteLater();
        process_ = nullptr;
        emit Answered(QString());
    });
    process_->start(converter,
                    QStringList{QStringLiteral("--plan")} + AVC::ArgumentsOf(parameters, true));
}
