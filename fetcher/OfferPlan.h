#pragma once
#include "MediaOffer.h"

#include <QString>

// How an offer is fetched and named: which of its streams are taken for the user's highest
// height, in what container they arrive, and whether they must be joined (separate video and
// sound, or MPEG-TS pieces that go into an MP4) before the file is whole.
namespace OfferPlan {

// The user's highest height: 0 for the best there is, SoundOnly for sound without pictures.
constexpr int SoundOnly = -1;

// Indices into offer.streams, as MediaOffer's video and audio.
struct Choice {
    int video = -1;
    int audio = -1;
    // Only the sound of `video` is kept: the offer has no stream of sound alone.
    bool soundOnly = false;
};
// The offer's own choice when it keeps within maxHeight (or maxHeight is 0); else the tallest
// stream within it (the smallest when none is), with the best sound when that stream has none.
// For SoundOnly, the best stream of sound alone; when there is none, the sound of the offer's
// choice (soundOnly), unless only yt-dlp fetches it.
Choice Choose(const MediaOffer& offer, int maxHeight);
// The stream picked by the user: that one, with the best sound when it has none.
Choice Pick(const MediaOffer& offer, int index);

// The container a stream's bytes arrive in ("mp4", "ts", "webm"...), from what the offer says,
// the address, the segments' names and the codecs; empty when nothing tells.
QString ArrivingContainer(const MediaStream& stream);

struct Layout {
    // The finished file's extension.
    QString extension;
    // The pieces go through the joiner (a stream copy) before the file is whole.
    bool join = false;
};
// The finished file of a video (or sound) stream and, when separate, its sound (null: none).
Layout For(const MediaStream& video, const MediaStream* audio);

// Whether the offer was read for the address typed (its scheme may be left out): the streams
// of another page are no choice for it.
bool IsOfAddress(const MediaOffer& offer, const QString& typed);

// The file that the sound of a stream of picture and sound is taken out into: the container
// its sound codec is kept in (.m4a for AAC, .opus, .ogg for Vorbis, .mp3), else that of its
// family (.m4a from MP4 and MPEG-TS, .ogg from WebM), else Matroska's sound file, which takes
// any. Always a join: a stream copy of the sound alone.
Layout SoundOf(const MediaStream& stream);

// "1080p · avc1 · 12.3 MB": a stream as the quality menu lists it.
QString Label(const MediaStream& stream);

} // namespace OfferPlan
