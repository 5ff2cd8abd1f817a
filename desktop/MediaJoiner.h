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
//
// ReadBack reads a finished file back (its streams and length), so that a download is called
// complete only when its file plays as long as planned; exactly one ReadBackDone comes for each,
// unless Cancel came first.
class MediaJoiner : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual void Join(const QStringList& inputs, const QString& output) = 0;
    virtual void ReadBack(const QString& file) = 0;
    // Stops a join or a reading back under way; a join's output is removed and no Joined or
    // ReadBackDone comes.
    virtual void Cancel() = 0;

signals:
    // The join ended: `error` is empty when `output` holds every input's streams.
    void Joined(const QString& error);
    // The file holds `video` and `audio` streams and lasts `seconds`; `error` says why it could
    // not be read (and the counts are 0).
    void ReadBackDone(const QString& error, int video, int audio, double seconds);
};
