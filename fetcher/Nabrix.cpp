#include "Nabrix.h"

#include "CurlTransfer.h"
#include "Redirects.h"
#include "modNabrix.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <cerrno>
#include <limits>
#include <optional>

namespace {

// Off unless QT_LOGGING_RULES switches them on ("vantelo.fetcher.*.debug=true").
Q_LOGGING_CATEGORY(lcRedirect, "vantelo.fetcher.redirect", QtWarningMsg)
Q_LOGGING_CATEGORY(lcStall, "vantelo.fetcher.stall", QtWarningMsg)

// "404 Not Found" for a final answer other than success (2xx); empty text for a success.
QString HttpErrorOf(int status, const QString& reasonPhrase) {
    if (status >= 200 && status < 300)
        return QString();
    const QString reason = reasonPhrase.trimmed();
    return reason.isEmpty() ? QString::number(status) : QString::number(status) + ' ' + reason;
}

// A "Content-Length" header, when it is a number of bytes at all.
std::optional<qint64> AnnouncedLength(const QByteArray& contentLength) {
    bool isNumber = false;
    const qint64 length = contentLength.trimmed().toLongLong(&isNumber);
    if (!isNumber || length < 0)
        return std::nullopt;
    return length;
}

// A body sent compressed although the request asked for it as stored ("Content-Encoding").
bool IsCompressed(const QByteArray& contentEncoding) {
    const QByteArray coding = contentEncoding.trimmed().toLower();
    return !coding.isEmpty() && coding != "identity";
}

// The request headers, in the order sent. The body is asked for as stored: the length the
// server announces is then the length counted and written, byte for byte, and the file holds
// the response body itself.
const CurlTransfer::Headers& RequestHeaders() {
    static const CurlTransfer::Headers headers = {
        {"Accept-Language", "en-us"},
        {"User-Agent", "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)"},
        {"Accept", "*/*"},
        {"Accept-Encoding", "identity"},
    };
    return headers;
}

// What went wrong with a request, in plain words.
QString ErrorText(const CurlTransfer* transfer) {
    return modNabrix::TransferErrorText(transfer->Error(), transfer->Url(), transfer->ViaProxy(),
                                        transfer->ErrorString());
}

// Stops a request for good: none of its events arrive any more.
void Drop(QPointer<CurlTransfer>& transfer, QObject* receiver) {
    if (!transfer)
        return;
    CurlTransfer* dropped = transfer;
    transfer = nullptr;
    QObject::disconnect(dropped, nullptr, receiver, nullptr);
    dropped->Abort();
    dropped->deleteLater();
}

} // namespace

Nabrix::Nabrix(QObject* parent) : QObject(parent) {
    for (QTimer* stall : {&PageStall, &VideoStall}) {
        stall->setSingleShot(true);
        stall->setInterval(StallTimeoutMs);
    }
    PageDeadline.setSingleShot(true);
    PageDeadline.setInterval(60000);
    connect(&PageDeadline, &QTimer::timeout, this, &Nabrix::PageTooSlow);
    connect(&PageStall, &QTimer::timeout, this, &Nabrix::PageTimedOut);
    connect(&VideoStall, &QTimer::timeout, this, &Nabrix::VideoTimedOut);
}

Nabrix::~Nabrix() {
    Drop(VideoInfo, this);
    Drop(VideoDownload, this);
    CloseVideoFile();
}

void Nabrix::setStallTimeout(int milliseconds) {
    StallTimeoutMs = milliseconds;
    PageStall.setInterval(milliseconds);
    VideoStall.setInterval(milliseconds);
}

void Nabrix::setPageDeadline(int milliseconds) {
    PageDeadline.setInterval(milliseconds);
}

void Nabrix::ClearDownload() {
    VideoStall.stop();
    Drop(VideoDownload, this);
    CloseVideoFile();
}

