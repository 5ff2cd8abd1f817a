#pragma once
#include "HttpHeaders.h"
#include "MediaJoiner.h"
#include "MediaOffer.h"
#include "OfferPlan.h"
#include "PageText.h"

#include <QByteArrayView>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <optional>

class MediaJoiner;
class PageReading;
class SegmentedDownload;
class Transfer;
class YtDlpRunner;

// The video fetcher: checks a video page address, asks its host to show the thumbnail in the
// preview, requests the page, extracts the video details, then downloads the stream into the
// output folder the host handed over. Events are raised synchronously; below, the events in
// their interface order, then the two preview requests to the host.
class Nabrix : public QObject {
    Q_OBJECT
public:
    // What a fetch is receiving: the video page, then the video itself.
    enum class Phase { Page, Video };
    Q_ENUM(Phase)

    explicit Nabrix(QObject* parent = nullptr);
    ~Nabrix() override;

    // The folder the next page's video goes into, as the host's destination box reads when it
    // starts a fetch. Until one is handed over, no target file is named.
    void SetOutputFolder(const QString& folder) { HandedFolder = folder; }
    // What joins separately fetched video and sound by stream copy; the host keeps it alive.
    void SetJoiner(MediaJoiner* joiner) { Joiner = joiner; }

    void ClearDownload();
    void GetVideoInfo(const QString& VideoUrl);
    void DownloadVideo();
    // The video's file: where it went once complete, else where it is meant to go.
    QString TargetFile() const { return SavedFilePath.isEmpty() ? FilePath : SavedFilePath; }

    // A request that receives nothing for this long fails as timed out (30 seconds unless set);
    // the video's is tried again first.
    void setStallTimeout(int milliseconds) { StallTimeoutMs = milliseconds; }
    int stallTimeout() const { return StallTimeoutMs; }
    // The unit of the waits before the video is tried again (1 second unless set).
    void setRetryWait(int milliseconds) { RetryWaitMs = milliseconds; }
    // A page must have been read within this time, all its reads together (for a page of
    // today: the player pages and the playlist it names, and yt-dlp's reading): 60 seconds
    // unless set.
    void setPageDeadline(int milliseconds);
    // Larger answers are not video pages (those were about 100 KB).
    static constexpr qint32 MaxPageSize = 8 * 1024 * 1024;
    // The most of the video the fetcher holds before writing it out: one chunk.
    static constexpr qint64 ChunkSize = 1024 * 1024;

signals:
    void DownloadProgress(qint64 lngCurrent, qint64 lngMax);
    void DownloadComplete();
    void DownloadError(const QString& ErrorDescription);
    void InvalidUrl();
    void VideoData(const QString& VideoTitle, const QString& VideoCat, const QString& UserID,
                   const QString& UploadDate, const QString& ViewCount, const QString& VideoDesc);
    void InfoError(const QString& ErrorDescription);
    void InfoProgress(qint64 lngCurrent, qint64 lngMax);
    // The video broke off and is tried again after `waitMs`: try `retry` of `maxRetries`.
    void RetryWaiting(qint64 waitMs, int retry, int maxRetries);

    // The progress events that follow are about `phase`: raised as each phase begins.
    void PhaseStarted(Nabrix::Phase phase);

    // The host shows this address ("about:" HTML text included) in its preview view.
    void PreviewNavigate(const QString& address);
    // The host makes its preview pane visible.
    void PreviewPaneShow();

    // --- The download of a page of today, once read ---
public:
    // Downloads the offer's streams (the user's highest height applied to its choice) into
    // "<title>.<ext>" in the output folder, with the events of a 2008 video.
    void DownloadOffer(const MediaOffer& offer);
    // Downloads that stream of the last offer (with the best sound when it has none).
    void DownloadStream(int index);
    // The highest height the next offer is fetched in: 0 for the best, OfferPlan::SoundOnly.
    void SetMaxHeight(int height) { MaxHeight = height; }
    int maxHeight() const { return MaxHeight; }
    // The last offer handed to DownloadOffer.
    const MediaOffer& LastOffer() const { return Offer; }

private:
    // A track of the offer fetched in pieces into a .part held open (so no other download
    // takes it, and only that file goes into place).
    struct OfferTrack {
        // Its `track` holds the segments once known (a whole file is one segment).
        MediaStream stream;
        QString partPath;
        int fd = -1;
        SegmentedDownload* download = nullptr;
    };
    // The offer, its title the default stream's file name (or the page's) when it has none.
    static MediaOffer Titled(MediaOffer offer);
    void StartOffer(const OfferPlan::Choice& choice);
    void StartOfferFile(const MediaStream& stream);
    void StartYtDlp(const MediaStream& stream);
    void FetchNextPlaylist();
    void PlaylistFinished();
    void StartTracks();
    void KeepOnlySound();
    void TrackProgressed();
    void TrackFinished();
    void TracksJoined(const QString& error);
    void PlaceJoined();
    // Reads the finished file back and places it (`place`) only when it holds the tracks.
    void CheckOffer(const QString& file, const std::function<void()>& place);
    void OfferChecked(const QString& error, int video, int audio, double seconds);
    void PlaceOffer(const QString& finished, int heldFd);
    void PlaceYtDlpFile(const QString& path);
    void ReportOfferProgress(qint64 received, qint64 total);
    bool NameOfferFile(const QString& extension);
    void FailOffer(const QString& description);
    void CompleteOffer();
    void CancelOffer();

