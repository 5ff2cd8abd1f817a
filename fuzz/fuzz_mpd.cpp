// A DASH manifest as a server might send it: whatever it holds, what comes out is bounded and
// on the web, and no template or timeline makes more segments than the bound.
#include "DashManifest.h"

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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));
    const Streams::Plan plan =
        DashManifest::Read(text, QUrl(QStringLiteral("https://cdn.example/d/manifest.mpd")));
    Require(plan.Ok() || plan.tracks.isEmpty(), "a refused plan has no tracks");
    Require(plan.tracks.size() <= Streams::MaxTracks, "tracks are bounded");
    for (const Streams::Track& track : plan.tracks) {
        Require(track.segments.size() <= Streams::MaxSegments, "segments are bounded");
        for (const Streams::Segment& segment : track.segments) {
            const QString scheme = segment.url.scheme();
            Require(scheme == "http" || scheme == "https", "segments are on the web");
            Require(segment.initIndex < track.inits.size(), "a segment's init exists");
        }
    }
    Streams::Choose(plan);
    DashManifest::ParseDuration(QString::fromUtf8(text.left(64)));
    return 0;
}
