// The decision rules of the browser page pickup, against a stand-in browser.
#include "BrowserPickup.h"
#include <QtTest>
#include <condition_variable>
#include <mutex>
#include <stdexcept>

namespace {

// A browser that shows one page; it remembers whether the page address was asked for.
class StandInBrowser : public BrowserSource {
public:
    StandInBrowser(QString title, QString url) : title_(std::move(title)), url_(std::move(url)) {}
    QString FirstWindowTitle() override { return title_; }
    QString ShownPageUrl(const QString& pageTitle) override {
        askedTitle = pageTitle;
        urlAsked = true;
        return url_;
    }
    bool urlAsked = false;
    QString askedTitle;

private:
    QString title_;
    QString url_;
};

// A browser that does not answer until released, like one on a hung display server.
class HungBrowser : public BrowserSource {
public:
    QString FirstWindowTitle() override {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait(lock, [this] { return release_; });
        return QStringLiteral("YouTube - late");
    }
    QString ShownPageUrl(const QString&) override { return QStringLiteral("http://late/"); }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        release_ = true;
        released_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool release_ = false;
};

class FailingBrowser : public BrowserSource {
public:
    QString FirstWindowTitle() override { return QStringLiteral("YouTube - clip"); }
    QString ShownPageUrl(const QString&) override { throw std::runtime_error("damaged"); }
};

const QString kVideoUrl = QStringLiteral("http://www.youtube.com/watch?v=dQw4w9WgXcQ&feature=rec");

} // namespace

class tst_BrowserPickup : public QObject {
    Q_OBJECT
private slots:
    void titleRules_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("isVideo");
        QTest::newRow("no browser window") << QString() << false;
        QTest::newRow("video page") << "YouTube - Funny cat" << true;
        QTest::newRow("marker inside the title") << "Clip | YouTube - Funny cat" << true;
        QTest::newRow("home page") << "YouTube - Broadcast Yourself" << false;
        QTest::newRow("lower case") << "youtube - funny cat" << false;
        QTest::newRow("upper case") << "YOUTUBE - FUNNY CAT" << false;
        QTest::newRow("marker without the space") << "YouTube-Funny cat" << false;
        QTest::newRow("service name at the end") << "Funny cat - YouTube" << false;
        QTest::newRow("another site") << "Vimeo - Funny cat" << false;
    }
    void titleRules() {
        QFETCH(QString, title);
        QFETCH(bool, isVideo);
        StandInBrowser browser(title, kVideoUrl);
        QCOMPARE(BrowserPickup::VideoPageUrl(browser), isVideo ? kVideoUrl : QString());
        // A page of the service is taken only when its title marks a video.
        if (isVideo)
            QCOMPARE(browser.askedTitle, title);
    }

    void pagesOfOtherSitesAreTaken_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("taken");
        QTest::newRow("another site") << "Funny cat - Vimeo"
                                      << "https://vimeo.com/1"
                                      << "https://vimeo.com/1";
        QTest::newRow("no web page") << "Funny cat"
                                     << "file:///etc/passwd"
                                     << "";
        QTest::newRow("service home page") << "YouTube - Broadcast Yourself"
                                           << "https://vimeo.com/1"
                                           << "";
        QTest::newRow("service page without the marker") << "Funny cat - YouTube"
                                                         << "https://www.youtube.com/user/cat"
                                                         << "";
    }
    void pagesOfOtherSitesAreTaken() {
        QFETCH(QString, title);
        QFETCH(QString, url);
        QFETCH(QString, taken);
        StandInBrowser browser(title, url);
        QCOMPARE(BrowserPickup::VideoPageUrl(browser), taken);
    }

    void videoPageWithoutKnownAddressGivesEmptyText() {
        StandInBrowser browser("YouTube - Funny cat", QString());
        QCOMPARE(BrowserPickup::VideoPageUrl(browser), QString());
    }

    void boundedCallAnswersLikeThePlainOne() {
        auto video = std::make_shared<StandInBrowser>("YouTube - Funny cat", kVideoUrl);
        QCOMPARE(BrowserPickup::VideoPageUrlWithin(video, std::chrono::seconds(30)), kVideoUrl);
        auto other = std::make_shared<StandInBrowser>("Funny cat - Vimeo", kVideoUrl);
        QCOMPARE(BrowserPickup::VideoPageUrlWithin(other, std::chrono::seconds(30)), QString());
    }

    void browserThatDoesNotAnswerGivesEmptyText() {
        auto hung = std::make_shared<HungBrowser>();
        QCOMPARE(BrowserPickup::VideoPageUrlWithin(hung, std::chrono::milliseconds(50)), QString());
        hung->Release(); // the abandoned worker finishes on its own and frees the browser
        QTRY_COMPARE(hung.use_count(), 1L);
    }

    void failureInsideTheBrowserGivesEmptyText() {
        auto failing = std::make_shared<FailingBrowser>();
        QCOMPARE(BrowserPickup::VideoPageUrlWithin(failing, std::chrono::seconds(30)), QString());
    }
};

QTEST_GUILESS_MAIN(tst_BrowserPickup)
#include "tst_BrowserPickup.moc"
