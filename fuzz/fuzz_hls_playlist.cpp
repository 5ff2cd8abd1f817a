// A playlist as a server might send it, read as a master and as a media playlist: whatever it
// holds, what comes out is bounded, on the web, and in order.
#include "HlsPlaylist.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void Require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "broken rule: %s\n", what);
        abort();
    }
}

void Check(const Streams::Plan& plan) {
    if (!plan.Ok()) {
        Require(plan.tracks.isEmpty(), "a refused plan has no tracks");
        return;
    }
    Require(plan.tracks.size() <= Streams::MaxTracks, "tracks are bounded");
    for (const Streams::Track& track : plan.tracks) {
        Require(track.segments.size() <= Streams::MaxSegments, "segments are bounded");
        Require(track.keys.size() <= Streams::MaxKeys, "keys are bounded");
        double time = 0;
        for (const Streams::Segment& segment : track.segments) {
            const QString scheme = segment.url.scheme();
            Require(scheme == "http" || scheme == "https", "segments are on the web");
            Require(segment.start == time && segment.duration >= 0, "segments follow in order");
            Require(segment.keyIndex < track.keys.size(), "a segment's key exists");
            Require(segment.keyIndex < 0 || segment.iv.size() == 16, "an IV is 16 bytes");
            Require(segment.initIndex < track.inits.size(), "a segment's init exists");
            Require(!segment.IsRange() || segment.offset >= 0, "a range starts in the file");
            time += segment.duration;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const QUrl address(QStringLiteral("https://cdn.example/a/b/index.m3u8"));
    const Streams::Plan plan = HlsPlaylist::Read(text, address);
    Check(plan);
    for (const Streams::Track& track : plan.tracks)
        if (!track.playlist.isEmpty())
            Check(HlsPlaylist::ReadMedia(text, track.playlist, track));
    Streams::Choose(plan, 720);
    return 0;
}
