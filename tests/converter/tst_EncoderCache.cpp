// The converter program's encoder list kept between runs: used while it fits the installed
// ffmpeg, refreshed when ffmpeg changes, ignored when the file is damaged.
#include "modEncoderCache.h"
#include "modEncoderGuess.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using modEncoders::EncoderSet;

namespace {

const std::string kListing = "Encoders:\n V..... = Video\n ------\n"
                             " V..... mpeg4 MPEG-4 part 2\n"
                             " A..... libmp3lame libmp3lame MP3 (codec mp3)\n";
const std::string kNewerListing = kListing + " A..... libopencore_amrnb AMR-NB (codec amr_nb)\n";

QByteArray Contents(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

void WriteFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(data);
}

} // namespace

class TestEncoderCache : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString ffmpeg_;
    QString cache_;
    int queries_ = 0;
    std::string answer_;
    bool whole_ = true;

    EncoderSet Load() {
        return modEncoderCache::Load(ffmpeg_.toStdString(), cache_.toStdString(), [this] {
            ++queries_;
            return modEncoderCache::Answer{answer_, whole_};
        });
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        ffmpeg_ = dir_.filePath("bin/ffmpeg");
        cache_ = dir_.filePath("cache/Morvane/Vantelo/ffmpeg-encoders");
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.filePath("bin"));
        WriteFile(ffmpeg_, "#!/bin/sh\n");
        queries_ = 0;
        answer_ = kListing;
        whole_ = true;
    }

    void secondRunUsesTheStoredList() {
        QVERIFY(Load().Has("libmp3lame"));
        QCOMPARE(queries_, 1);
        QVERIFY(QFile::exists(cache_)); // its folders were made on the way
        answer_ = kNewerListing;
        const EncoderSet again = Load();
        QCOMPARE(queries_, 1);
        QVERIFY(again.Has("mpeg4"));
        QCOMPARE(again.CodecOf("libmp3lame"), std::string("mp3"));
        QVERIFY(!again.Has("libopencore_amrnb"));
    }

    void changedFfmpegIsAskedAgain_data() {
        QTest::addColumn<bool>("sameSize");
        QTest::newRow("replaced by a larger binary") << false;
        QTest::newRow("same size, new modification time") << true;
    }
    void changedFfmpegIsAskedAgain() {
        QFETCH(bool, sameSize);
        Load();
        if (sameSize) {
            QFile file(ffmpeg_);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-3),
                                     QFileDevice::FileModificationTime));
        } else {
            WriteFile(ffmpeg_, "#!/bin/sh\n# a newer build\n");
        }
        answer_ = kNewerListing;
        QVERIFY(Load().Has("libopencore_amrnb"));
        QCOMPARE(queries_, 2);
        QVERIFY(Load().Has("libopencore_amrnb")); // and the refreshed list is kept
        QCOMPARE(queries_, 2);
    }

    void anotherFfmpegHasItsOwnAnswer() {
        Load();
        ffmpeg_ = dir_.filePath("bin/ffmpeg-other");
        WriteFile(ffmpeg_, "#!/bin/sh\n");
        Load();
        QCOMPARE(queries_, 2);
    }

    void damagedCacheIsIgnoredAndRewritten_data() {
        QTest::addColumn<int>("damage");
        QTest::newRow("cut short") << 0;
        QTest::newRow("longer than announced") << 1;
        QTest::newRow("garbage") << 2;
        QTest::newRow("empty") << 3;
        QTest::newRow("lists no encoders") << 4;
        QTest::newRow("a FIFO") << 5; // never read: it would hold every conversion
    }
    void damagedCacheIsIgnoredAndRewritten() {
        QFETCH(int, damage);
        Load();
        const QByteArray good = Contents(cache_);
        QByteArray bad;
        switch (damage) {
        case 0:
            bad = good.left(good.size() - 10);
            break;
        case 1:
            bad = good + " V..... bogus Bogus\n";
            break;
        case 2:
            bad = QByteArray(4000, '\x7f');
            break;
        case 3:
            break;
        case 4: {
            // Whole and fitting, but what it holds is no listing.
            const int start = good.indexOf("listing ");
            bad = good.left(start) + "listing 9\nnonsense\n";
            break;
        }
        }
        if (damage == 5)
            QVERIFY(QFile::remove(cache_) && ::mkfifo(qPrintable(cache_), 0600) == 0);
        else
            WriteFile(cache_, bad);
        const EncoderSet set = Load();
        QCOMPARE(queries_, 2);
        QVERIFY(set.Has("mpeg4"));
        QVERIFY(!set.Has("bogus"));
        QCOMPARE(Contents(cache_), good);
    }

    // A failed question (ffmpeg broken for the moment) is not remembered.
    void emptyAnswerIsNotStored() {
        answer_.clear();
        QVERIFY(Load().Empty());
        QVERIFY(!QFile::exists(cache_));
        answer_ = kListing;
        QVERIFY(Load().Has("mpeg4"));
        QCOMPARE(queries_, 2);
    }

    // ffmpeg ended early (cancelled, crashed): its answer serves this run but is not kept.
    void cutShortAnswerIsUsedButNotStored() {
        whole_ = false;
        QVERIFY(Load().Has("libmp3lame"));
        QVERIFY(!QFile::exists(cache_));
        whole_ = true;
        Load();
        QCOMPARE(queries_, 2);
        QVERIFY(QFile::exists(cache_));
    }

    void unusableCacheFolderStillAnswers() {
        WriteFile(dir_.filePath("cache"), "a file where the folder should be");
        QVERIFY(Load().Has("mpeg4"));
        QVERIFY(Load().Has("mpeg4"));
        QCOMPARE(queries_, 2);
        QVERIFY(!QFile::exists(cache_));
    }

    void cacheFolderFollowsTheXdgSetting() {
        const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("XDG_CACHE_HOME", "/x/cache");
        QCOMPARE(modEncoderCache::DefaultCacheFile(),
                 std::string("/x/cache/Morvane/Vantelo/ffmpeg-encoders"));
        qputenv("XDG_CACHE_HOME", "relative/is/ignored");
        qputenv("HOME", "/home/u");
        QCOMPARE(modEncoderCache::DefaultCacheFile(),
                 std::string("/home/u/.cache/Morvane/Vantelo/ffmpeg-encoders"));
        qputenv("XDG_CACHE_HOME", oldCache);
        qputenv("HOME", oldHome);
    }

    // The build's answer stands in for asking only for the ffmpeg and the libavcodec the build
    // asked; the loader's list is what tells which libavcodec ffmpeg loads.
    void buildsAnswerOnlyForTheBuildsFfmpegAndCodecs() {
        QVERIFY(modEncoderGuess::ListingFor(ffmpeg_.toStdString()).empty());
        QVERIFY(!modEncoderGuess::LoadsTheBuildsCodecs(""));
        const std::string elsewhere = "\tlibavcodec.so.59 => " + ffmpeg_.toStdString() + " (0x1)\n";
        QVERIFY(!modEncoderGuess::LoadsTheBuildsCodecs(elsewhere));

        const QString real = QStandardPaths::findExecutable("ffmpeg");
        if (modEncoderGuess::ListingFor(real.toStdString()).empty())
            QSKIP("this build was configured without the ffmpeg found now");
        QProcess loader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LD_TRACE_LOADED_OBJECTS", "1");
        loader.setProcessEnvironment(env);
        loader.start(real, {});
        QVERIFY(loader.waitForFinished());
        const std::string loaded = loader.readAllStandardOutput().toStdString();
        QVERIFY(modEncoderGuess::LoadsTheBuildsCodecs(loaded));
        const EncoderSet guessed =
            EncoderSet::FromListing(modEncoderGuess::ListingFor(real.toStdString()));
        QVERIFY(guessed.Has("mpeg4") && guessed.Has("aac"));
    }
};

QTEST_GUILESS_MAIN(TestEncoderCache)
#include "tst_EncoderCache.moc"
