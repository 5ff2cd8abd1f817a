#pragma once
#include <QList>
#include <QString>
#include <QStringView>

// The videos and sounds that the JSON-LD blocks of a page describe (schema.org VideoObject and
// AudioObject), wherever they stand: at the top, in arrays, in "@graph", or inside an article
// ("video", "subjectOf" and any other property). Texts are as the page gives them; addresses are
// not resolved here.
namespace JsonLdMedia {

struct Media {
    bool AudioOnly = false;
    QString ContentUrl;
    QString EmbedUrl;
    QString EncodingFormat; // a type ("video/mp4") or an extension ("mp4")
    QString Name;
    QString Description;
    QString UploadDate;
    QString Author;
    QString Genre;
    QString Thumbnail;
    int DurationSeconds = 0;
    qint64 Views = -1;
    int Width = 0;
    int Height = 0;
    qint64 Bitrate = 0;
    qint64 ByteSize = 0;
};

struct Findings {
    QList<Media> Items;
    // The first author and publisher named anywhere (an article's, when the video has none).
    QString Author;
    QString Publisher;
};

// A block larger than this is not read; a page holds no honest one near it.
inline constexpr qsizetype MaxBlockChars = 2 * 1024 * 1024;
// The most media taken from one page, and how deep into nested objects the search goes.
inline constexpr int MaxMedia = 64;
inline constexpr int MaxDepth = 24;

// Adds what one <script type="application/ld+json"> block holds; a block that is not JSON
// (once wrapped in a comment or CDATA and stripped of raw line breaks) adds nothing.
void Read(QStringView block, Findings& findings);

// Seconds of an ISO 8601 duration ("PT1H2M3.5S", "P1DT2H", "PT90S"); 0 when unreadable.
int IsoDurationSeconds(QStringView duration);

} // namespace JsonLdMedia
