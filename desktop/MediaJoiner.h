#pragma once
#include <QObject>
#include <QString>
#include <QStringList>

// Joins separately downloaded streams (a video and its sound, or MPEG-TS pieces that belong in
// an MP4) into one file by stream copy, never by re-encoding. The fetcher knows only this seam;
// the program hands it the converter's implementation, and tests a stand-in.
//
// Join writes `output`, which must not exist yet: the fetcher names a fresh file beside the
// finished name and moves it into place itself (FinishedFile). The container follows the output's
// extension. Exactly one Joined comes for each Join, unless Cancel came first.
class MediaJoiner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void Join(const QStringList& inputs, const QString& output) = 0;
    // Stops a join under way; its output is removed and no Joined comes.
    virtual void Cancel() = 0;

signals:
    // The join ended: `error` is empty when `output` holds every input's streams.
    void Joined(const QString& error);
};
