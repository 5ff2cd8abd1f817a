#include "HtmlView.h"

#include "Desktop.h"
#include "NetworkModule.h"

#include <QBuffer>
#include <QImageReader>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <utility>

namespace {
constexpr int kTransferTimeoutMs = 30000;

bool isWebAddress(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// Stands in for an image that has not arrived (or never will): nothing is drawn, as the
// page's own width and height keep its place.
QImage emptyImage() {
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QString decodePage(const QByteArray& body, const QString& contentType) {
    static const QRegularExpression charsetPattern(
        QStringLiteral("charset\\s*=\\s*[\"']?([A-Za-z0-9._:-]+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch declared = charsetPattern.match(contentType);
    if (declared.hasMatch()) {
        QStringDecoder decoder(declared.captured(1).toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    const auto sniffed = QStringConverter::encodingForHtml(body);
    QStringDecoder decoder(sniffed.value_or(QStringConverter::Latin1));
    return decoder.decode(body);
}

// The value of a numeric attribute of the page's <body> tag, or -1.
int bodyNumber(const QString& bodyTag, const QString& attribute) {
    // Most pages set none of these; compiling a pattern for each costs more than the page.
    if (!bodyTag.contains(attribute, Qt::CaseInsensitive))
        return -1;
    const QRegularExpression pattern(QStringLiteral("\\b%1\\s*=\\s*[\"']?(\\d+)").arg(attribute),
                                     QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(bodyTag);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}
} // namespace

HtmlView::HtmlView(QWidget* parent) : QTextBrowser(parent) {
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTextBrowser::anchorClicked, this, &HtmlView::openLink);
}

HtmlView::~HtmlView() {
    abortPending();
}

void HtmlView::Navigate(const QString& address) {
    ++navigation_;
    abortPending();
    heldPage_.clear();
    requestedImages_.clear();
    imageNames_.clear();
    images_.clear();
    pictureBytes_ = 0;
    location_ = address;
    if (address.startsWith(QLatin1String("about:"), Qt::CaseInsensitive)) {
        const QString html = address.mid(6);
        if (html.compare(QLatin1String("blank"), Qt::CaseInsensitive) == 0)
            showBlank();
        else
            showHtml(html, QUrl());
        fetchImagesOfDocument();
        completeWhenIdle();
        return;
    }
    const QUrl url(address.trimmed(), QUrl::TolerantMode);
    if (!url.isValid() || url.scheme().isEmpty()) {
        showBlank();
        completeWhenIdle();
        return;
    }
    // The old page stays until the new one is here, as in any browser.
    if (holding_)
        heldPage_ = url;
    else
        fetchPage(url);
}

void HtmlView::ReleaseRequests() {
    holding_ = false;
    if (heldPage_.isValid())
        fetchPage(std::exchange(heldPage_, QUrl()));
}

void HtmlView::showBlank() {
    remotePage_ = false;
    base_ = QUrl();
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    clear();
}

void HtmlView::showHtml(const QString& html, const QUrl& base) {
    base_ = base;
    remotePage_ = base.isValid();
    applyBodyAttributes(html);
    document()->setBaseUrl(base);
    setHtml(html);
}

void HtmlView::applyBodyAttributes(const QString& html) {
    static const QRegularExpression bodyPattern(QStringLiteral("<body\\b[^>]*>"),
                                                QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression noScroll(QStringLiteral("\\bscroll\\s*=\\s*[\"']?no\\b"),
                                             QRegularExpression::CaseInsensitiveOption);
    const QString bodyTag = bodyPattern.match(html).captured(0);
    const Qt::ScrollBarPolicy scrolling =
        noScroll.match(bodyTag).hasMatch() ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    setVerticalScrollBarPolicy(scrolling);
    setHorizontalScrollBarPolicy(scrolling);
    // The document has one margin for all sides; the page's top margin stands for it.
    int margin = bodyNumber(bodyTag, QStringLiteral("topmargin"));
    if (margin < 0)
        margin = bodyNumber(bodyTag, QStringLiteral("marginheight"));
    if (margin < 0)
        margin = bodyNumber(bodyTag, QStringLiteral("leftmargin"));
    document()->setDocumentMargin(margin < 0 ? 4 : margin);
}

void HtmlView::startRequest(const QUrl& url,
                            std::function<void(const NetworkServices::WebAnswer&)> arrived) {
    const quint64 request = ++lastRequest_;
    const quint64 navigation = navigation_;
    auto arrival = [this, request, navigation,
                    arrived = std::move(arrived)](const NetworkServices::WebAnswer& answer) {
        // Taken out first: the request goes once the answer has been read.
        const auto done = pending_.extract(request);
        if (navigation == navigation_)
            arrived(answer);
    };
    // The network module is loaded with a view's first web address, not with the view: a view
    // that only ever shows "about:" text needs no network.
    NetworkServices* network = NetworkModule::Services();
    if (!network) {
        // Fails as an unreachable address does, from the event loop.
        pending_.emplace(request, nullptr);
        QTimer::singleShot(0, this, [arrival] { arrival(NetworkServices::WebAnswer()); });
        return;
    }
    pending_.emplace(request,
                     network->Get(this, url, kMaxDownloadBytes, kTransferTimeoutMs, arrival));
}

void HtmlView::fetchPage(const QUrl& url) {
    startRequest(url, [this](const NetworkServices::WebAnswer& answer) { pageArrived(answer); });
}

void HtmlView::fetchImage(const QUrl& url) {
    if (requestedImages_.contains(url))
        return;
    requestedImages_.insert(url);
    startRequest(
        url, [this, url](const NetworkServices::WebAnswer& answer) { imageArrived(url, answer); });
}

void HtmlView::fetchImagesOfDocument() {
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (!format.isImageFormat())
                continue;
            const QString name = format.toImageFormat().name();
            const QUrl url = base_.resolved(QUrl(name));
            if (!isWebAddress(url))
                continue;
            imageNames_[url].insert(name);
            fetchImage(url);
        }
    }
}

void HtmlView::pageArrived(const NetworkServices::WebAnswer& answer) {
    if (!answer.whole) {
        showBlank();
        completeWhenIdle();
        return;
    }
    const QUrl& pageUrl = answer.url;
    const QString& contentType = answer.contentType;
    const QByteArray& body = answer.body;
    if (contentType.startsWith(QLatin1String("image/"), Qt::CaseInsensitive)) {
        // An image address shows the image alone.
        images_.insert(pageUrl, decodePicture(body));
        showHtml(QStringLiteral("<img src=\"%1\">").arg(pageUrl.toString().toHtmlEscaped()),
                 pageUrl);
    } else if (contentType.startsWith(QLatin1String("text/plain"), Qt::CaseInsensitive)) {
        showHtml(QString(), pageUrl);
        setPlainText(decodePage(body, contentType));
    } else {
        showHtml(decodePage(body, contentType), pageUrl);
        fetchImagesOfDocument();
    }
    completeWhenIdle();
}

void HtmlView::imageArrived(const QUrl& url, const NetworkServices::WebAnswer& answer) {
    const QImage image = answer.ok ? decodePicture(answer.body) : QImage();
    if (!image.isNull()) {
        images_.insert(url, image);
        // The document keeps what it was first given for a name; hand it the real image
        // under every name it knows it by, then lay the page out again.
        document()->addResource(QTextDocument::ImageResource, url, image);
        for (const QString& name : imageNames_.value(url))
            document()->addResource(QTextDocument::ImageResource, QUrl(name), image);
        document()->markContentsDirty(0, document()->characterCount());
        viewport()->update();
    }
    completeWhenIdle();
}

QImage HtmlView::decodePicture(const QByteArray& bytes) {
    // A small file can hold a huge picture: its size is read from the header before decoding.
    const qint64 left = kMaxPictureBytes - pictureBytes_;
    constexpr qint64 kMegabyte = 1024 * 1024;
    if (left < kMegabyte)
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    if (size.isValid() && qint64(size.width()) * size.height() * 4 > left)
        return QImage();
    // Formats that do not tell their size beforehand stop at what is left.
    reader.setAllocationLimit(int(left / kMegabyte));
    const QImage image = reader.read();
    pictureBytes_ += image.sizeInBytes();
    return image;
}

void HtmlView::completeWhenIdle() {
    if (IsBusy())
        return;
    const quint64 navigation = navigation_;
    QTimer::singleShot(0, this, [this, navigation] {
        if (navigation == navigation_ && !IsBusy())
            emit DocumentComplete();
    });
}

void HtmlView::abortPending() {
    // Destroying a request abandons it.
    pending_.clear();
}

QVariant HtmlView::loadResource(int type, const QUrl& name) {
    const QUrl url = base_.resolved(name);
    if (type == QTextDocument::ImageResource) {
        const auto found = images_.constFind(url);
        if (found != images_.constEnd())
            return *found;
        if (isWebAddress(url)) {
            imageNames_[url].insert(name.toString());
            fetchImage(url);
            return emptyImage();
        }
        // A page from the web gets nothing from this computer.
        if (remotePage_)
            return emptyImage();
    }
    if (remotePage_ || isWebAddress(url))
        return QVariant();
    return QTextBrowser::loadResource(type, name);
}

void HtmlView::openLink(const QUrl& link) {
    const QUrl target = base_.resolved(link);
    if (isWebAddress(target))
        Desktop::instance().openUrl(target);
}
