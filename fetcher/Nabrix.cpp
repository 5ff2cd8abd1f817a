#include "Nabrix.h"

#include "FinishedFile.h"
#include "HandedIn.h"
#include "PageReading.h"
#include "PartFile.h"
#include "RegEdit.h"
#include "Retries.h"
#include "SavedSettings.h"
#include "Transfer.h"
#include "modNabrix.h"

#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Off unless QT_LOGGING_RULES switches it on ("vantelo.fetcher.*.debug=true").
Q_LOGGING_CATEGORY(lcStall, "vantelo.fetcher.stall", QtWarningMsg)

// "404 Not Found" for a final answer other than success (2xx); empty text for a success.
QString HttpErrorOf(int status, const QString& reasonPhrase) {
    if (status >= 200 && status < 300)
        return QString();
    const QString reason = reasonPhrase.trimmed();
    return reason.isEmpty() ? QString::number(status) : QString::number(status) + ' ' + reason;
}

// The request headers, in the order sent. The body is asked for as stored: the length the
// server announces is then the length counted and written, byte for byte, and the file holds
// the response body itself.
const Http::Headers& RequestHeaders() {
    static const Http::Headers headers = {
        {"Accept-Language", "en-us"},
        {"User-Agent", "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 5.1)"},
        {"Accept", "*/*"},
        {"Accept-Encoding", "identity"},
    };
    return headers;
}

// Our request headers with those the stream's server wants in their place (yt-dlp's
// User-Agent, Referer, Cookie).
Http::Headers WithStreamHeaders(const Http::Headers& ours, const Http::Headers& stream) {
    Http::Headers headers;
    for (const auto& header : ours)
        if (std::none_of(stream.begin(), stream.end(), [&header](const auto& wanted) {
                return wanted.first.compare(header.first, Qt::CaseInsensitive) == 0;
            }))
            headers.append(header);
    return headers + stream;
}

// "Cannot <action> <file>: <why>", the reason in plain words where there are some.
QString FileFailure(const char* action, const QString& path, int reason) {
    return QStringLiteral("Cannot %1 %2: %3")
        .arg(QLatin1String(action), QDir::toNativeSeparators(path),
             modNabrix::FileErrorText(reason, QString::fromLocal8Bit(std::strerror(reason))));
}

// Stops a request for good: none of its events arrive any more.
void Drop(QPointer<Transfer>& transfer, QObject* receiver) {
    if (!transfer)
        return;
    Transfer* dropped = transfer;
    transfer = nullptr;
    QObject::disconnect(dropped, nullptr, receiver, nullptr);
    dropped->Abort();
    dropped->deleteLater();
}

} // namespace

Nabrix::Nabrix(QObject* parent) : QObject(parent), Reading(new PageReading(this)) {
    connect(Reading, &PageReading::PageStarted, this, &Nabrix::TodaysPageStarted);
    connect(Reading, &PageReading::PageProgress, this,
            [this](qint64 received) { emit DownloadProgress(received, ContentLength); });
    connect(Reading, &PageReading::Offered, this, &Nabrix::TakeOffer);
    connect(Reading, &PageReading::Failed, this, [this](const QString& text) {
        PageDeadline.stop();
        if (!PlainAddress.isEmpty() && Reading->PageUnreachable()) {
            ReadTodaysPage(std::exchange(PlainAddress, QString()));
            return;
        }
        PlainAddress.clear();
        emit InfoError(text);
    });
    PageDeadline.setSingleShot(true);
    PageDeadline.setInterval(60000);
    connect(&PageDeadline, &QTimer::timeout, this, &Nabrix::PageTooSlow);
}

Nabrix::~Nabrix() {
    CancelOffer();
    Drop(VideoInfo, this);
    Drop(VideoDownload, this);
    CloseVideoFile();
}

void Nabrix::setPageDeadline(int milliseconds) {
    PageDeadline.setInterval(milliseconds);
}

void Nabrix::ClearDownload() {
    Reading->Cancel();
    CancelOffer();
    Drop(VideoDownload, this);
    CloseVideoFile();
}