void Nabrix::GetVideoInfo(const QString& VideoUrl) {
    const QString address = PageText::RepairDoubledScheme(VideoUrl);
    if (!PageText::IsVideoPageAddress(address)) {
        emit InvalidUrl();
        return;
    }
    if (const auto host = PageText::HostName(address))
        HostName = *host;
    BytesReceived = 0;
    AddressVideoId = PageText::AddressVideoId(address);
    emit PreviewNavigate(PageText::BlankPreview());
    emit PreviewNavigate(PageText::ThumbnailPreview(AddressVideoId));
    emit PreviewPaneShow();

    Drop(VideoInfo, this);
    PageBody.clear();
    PageResponseStarted = false;
    PageOverflowed = false;
    // The page's redirect answers are not followed: they fail as any answer but a success.
    VideoInfo = new CurlTransfer(QUrl(address), RequestHeaders(), ChunkSize, this);
    VideoInfo->SetSink([this](const char* data, qint64 size) {
        // Called from inside the transfer: collects, and leaves the events to PageChunkRead.
        PageOverflowed = PageBody.size() + size > MaxPageSize;
        if (!PageOverflowed)
            PageBody.append(data, size);
        return !PageOverflowed;
    });
    connect(VideoInfo, &CurlTransfer::ResponseStarted, this, &Nabrix::PageResponseStart);
    connect(VideoInfo, &CurlTransfer::ChunkWritten, this, &Nabrix::PageChunkRead);
    connect(VideoInfo, &CurlTransfer::Finished, this, &Nabrix::PageFinished);
    VideoInfo->Start();
    PageStall.start();
    PageDeadline.start();
}

void Nabrix::DownloadVideo() {
    // A transfer still running is replaced together with its file.
    Drop(VideoDownload, this);
    CloseVideoFile();
    RedirectsFollowed = 0;
    SendVideoRequest(QUrl(DownloadUrl));
}

void Nabrix::SendVideoRequest(const QUrl& address) {
    ++VideoTransferCount;
    // The target file is opened with the first bytes of a success answer (see
    // WriteVideoBytes), so an answer without the video never replaces a file already there.
    BytesReceived = 0;
    VideoResponseStarted = false;
    VideoFileError.clear();
    // The stream goes from the socket into the file through one buffer of a chunk, on this
    // thread. The fetcher follows redirects itself, one request per hop, so every hop keeps
    // that limit.
    VideoDownload = new CurlTransfer(address, RequestHeaders(), ChunkSize, this);
    VideoDownload->SetSink([this](const char* data, qint64 size) {
        return WriteVideoBytes(QByteArrayView(data, size));
    });
    connect(VideoDownload, &CurlTransfer::ResponseStarted, this, &Nabrix::VideoResponseStart);
    connect(VideoDownload, &CurlTransfer::ChunkWritten, this, &Nabrix::VideoChunkWritten);
    connect(VideoDownload, &CurlTransfer::Finished, this, &Nabrix::VideoFinished);
    VideoDownload->Start();
    VideoStall.start();
}

void Nabrix::TakeContentLength(const QByteArray& contentLength, const QByteArray& contentEncoding) {
    const std::optional<qint64> length = AnnouncedLength(contentLength);
    if (length && *length <= std::numeric_limits<qint32>::max())
        ContentLength = qint32(*length);
    else if (!length && IsCompressed(contentEncoding))
        // The length of a body compressed against our request is unknown, and the previous
        // response's length says nothing about it.
        ContentLength = 0;
}

void Nabrix::AddToBytesReceived(qint64 count) {
    const qint64 sum = qint64(BytesReceived) + count;
    if (sum <= std::numeric_limits<qint32>::max())
        BytesReceived = qint32(sum);
}

// --- The page ---

void Nabrix::PageResponseStart() {
    if (PageResponseStarted)
        return;
    PageResponseStarted = true;
    PageStall.start();
    const QString httpError =
        HttpErrorOf(VideoInfo->Status(), QString::fromLatin1(VideoInfo->ReasonPhrase()));
    if (!httpError.isEmpty()) {
        FailPage(httpError);
        return;
    }
    if (AnnouncedLength(VideoInfo->Header("Content-Length")).value_or(0) > MaxPageSize) {
        FailPage(PageTooLarge());
        return;
    }
    TakeContentLength(VideoInfo->Header("Content-Length"), VideoInfo->Header("Content-Encoding"));
    emit InfoProgress(0, ContentLength);
}

