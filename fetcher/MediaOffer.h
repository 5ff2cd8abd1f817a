#pragma once
#include "PageText.h"
#include "StreamPlan.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <optional>

// What a page of today offers, once read: its details and the streams it names, and which of
// them the fetcher takes unless the user picks others. The page reading fills it (the
// standards reader, the manifests it names, yt-dlp's answer); the download takes it from there.
struct MediaStream {
    enum class Via {
        File, // one file over HTTP
        Hls,  // a playlist: `track` holds the variant (its media playlist still to be read) or
              // the segments
        Dash, // a manifest's representation: `track` holds its segments
        YtDlp // only yt-dlp itself can fetch it (`formatId`)
    };
    Via via = Via::File;
    // The file, the playlist or the manifest; empty for Via::YtDlp.
    QUrl address;
    std::optional<Streams::Track> track;
    // yt-dlp's id of the format, when the stream came from its answer.
    QString formatId;
    // Sent with every request for the stream and its pieces (yt-dlp's http_headers).
    QList<QPair<QByteArray, QByteArray>> headers;
    // The container's extension, without the dot ("mp4", "webm", "ts"...); empty when unknown.
    QString extension;
    bool hasVideo = true;
    bool hasAudio = true;
    // Declared by the page, playlist or yt-dlp; 0, empty or -1 when nothing says.
    int height = 0;
    QString codecs;
    qint64 byteSize = -1;
    qint64 bitsPerSecond = 0;
};

struct MediaOffer {
    // The address the reading was asked for, as given, and the page read, after redirects.
    QUrl asked;
    QUrl page;
    // The six details, as the window shows them for any page.
    PageText::VideoPage details;
    QUrl thumbnail;
    double durationSeconds = 0;
    // Best first.
    QList<MediaStream> streams;
    // The default choice: indices into `streams`; `audio` is -1 when `video` carries the sound
    // (or the stream is sound alone).
    int video = -1;
    int audio = -1;
};
