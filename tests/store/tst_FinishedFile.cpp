#include "FinishedFile.h"
#include "TestHome.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

// Results put into place on real files, with the Trash of a temporary home.
class tst_FinishedFile : public QObject {
    Q_OBJECT

private:
    TestHome home_;
    QString folder_;

    QString write(const QString& name, const QByteArray& content) const {
        return writeIn(folder_, name, content);
    }
    static QString writeIn(const QString& folder, const QString& name, const QByteArray& content) {
        QFile file(folder + '/' + name);
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
    // A Trash that Qt makes relative to the current folder must not land where the test was
    // started, nor stay for the next run.
    void initTestCase() {
        QVERIFY(QDir().mkpath(home_.path() + "/current"));
        QVERIFY(QDir::setCurrent(home_.path() + "/current"));
    }

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

    void foreignTrashIsNotUsed_data() {
        QTest::addColumn<uint>("owner");
        QTest::addColumn<int>("mode");
        QTest::newRow("another user's") << 65534u << 0700;
        QTest::newRow("open to all") << uint(::getuid()) << 0777;
    }

    void foreignTrashIsNotUsed() {
        QFETCH(uint, owner);
        QFETCH(int, mode);
        // A file on another file system than the home goes to that file system's Trash, which
        // anyone may have made before the user.
        QTemporaryDir other(QStringLiteral("/dev/shm/vantelo-XXXXXX"));
        const QStorageInfo storage(other.path());
        if (!other.isValid() || storage == QStorageInfo(home_.path()))
            QSKIP("needs a file system apart from the home's (/dev/shm)");
        const QString trash = storage.rootPath() + "/.Trash-" + QString::number(::getuid());
        if (FinishedFile::Exists(trash) || FinishedFile::Exists(storage.rootPath() + "/.Trash"))
            QSKIP("a Trash is there already");
        QVERIFY(::mkdir(QFile::encodeName(trash).constData(), 0700) == 0);
        const auto removeTrash = qScopeGuard([trash] { QDir(trash).removeRecursively(); });
        if (owner != ::getuid() && ::chown(QFile::encodeName(trash).constData(), owner, -1) != 0)
            QSKIP("only root can give a folder to another user");
        QVERIFY(::chmod(QFile::encodeName(trash).constData(), mode_t(mode)) == 0);

        writeIn(other.path(), "clip.flv", "earlier");
        const QString part = writeIn(other.path(), "clip.flv.part", "new");
        const FinishedFile::Placed placed =
            FinishedFile::IntoPlace(part, other.path() + "/clip.flv");
        QVERIFY(!placed.trashedEarlier);
        QCOMPARE(placed.path, other.path() + "/clip (2).flv");
        QCOMPARE(read(other.path() + "/clip.flv"), QByteArray("earlier"));
        QCOMPARE(read(placed.path), QByteArray("new"));
        QCOMPARE(QDir(trash + "/files").entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(QDir(trash + "/info").entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void openFileMovesOnlyWhileItHasTheName() {
        const QString part = write("clip.flv.part", "new");
        QFile open(part);
        QVERIFY(open.open(QIODevice::ReadOnly));
        // Another file in its place: nothing moves.
        QVERIFY(QFile::rename(part, folder_ + "/moved"));
        write("clip.flv.part", "other");
        FinishedFile::Placed placed =
            FinishedFile::OpenFileIntoPlace(open.handle(), part, folder_ + "/clip.flv");
        QCOMPARE(placed.error, ESTALE);
        QVERIFY(placed.path.isEmpty());
        QVERIFY(!FinishedFile::Exists(folder_ + "/clip.flv"));
        // Its own name again.
        QVERIFY(QFile::remove(part));
        QVERIFY(QFile::rename(folder_ + "/moved", part));
        placed = FinishedFile::OpenFileIntoPlace(open.handle(), part, folder_ + "/clip.flv");
        QCOMPARE(placed.path, folder_ + "/clip.flv");
        QCOMPARE(read(placed.path), QByteArray("new"));
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