void Nabrix::PageChunkRead(qint64 count) {
    PageStall.start();
    AddToBytesReceived(count);
    emit DownloadProgress(BytesReceived, ContentLength);
}

void Nabrix::PageFinished() {
    PageStall.stop();
    PageDeadline.stop();
    if (!VideoInfo)
        return;
    if (PageOverflowed) {
        FailPage(PageTooLarge());
        return;
    }
    if (VideoInfo->Error() != QNetworkReply::NoError) {
        FailPage(ErrorText(VideoInfo));
        return;
    }
    if (VideoInfo->IsRedirect()) {
        FailPage(HttpErrorOf(VideoInfo->Status(), QString::fromLatin1(VideoInfo->ReasonPhrase())));
        return;
    }
    const QString page = PageText::DecodePage(PageBody, VideoInfo->Header("Content-Type"));
    PageBody.clear();
    Drop(VideoInfo, this);
    ReadVideoPage(page);
}

void Nabrix::PageTimedOut() {
    qCDebug(lcStall) << "the page stalled for" << PageStall.interval() << "ms";
    FailPage(TimedOut());
}

void Nabrix::PageTooSlow() {
    qCDebug(lcStall) << "the page missed its deadline of" << PageDeadline.interval() << "ms";
    FailPage(QStringLiteral("The video page did not arrive within %1 seconds. Try again later.")
                 .arg(PageDeadline.interval() / 1000));
}

QString Nabrix::PageTooLarge() const {
    return QStringLiteral("The page is larger than %1, so it is not a video page. Check the "
                          "address.")
        .arg(modNabrix::FormatByteSize(MaxPageSize));
}

void Nabrix::FailPage(const QString& description) {
    PageStall.stop();
    PageDeadline.stop();
    Drop(VideoInfo, this);
    PageBody.clear();
    emit InfoError(description);
}

void Nabrix::ReadVideoPage(const QString& page) {
    PageText::ReadTitle(page, Details);
    if (HandedFolder) {
        TargetFolder = *HandedFolder;
        FilePath = PageText::TargetFilePath(TargetFolder, Details.VideoTitle, AddressVideoId);
    }
    PageText::ReadDetails(page, Details);
    DownloadUrl = PageText::DownloadUrl(HostName, Details.PageVideoId, Details.PageToken);
    BytesReceived = 0;
    emit DownloadProgress(0, 1);
    emit VideoData(Details.VideoTitle, Details.VideoCat, Details.UserID, Details.UploadDate,
                   Details.ViewCount, Details.VideoDesc);
    DownloadVideo();
}

// --- The video ---

void Nabrix::VideoResponseStart() {
    if (VideoResponseStarted)
        return;
    VideoResponseStarted = true;
    VideoStall.start();
    const int status = VideoDownload->Status();
    const QString httpError =
        HttpErrorOf(status, QString::fromLatin1(VideoDownload->ReasonPhrase()));
    if (!httpError.isEmpty()) {
        FailVideo(status == 407 ? modNabrix::TransferErrorText(
                                      QNetworkReply::ProxyAuthenticationRequiredError,
                                      VideoDownload->Url(), true, httpError)
                                : httpError);
        return;
    }
    TakeContentLength(VideoDownload->Header("Content-Length"),
                      VideoDownload->Header("Content-Encoding"));
    emit DownloadProgress(BytesReceived, ContentLength);
}

bool Nabrix::WriteVideoBytes(QByteArrayView bytes) {
    // Called from inside the transfer: writes, and leaves the events to VideoChunkWritten.
    if (!FileNumber.isOpen() && !OpenVideoFile(VideoFileError))
        return false;
    return AppendChunk(bytes, VideoFileError);
}

void Nabrix::VideoChunkWritten(qint64 count) {
    VideoStall.start();
    AddToBytesReceived(count);
    emit DownloadProgress(BytesReceived, ContentLength);
}

