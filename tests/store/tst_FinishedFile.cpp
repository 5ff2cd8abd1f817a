#include "FinishedFile.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QTest>

// Results put into place on real files, with the Trash of a temporary home.
class tst_FinishedFile : public QObject {
    Q_OBJECT

private:
    TestHome home_;
    QString folder_;

    QString write(const QString& name, const QByteArray& content) {
        QFile file(folder_ + '/' + name);
        if (!file.open(QIODevice::WriteOnly))
            return QString();
        file.write(content);
        return file.fileName();
    }
    static QByteArray read(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    QStringList trashed() const {
        return QDir(home_.path() + "/.local/share/Trash/files").entryList(QDir::Files);
    }

private slots:
    void init() {
        folder_ = home_.path() + "/out";
        QDir(folder_).removeRecursively();
        QDir().mkpath(folder_);
        QDir(home_.path() + "/.local").removeRecursively();
        qputenv("XDG_DATA_HOME", (home_.path() + "/.local/share").toUtf8());
    }

    void earlierFileGoesToTheTrash() {
        const QString part = write("clip.flv.part", "new");
        write("clip.flv", "earlier");
        const FinishedFile::Placed placed = FinishedFile::IntoPlace(part, folder_ + "/clip.flv");
        QCOMPARE(placed.path, folder_ + "/clip.flv");
        QVERIFY(placed.trashedEarlier);
        QCOMPARE(read(placed.path), QByteArray("new"));
        QVERIFY(!QFile::exists(part));
        QCOMPARE(trashed(), QStringList{"clip.flv"});
        QCOMPARE(read(home_.path() + "/.local/share/Trash/files/clip.flv"), QByteArray("earlier"));
    }

    void withoutTrashTheEarlierFileStaysAndResultTakesAFreeName() {
        // A data folder that cannot be made, even by root: no Trash.
        qputenv("XDG_DATA_HOME", "/proc/self/no-such-folder");
        write("clip.flv", "earlier");
        write("clip (2).flv", "older");
        const QString part = write("clip.flv.part", "new");
        const FinishedFile::Placed placed = FinishedFile::IntoPlace(part, folder_ + "/clip.flv");
        QVERIFY(!placed.trashedEarlier);
        QCOMPARE(placed.path, folder_ + "/clip (3).flv");
        QCOMPARE(read(folder_ + "/clip.flv"), QByteArray("earlier"));
        QCOMPARE(read(folder_ + "/clip (2).flv"), QByteArray("older"));
        QCOMPARE(read(placed.path), QByteArray("new"));
        QVERIFY(!QFile::exists(QDir::currentPath() + "/files"));
    }

    void linksAndFoldersOfTheNameStayWhereTheyAre() {
        QVERIFY(QDir().mkpath(folder_ + "/clip.flv"));
        const QString part = write("clip.flv.part", "new");
        const FinishedFile::Placed placed = FinishedFile::IntoPlace(part, folder_ + "/clip.flv");
        QCOMPARE(placed.path, folder_ + "/clip (2).flv");
        QVERIFY(QFileInfo(folder_ + "/clip.flv").isDir());
        QVERIFY(trashed().isEmpty());
    }

    void danglingLinkIsNeitherFollowedNorMoved() {
        const QString outside = home_.path() + "/outside.flv";
        QFile::remove(outside);
        QVERIFY(QFile::link(outside, folder_ + "/clip.flv"));
        const QString part = write("clip.flv.part", "new");
        const FinishedFile::Placed placed = FinishedFile::IntoPlace(part, folder_ + "/clip.flv");
        QCOMPARE(placed.path, folder_ + "/clip (2).flv");
        QCOMPARE(read(placed.path), QByteArray("new"));
        QVERIFY(QFileInfo(folder_ + "/clip.flv").isSymLink());
        QVERIFY(!QFile::exists(outside));
    }

    void vanishedFolderIsAnError() {
        const QString part = write("clip.flv.part", "new");
        QDir(folder_).removeRecursively();
        const FinishedFile::Placed placed = FinishedFile::IntoPlace(part, folder_ + "/clip.flv");
        QVERIFY(placed.path.isEmpty());
        QCOMPARE(placed.error, ENOENT);
    }
};

QTEST_GUILESS_MAIN(tst_FinishedFile)
#include "tst_FinishedFile.moc"
