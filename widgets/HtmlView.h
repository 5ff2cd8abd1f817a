#pragma once
#include "NetworkServices.h"

#include <QHash>
#include <QImage>
#include <QSet>
#include <QTextBrowser>
#include <QUrl>
#include <map>
#include <memory>

// An embedded HTML view without a script engine. Navigate takes either an "about:" address,
// whose text after "about:" is shown as HTML, or a web address, which is loaded
// asynchronously; the images a page refers to by web address are fetched afterwards and shown
// as they arrive. A page that cannot be reached leaves the view blank. A newer Navigate
// supersedes whatever is still loading. Network access (NetworkModule) uses the system's proxy
// settings (http_proxy, no_proxy).
class HtmlView : public QTextBrowser {
    Q_OBJECT
public:
    explicit HtmlView(QWidget* parent = nullptr);
    ~HtmlView() override;

    void Navigate(const QString& address);
    QString LocationURL() const { return location_; }
    // True while the page or one of its images is still on its way.
    bool IsBusy() const { return !pending_.empty() || heldPage_.isValid(); }

    // While requests are held, Navigate to a web address takes the address (LocationURL) at
    // once but sends its request only on ReleaseRequests. A window uses this to keep network
    // set-up out of the way of its first paint. "about:" pages show at once either way.
    void HoldRequests() { holding_ = true; }
    void ReleaseRequests();

    // Largest page or image accepted; anything bigger is dropped.
    static constexpr qint64 kMaxDownloadBytes = 8 * 1024 * 1024;
    // Most memory the decoded pictures of one page take together; a picture that would go
    // beyond it is left out, as one that never arrived.
    static constexpr qint64 kMaxPictureBytes = 16 * 1024 * 1024;

signals:
    // The page and the images it asked for have arrived (or failed). Emitted once per
    // Navigate, from the event loop, unless a newer Navigate came first.
    void DocumentComplete();

protected:
    QVariant loadResource(int type, const QUrl& name) override;

private:
    void showHtml(const QString& html, const QUrl& base);
    void showBlank();
    void applyBodyAttributes(const QString& html);
    void fetchPage(const QUrl& url);
    void fetchImagesOfDocument();
    void fetchImage(const QUrl& url);
    // Sends the request; `arrived` runs for it unless a newer Navigate came first.
    void startRequest(const QUrl& url,
                      std::function<void(const NetworkServices::WebAnswer&)> arrived);
    void pageArrived(const NetworkServices::WebAnswer& answer);
    void imageArrived(const QUrl& url, const NetworkServices::WebAnswer& answer);
    // The picture, when it fits into what is left of the page's picture memory.
    QImage decodePicture(const QByteArray& bytes);
    void completeWhenIdle();
    void abortPending();
    void openLink(const QUrl& link);
    QString location_;
    bool holding_ = false;
    QUrl heldPage_;
    QUrl base_;
    bool remotePage_ = false;
    quint64 navigation_ = 0;
    // The requests on their way, by number; a request leaves when it has arrived.
    std::map<quint64, std::unique_ptr<NetworkServices::WebRequest>> pending_;
    quint64 lastRequest_ = 0;
    QSet<QUrl> requestedImages_;
    // The names the document uses for each fetched image, for handing the image back to it.
    QHash<QUrl, QSet<QString>> imageNames_;
    QHash<QUrl, QImage> images_;
    qint64 pictureBytes_ = 0;
};
