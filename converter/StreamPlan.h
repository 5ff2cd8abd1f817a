#pragma once
#include "ConverterParameters.h"

#include <QObject>
#include <QString>
#include <vector>

class QProcess;

// Asks the converter program, before a conversion, what it would do with each stream of the
// source ("Video: copy (the source's H.264 fits MP4)"). The converter reads the source; the
// answer comes as Answered, empty for formats that always encode or a source it cannot read.
class StreamPlan : public QObject {
    Q_OBJECT
public:
    explicit StreamPlan(QObject* parent = nullptr);
    ~StreamPlan() override;

    // Asks about a conversion with these settings; an earlier question still open is dropped.
    // No settings: only the dropping.
    void Ask(const std::vector<ConverterSetting>& settings);

signals:
    void Answered(const QString& text);

private:
    void Drop();

    QProcess* process_ = nullptr;
};
