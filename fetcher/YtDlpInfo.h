#pragma once
#include "PageText.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QPair>
#include <QString>
#include <QUrl>
#include <optional>

// One way yt-dlp offers a video: a single file, an HLS or DASH stream, or something only
// yt-dlp itself can fetch. Values yt-dlp does not give are 0 or empty.
struct YtDlpFormat {
    // How the format is fetched. Http, Hls and Dash are fetched by our own downloader; Other
    // (rtmp, websockets, ...) is left to yt-dlp.
    enum class Transport { Http, Hls, Dash, Other };
    struct Fragment {
        QUrl Address; // the fragment's own address, or FragmentBase with its path
        double DurationSeconds = 0;
    };

    QString FormatId;
    QString Protocol; // yt-dlp's name for it ("https", "m3u8_native", ...)
    Transport Via = Transport::Other;
    // http(s) only; empty when yt-dlp named anything else.
    QUrl Address;
    QString Extension;
    // yt-dlp says "none" for a stream that has no picture or no sound; a codec it does not know
    // is no proof of absence.
    bool HasVideo = true;
    bool HasAudio = true;
    QString VideoCodec;
    QString AudioCodec;
    int Width = 0;
    int Height = 0;
    qint64 ByteSize = 0;
    bool ByteSizeApproximate = false;
    qint64 BitsPerSecond = 0;
    // Request headers the site wants with the stream (User-Agent, Referer, Cookie, ...).
    QList<QPair<QByteArray, QByteArray>> HttpHeaders;
    // The pieces of a segmented stream, in order, when yt-dlp lists them.
    QList<Fragment> Fragments;

    // Whether our own downloader can fetch it: a transport we speak over an http(s) address
    // (or, for fragments, every piece on one).
    bool FetchedByUs() const;
};

// The streams to fetch for a video: one format with sound and picture, or a picture-only
// format and a sound-only one to be joined. -1 when there is none.
struct YtDlpChoice {
    int Video = -1;
    int Audio = -1; // -1 when the video format carries the sound
    bool IsEmpty() const { return Video < 0 && Audio < 0; }
};

// What yt-dlp says of a page with --dump-single-json, read with bounds on size and depth.
struct YtDlpInfo {
    // Larger than any single video's answer (a long video's DASH fragment lists run to a few
    // MB); an answer beyond it is refused unread.
    static constexpr qsizetype MaxJsonBytes = 32 * 1024 * 1024;
    static constexpr int MaxJsonDepth = 32;
    static constexpr int MaxFormats = 2000;
    static constexpr int MaxFragments = 200000;
    static constexpr int MaxHeaders = 32;

    // The reader yt-dlp used: "generic" for its reader of any page, a site's name otherwise.
    QString Extractor;
    QString ExtractorKey;
    // The six details (title, category, uploader, upload date, views, description); the stream
    // id and token stay empty.
    PageText::VideoPage Details;
    QUrl Thumbnail;
    int DurationSeconds = 0;
    QList<YtDlpFormat> Formats;

    // A site's own reader read the page: its answer wins over ours.
    bool FromSiteReader() const;

    // Nothing when the text is no JSON object, too large or too deeply nested.
    static std::optional<YtDlpInfo> Parse(const QByteArray& json);

    // The default choice: the best picture with the best sound within `maxHeight` (0: any
    // height), ranked by height, then bit rate, then size; on equal terms yt-dlp's later
    // format (it lists the best last). A picture-only and a sound-only format win over one with
    // both only when their picture ranks higher. When no picture fits under `maxHeight`, the
    // lowest one is taken. `ourOnly` keeps to the formats FetchedByUs.
    YtDlpChoice ChooseDefault(int maxHeight, bool ourOnly = false) const;
};

Q_DECLARE_METATYPE(YtDlpInfo)
