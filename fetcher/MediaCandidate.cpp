#include "MediaCandidate.h"

#include <algorithm>
#include <tuple>

namespace MediaChoice {

namespace {

// A declared duration under three quarters of the longest declared one is a preview or a
// trailer of it.
bool ShorterThan(const MediaCandidate& candidate, int longest) {
    return candidate.DurationSeconds > 0 &&
           qint64(candidate.DurationSeconds) * 4 < qint64(longest) * 3;
}

} // namespace

QList<MediaCandidate> Ranked(QList<MediaCandidate> candidates) {
    int longest = 0;
    for (const MediaCandidate& candidate : candidates)
        longest = std::max(longest, candidate.DurationSeconds);
    const auto isPreview = [longest](const MediaCandidate& candidate) {
        return candidate.Preview || ShorterThan(candidate, longest);
    };
    const auto key = [&isPreview](const MediaCandidate& candidate) {
        // Larger is better in every place.
        return std::make_tuple(!isPreview(candidate), !candidate.AudioOnly, candidate.Height,
                               candidate.Width, candidate.Bitrate, candidate.ByteSize,
                               candidate.Kind == MediaSniff::StreamKind::File);
    };
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [&key](const MediaCandidate& a, const MediaCandidate& b) { return key(a) > key(b); });
    return candidates;
}

bool ManifestOffersMore(const MediaCandidate& file, int manifestHeight, qint64 manifestBitrate) {
    if (file.Height > 0 && manifestHeight > 0 && manifestHeight != file.Height)
        return manifestHeight > file.Height;
    if (file.Bitrate > 0 && manifestBitrate > 0)
        return manifestBitrate > file.Bitrate;
    return false;
}

} // namespace MediaChoice