void Nabrix::GetVideoInfo(const QString& VideoUrl) {
    QString address = PageText::RepairDoubledScheme(VideoUrl);
    Reading->Cancel();
    PlainAddress.clear();
    // An address typed without its scheme is read as browsers read it: https, else http once.
    // The service's 2008 pages keep their own rule (the failed request is reported).
    if (const QStringList guesses = HandedIn::SchemeGuesses(address);
        !guesses.isEmpty() && !PageText::IsVideoServiceAddress(address)) {
        address = guesses.first();
        PlainAddress = guesses.last();
    }
    TodaysPage = !PageText::IsVideoPageAddress(address);
    if (!PageText::IsVideoPageAddress(address)) {
        // The service's own addresses are only read as its video pages.
        if (address.isEmpty() || PageText::IsVideoServiceAddress(address))
            emit InvalidUrl();
        else
            ReadTodaysPage(address);
        return;
    }
    if (const auto host = PageText::HostName(address))
        HostName = *host;
    emit PhaseStarted(Phase::Page);
    AddressVideoId = PageText::AddressVideoId(address);
    emit PreviewNavigate(PageText::BlankPreview());
    emit PreviewNavigate(PageText::ThumbnailPreview(AddressVideoId));
    emit PreviewPaneShow();

    Drop(VideoInfo, this);
    PageBody.clear();
    PageResponseStarted = false;
    PageOverflowed = false;
    // The page's redirect answers are not followed: they fail as any answer but a success.
    Transfer::Request request;
    request.url = QUrl(address);
    request.headers = RequestHeaders();
    request.bufferSize = ChunkSize;
    VideoInfo = new Transfer(request, this);
    VideoInfo->setStallTimeout(StallTimeoutMs);
    VideoInfo->SetSink([this](const char* data, qint64 size) {
        // Called from inside the transfer: collects, and leaves the events to PageChunkRead.
        PageOverflowed = PageBody.size() + size > MaxPageSize;
        if (!PageOverflowed)
            PageBody.append(data, size);
        return !PageOverflowed;
    });
    connect(VideoInfo, &Transfer::ResponseStarted, this, &Nabrix::PageResponseStart);
    connect(VideoInfo, &Transfer::Written, this, &Nabrix::PageChunkRead);
    connect(VideoInfo, &Transfer::Finished, this, &Nabrix::PageFinished);
    VideoInfo->Start();
    PageDeadline.start();
}

void Nabrix::DownloadVideo() {
    // A transfer still running is replaced together with its file.
    Drop(VideoDownload, this);
    CloseVideoFile();
    ++VideoTransferCount;
    emit PhaseStarted(Phase::Video);
    BodyStartOffset = -1;
    VideoBytesWritten = false;
    VideoFileError.clear();
    PartPath = PartFile::PathFor(FilePath);
    SavedFilePath.clear();

    // The stream goes from the socket into the file through one buffer of a chunk, on this
    // thread; redirects are followed one request per hop, so every hop keeps that limit.
    Transfer::Request request;
    request.url = QUrl(DownloadUrl);
    request.headers = WithStreamHeaders(RequestHeaders(), OfferHeaders);
    request.bufferSize = ChunkSize;
    request.followRedirects = true;
    request.maxRetries = Retries::MaxRetries;
    // A .part left by an earlier attempt is held from here on, so no other download writes it
    // meanwhile. It is continued when it is this video's and the server still has the same
    // file (If-Range); one of another video of the same title, or one without a note, is
    // started over. One that another download holds, that has other names, or that is no plain
    // file (a link) is not taken (OpenVideoFile writes a fresh file beside it).
    if (const int fd = PageText::IsTargetFilePath(TargetFolder, FilePath, TargetExtension)
                           ? PartFile::OpenExisting(PartPath)
                           : -1;
        fd >= 0 && FileNumber.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                   QFileDevice::AutoCloseHandle)) {
        const PartFile::Leftover leftover = PartFile::Inspect(fd);
        if (leftover.note && !Details.PageVideoId.isEmpty() &&
            leftover.note->videoId == Details.PageVideoId.toUtf8()) {
            request.resumeFrom = leftover.size;
            request.resumeTotal = leftover.note->total;
            request.resumeValidator = leftover.note->validator;
        }
    }
    VideoDownload = new Transfer(request, this);
    VideoDownload->setStallTimeout(StallTimeoutMs);
    VideoDownload->setRetryWait(RetryWaitMs);
    VideoDownload->SetSink([this](const char* data, qint64 size) {
        return WriteVideoBytes(QByteArrayView(data, size));
    });
    // The target file is opened with the first bytes of a success answer (WriteVideoBytes), so
    // an answer without the video never touches it.
    VideoDownload->SetBodyStart([this](qint64 offset) { BodyStartOffset = offset; });
    connect(VideoDownload, &Transfer::ResponseStarted, this, &Nabrix::VideoResponseStart);
    connect(VideoDownload, &Transfer::Written, this, &Nabrix::VideoChunkWritten);
    connect(VideoDownload, &Transfer::RetryWaiting, this, &Nabrix::RetryWaiting);
    connect(VideoDownload, &Transfer::Finished, this, &Nabrix::VideoFinished);
    VideoDownload->Start();
}

void Nabrix::TakeContentLength(const Transfer* transfer) {
    if (transfer->Length() >= 0)
        ContentLength = transfer->Length();
    else if (transfer->LengthInvalid() || Http::IsCompressed(transfer->Header("Content-Encoding")))
        // A length that is no count, or that of a body compressed against our request, is
        // unknown; the previous response's length says nothing about it.
        ContentLength = 0;
}

