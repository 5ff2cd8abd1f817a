#pragma once
#include "MediaCandidate.h"
#include "PageText.h"

#include <QList>
#include <QString>
#include <QUrl>

// Reads a page of today for the video it shows by an open standard: Open Graph (og:video,
// og:video:url, og:video:secure_url, og:audio with their type and size), the Twitter card's
// player stream, schema.org VideoObject and AudioObject in JSON-LD, and HTML5 <video> and
// <audio> with their <source>s, and the pages of the page's <iframe>s. Addresses are resolved
// against <base href> and the page's own address; only http and https ones are kept.
//
// How a caller uses it:
//   1. Request the address. Put the answer's Content-Type and first bytes through
//      MediaSniff::Sniff: a stream is the video itself; nothing more to read.
//   2. Otherwise read the page text with Read(). When Candidates is not empty, take the first
//      (they come best first). A file stands unless the caller, having read a manifest among
//      the others, finds with MediaChoice::ManifestOffersMore that it offers more.
//   3. When there are no candidates but PlayerPages, request the first player page and go
//      back to step 1 with it, one level deeper. Stop after MaxEmbedLevels levels or
//      MaxPageReads requests in all, and when nothing is left: "No video was found on this
//      page" (or, when BlobSeen, the text for a blob: address).
//   4. The details of the page the user gave fill the window, those of a player page that
//      offers something (a stream or a player of its own) what the first page left empty.
namespace StandardsPage {

// The bounds of one reading, in one place: the text the reader takes of a page, the levels of
// player pages a caller follows below the page the user gave, and the requests for pages in all.
inline constexpr qsizetype MaxPageChars = 8 * 1024 * 1024;
inline constexpr int MaxEmbedLevels = 2;
inline constexpr int MaxPageReads = 5;

struct Findings {
    // The streams the page offers, best first (MediaChoice::Ranked).
    QList<MediaCandidate> Candidates;
    // Pages that hold the player of the video (og:video of type text/html or of no telling
    // type, JSON-LD embedUrl, twitter:player, then the frames: those that look like a player
    // first), most trusted first; never the page itself. Frames no one sees (hidden, or one
    // pixel or none wide or high: ads' and trackers') are left out.
    QList<QUrl> PlayerPages;
    // The page plays a blob: address, which cannot be fetched.
    bool BlobSeen = false;

    // The six details; the stream id and token stay empty.
    PageText::VideoPage Details;
    QUrl Thumbnail;
    int DurationSeconds = 0;
};

// Reads at most MaxPageChars of the page; `pageAddress` is where it came from.
Findings Read(const QString& html, const QUrl& pageAddress);

// An address of the page resolved against `base`: only http and https are kept. `blobSeen` is
// set for a blob: address.
QUrl Followable(const QString& text, const QUrl& base, bool& blobSeen);

} // namespace StandardsPage
