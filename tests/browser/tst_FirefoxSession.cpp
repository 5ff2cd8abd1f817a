// Reading Firefox's profile list and session store from generated files.
#include "FirefoxSession.h"
#include "SessionFiles.h"
#include "TestHome.h"
#include <QtTest>

using namespace SessionFiles;

namespace {

const QString kCatTitle = QStringLiteral("YouTube - Funny cat");
const QString kCatUrl = QStringLiteral("http://www.youtube.com/watch?v=cat123&feature=related");
const QString kDogTitle = QStringLiteral("YouTube - Dog on a skateboard");
const QString kDogUrl = QStringLiteral("http://www.youtube.com/watch?v=dog456");

// Two windows: the first shows the dog video in its second tab, the second the cat video in
// its first tab after navigating back from another page.
QByteArray TwoWindowSession() {
    const Window first{{Tab{{{"News", "http://news.example/"}}, 1},
                        Tab{{{"Search", "http://search.example/?q=dog"}, {kDogTitle, kDogUrl}}, 2}},
                       2};
    const Window second{{Tab{{{kCatTitle, kCatUrl}, {"Other", "http://other.example/"}}, 1},
                         Tab{{{kDogTitle, "http://www.youtube.com/watch?v=unselected"}}, 1}},
                        1};
    return SessionJson({first, second});
}

} // namespace

