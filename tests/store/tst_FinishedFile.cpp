#include "FinishedFile.h"
#include "TestHome.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
// What is wrong with the Trash folder of another volume.
enum class Flaw {
    None,
    AnotherUsers,
    OpenToAll,
    ReadableByAll,
    ALink,
    InfoAFile,
    ReadOnlyInfo,
    FilesALink
};
} // namespace
Q_DECLARE_METATYPE(Flaw)

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

    // IntoPlace in a child process, so that a placing that never ends fails the test instead of
    // hanging it: the result's path, or "<no end>" after a generous bound.
    static QString placeWithinBound(const QString& finished, const QString& destination) {
        int pipeEnds[2];
        if (::pipe(pipeEnds) != 0)
            return QString();
        const pid_t child = ::fork();
        if (child == 0) {
            const QByteArray path =
                QFile::encodeName(FinishedFile::IntoPlace(finished, destination).path);
            const bool written = ::write(pipeEnds[1], path.constData(), size_t(path.size())) >= 0;
            ::_exit(written ? 0 : 1);
        }
        ::close(pipeEnds[1]);
        QByteArray answer;
        QDeadlineTimer bound(10000);
        pollfd readable{pipeEnds[0], POLLIN, 0};
        char buffer[4096];
        ssize_t count = -1;
        while (child > 0 && ::poll(&readable, 1, int(bound.remainingTime())) > 0 &&
               (count = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0)
            answer.append(buffer, count);
        ::close(pipeEnds[0]);
        if (child > 0 && count != 0)
            ::kill(child, SIGKILL);
        int status = 0;
        if (child > 0)
            ::waitpid(child, &status, 0);
        return count == 0 ? QFile::decodeName(answer) : QStringLiteral("<no end>");
    }

    // A Trash folder of another file system than the home's: /dev/shm's own, or none.
    struct VolumeTrash {
        QString folder;
        QString trash;
    };
    std::optional<VolumeTrash> volumeTrash(const QTemporaryDir& other) const {
        const QStorageInfo storage(other.path());
        if (!other.isValid() || storage == QStorageInfo(home_.path()))
            return std::nullopt;
        const QString trash = storage.rootPath() + "/.Trash-" + QString::number(::getuid());
        if (FinishedFile::Exists(trash) || FinishedFile::Exists(storage.rootPath() + "/.Trash"))
            return std::nullopt;
        return VolumeTrash{other.path(), trash};
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

    void earlierFileGoesToTheTrash_data() {
        // How the placing tells the earlier result: not at all (any plain file is), or by
        // asking whether the file of the name is one.
        QTest::addColumn<QString>("asked");
        QTest::newRow("any file of the name") << QString();
        QTest::newRow("the same result made before") << QStringLiteral("same");
        QTest::newRow("another result, or a file of the user's") << QStringLiteral("other");
    }

    void earlierFileGoesToTheTrash() {
        QFETCH(QString, asked);
        const QString part = write("clip.flv.part", "new");
        write("clip.flv", "earlier");
        QStringList askedAbout;
        FinishedFile::IsEarlierResult isEarlier;
        if (!asked.isEmpty())
            isEarlier = [&](const QString& path) {
                askedAbout << path;
                return asked == "same";
            };
        const FinishedFile::Placed placed =
            FinishedFile::IntoPlace(part, folder_ + "/clip.flv", isEarlier);
        QCOMPARE(askedAbout, asked.isEmpty() ? QStringList() : QStringList{folder_ + "/clip.flv"});
        QVERIFY(!QFile::exists(part));
        if (asked == "other") {
            QCOMPARE(placed.path, folder_ + "/clip (2).flv");
            QVERIFY(!placed.trashedEarlier);
            QCOMPARE(read(placed.path), QByteArray("new"));
            QCOMPARE(read(folder_ + "/clip.flv"), QByteArray("earlier"));
            QVERIFY(trashed().isEmpty());
            return;
        }
        QCOMPARE(placed.path, folder_ + "/clip.flv");
        QVERIFY(placed.trashedEarlier);
        QCOMPARE(read(placed.path), QByteArray("new"));
        QCOMPARE(trashed(), QStringList{"clip.flv"});
        QCOMPARE(read(home_.path() + "/.local/share/Trash/files/clip.flv"), QByteArray("earlier"));
        QVERIFY(QFile::exists(home_.path() + "/.local/share/Trash/info/clip.flv.trashinfo"));
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

    void trashOfAnotherVolumeOnlyWhenTheUsersAlone_data() {
        QTest::addColumn<Flaw>("flaw");
        QTest::newRow("usable") << Flaw::None;
        QTest::newRow("another user's") << Flaw::AnotherUsers;
        QTest::newRow("open to all") << Flaw::OpenToAll;
        QTest::newRow("readable by all") << Flaw::ReadableByAll;
        QTest::newRow("a link to a private folder") << Flaw::ALink;
        QTest::newRow("a file as info") << Flaw::InfoAFile;
        QTest::newRow("read-only info") << Flaw::ReadOnlyInfo;
        QTest::newRow("files a link") << Flaw::FilesALink;
    }

    // A file on another file system than the home goes to that file system's Trash, which anyone
    // may have made before the user, or made unusable; placing ends either way.
    void trashOfAnotherVolumeOnlyWhenTheUsersAlone() {
        QFETCH(Flaw, flaw);
        QTemporaryDir other(QStringLiteral("/dev/shm/vantelo-XXXXXX"));
        const std::optional<VolumeTrash> volume = volumeTrash(other);
        if (!volume)
            QSKIP("needs a file system apart from the home's (/dev/shm) without a Trash");
        const QByteArray trash = QFile::encodeName(volume->trash);
        const QString elsewhere = volume->folder + "/elsewhere";
        const auto removeTrash = qScopeGuard([trash] {
            QDir(QFile::decodeName(trash)).removeRecursively();
            ::unlink(trash.constData());
        });
        QVERIFY(QDir().mkpath(elsewhere + "/files") && QDir().mkpath(elsewhere + "/info"));
        QVERIFY(::chmod(QFile::encodeName(elsewhere).constData(), 0700) == 0);
        if (flaw == Flaw::ALink)
            QVERIFY(QFile::link(elsewhere, volume->trash));
        else if (flaw != Flaw::None)
            QVERIFY(::mkdir(trash.constData(), 0700) == 0);
        if (flaw == Flaw::AnotherUsers && (::getuid() != 0 || ::chown(trash, 65534, -1) != 0))
            QSKIP("only root can give a folder to another user");
        if (flaw == Flaw::OpenToAll || flaw == Flaw::ReadableByAll)
            QVERIFY(::chmod(trash, flaw == Flaw::OpenToAll ? 0777 : 0755) == 0);
        if (flaw == Flaw::InfoAFile)
            QVERIFY(!writeIn(volume->trash, "info", "").isEmpty());
        if (flaw == Flaw::ReadOnlyInfo)
            QVERIFY(::mkdir(trash + "/info", 0500) == 0);
        if (flaw == Flaw::FilesALink)
            QVERIFY(QFile::link(elsewhere + "/files", volume->trash + "/files"));

        const QString earlier = writeIn(volume->folder, "clip é.flv", "earlier");
        const QString part = writeIn(volume->folder, "clip é.flv.part", "new");
        const QString placed = placeWithinBound(part, earlier);
        QVERIFY2(placed != "<no end>", "placing did not end within 10 s");
        QCOMPARE(read(placed), QByteArray("new"));
        QCOMPARE(QDir(elsewhere + "/files").entryList(QDir::Files), QStringList());
        QCOMPARE(QDir(elsewhere + "/info").entryList(QDir::Files), QStringList());
        if (flaw != Flaw::None) {
            QCOMPARE(placed, volume->folder + "/clip é (2).flv");
            QCOMPARE(read(earlier), QByteArray("earlier"));
            QCOMPARE(QDir(volume->trash + "/files").entryList(QDir::Files), QStringList());
            return;
        }
        // The earlier file, with a note of where it was and when it went; a second one of the
        // same name beside it.
        QCOMPARE(placed, earlier);
        QCOMPARE(read(volume->trash + "/files/clip é.flv"), QByteArray("earlier"));
        const QString note = read(volume->trash + "/info/clip é.flv.trashinfo");
        const QRegularExpression noteFormat(
            "^\\[Trash "
            "Info\\]\nPath=(.*)\nDeletionDate=(\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d)\n$");
        const QRegularExpressionMatch parts = noteFormat.match(note);
        QVERIFY2(parts.hasMatch(), qPrintable(note));
        QCOMPARE(parts.captured(1),
                 QFileInfo(volume->folder).canonicalFilePath() + "/clip%20%C3%A9.flv");
        QVERIFY(qAbs(QDateTime::fromString(parts.captured(2), Qt::ISODate)
                         .secsTo(QDateTime::currentDateTime())) < 60);
        writeIn(volume->folder, "clip é.flv.part", "newer");
        QCOMPARE(placeWithinBound(part, earlier), earlier);
        QCOMPARE(read(volume->trash + "/files/clip é (2).flv"), QByteArray("new"));
        QVERIFY(QFile::exists(volume->trash + "/info/clip é (2).flv.trashinfo"));
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
