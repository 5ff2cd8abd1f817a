#include "DialogTestSupport.h"
#include "FakeDesktop.h"
#include "RegEdit.h"
#include "TestClip.h"
#include "TestHome.h"
#include "frmConvert.h"

#include <QCryptographicHash>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <memory>

// Conversions through the dialog with the real converter program beside this test program
// and FFmpeg, from Convert to "Conversion Completed" and the file on disk.
namespace {
constexpr int kWait = 120000;

// The streams of a media file as ffprobe names them ("video:mpeg4", "audio:pcm_s16le").
QStringList streamsOf(const QString& path) {
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,codec_name", "-of",
                            "csv=p=0:nk=1", path});
    probe.waitForFinished(kWait);
    QStringList streams;
    for (const QString& line : QString::fromUtf8(probe.readAllStandardOutput()).split('\n')) {
        const QStringList parts = line.trimmed().split(',');
        if (parts.size() == 2)
            streams.append(parts.at(1) + ":" + parts.at(0));
    }
    return streams;
}
} // namespace

class tst_RealConversion : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void convertsToAvi();
    void convertsToTheDefault3g2();
    void cancelEndsTheConverter();
    void explainsWhatIsCopied_data();
    void explainsWhatIsCopied();
    void targetsOfOneExtensionKeepTheirOwnFiles_data();
    void targetsOfOneExtensionKeepTheirOwnFiles();
    void downloadConvertedInItsOwnFolder_data();
    void downloadConvertedInItsOwnFolder();

private:
    frmConvert& openDialogOn(const QString& source);
    void convertTo(const QString& source, const QString& format);
    QStringList trashed() const;

    TestHome home_;
    FakeDesktop desktop_;
    std::unique_ptr<frmConvert> dialog_;
    QString shortFlv_;
};

void tst_RealConversion::initTestCase() {
    QVERIFY2(QFileInfo::exists(QCoreApplication::applicationDirPath() + "/avformat.dll"),
             "the converter program is not built beside this test");
    shortFlv_ = home_.path() + "/Videos/short clip.flv";
    QDir().mkpath(home_.path() + "/Videos");
    QVERIFY(TestClip::Make(shortFlv_, 2, "320x240"));
}

void tst_RealConversion::init() {
    QFile::remove(home_.settingsFile());
}

void tst_RealConversion::cleanup() {
    if (dialog_)
        dialog_->close();
    dialog_.reset();
    desktop_.messages.clear();
}

frmConvert& tst_RealConversion::openDialogOn(const QString& source) {
    dialog_ = std::make_unique<frmConvert>();
    desktop_.fileAnswer = source;
    dialog_->cmdSource->click();
    return *dialog_;
}

void tst_RealConversion::convertsToAvi() {
    frmConvert& dialog = openDialogOn(shortFlv_);
    chooseFormat(dialog, "AVI Format (*.avi)");
    const QString output = dialog.txtDest->text() + "/short clip.avi";
    QFile::remove(output);

    dialog.cmdConvert->click();
    QVERIFY2(isConverting(dialog), qPrintable(dialog.lblInfo->text()));
    QTRY_VERIFY_WITH_TIMEOUT(!desktop_.messages.isEmpty(), kWait);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("Conversion Completed"));
    QVERIFY(isIdle(dialog));
    QVERIFY(dialog.lblInfo->text().isEmpty());

    QVERIFY(QFileInfo(output).size() > 0);
    const QStringList streams = streamsOf(output);
    QVERIFY2(streams.contains("video:mpeg4"), qPrintable(streams.join(' ')));
    QVERIFY2(streams.contains("audio:pcm_s16le"), qPrintable(streams.join(' ')));
}

void tst_RealConversion::convertsToTheDefault3g2() {
    frmConvert& dialog = openDialogOn(shortFlv_);
    QCOMPARE(dialog.cmbFormat->currentText(),
             QStringLiteral("3rd Generation Partnership Project2 (*.3g2)"));
    const QString output = dialog.txtDest->text() + "/short clip.3g2";
    QFile::remove(output);

    dialog.cmdConvert->click();
    QTRY_VERIFY_WITH_TIMEOUT(isIdle(dialog), kWait);
    QVERIFY2(dialog.lblInfo->text().isEmpty(), qPrintable(dialog.lblInfo->text()));
    QCOMPARE(desktop_.messages.size(), 1);
    QCOMPARE(desktop_.messages.first().text, QStringLiteral("Conversion Completed"));
    QVERIFY(QFileInfo(output).size() > 0);
    QVERIFY2(streamsOf(output).contains("video:mpeg4"), qPrintable(streamsOf(output).join(' ')));
}

void tst_RealConversion::cancelEndsTheConverter() {
    const QString longFlv = home_.path() + "/Videos/long.flv";
    QVERIFY(TestClip::Make(longFlv, 120, "640x480"));
    frmConvert& dialog = openDialogOn(longFlv);
    chooseFormat(dialog, "DivX Format (*.avi)");

    dialog.cmdConvert->click();
    // The first poll tick: the status text animates (the bar shows progress or cycles).
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.lblInfo->text().isEmpty(), kWait);
    QCOMPARE(runningConverterChildren(), 1);
    dialog.btnCancel->click();
    QVERIFY(isIdle(dialog));
    QTRY_COMPARE_WITH_TIMEOUT(runningConverterChildren(), 0, kWait);
    QCOMPARE(desktop_.messages.size(), 1); // the question only
}

