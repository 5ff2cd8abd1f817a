#pragma once
#include <QByteArrayView>
#include <QString>
#include <QUrl>

// Whether an answer is a media stream itself, and of which kind: from its Content-Type, from its
// first bytes, or from the extension of its address. The HLS playlist and the DASH manifest are
// only recognised here, not read.
namespace MediaSniff {

enum class StreamKind {
    None, // not a stream: a page, a picture, or nothing we can tell
    File, // one media file (a container)
    Hls,  // an HLS playlist
    Dash, // a DASH manifest
};

struct Media {
    StreamKind Kind = StreamKind::None;
    // The container's extension without its dot ("mp4", "webm", "m3u8"); empty when unknown.
    QString Extension;
    // Sound without pictures (audio/*, an MP3, an M4A).
    bool AudioOnly = false;

    bool IsStream() const { return Kind != StreamKind::None; }
};

// How many of an answer's first bytes FromBytes looks at; fewer may do.
inline constexpr qsizetype BytesToSniff = 1024;

// By a Content-Type value ("video/mp4; codecs=..."); parameters and letter case are ignored.
Media FromContentType(QByteArrayView contentType);
// By an extension alone ("mp4", "M3U8").
Media FromExtension(QStringView extension);
// By the extension of the address's path (the query does not count).
Media FromAddress(const QUrl& address);
// By the first bytes: #EXTM3U, <MPD (after a byte-order mark, an XML prolog and comments), the
// MP4 "ftyp" box, the EBML header of WebM and Matroska, MPEG-TS sync bytes every 188 (or 192)
// bytes, FLV, MP3 (ID3 or a frame header), ADTS AAC, Ogg, FLAC, WAV and AVI.
Media FromBytes(QByteArrayView firstBytes);
// True when the first bytes are markup or text that a page would start with.
bool LooksLikePage(QByteArrayView firstBytes);
// An answer: what its bytes show wins; bytes of a page are never a stream whatever the server
// says; otherwise the Content-Type decides.
Media Sniff(QByteArrayView contentType, QByteArrayView firstBytes);

} // namespace MediaSniff