    MediaOffer Offer;
    int MaxHeight = 0;
    // The extension of FilePath (".flv" for the pages of the 2008 layout), and the headers
    // the stream's server wants with every request.
    QString TargetExtension = QStringLiteral("flv");
    Http::Headers OfferHeaders;
    OfferPlan::Layout OfferLayout;
    QList<OfferTrack> OfferTracks;
    // The HLS media playlist being fetched: of OfferTracks[PlaylistTrack].
    QPointer<Transfer> PlaylistFetch;
    QByteArray PlaylistBody;
    int PlaylistTrack = -1;
    QString JoinPath;
    bool Joining = false;
    // Only the sound of the stream is kept, taken out of it by the join.
    bool SoundOut = false;
    // The file being read back before it is placed, and what places it.
    bool Checking = false;
    QString CheckPath;
    std::function<void()> AfterCheck;
    YtDlpRunner* YtDlp = nullptr;
    qint64 OfferReceived = 0;
    qint64 OfferTotal = 0;
    // --- end of the download of a page of today ---

private:
    void TakeContentLength(const Transfer* transfer);

    void PageResponseStart();
    void PageChunkRead(qint64 received);
    void PageFinished();
    QString ErrorText(const Transfer* transfer) const;
    QString TimedOut() const;
    void PageTooSlow();
    QString PageTooLarge() const;
    void FailPage(const QString& description);
    void ReadVideoPage(const QString& page);

    void VideoResponseStart();
    bool WriteVideoBytes(QByteArrayView bytes);
    void VideoChunkWritten(qint64 received);
    void VideoFinished();
    void FailVideo(const QString& description);

    bool OpenVideoFile(QString& error);
    bool StartBodyAt(qint64 offset, QString& error);
    bool AppendChunk(QByteArrayView chunk, QString& error);
    void CloseVideoFile();

    QPointer<MediaJoiner> Joiner;
    // The output folder the host handed over with the fetch; unset until the first one.
    std::optional<QString> HandedFolder;

    QPointer<Transfer> VideoInfo;
    QPointer<Transfer> VideoDownload;
    QByteArray PageBody;
    bool PageResponseStarted = false;
    // The page grew past MaxPageSize inside the transfer; reported once it has ended.
    bool PageOverflowed = false;
    // Counts video transfers, so a handler that starts a new one is noticed.
    quint64 VideoTransferCount = 0;
    // Where the next body bytes go in the .part file; -1 once they are placed.
    qint64 BodyStartOffset = -1;
    // Bytes of the video went into the .part file (a leftover may be open without any).
    bool VideoBytesWritten = false;
    // Why writing the video failed inside the transfer; reported once it has ended.
    QString VideoFileError;

    QString HostName;
    QString AddressVideoId;
    QString DownloadUrl;
    QString FilePath;
    // Where the last finished video went: FilePath, or a free name beside it when an earlier
    // file of that name could not be moved to the Trash.
    QString SavedFilePath;
    // The file the video is written to until it is whole (PartFile).
    QString PartPath;
    // The output folder FilePath was made for.
    QString TargetFolder;
    // The six details of the last page read, with its video id and token.
    PageText::VideoPage Details;
    qint64 ContentLength = 0;
    // FileNumber: the open target file itself (the name once meant a file handle's number).
    QFile FileNumber;

    int StallTimeoutMs = 30000;
    int RetryWaitMs = 1000;
    QTimer PageDeadline;

    // --- Pages of today: every http(s) page that is not one of the service's video pages ---
public:
    // The page reading of pages of today: yt-dlp's process group while it reads, for checks.
    const PageReading* TodaysPageReading() const { return Reading; }
    // Whether the fetch under way (or the last one) is of a page of today rather than one of
    // the service's 2008 video pages.
    bool ReadsTodaysPage() const { return TodaysPage; }

private:
    void ReadTodaysPage(const QString& address);
    void TodaysPageStarted(qint64 length);
    void TakeOffer(const MediaOffer& offer);

    PageReading* Reading = nullptr;
    bool TodaysPage = false;
    // The http reading of an address typed without its scheme, tried once when its https
    // reading could not connect; empty when there is none.
    QString PlainAddress;
};
