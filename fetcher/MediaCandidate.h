#pragma once
#include "MediaSniff.h"

#include <QList>
#include <QUrl>

// A stream a page offers, with what the page declares about it, and the order of preference
// among several. Declared values are the page's word; 0 means not declared.
struct MediaCandidate {
    enum class Origin { JsonLd, OpenGraph, TwitterCard, Html5 };

    QUrl Address;
    // The kind the address or declared type tells; the answer's own bytes have the last word.
    MediaSniff::StreamKind Kind = MediaSniff::StreamKind::File;
    QString Extension; // the container's, when the type or the address tells it
    QString DeclaredType;
    bool AudioOnly = false;
    // A muted, self-starting loop: the page's moving picture, not its video.
    bool Preview = false;
    int Width = 0;
    int Height = 0;
    qint64 Bitrate = 0; // bits per second
    qint64 ByteSize = 0;
    int DurationSeconds = 0;
    Origin From = Origin::Html5;
};

namespace MediaChoice {

// The candidates best first: the full video before a preview (a muted autoplay loop, or one
// whose declared duration is clearly shorter than another's), video before sound alone, then the
// larger declared height, width, bit rate and byte size. On equal terms a single file comes
// before a manifest, which wins only when it declares more; then the page's order stands.
QList<MediaCandidate> Ranked(QList<MediaCandidate> candidates);

// Whether a manifest whose best variant has this height and bit rate (0 when unknown) offers
// more than the single file: only a larger value the file also declares counts.
bool ManifestOffersMore(const MediaCandidate& file, int manifestHeight, qint64 manifestBitrate);

} // namespace MediaChoice
