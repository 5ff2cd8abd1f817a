#pragma once
#include <QByteArray>
#include <QString>

// Whether the bytes a server sent for a segment are a piece of video or sound at all. A server
// may answer 200 with a login page, a playlist, or a file cut short; written into the track,
// such a body leaves a hole or a file no player opens. Read before a segment is taken, and
// again as each one goes into the file, so that one file holds one container.
namespace SegmentCheck {

// The containers a stream in pieces comes in. PackedAudio: ADTS (AAC), MPEG audio or AC-3
// frames, as HLS carries sound without a container. Other: a whole file of a page's stream in
// a container no segment comes in (Ogg, FLAC, FLV, RIFF, MPEG program stream).
enum class Kind { Unknown, MpegTs, Mp4, WebM, PackedAudio, Other };

// The container the bytes start with; an ID3 tag before them (common in HLS) is passed over.
Kind KindOf(const QByteArray& bytes);

// Why an answer of this Content-Type is no segment (text, a web page); empty when it may be one.
QString TypeProblem(const QByteArray& contentType);

// Why the (decrypted) body of a segment is no piece of a track; empty when it may be one. An
// initialisation segment (`init`) must start an MP4 or a WebM.
QString Problem(const QByteArray& body, bool init);

// Why `next` cannot follow what the file holds, whose first bytes are of `written`
// (Kind::Unknown: nothing yet); empty when it can. A fragment of an MP4 cannot start a file.
QString SequenceProblem(Kind written, const QByteArray& next);

} // namespace SegmentCheck
