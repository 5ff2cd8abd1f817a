#pragma once
#include "MediaCandidate.h"
#include "MediaOffer.h"
#include "YtDlpInfo.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <optional>

class Transfer;
class YtDlpRunner;

// Reads a page of today for the video it offers. Our own reader fetches the page (or finds that
// the address is a stream itself), reads it by the open standards, follows the pages of embedded
// players and the page's frames, and reads the HLS playlist or DASH manifest it names. yt-dlp, when
// it is installed, reads the same page side by side. The answer is settled thus: a site reader of
// yt-dlp's wins; otherwise ours, as soon as it has found something or refused the stream it found
// (live, DRM); yt-dlp's generic answer only when ours found nothing. Whatever still runs then is
// ended.
//
// Each reading ends in exactly one of Offered and Failed, unless it is cancelled.
class PageReading : public QObject {
    Q_OBJECT
public:
    explicit PageReading(QObject* parent = nullptr);
    ~PageReading() override;

    // Reads `page` (an http or https address); `maxHeight` bounds the default choice (0: any).
    void Start(const QUrl& page, int maxHeight);
    // Ends our requests and yt-dlp at once; no signal follows.
    void Cancel();
    bool IsRunning() const { return running_; }
    // Whether the last reading failed because the page's own address could not be connected
    // to (no answer at all), as when a site speaks only http.
    bool PageUnreachable() const { return unreachable_; }
    // A request that receives nothing for this long fails (30 seconds unless set).
    void SetStallTimeout(int milliseconds) { stallMs_ = milliseconds; }
    // The process group of yt-dlp while it reads; 0 when none runs.
    qint64 YtDlpGroup() const;

    // Only http and https addresses with a host are read.
    static bool IsWebAddress(const QUrl& address);
    // Why an address typed by the user is not read at all.
    static QString NotWebAddressText(const QString& address);
    static QString NoVideoText(const QUrl& page, bool ytDlpMissing);
    static QString BlobText(const QUrl& page);

    // What yt-dlp's answer offers, best first, with the default choice within maxHeight.
    static MediaOffer OfferOf(const YtDlpInfo& info, const QUrl& page, int maxHeight);
    // The tracks of a playlist or manifest read at `address`, best first, with the default
    // choice within maxHeight.
    static QList<MediaStream> StreamsOf(const Streams::Plan& plan, const QUrl& address,
                                        MediaStream::Via via, int maxHeight, int& video,
                                        int& audio);

signals:
    // The page the user gave has answered (its length, -1 when unknown), and how much of it
    // has arrived.
    void PageStarted(qint64 length);
    void PageProgress(qint64 received);
    void Offered(const MediaOffer& offer);
    void Failed(const QString& text);

private:
    enum class Fetching { Page, Manifest };
    struct Pending {
        QUrl address;
        int level = 0;
    };
    enum class YtDlpState { Running, Site, Generic, Failed, Unavailable };

    void NextPage();
    void Fetch(const QUrl& address, Fetching what);
    void Answered();
    void Arrived(qint64 received);
    void Done();
    // The words of a request that got no whole answer; notes an unreachable page.
    QString Unanswered(const Transfer* finished);
    void FetchFailed(const QString& text);
    void ReadPage(const QByteArray& body, const QUrl& address, const QByteArray& contentType);
    void TakeCandidates(const QList<MediaCandidate>& candidates);
    void ReadManifest(const QByteArray& body, const QUrl& address, MediaSniff::StreamKind kind);
    void TakeFile(const QUrl& address, const MediaSniff::Media& media);
    MediaOffer OurOffer() const;

    void OursFound(const MediaOffer& offer);
    void OursFoundNothing(const QString& why);
    void YtDlpRead(const YtDlpInfo& info);
    void YtDlpFailed(const QString& text);
    void YtDlpUnavailable();
    void Settle();
    void Finish();
    void DropTransfer();
    void StartYtDlp();

    // yt-dlp starts this long after our reader, so that a page our reader reads at once is not
    // slowed by starting it; when ours finds nothing sooner, it starts then.
    static constexpr int YtDlpHeadStartMs = 150;
    YtDlpRunner* runner_ = nullptr;
    QTimer ytDlpStart_;
    bool ytDlpStarted_ = false;
    bool running_ = false;
    bool unreachable_ = false;
    QUrl page_;
    int maxHeight_ = 0;
    int stallMs_ = 30000;

    // Our reader.
    QList<Pending> queue_;
    QSet<QUrl> visited_;
    int reads_ = 0;
    int level_ = 0;
    bool firstPage_ = false;
    QPointer<Transfer> transfer_;
    Fetching fetching_ = Fetching::Page;
    MediaSniff::StreamKind manifestKind_ = MediaSniff::StreamKind::None;
    QByteArray body_;
    bool overflowed_ = false;
    bool sniffed_ = false;
    // A single file the page offers, kept while a manifest it also names is read.
    std::optional<MediaCandidate> fileCandidate_;
    // Every file the page offers, best first: all are listed, the height limit picks one.
    QList<MediaCandidate> fileCandidates_;
    bool blobSeen_ = false;
    PageText::VideoPage details_;
    QUrl thumbnail_;
    int durationSeconds_ = 0;
    QUrl pageRead_;
    bool oursDone_ = false;
    // Ours found the stream and refused it (live, DRM): that is its answer, not "nothing".
    bool oursRefused_ = false;
    std::optional<MediaOffer> ours_;
    QString oursFailure_;

    // yt-dlp's.
    YtDlpState ytDlp_ = YtDlpState::Running;
    MediaOffer ytDlpOffer_;
    QString ytDlpFailure_;
};