void Nabrix::FollowVideoRedirect() {
    const Redirects::Hop hop =
        Redirects::Next(VideoDownload->Url(), VideoDownload->Header("Location"), RedirectsFollowed);
    qCDebug(lcRedirect) << VideoDownload->Url().toString() << "->" << hop.target.toString() << "hop"
                        << RedirectsFollowed + 1 << "refused" << int(hop.refusal);
    if (hop.refusal != Redirects::Hop::Refusal::None) {
        const auto error = hop.refusal == Redirects::Hop::Refusal::TooManyHops
                               ? QNetworkReply::TooManyRedirectsError
                               : QNetworkReply::InsecureRedirectError;
        FailVideo(modNabrix::TransferErrorText(error, VideoDownload->Url(),
                                               VideoDownload->ViaProxy(), QString()));
        return;
    }
    ++RedirectsFollowed;
    Drop(VideoDownload, this);
    SendVideoRequest(hop.target);
}

void Nabrix::VideoFinished() {
    VideoStall.stop();
    if (!VideoDownload)
        return;
    if (!VideoFileError.isEmpty()) {
        FailVideo(VideoFileError);
        return;
    }
    if (VideoDownload->Error() != QNetworkReply::NoError) {
        FailVideo(ErrorText(VideoDownload));
        return;
    }
    if (VideoDownload->IsRedirect()) {
        FollowVideoRedirect();
        return;
    }
    // Every answer that is not a redirect has started (VideoResponseStart) before it ends.
    // A success without a single byte: the file already there stays as it was.
    if (!FileNumber.isOpen()) {
        FailVideo(QStringLiteral("The server sent no data. Try again later."));
        return;
    }
    CloseVideoFile();
    BytesReceived = 0;
    Drop(VideoDownload, this);
    emit DownloadProgress(0, 1);
    emit DownloadComplete();
}

QString Nabrix::TimedOut() const {
    return QStringLiteral("The server sent nothing for %1 seconds. Try again later.")
        .arg(StallTimeoutMs / 1000);
}

void Nabrix::VideoTimedOut() {
    qCDebug(lcStall) << "the video stalled for" << VideoStall.interval() << "ms";
    FailVideo(TimedOut());
}

void Nabrix::FailVideo(const QString& description) {
    VideoStall.stop();
    // Stop the transfer first: nothing more may reach the file while the host reports.
    Drop(VideoDownload, this);
    const quint64 transfer = VideoTransferCount;
    BytesReceived = 0;
    emit DownloadError(description);
    if (transfer == VideoTransferCount)
        CloseVideoFile();
}

bool Nabrix::OpenVideoFile(QString& error) {
    // The name comes from the page: whatever it holds, only a ".flv" file directly in the
    // output folder is ever deleted or written.
    if (!PageText::IsTargetFilePath(TargetFolder, FilePath)) {
        error = QStringLiteral("The video's title does not make a usable file name");
        return false;
    }
    if (QFileInfo(FilePath).isFile())
        QFile::remove(FilePath);
    FileNumber.setFileName(FilePath);
    if (FileNumber.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return true;
    const int reason = errno;
    error = QStringLiteral("Cannot create %1: %2")
                .arg(QDir::toNativeSeparators(FilePath),
                     modNabrix::FileErrorText(reason, FileNumber.errorString()));
    return false;
}

bool Nabrix::AppendChunk(QByteArrayView chunk, QString& error) {
    if (!FileNumber.isOpen())
        return true;
    // A short write is retried: the retry that writes nothing carries the reason (disk full).
    qint64 written = 0;
    int reason = 0;
    while (written < chunk.size()) {
        const qint64 count = FileNumber.write(chunk.constData() + written, chunk.size() - written);
        if (count <= 0) {
            reason = errno;
            break;
        }
        written += count;
    }
    if (written == chunk.size())
        return true;
    error = QStringLiteral("Cannot write %1: %2")
                .arg(QDir::toNativeSeparators(FilePath),
                     modNabrix::FileErrorText(reason, FileNumber.errorString()));
    return false;
}

void Nabrix::CloseVideoFile() {
    if (FileNumber.isOpen())
        FileNumber.close();
}