void tst_RealConversion::explainsWhatIsCopied_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("encoding");
    QTest::addColumn<QString>("explained");
    QTest::newRow("H.264 and AAC fit: copied")
        << "h264 aac.mp4" << QStringList{"-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"}
        << "Video: copy (the source's H.264 fits MP4)\nAudio: copy (the source's AAC fits MP4)";
    QTest::newRow("VP9 and Opus do not: re-encoded")
        << "vp9 opus.webm" << QStringList{"-c:v", "libvpx-vp9", "-deadline", "realtime",
                                          "-c:a", "libopus",    "-ar",       "48000"}
        << "Video: re-encode (the source's VP9 is not H.264)\n"
           "Audio: re-encode (the source's Opus is not AAC)";
}

// Before Convert, the converter's own reading of the source says what each stream becomes.
void tst_RealConversion::explainsWhatIsCopied() {
    QFETCH(QString, name);
    QFETCH(QStringList, encoding);
    QFETCH(QString, explained);
    const QString source = home_.path() + "/Videos/" + name;
    QVERIFY(TestClip::Make(source, 1, "320x240", encoding));
    frmConvert& dialog = openDialogOn(source);
    chooseFormat(dialog, "MP4 H.264 / AAC (*.mp4)");
    QTRY_COMPARE_WITH_TIMEOUT(dialog.lblInfo->text().trimmed(), explained, kWait);
    QVERIFY(desktop_.messages.isEmpty());
}

void tst_RealConversion::convertTo(const QString& source, const QString& format) {
    frmConvert& dialog = openDialogOn(source);
    chooseFormat(dialog, format);
    desktop_.messages.clear();
    dialog.cmdConvert->click();
    QTRY_VERIFY_WITH_TIMEOUT(!desktop_.messages.isEmpty() ||
                                 (!dialog.lblInfo->text().isEmpty() && isIdle(dialog)),
                             kWait);
    QVERIFY2(desktop_.messages.size() == 1 &&
                 desktop_.messages.first().text == QStringLiteral("Conversion Completed"),
             qPrintable(dialog.lblInfo->text()));
    QVERIFY2(dialog.lblInfo->text().isEmpty(), qPrintable(dialog.lblInfo->text()));
    dialog.close();
}

QStringList tst_RealConversion::trashed() const {
    return QDir(home_.path() + "/.local/share/Trash/files").entryList(QDir::Files);
}

void tst_RealConversion::targetsOfOneExtensionKeepTheirOwnFiles_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<QStringList>("results");
    QTest::addColumn<QStringList>("toTrash");
    QTest::newRow("H.264, then H.265: two files")
        << "MP4 H.264 / AAC (*.mp4)"
        << "MP4 H.265 / AAC (*.mp4)"
        << QStringList{"short clip (H.264).mp4", "short clip (H.265).mp4"} << QStringList{};
    QTest::newRow("H.264 again: the earlier to the Trash")
        << "MP4 H.264 / AAC (*.mp4)"
        << "MP4 H.264 / AAC (*.mp4)" << QStringList{"short clip (H.264).mp4"}
        << QStringList{"short clip (H.264).mp4"};
}

// Another target of the same extension never takes a result's name; only the same result made
// again replaces it, through the Trash.
void tst_RealConversion::targetsOfOneExtensionKeepTheirOwnFiles() {
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, results);
    QFETCH(QStringList, toTrash);
    const QString folder = home_.path() + "/targets";
    QDir(folder).removeRecursively();
    QDir(home_.path() + "/.local/share/Trash").removeRecursively();
    QDir().mkpath(folder);
    SettingsStore().WriteKey("Youtube Video output path", folder);
    convertTo(shortFlv_, first);
    convertTo(shortFlv_, second);
    QCOMPARE(QDir(folder).entryList(QDir::Files), results);
    QCOMPARE(trashed(), toTrash);
}

void tst_RealConversion::downloadConvertedInItsOwnFolder_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("result");
    QTest::newRow("MP4 to MP4 H.264") << "news.mp4"
                                      << "MP4 H.264 / AAC (*.mp4)"
                                      << "news (H.264).mp4";
    QTest::newRow("MKV keeping its streams") << "news.mkv"
                                             << "MKV Keep Streams (*.mkv)"
                                             << "news (2).mkv";
}

// The dialog's destination is the download folder: a download converted to its own container
// takes a name beside it, and the download stays as it was.
void tst_RealConversion::downloadConvertedInItsOwnFolder() {
    QFETCH(QString, name);
    QFETCH(QString, format);
    QFETCH(QString, result);
    const QString folder = home_.path() + "/downloads";
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const QString source = folder + "/" + name;
    QVERIFY(TestClip::Make(source, 1, "320x240", TestClip::SegmentableEncoding()));
    const auto digest = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly)
                   ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                   : QByteArray();
    };
    const QByteArray before = digest(source);
    SettingsStore().WriteKey("Youtube Video output path", folder);
    convertTo(source, format);
    QCOMPARE(digest(source), before);
    QVERIFY(QFileInfo(folder + "/" + result).size() > 0);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 2);
}

QTEST_MAIN(tst_RealConversion)
#include "tst_RealConversion.moc"
