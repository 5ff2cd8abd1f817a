#include "GroupBoxFrame.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QPixmapCache>
#include <QTest>

namespace {
QImage framed() {
    QGroupBox box(QStringLiteral("Information"));
    box.resize(200, 80);
    return box.grab().toImage();
}

bool imagePluginLoaded() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("/imageformats/");
}
} // namespace

// The group box frame drawn from the preloaded picture, without Qt's image-format plugins.
class tst_GroupBoxFrame : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QApplication::setStyle(QStringLiteral("fusion")); }

    // Fails when Qt's cache key for a loaded picture changes: the plugins are loaded again.
    void drawsWithoutImagePlugins() {
        GroupBoxFrame::Preload();
        framed();
        QVERIFY(!imagePluginLoaded());
    }

    void drawsAsQtLoadingThePictureItself() {
        GroupBoxFrame::Preload();
        const QImage preloaded = framed();
        QPixmapCache::clear();
        QCOMPARE(preloaded, framed());
    }
};

QTEST_MAIN(tst_GroupBoxFrame)
#include "tst_GroupBoxFrame.moc"
