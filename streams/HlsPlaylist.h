#pragma once
#include "StreamPlan.h"

#include <QByteArray>
#include <QUrl>

// HLS playlists (the .m3u8 files of HTTP Live Streaming).
//
// A master playlist names variants of the stream (bandwidth, resolution, codecs) and audio
// renditions: Read gives one track per variant and per audio rendition with its `playlist` set
// and no segments yet. The caller picks tracks (Streams::Choose, or the user's choice), fetches
// each one's media playlist and reads it with ReadMedia. A media playlist given to Read yields
// one track with its segments at once.
//
// Only finished playlists are taken (EXT-X-ENDLIST): a live one is refused, as is one whose
// keys are not plain AES-128 (SAMPLE-AES, a key format other than "identity", skd:// keys).
namespace HlsPlaylist {

Streams::Plan Read(const QByteArray& text, const QUrl& address);

// The media playlist of `declared` (a track of a master playlist): a plan with that one track,
// its declared details kept, its segments, initialisation segments and keys filled in.
Streams::Plan ReadMedia(const QByteArray& text, const QUrl& address,
                        const Streams::Track& declared);

} // namespace HlsPlaylist