QString Nabrix::ErrorText(const Transfer* transfer) const {
    const TransferResult result = transfer->Result();
    if (result.failure == TransferResult::Failure::TimedOut)
        return TimedOut();
    return result.Words(transfer->Url());
}

// --- The page ---

void Nabrix::PageResponseStart() {
    if (PageResponseStarted)
        return;
    PageResponseStarted = true;
    const QString httpError =
        HttpErrorOf(VideoInfo->Status(), QString::fromLatin1(VideoInfo->ReasonPhrase()));
    if (!httpError.isEmpty()) {
        FailPage(httpError);
        return;
    }
    if (VideoInfo->Length() > MaxPageSize) {
        FailPage(PageTooLarge());
        return;
    }
    TakeContentLength(VideoInfo);
    emit InfoProgress(0, ContentLength);
}

void Nabrix::PageChunkRead(qint64 received) {
    emit DownloadProgress(received, ContentLength);
}

void Nabrix::PageFinished() {
    PageDeadline.stop();
    if (!VideoInfo)
        return;
    if (PageOverflowed) {
        FailPage(PageTooLarge());
        return;
    }
    if (!VideoInfo->Result().Whole()) {
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

void Nabrix::PageTooSlow() {
    if (!VideoInfo && !Reading->IsRunning())
        return;
    qCDebug(lcStall) << "the page missed its deadline of" << PageDeadline.interval() << "ms";
    // A page of today ends with whatever it still waits for: a player page, a playlist, yt-dlp.
    Reading->Cancel();
    FailPage(QStringLiteral("The video page did not arrive within %1 seconds. Try again later.")
                 .arg(PageDeadline.interval() / 1000));
}

QString Nabrix::PageTooLarge() const {
    return QStringLiteral("The page is larger than %1, so it is not a video page. Check the "
                          "address.")
        .arg(modNabrix::FormatByteSize(MaxPageSize));
}

void Nabrix::FailPage(const QString& description) {
    PageDeadline.stop();
    Drop(VideoInfo, this);
    PageBody.clear();
    emit InfoError(description);
}

void Nabrix::ReadVideoPage(const QString& page) {
    PageText::ReadTitle(page, Details);
    TargetExtension = QStringLiteral("flv");
    OfferHeaders.clear();
    if (HandedFolder) {
        TargetFolder = *HandedFolder;
        FilePath = PageText::TargetFilePath(TargetFolder, Details.VideoTitle, AddressVideoId);
    }
    PageText::ReadDetails(page, Details);
    DownloadUrl = PageText::DownloadUrl(HostName, Details.PageVideoId, Details.PageToken);
    emit DownloadProgress(0, 1);
    emit VideoData(Details.VideoTitle, Details.VideoCat, Details.UserID, Details.UploadDate,
                   Details.ViewCount, Details.VideoDesc);
    DownloadVideo();
}

// --- The video ---

void Nabrix::VideoResponseStart() {
    const int status = VideoDownload->Status();
    const QString httpError =
        HttpErrorOf(status, QString::fromLatin1(VideoDownload->ReasonPhrase()));
    if (!httpError.isEmpty()) {
        const TransferResult proxyRefused{
            status, TransferResult::Failure::ProxyAuthenticationRequired, true, httpError};
        FailVideo(status == 407 ? proxyRefused.Words(VideoDownload->Url()) : httpError);
        return;
    }
    TakeContentLength(VideoDownload);
    emit DownloadProgress(0, ContentLength);
}

bool Nabrix::WriteVideoBytes(QByteArrayView bytes) {
    // Called from inside the transfer: writes, and leaves the events to VideoChunkWritten.
    if (!FileNumber.isOpen() && !OpenVideoFile(VideoFileError))
        return false;
    if (BodyStartOffset >= 0 && !StartBodyAt(BodyStartOffset, VideoFileError))
        return false;
    VideoBytesWritten = true;
    return AppendChunk(bytes, VideoFileError);
}

void Nabrix::VideoChunkWritten(qint64 received) {
    // Across tries the count carries on; a file that changed on the server starts over.
    TakeContentLength(VideoDownload);
    emit DownloadProgress(received, ContentLength);
}

void Nabrix::VideoFinished() {
    if (!VideoDownload)
        return;
    if (!VideoFileError.isEmpty()) {
        FailVideo(VideoFileError);
        return;
    }
    if (!VideoDownload->Result().Whole()) {
        FailVideo(ErrorText(VideoDownload));
        return;
    }
    // A try after a break that the server refused.
    const QString httpError =
        HttpErrorOf(VideoDownload->Status(), QString::fromLatin1(VideoDownload->ReasonPhrase()));
    if (!httpError.isEmpty()) {
        FailVideo(httpError);
        return;
    }
    // A success without a single byte: the file already there stays as it was.
    if (!VideoBytesWritten) {
        FailVideo(QStringLiteral("The server sent no data. Try again later."));
        return;
    }
    // The note is for continuing the .part; the finished file keeps only the video it holds,
    // so that only this video downloaded again replaces it. The file is held until it has its
    // name, and only the file written takes it.
    const int fd = int(FileNumber.handle());
    const QByteArray video = Details.PageVideoId.toUtf8();
    PartFile::WriteMark(fd, video);
    const FinishedFile::Placed placed =
        FinishedFile::OpenFileIntoPlace(fd, PartPath, FilePath, PartFile::IsSameVideo(video));
    CloseVideoFile();
    if (placed.path.isEmpty()) {
        FailVideo(
            FileFailure("finish", placed.error == ESTALE ? PartPath : FilePath, placed.error));
        return;
    }
    SavedFilePath = placed.path;
    Drop(VideoDownload, this);
    emit DownloadProgress(0, 1);
    emit DownloadComplete();
}

QString Nabrix::TimedOut() const {
    return QStringLiteral("The server sent nothing for %1 seconds. Try again later.")
        .arg(StallTimeoutMs / 1000);
}

void Nabrix::FailVideo(const QString& description) {
    // Stop the transfer first: nothing more may reach the file while the host reports.
    Drop(VideoDownload, this);
    const quint64 transfer = VideoTransferCount;
    emit DownloadError(description);
    if (transfer == VideoTransferCount)
        CloseVideoFile();
}

bool Nabrix::OpenVideoFile(QString& error) {
    // The name comes from the page: whatever it holds, only a ".flv.part" file directly in the
    // output folder is ever written, and never through a link.
    if (!PageText::IsTargetFilePath(TargetFolder, FilePath, TargetExtension)) {
        error = QStringLiteral("The video's title does not make a usable file name");
        return false;
    }
    int fd = PartFile::OpenForWriting(PartPath);
    if (fd < 0 && PartFile::IsLeftAlone(errno))
        fd = PartFile::CreateBeside(PartPath);
    const int reason = errno;
    if (fd >= 0 && FileNumber.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                   QFileDevice::AutoCloseHandle))
        return true;
    error = FileFailure("create", PartPath, reason);
    return false;
}

bool Nabrix::StartBodyAt(qint64 offset, QString& error) {
    // What lies past the offset is not this answer's: a .part from another file, or the rest
    // of a try that broke off.
    BodyStartOffset = -1;
    if (FileNumber.resize(offset) && FileNumber.seek(offset)) {
        if (offset == 0)
            PartFile::WriteNote(int(FileNumber.handle()),
                                {Details.PageVideoId.toUtf8(), VideoDownload->Length(),
                                 VideoDownload->Validator()});
        return true;
    }
    const int reason = errno;
    error = FileFailure("write", PartPath, reason);
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
    error = FileFailure("write", PartPath, reason);
    return false;
}

void Nabrix::CloseVideoFile() {
    if (FileNumber.isOpen())
        FileNumber.close();
}

// --- Pages of today ---

void Nabrix::ReadTodaysPage(const QString& address) {
    TodaysPage = true;
    PageDeadline.stop();
    Drop(VideoInfo, this);
    const QUrl page(address.trimmed());
    if (!PageReading::IsWebAddress(page)) {
        emit InfoError(PageReading::NotWebAddressText(address));
        return;
    }
    Offer = MediaOffer();
    ContentLength = 0;
    emit PhaseStarted(Phase::Page);
    emit PreviewNavigate(PageText::BlankPreview());
    emit PreviewPaneShow();
    Reading->SetStallTimeout(StallTimeoutMs);
    // One deadline for all the reads of the page: a page that trickles in forever never
    // stalls.
    PageDeadline.start();
    Reading->Start(page, MaxHeight);
}

void Nabrix::TodaysPageStarted(qint64 length) {
    ContentLength = std::max<qint64>(length, 0);
    emit InfoProgress(0, ContentLength);
}

void Nabrix::TakeOffer(const MediaOffer& offer) {
    PageDeadline.stop();
    Offer = Titled(offer);
    Details = Offer.details;
    emit DownloadProgress(0, 1);
    emit VideoData(Details.VideoTitle, Details.VideoCat, Details.UserID, Details.UploadDate,
                   Details.ViewCount, Details.VideoDesc);
    if (!offer.thumbnail.isEmpty())
        emit PreviewNavigate(PageText::ImagePreview(offer.thumbnail.toString(QUrl::FullyEncoded)));
    DownloadOffer(Offer);
}
