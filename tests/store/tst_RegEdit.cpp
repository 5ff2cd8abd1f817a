#include "RegEdit.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSettings>
#include <QTest>
#include <climits>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const QString kOutputPath = QStringLiteral("Youtube Video output path");
const QString kFormat = QStringLiteral("Youtube Video format");
const QString kDefault = QStringLiteral("/home/someone/Documents/Morvane/Vantelo");
} // namespace

// The settings store on a real settings file in a temporary home.
class tst_RegEdit : public QObject {
    Q_OBJECT

private:
    TestHome home_;

    void removeStore() {
        QFile::setPermissions(home_.settingsFile(), QFile::ReadOwner | QFile::WriteOwner);
        QDir(home_.settingsFile()).removeRecursively();
        QFile::remove(home_.settingsFile());
        QDir(home_.path() + "/.config/Morvane").removeRecursively();
    }
    void writeRawStore(const QByteArray& content) {
        removeStore();
        QDir().mkpath(QFileInfo(home_.settingsFile()).path());
        QFile file(home_.settingsFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    // The value as another reader of the file sees it.
    QVariant valueOnDisk(const QString& name) const {
        QSettings reader(home_.settingsFile(), QSettings::IniFormat);
        return reader.value(name);
    }

private slots:
    void init() { removeStore(); }

    void missingStoreGivesDefaultsAndFirstWriteCreatesIt() {
        QVERIFY(!QFileInfo::exists(home_.path() + "/.config/Morvane"));
        RegEdit store;
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), kDefault);
        QCOMPARE(store.LoadKey(kFormat, QString()), QString());
        QVERIFY(!QFileInfo::exists(home_.settingsFile()));

        store.WriteKey(kOutputPath, "/srv/videos");
        QVERIFY(QFileInfo(home_.settingsFile()).isFile());
        QCOMPARE(valueOnDisk(kOutputPath).toString(), QStringLiteral("/srv/videos"));
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), QStringLiteral("/srv/videos"));
        QCOMPARE(store.LoadKey(kFormat, "AVI"), QStringLiteral("AVI"));
    }

    void readRules_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("expected");
        const QString fallback = kDefault;
        QTest::newRow("plain") << "/srv/videos"
                               << "/srv/videos";
        QTest::newRow("empty gives the default") << "" << fallback;
        QTest::newRow("blank gives the default") << "    " << fallback;
        QTest::newRow("leading spaces dropped") << "  /srv/videos"
                                                << "/srv/videos";
        QTest::newRow("trailing spaces kept") << "/srv/videos  "
                                              << "/srv/videos  ";
        QTest::newRow("both") << "  /srv/my videos  "
                              << "/srv/my videos  ";
        QTest::newRow("tabs are not spaces") << "\t/srv"
                                             << "\t/srv";
        QTest::newRow("cut at the first NUL")
            << QString::fromLatin1("/srv/a\0/srv/b", 13) << "/srv/a";
        QTest::newRow("NUL first gives the default")
            << QString::fromLatin1("\0/srv", 5) << fallback;
        QTest::newRow("spaces then NUL give the default")
            << QString::fromLatin1("   \0/srv", 8) << fallback;
        QTest::newRow("truth word") << "False"
                                    << "False";
        QTest::newRow("commas stay text") << "/srv/a, b"
                                          << "/srv/a, b";
        QTest::newRow("looks like a type tag") << "@Variant(x)"
                                               << "@Variant(x)";
        QTest::newRow("not only ASCII") << QString::fromUtf8("/home/zoë/Vidéos/日本")
                                        << QString::fromUtf8("/home/zoë/Vidéos/日本");
        const QString longPath = "/" + QString(400, QLatin1Char('d')) + "/Vantelo";
        QTest::newRow("longer than 260 reads back whole") << longPath << longPath;
    }
    void readRules() {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        SettingsStore().WriteKey(kOutputPath, stored);
        // Written through at once: the file already holds the text as given.
        QCOMPARE(valueOnDisk(kOutputPath).toString(), stored);
        QCOMPARE(SettingsStore().LoadKey(kOutputPath, kDefault), expected);
    }

    void everyReadGoesToTheFile() {
        RegEdit store;
        store.WriteKey(kOutputPath, "/first");
        {
            // Another program (or another copy of this one) changes the file.
            QSettings other(home_.settingsFile(), QSettings::IniFormat);
            other.setValue(kOutputPath, "/changed/elsewhere");
        }
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), QStringLiteral("/changed/elsewhere"));
    }

    void valuesKeepTheirOwnNames() {
        RegEdit store;
        store.WriteKey(kOutputPath, "/a");
        store.WriteKey(kFormat, "iPod");
        store.WriteKey(kOutputPath, "/b");
        QCOMPARE(store.LoadKey(kFormat, ""), QStringLiteral("iPod"));
        QCOMPARE(store.LoadKey(kOutputPath, ""), QStringLiteral("/b"));
        store.DelKey(kFormat);
        QCOMPARE(store.LoadKey(kFormat, "gone"), QStringLiteral("gone"));
        QCOMPARE(store.LoadKey(kOutputPath, ""), QStringLiteral("/b"));
    }

    void handEditedListReadsAsTyped() {
        writeRawStore("[General]\nYoutube%20Video%20output%20path=/srv/a, b\n");
        QCOMPARE(SettingsStore().LoadKey(kOutputPath, kDefault), QStringLiteral("/srv/a, b"));
    }

    void damagedFileGivesDefaultsAndCanBeWrittenAgain_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("path");
        QTest::newRow("broken section") << QByteArray("[General\n\x01\x02\xff junk=\"open\n"
                                                      "Youtube%20Video%20format=AVI\n")
                                        << kDefault;
        QTest::newRow("binary") << QByteArray("\xff\xfe\x00\x01\x02\x00\x7f\x80", 8) << kDefault;
        // A cut-off last line still reads as far as it goes.
        QTest::newRow("truncated quote")
            << QByteArray("[General]\nYoutube%20Video%20output%20path=\"/srv/vid") << "/srv/vid";
    }
    void damagedFileGivesDefaultsAndCanBeWrittenAgain() {
        QFETCH(QByteArray, content);
        QFETCH(QString, path);
        writeRawStore(content);
        RegEdit store;
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), path);
        QCOMPARE(store.LoadKey(kFormat, "3GP"), QStringLiteral("3GP"));

        store.WriteKey(kOutputPath, "/srv/fresh");
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), QStringLiteral("/srv/fresh"));
        QCOMPARE(store.LoadKey(kFormat, "3GP"), QStringLiteral("3GP"));
    }

    void damagedFileReadsAsDefaultsUntilRewritten() {
        // Parts of it parse: Qt's copy of the file holds them for the rest of the run.
        writeRawStore("[General]\nYoutube%20Video%20output%20path=/srv/debris\n"
                      "[broken\n\x01 junk=\"open\nYoutube%20Video%20format=AVI\n");
        for (int read = 0; read < 3; ++read) {
            QCOMPARE(SettingsStore().LoadKey(kOutputPath, kDefault), kDefault);
            QCOMPARE(RegEdit().LoadKey(kFormat, "3GP"), QStringLiteral("3GP"));
        }
        SettingsStore().WriteKey(kFormat, "iPod");
        QCOMPARE(SettingsStore().LoadKey(kFormat, "3GP"), QStringLiteral("iPod"));
        QCOMPARE(SettingsStore().LoadKey(kOutputPath, kDefault), kDefault);
        QVERIFY(!valueOnDisk(kOutputPath).isValid());
    }

    // No program of ours writes a settings file of megabytes: such a file is damaged, reads
    // as defaults without being parsed (which would freeze the window), and is started afresh.
    void oversizedFileReadsAsDefaultsAndIsStartedAfresh() {
        writeRawStore("[General]\nYoutube%20Video%20format=AVI\n" + QByteArray(1100 * 1000, 'x') +
                      "=1\n");
        RegEdit store;
        QCOMPARE(store.LoadKeys({{kFormat, "3GP"}, {kOutputPath, kDefault}}),
                 (QStringList{"3GP", kDefault}));
        store.WriteKeys({{kOutputPath, "/srv/fresh"}, {kFormat, "iPod"}});
        QVERIFY(QFileInfo(home_.settingsFile()).size() < 1000);
        QCOMPARE(store.LoadKeys({{kFormat, "3GP"}, {kOutputPath, kDefault}}),
                 (QStringList{"iPod", "/srv/fresh"}));
    }

    void unreadableFileGivesDefaults_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("replacedByAWrite");
        // A folder where the file should be cannot be read as settings, not even by root.
        QTest::newRow("folder") << "folder" << false;
        // Opening a FIFO to read waits for a writer: the store must neither wait nor read one.
        QTest::newRow("FIFO") << "fifo" << true;
        QTest::newRow("link to a FIFO") << "link" << true;
    }
    void unreadableFileGivesDefaults() {
        QFETCH(QString, kind);
        QFETCH(bool, replacedByAWrite);
        removeStore();
        QVERIFY(QDir().mkpath(QFileInfo(home_.settingsFile()).path()));
        const QString fifo = kind == "link" ? home_.path() + "/fifo" : home_.settingsFile();
        int held = -1, opens = -1;
        const auto closeBoth = qScopeGuard([&] {
            if (opens >= 0)
                close(opens);
            if (held >= 0)
                close(held);
        });
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(home_.settingsFile()));
        } else {
            QFile::remove(fifo);
            QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
            QVERIFY(kind != "link" || QFile::link(fifo, home_.settingsFile()));
            // Held open both ways, so that no open waits here; the kernel reports every other.
            held = open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
            opens = inotify_init1(IN_NONBLOCK);
            QVERIFY(held >= 0 && opens >= 0);
            QVERIFY(inotify_add_watch(opens, QFile::encodeName(fifo).constData(), IN_OPEN) >= 0);
        }
        RegEdit store;
        QCOMPARE(store.LoadKey(kFormat, "3GP"), QStringLiteral("3GP"));
        store.WriteKey(kOutputPath, "/srv/lost");
        QCOMPARE(store.LoadKey(kOutputPath, kDefault), replacedByAWrite ? "/srv/lost" : kDefault);
        QCOMPARE(QFileInfo(home_.settingsFile()).isFile(), replacedByAWrite);
        if (opens >= 0) {
            char event[sizeof(inotify_event) + NAME_MAX + 1];
            QCOMPARE(read(opens, event, sizeof event), ssize_t(-1));
        }
    }

    void fileWithoutReadPermissionGivesDefaults() {
        if (geteuid() == 0)
            QSKIP("root reads every file");
        SettingsStore().WriteKey(kOutputPath, "/srv/private");
        QVERIFY(QFile::setPermissions(home_.settingsFile(), QFileDevice::Permissions()));
        QCOMPARE(SettingsStore().LoadKey(kOutputPath, kDefault), kDefault);
    }

    void oneStoreForTheProcess() { QCOMPARE(&SettingsStore(), &SettingsStore()); }

    void cleanStoredTextAppliesTheRulesAlone() {
        QCOMPARE(RegEdit::CleanStoredText("  x  "), QStringLiteral("x  "));
        QCOMPARE(RegEdit::CleanStoredText("   "), QString());
        QCOMPARE(RegEdit::CleanStoredText(QString::fromLatin1("x\0y", 3)), QStringLiteral("x"));
    }
};

QTEST_GUILESS_MAIN(tst_RegEdit)
#include "tst_RegEdit.moc"
