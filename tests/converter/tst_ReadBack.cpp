// Reading a finished download back through the component and the converter program, on media
// made by the real ffmpeg: a file that plays is told as it is; one that is no media, or that
// would open other files, is not read.
#include "AVC.h"
#include "ConverterTestSupport.h"
#include "StreamJoin.h"

#include <QTemporaryDir>

using namespace ConverterTest;

class TestReadBack : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

private slots:
    void initTestCase() {
        QVERIFY(dir_.isValid());
        AVC::SetProgramFolder(CONVERTER_DIR);
        int exitCode = -1;
        Run("ffmpeg",
            {"-v",
             "error",
             "-nostdin",
             "-f",
             "lavfi",
             "-i",
             "testsrc=size=160x120:rate=25:duration=2",
             "-f",
             "lavfi",
             "-i",
             "sine=duration=2",
             "-c:v",
             "libx264",
             "-pix_fmt",
             "yuv420p",
             "-c:a",
             "aac",
             "-f",
             "mpegts",
             dir_.filePath("clip.ts")},
            &exitCode);
        QCOMPARE(exitCode, 0);
    }

    void fileIsReadBack_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("a clip with picture and sound") << QByteArray() << "video 1 audio 1 2";
        // A playlist naming a file of the user's: read, it would bring that file's streams.
        QTest::newRow("a playlist in the file's place")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nfile://" +
                          QFile::encodeName(dir_.filePath("clip.ts")) + "\n#EXT-X-ENDLIST\n")
            << "is not in a container that streams are kept in";
        QTest::newRow("a web page") << QByteArray("<html>Sign in</html>")
                                    << "is not in a container that streams are kept in";
    }
    void fileIsReadBack() {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        QString path = dir_.filePath("clip.ts");
        if (!text.isEmpty()) {
            path = dir_.filePath("result.mp4");
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        }
        StreamJoin join;
        QStringList told;
        connect(&join, &MediaJoiner::ReadBackDone, this,
                [&](const QString& error, int video, int audio, double seconds) {
                    told << (error.isEmpty() ? QStringLiteral("video %1 audio %2 %3")
                                                   .arg(video)
                                                   .arg(audio)
                                                   .arg(qRound(seconds))
                                             : error);
                });
        join.ReadBack(path);
        QVERIFY(QTest::qWaitFor([&] { return !told.isEmpty(); }, 60000));
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.first().endsWith(expected), qPrintable(told.first()));
    }
};

QTEST_GUILESS_MAIN(TestReadBack)
#include "tst_ReadBack.moc"