class tst_FirefoxSession : public QObject {
    Q_OBJECT
private slots:
    void defaultProfile_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("expected");
        QTest::newRow("installation default, relative")
            << ProfilesIni("abcd.default-release") << "/base/abcd.default-release";
        QTest::newRow("installation default wins over Default=1")
            << QByteArray("[Profile1]\nName=old\nIsRelative=1\nPath=old.default\nDefault=1\n\n"
                          "[Profile0]\nName=new\nIsRelative=1\nPath=new.default-release\n\n"
                          "[Install123]\nDefault=new.default-release\n")
            << "/base/new.default-release";
        QTest::newRow("Default=1 without installation")
            << QByteArray("[General]\nVersion=2\n[Profile0]\nPath=a.first\nIsRelative=1\n"
                          "[Profile1]\nPath=b.second\nIsRelative=1\nDefault=1\n")
            << "/base/b.second";
        QTest::newRow("only profile")
            << QByteArray("[Profile0]\nPath=a.only\nIsRelative=1\n") << "/base/a.only";
        QTest::newRow("absolute profile")
            << QByteArray("[Profile0]\r\nPath=/data/ff/main\r\nIsRelative=0\r\nDefault=1\r\n")
            << "/data/ff/main";
        QTest::newRow("installation default, absolute, not listed")
            << QByteArray("[Install9]\nDefault=/data/ff/other\n") << "/data/ff/other";
        QTest::newRow("no profile") << QByteArray("[General]\nVersion=2\n") << QString();
        QTest::newRow("empty text") << QByteArray() << QString();
        QTest::newRow("not an ini text") << QByteArray("\x01\x02garbage=\n==") << QString();
    }
    void defaultProfile() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, expected);
        QCOMPARE(FirefoxSession::DefaultProfilePath(ini, "/base"), expected);
    }

    void everyInstallationsProfile() {
        const QByteArray ini("[Profile1]\nPath=e.default-esr\nIsRelative=1\n"
                             "[Profile0]\nPath=r.default-release\nIsRelative=1\nDefault=1\n"
                             "[Install3B6073811A6ABF12]\nDefault=r.default-release\n"
                             "[Install46F492E0ACFF84D4]\nDefault=e.default-esr\n");
        QCOMPARE(FirefoxSession::StartProfilePaths(ini, "/b"),
                 (QStringList{"/b/r.default-release", "/b/e.default-esr"}));
    }

    void mozLz4RoundTrip() {
        const QByteArray json = TwoWindowSession();
        QCOMPARE(FirefoxSession::DecodeMozLz4(MozLz4(json)), std::optional<QByteArray>(json));
        QCOMPARE(FirefoxSession::DecodeMozLz4(MozLz4(QByteArray())),
                 std::optional<QByteArray>(QByteArray()));
    }

    void damagedMozLz4IsRefused_data() {
        QTest::addColumn<QByteArray>("file");
        const QByteArray good = MozLz4(TwoWindowSession());
        QByteArray wrongMagic = good;
        wrongMagic[6] = '1';
        QByteArray sizeTooLarge = good;
        qToLittleEndian<quint32>(TwoWindowSession().size() + 1, sizeTooLarge.data() + 8);
        QByteArray sizeTooSmall = good;
        qToLittleEndian<quint32>(TwoWindowSession().size() - 1, sizeTooSmall.data() + 8);
        QByteArray hugeSize = good;
        qToLittleEndian<quint32>(0xFFFFFFFFu, hugeSize.data() + 8);
        QByteArray scrambled = good;
        for (int i = 12; i < scrambled.size(); i += 3)
            scrambled[i] = static_cast<char>(0xF7);
        QTest::newRow("wrong magic") << wrongMagic;
        QTest::newRow("plain JSON") << TwoWindowSession();
        QTest::newRow("header only, size missing") << QByteArray("mozLz40\0\x10\0", 10);
        QTest::newRow("truncated data") << good.left(good.size() / 2);
        QTest::newRow("declared size too large") << sizeTooLarge;
        QTest::newRow("declared size too small") << sizeTooSmall;
        QTest::newRow("declared size beyond any expansion") << hugeSize;
        QTest::newRow("scrambled data") << scrambled;
        QTest::newRow("empty file") << QByteArray();
    }
    void damagedMozLz4IsRefused() {
        QFETCH(QByteArray, file);
        QCOMPARE(FirefoxSession::DecodeMozLz4(file), std::nullopt);
    }

    void selectedTabOfMatchingWindow_data() {
        QTest::addColumn<QString>("pageTitle");
        QTest::addColumn<QString>("url");
        QTest::newRow("selected tab of the first window") << kDogTitle << kDogUrl;
        QTest::newRow("selected tab of the second window") << kCatTitle << kCatUrl;
        QTest::newRow("title of an unselected tab") << "News" << QString();
        QTest::newRow("title of an earlier history entry") << "Search" << QString();
        QTest::newRow("title of a later history entry") << "Other" << QString();
        QTest::newRow("unknown title") << "YouTube - Something else" << QString();
        QTest::newRow("empty title") << QString() << QString();
        QTest::newRow("title with surrounding spaces") << " " + kCatTitle + " " << kCatUrl;
    }
    void selectedTabOfMatchingWindow() {
        QFETCH(QString, pageTitle);
        QFETCH(QString, url);
        QCOMPARE(FirefoxSession::SelectedTabUrl(TwoWindowSession(), pageTitle), url);
    }

    void oddSessionsGiveEmptyText() {
        const auto url = [](const QByteArray& json) {
            return FirefoxSession::SelectedTabUrl(json, kCatTitle);
        };
        QCOMPARE(url("not json"), QString());
        QCOMPARE(url("[1,2,3]"), QString());
        QCOMPARE(url(R"({"windows":[]})"), QString());
        QCOMPARE(url(R"({"windows":"none"})"), QString());
        // Selected tab or entry numbers outside the lists.
        QCOMPARE(url(SessionJson({Window{{Tab{{{kCatTitle, kCatUrl}}, 1}}, 2}})), QString());
        QCOMPARE(url(SessionJson({Window{{Tab{{{kCatTitle, kCatUrl}}, 1}}, 0}})), QString());
        QCOMPARE(url(SessionJson({Window{{Tab{{{kCatTitle, kCatUrl}}, 3}}, 1}})), QString());
        QCOMPARE(url(SessionJson({Window{{Tab{{}, 1}}, 1}})), QString());
        QCOMPARE(url(SessionJson({Window{{}, 1}})), QString());
    }

    void untitledPageIsKnownByItsAddress() {
        const QString address = "http://www.youtube.com/watch?v=untitled";
        const QByteArray json = SessionJson({Window{{Tab{{{QString(), address}}, 1}}, 1}});
        QCOMPARE(FirefoxSession::SelectedTabUrl(json, address), address);
    }

    void sessionFileOnDisk() {
        TestHome home;
        const QString path = home.path() + "/session.jsonlz4";
        QCOMPARE(FirefoxSession::ReadSessionFile(path), std::nullopt); // missing
        QVERIFY(WriteFile(path, MozLz4(TwoWindowSession())));
        QCOMPARE(FirefoxSession::ReadSessionFile(path),
                 std::optional<QByteArray>(TwoWindowSession()));
        QVERIFY(WriteFile(path, MozLz4(TwoWindowSession()).left(40))); // truncated
        QCOMPARE(FirefoxSession::ReadSessionFile(path), std::nullopt);
        QVERIFY(QDir().mkpath(home.path() + "/folder.jsonlz4"));
        QCOMPARE(FirefoxSession::ReadSessionFile(home.path() + "/folder.jsonlz4"), std::nullopt);
    }

    void oversizedSessionFileIsNotRead() {
        TestHome home;
        const QString path = home.path() + "/big.jsonlz4";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(MozLz4(TwoWindowSession())), MozLz4(TwoWindowSession()).size());
        QVERIFY(file.resize(64LL * 1024 * 1024 + 1)); // sparse: costs no disk space
        file.close();
        QCOMPARE(FirefoxSession::ReadSessionFile(path), std::nullopt);
    }

    void pageOfTheUsersProfile() {
        TestHome home;
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), QString()); // no Firefox folder
        const QString profile = MakeProfile(home.path());
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), QString()); // no session yet

        // Left from the last exit only.
        QVERIFY(WriteFile(ShutdownFile(profile), MozLz4(TwoWindowSession())));
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), kCatUrl);

        // The running browser's recovery file is the current one.
        const QString newUrl = "http://www.youtube.com/watch?v=cat789";
        QVERIFY(WriteFile(RecoveryFile(profile),
                          MozLz4(SessionJson({Window{{Tab{{{kCatTitle, newUrl}}, 1}}, 1}}))));
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), newUrl);
        QCOMPARE(FirefoxSession::ShownPageUrl(kDogTitle), QString());

        // A damaged recovery file falls back to the other one.
        QVERIFY(WriteFile(RecoveryFile(profile), QByteArray("mozLz40\0garbage", 15)));
        QCOMPARE(FirefoxSession::ShownPageUrl(kDogTitle), kDogUrl);

        QVERIFY(QFile::remove(ShutdownFile(profile)));
        QCOMPARE(FirefoxSession::ShownPageUrl(kDogTitle), QString());
    }

    void profileUnderTheConfigFolder() {
        TestHome home; // newer Firefox keeps its profiles under $XDG_CONFIG_HOME/mozilla
        const QString root = home.path() + "/.config/mozilla/firefox";
        QVERIFY(WriteFile(root + "/profiles.ini", ProfilesIni("xyz.default-release")));
        QVERIFY(WriteFile(ShutdownFile(root + "/xyz.default-release"), MozLz4(TwoWindowSession())));
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), kCatUrl);
    }

    void freshestSessionOfEveryFirefox() {
        TestHome home;
        const auto session = [](const QString& title, const QString& url) {
            return MozLz4(SessionJson({Window{{Tab{{{title, url}}, 1}}, 1}}));
        };
        const auto age = [](const QString& file, int minutes) {
            QFile touched(file);
            return touched.open(QIODevice::ReadWrite) &&
                   touched.setFileTime(QDateTime::currentDateTime().addSecs(-60 * minutes),
                                       QFileDevice::FileModificationTime);
        };
        const auto install = [&](const QString& root, const QString& title, int minutesAgo) {
            QVERIFY(WriteFile(root + "/profiles.ini", ProfilesIni("p.default")));
            const QString file = RecoveryFile(root + "/p.default");
            QVERIFY(WriteFile(file, session(title, "http://www.youtube.com/watch?v=" + root)));
            QVERIFY(age(file, minutesAgo));
        };
        const QString flatpak = home.path() + "/.var/app/org.mozilla.firefox/.mozilla/firefox";
        const QString snap = home.path() + "/snap/firefox/common/.mozilla/firefox";
        install(flatpak, kCatTitle, 5);
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle),
                 "http://www.youtube.com/watch?v=" + flatpak);
        install(snap, kDogTitle, 2);
        QCOMPARE(FirefoxSession::ShownPageUrl(kCatTitle), QString());
        QCOMPARE(FirefoxSession::ShownPageUrl(kDogTitle), "http://www.youtube.com/watch?v=" + snap);

        // Debian's firefox-esr beside firefox in one profiles.ini: the ESR profile ran last.
        const QString native = home.path() + "/.mozilla/firefox";
        QVERIFY(WriteFile(native + "/profiles.ini",
                          "[Profile0]\nPath=r.default-release\nIsRelative=1\n"
                          "[Profile1]\nPath=e.default-esr\nIsRelative=1\n"
                          "[Install3B6073811A6ABF12]\nDefault=r.default-release\n"
                          "[Install46F492E0ACFF84D4]\nDefault=e.default-esr\n"));
        QVERIFY(
            WriteFile(ShutdownFile(native + "/r.default-release"), session(kCatTitle, kCatUrl)));
        QVERIFY(age(ShutdownFile(native + "/r.default-release"), 1));
        QVERIFY(WriteFile(RecoveryFile(native + "/e.default-esr"), session(kDogTitle, kDogUrl)));
        QCOMPARE(FirefoxSession::ShownPageUrl(kDogTitle), kDogUrl);
    }

    void windowUsedLast() {
        const Window news{{Tab{{{"News", "http://news.example/"}}, 1}}, 1};
        const Window cat{{Tab{{{"Other", "http://other.example/"}, {kCatTitle, kCatUrl}}, 2}}, 1};
        QCOMPARE(FirefoxSession::MostRecentWindowTitle(SessionJson({news, cat}, 2)), kCatTitle);
        QCOMPARE(FirefoxSession::MostRecentWindowTitle(SessionJson({news, cat}, 1)), "News");
        QCOMPARE(FirefoxSession::MostRecentWindowTitle(SessionJson({news, cat}, 7)), "News");
        QCOMPARE(FirefoxSession::MostRecentWindowTitle(SessionJson({})), QString());
        QCOMPARE(FirefoxSession::MostRecentWindowTitle("not json"), QString());
    }
};

QTEST_GUILESS_MAIN(tst_FirefoxSession)
#include "tst_FirefoxSession.moc"
