#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

// What a stream in pieces is made of, as read from an HLS playlist or a DASH manifest: tracks of
// video or audio, each a list of segments to fetch and join in order. The readers of both
// formats fill it; the segmented download fetches one track of it.
namespace Streams {

// Bounds on what a playlist or manifest may make us do.
constexpr qsizetype MaxManifestBytes = 8 * 1024 * 1024;
constexpr qsizetype MaxTracks = 64;
constexpr qsizetype MaxSegments = 200000;
constexpr qsizetype MaxKeys = 10000;

// An AES-128 key of a track: fetched once from its address.
struct Key {
    QUrl url;
};

struct Segment {
    QUrl url;
    // A part of the file at url (bytes [offset, offset + length)); length -1: the whole file.
    qint64 offset = 0;
    qint64 length = -1;
    // Where it lies in the presentation, in seconds.
    double start = 0;
    double duration = 0;
    // The key that decrypts it (an index into Track::keys; -1: not encrypted), and the 16 bytes
    // of its initialisation vector.
    int keyIndex = -1;
    QByteArray iv;
    // The initialisation segment that goes before it (an index into Track::inits; -1: none).
    int initIndex = -1;
    // A break in the timestamps or the encoding before this segment.
    bool discontinuity = false;

    bool IsRange() const { return length >= 0; }
};

enum class TrackKind { Video, Audio };

struct Track {
    TrackKind kind = TrackKind::Video;
    // Declared by the playlist or manifest; 0 or empty when it says nothing.
    int width = 0;
    int height = 0;
    qint64 bandwidth = 0;
    QString codecs;
    QString language;
    // An audio rendition the playlist marks as the default of its group.
    bool preferred = false;
    // An HLS variant whose media playlist is still to be read (HlsPlaylist::ReadMedia);
    // empty once the segments are known.
    QUrl playlist;
    // HLS: for a video variant, the GROUP-ID of the audio renditions that go with it; for an
    // audio rendition, its own group.
    QString audioGroup;
    QList<Segment> inits;
    QList<Segment> segments;
    QList<Key> keys;
    // The whole length in seconds (the manifest's, else the sum of the segments).
    double duration = 0;
};

// Why a playlist or manifest cannot be downloaded.
enum class Refusal { None, Live, Drm, Unreadable };

struct Plan {
    QList<Track> tracks;
    Refusal refusal = Refusal::None;
    // What is wrong, for Refusal::Unreadable.
    QString problem;

    bool Ok() const { return refusal == Refusal::None; }
};

// The text a user sees for a refused playlist or manifest at that address.
QString RefusalText(const Plan& plan, const QUrl& address);
// "Segment 12 (0:22–0:24) could not be fetched: <why>" (numbered from 1).
QString SegmentFailureText(int number, const Segment& segment, const QString& why);
// What a finished file holds, as read back.
struct Contents {
    int video = 0;
    int audio = 0;
    double seconds = 0;
};
// Why a file made of these tracks (joined, or one kept as it came) does not hold them; empty
// when it does. It must last as long as the tracks, less one segment at most, and hold a
// picture where a track declares one (a size) and sound where a track is sound.
QString ResultProblem(const QList<Track>& tracks, const Contents& contents);

// "1:02:03", "0:22": a time in the presentation.
QString ClockText(double seconds);

// The one rule for the user's highest height, for streams of every kind: the best of the
// pictures not above maxHeight (0: any), else the lowest there is. `height(i)` is that of the
// i-th of `count` (negative: no picture, takes no part); `better(a, b)`: a ranks above b.
// -1 when there is no picture.
template <typename Height, typename Better>
int WithinHeight(int count, int maxHeight, Height height, Better better) {
    int best = -1, lowest = -1;
    for (int i = 0; i < count; ++i) {
        const int h = height(i);
        if (h < 0)
            continue;
        if ((maxHeight <= 0 || h <= maxHeight) && (best < 0 || better(i, best)))
            best = i;
        if (lowest < 0 || h < height(lowest))
            lowest = i;
    }
    return best >= 0 ? best : lowest;
}

// The tracks chosen by default: the video with the greatest height (then bandwidth) not above
// maxHeight (0: any), and the audio with the greatest bandwidth that goes with it. Indexes into
// plan.tracks; -1 where there is none.
struct Choice {
    int video = -1;
    int audio = -1;
};
Choice Choose(const Plan& plan, int maxHeight = 0);

} // namespace Streams
