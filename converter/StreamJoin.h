#pragma once
#include "MediaJoiner.h"

#include <QString>
#include <QStringList>

class QProcess;

// Joins streams through the converter program ("avformat.dll --join OUTPUT INPUT..."), which
// copies every stream into the container of the output's extension, and reads files back through
// it ("avformat.dll --probe FILE"). The converter runs in a process group of its own that ends
// with this program; Joined and ReadBackDone carry its line of complaint.
class StreamJoin : public MediaJoiner {
    Q_OBJECT
public:
    explicit StreamJoin(QObject* parent = nullptr);
    ~StreamJoin() override;

    // A join still under way is cancelled first.
    void Join(const QStringList& inputs, const QString& output) override;
    // A reading back still under way is dropped first.
    void ReadBack(const QString& file) override;
    void Cancel() override;

private:
    QProcess* MakeConverter();
    void Finished();
    void ReadBackEnded();
    void DropReadBack();
    QString FailureMessage() const;
    void EmitLater(const QString& error);

    QProcess* process_ = nullptr;
    QProcess* readBack_ = nullptr;
    QString output_;
    quint64 joins_ = 0; // counts Join and Cancel calls, so that a late report can tell it is stale
};
