#pragma once
#include "PageText.h"

#include <QByteArrayView>
#include <QFile>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <optional>

class CurlTransfer;

// The video fetcher: checks a video page address, asks its host to show the thumbnail in the
// preview, requests the page, extracts the video details, then downloads the stream into the
// output folder the host handed over. Events are raised synchronously; below, the events in
// their interface order, then the two preview requests to the host.
class Nabrix : public QObject {
    Q_OBJECT
public:
    explicit Nabrix(QObject* parent = nullptr);
    ~Nabrix() override;

    // The folder the next page's video goes into, as the host's destination box reads when it
    // starts a fetch. Until one is handed over, no target file is named.
    void SetOutputFolder(const QString& folder) { HandedFolder = folder; }

    void ClearDownload();
    void GetVideoInfo(const QString& VideoUrl);
    void DownloadVideo();
    // The file the video is written to, once a page has named it.
    const QString& TargetFile() const { return FilePath; }

    // A request that receives nothing for this long fails as timed out (30 seconds unless set).
    void setStallTimeout(int milliseconds);
    int stallTimeout() const { return StallTimeoutMs; }
    // The whole page must have arrived within this time (60 seconds unless set).
    void setPageDeadline(int milliseconds);
    // Larger answers are not video pages (those were about 100 KB).
    static constexpr qint32 MaxPageSize = 8 * 1024 * 1024;
    // The most of the video the fetcher holds before writing it out: one chunk.
    static constexpr qint64 ChunkSize = 1024 * 1024;

signals:
    void DownloadProgress(qint32 lngCurrent, qint32 lngMax);
    void DownloadComplete();
    void DownloadError(const QString& ErrorDescription);
    void InvalidUrl();
    void VideoData(const QString& VideoTitle, const QString& VideoCat, const QString& UserID,
                   const QString& UploadDate, const QString& ViewCount, const QString& VideoDesc);
    void InfoError(const QString& ErrorDescription);
    void InfoProgress(qint32 lngCurrent, qint32 lngMax);

    // The host shows this address ("about:" HTML text included) in its preview view.
    void PreviewNavigate(const QString& address);
    // The host makes its preview pane visible.
    void PreviewPaneShow();

private:
    void TakeContentLength(const QByteArray& contentLength, const QByteArray& contentEncoding);
    void AddToBytesReceived(qint64 count);

    void PageResponseStart();
    void PageChunkRead(qint64 count);
    void PageFinished();
    void PageTimedOut();
    QString TimedOut() const;
    void PageTooSlow();
    QString PageTooLarge() const;
    void FailPage(const QString& description);
    void ReadVideoPage(const QString& page);

    void SendVideoRequest(const QUrl& address);
    void VideoResponseStart();
    bool WriteVideoBytes(QByteArrayView bytes);
    void VideoChunkWritten(qint64 count);
    void FollowVideoRedirect();
    void VideoFinished();
    void VideoTimedOut();
    void FailVideo(const QString& description);

    bool OpenVideoFile(QString& error);
    bool AppendChunk(QByteArrayView chunk, QString& error);
    void CloseVideoFile();

    // The output folder the host handed over with the fetch; unset until the first one.
    std::optional<QString> HandedFolder;

    QPointer<CurlTransfer> VideoInfo;
    QPointer<CurlTransfer> VideoDownload;
    QByteArray PageBody;
    bool PageResponseStarted = false;
    // The page grew past MaxPageSize inside the transfer; reported once it has ended.
    bool PageOverflowed = false;
    bool VideoResponseStarted = false;
    // Counts video requests (one per redirect hop), so a handler that starts a new one is noticed.
    quint64 VideoTransferCount = 0;
    // Redirects the current video request has followed.
    int RedirectsFollowed = 0;
    // Why writing the video failed inside the transfer; reported once it has ended.
    QString VideoFileError;

    QString HostName;
    QString AddressVideoId;
    QString DownloadUrl;
    QString FilePath;
    // The output folder FilePath was made for.
    QString TargetFolder;
    // The six details of the last page read, with its video id and token.
    PageText::VideoPage Details;
    qint32 BytesReceived = 0;
    qint32 ContentLength = 0;
    // FileNumber: the open target file itself (the name once meant a file handle's number).
    QFile FileNumber;

    int StallTimeoutMs = 30000;
    QTimer PageStall;
    QTimer VideoStall;
    QTimer PageDeadline;
};
