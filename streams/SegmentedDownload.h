#pragma once
#include "SegmentCheck.h"
#include "SegmentFetch.h"
#include "StreamPlan.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class HostSlots;

// One track of a stream in pieces (HLS or DASH) downloaded into one file: its segments are
// fetched several at a time (HostSlots::MaxPerHost per host) and written in order, decrypted
// where the playlist names a key (each key fetched once).
//
// How a caller uses it:
//   1. Read the playlist or manifest (HlsPlaylist::Read, DashManifest::Read); refuse it with
//      Streams::RefusalText unless plan.Ok(). For HLS, fetch the media playlist of each chosen
//      track and read it with HlsPlaylist::ReadMedia.
//   2. For each chosen track (Streams::Choose: one video, perhaps one audio), make a
//      SegmentedDownload with the track and its own ".part" path, connect Progress and
//      Finished, and Start it. Separate video and audio go to separate files, to be joined by
//      the caller.
//   3. On Finished: Succeeded() leaves the whole track in the .part, to be moved into place;
//      otherwise ErrorString() says what failed ("Segment 12 (0:22–0:24) could not be fetched:
//      404 Not Found") and the .part stays to be continued.
// A later download of the same track into the same .part continues after the segments on
// disk: the file carries a note of how many are whole (an extended attribute), and segments
// that arrived ahead of their turn wait beside it in small files of their own, so that a
// program closed or killed fetches again only what was in flight.
class SegmentedDownload : public QObject {
    Q_OBJECT
public:
    struct Options : SegmentFetch::Settings {
        // The per-host count shared with other downloads (HostSlots::Shared() when null).
        HostSlots* hostSlots = nullptr;
    };

    SegmentedDownload(const Streams::Track& track, const QString& partPath, const Options& options,
                      QObject* parent = nullptr);
    ~SegmentedDownload() override;

    void Start();
    // Stops for good, leaving the .part and its note to be continued; no signal comes any more.
    void Abort();

    bool Succeeded() const { return succeeded_; }
    QString ErrorString() const { return error_; }
    // What Progress last said.
    qint64 Received() const { return received_; }
    qint64 EstimatedTotal() const { return total_; }
    // Segments (and initialisation segments) asked for by this download, not counting retries.
    int PiecesRequested() const { return requested_; }

signals:
    // Bytes of the track so far, and the whole estimated from the segments so far and the
    // track's duration (0 while unknown). Neither ever goes down.
    void Progress(qint64 received, qint64 estimatedTotal);
    void Finished();

private:
    struct Piece {
        Streams::Segment segment;
        // The segment's number, from 1; 0 for an initialisation segment.
        int number = 0;
    };

    void BuildPieces(const Streams::Track& track);
    bool Resume();
    void FetchKeys();
    void KeyFetched(int key);
    void Pump();
    void StartPiece(int index);
    void PieceFetched(int index);
    bool StorePiece(int index, SegmentFetch& fetch);
    // Decrypts a fetched piece and says why it is no piece of the track, or nothing.
    QString Ready(int index, QByteArray& body, const QByteArray& contentType);
    bool WriteHead(const QByteArray& bytes);
    bool Spill(int index, const QByteArray& bytes);
    QString SpillPath(int index) const;
    void RemoveOtherSpills() const;
    void WriteNote();
    void Report();
    void Fail(const QString& error);
    void Complete();
    void StopFetches();
    QString PieceFailure(const Piece& piece, const QString& why) const;

    QList<Piece> pieces_;
    QList<Streams::Key> keyList_;
    double duration_ = 0;
    QString partPath_;
    Options options_;
    HostSlots* slots_;
    QByteArray planId_;
    int fd_ = -1;
    bool running_ = false;

    QMap<int, QByteArray> keys_;
    QList<int> keysToFetch_;
    // Pieces written to the file, in order; the bytes there.
    int done_ = 0;
    qint64 written_ = 0;
    // The container of what the file holds (Unknown while it is empty).
    SegmentCheck::Kind writtenKind_ = SegmentCheck::Kind::Unknown;
    int nextToStart_ = 0;
    QMap<int, SegmentFetch*> fetching_;
    // Pieces whole ahead of their turn: in memory, or beside the file (their sizes).
    QMap<int, QByteArray> ready_;
    // Pieces that could not be had, and why: the download ends when the first of them is due,
    // so the error names the earliest gap whichever fetch failed first.
    QMap<int, QString> failed_;
    QMap<int, qint64> spilled_;
    qint64 bytesDone_ = 0;
    double secondsDone_ = 0;

    qint64 received_ = 0;
    qint64 total_ = 0;
    int requested_ = 0;
    bool succeeded_ = false;
    QString error_;
};
