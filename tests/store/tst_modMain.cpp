#include "Desktop.h"
#include "FakeDesktop.h"
#include "ShellOpen.h"
#include "SpcFolder.h"
#include "TestHome.h"
#include "ZebCommonDialog.h"
#include "modBrowse.h"
#include "modMain.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTest>
#include <QTreeView>

using namespace modMain;

// Path operations, the documents folder, and the folder and file pickers (through the
// desktop seam, and Qt's open-file dialog as it is set up for real).
class tst_modMain : public QObject {
    Q_OBJECT

private:
    TestHome home_;
    QString scratch(const QString& name) const { return home_.path() + "/scratch/" + name; }

private slots:
    void init() { QDir(home_.path() + "/scratch").removeRecursively(); }

    void fileName_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("full path") << "/home/u/Videos/clip.flv"
                                   << "clip.flv";
        QTest::newRow("bare name has no folder part") << "clip.flv"
                                                      << "";
        QTest::newRow("folder with trailing slash") << "/home/u/"
                                                    << "";
        QTest::newRow("root") << "/"
                              << "";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("spaces kept") << "/a/my clip .flv"
                                     << "my clip .flv";
    }
    void fileName() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(GetFileName(path), expected);
    }

    void fileExtension_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("flv") << "clip.flv"
                             << "flv";
        QTest::newRow("last dot counts") << "/a/clip.part.flv"
                                         << "flv";
        QTest::newRow("no dot") << "/a/clip"
                                << "";
        QTest::newRow("dot in a folder name only") << "/home/u.v/clip"
                                                   << "v/clip";
        QTest::newRow("ends in a dot") << "clip."
                                       << "";
        QTest::newRow("hidden file") << ".profile"
                                     << "profile";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fileExtension() {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(GetFileExtension(name), expected);
    }

    void addSlash_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("added") << "/home/u/Videos"
                               << "/home/u/Videos/";
        QTest::newRow("already there") << "/home/u/Videos/"
                                       << "/home/u/Videos/";
        QTest::newRow("empty") << ""
                               << "/";
        QTest::newRow("root") << "/"
                              << "/";
    }
    void addSlash() {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(AddSlash(path), expected);
    }

    void createPathMakesEveryMissingLevel() {
        const QString target = scratch("Morvane/Vantelo/Clips");
        QVERIFY(!QFileInfo::exists(scratch("")));
        QVERIFY(CreatePath(target));
        QVERIFY(QFileInfo(target).isDir());
    }

    void createPathOfExistingLevelsChangesNothing() {
        const QString target = scratch("keep");
        QVERIFY(QDir().mkpath(target));
        QFile marker(target + "/inside.txt");
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        QVERIFY(CreatePath(target));
        QVERIFY(CreatePath(target + "/"));
        QVERIFY(QFileInfo::exists(target + "/inside.txt"));
        QCOMPARE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
    }

    void createPathTrailingSlashMakesNoDifference() {
        QVERIFY(CreatePath(scratch("a/b/")));
        QVERIFY(QFileInfo(scratch("a/b")).isDir());
        QVERIFY(!QFileInfo::exists(scratch("a/b/b")));
    }

    void createPathFailsCleanlyUnderAFile() {
        QVERIFY(QDir().mkpath(scratch("")));
        QFile file(scratch("taken"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("data");
        file.close();
        QVERIFY(!CreatePath(scratch("taken/sub/deeper")));
        QVERIFY(QFileInfo(scratch("taken")).isFile());
        QCOMPARE(QFileInfo(scratch("taken")).size(), qint64(4));
        // A file named like the last level is no folder either.
        QVERIFY(!CreatePath(scratch("taken")));
    }

    void createPathNeverCreatesTheRoot() { QVERIFY(CreatePath("/")); }

    void documentsFolder() {
        QCOMPARE(SpecialFolder(nullptr, 5, 2), home_.path() + "/Documents");
        QCOMPARE(SpecialFolder(nullptr, 5, 0), home_.path() + "/Documents");
    }

    void unknownFolderIdGivesEmptyText_data() {
        QTest::addColumn<int>("id");
        QTest::newRow("-1") << -1;
        QTest::newRow("4096") << 4096;
        QTest::newRow("6") << 6;
    }
    void unknownFolderIdGivesEmptyText() {
        QFETCH(int, id);
        QCOMPARE(SpecialFolder(nullptr, id, 2), QString());
    }

    void browseFolderAsksTheDesktop() {
        FakeDesktop desktop;
        desktop.folderAnswer = "/srv/chosen";
        const QString chosen = BrowseFolder(nullptr, "Browse for Folder", 0, "/srv/start",
                                            "/srv/start", true, false, QString());
        QCOMPARE(chosen, QStringLiteral("/srv/chosen"));
        QCOMPARE(desktop.folderRequests.size(), 1);
        QCOMPARE(desktop.folderRequests.at(0), (QStringList{"Browse for Folder", "/srv/start"}));
    }

    void browseFolderEmptyTitleAndCancel() {
        FakeDesktop desktop;
        desktop.folderAnswer = QString();
        QCOMPARE(BrowseFolder(nullptr, QString(), 0, QString(), "/x", true, false, QString()),
                 QString());
        QCOMPARE(desktop.folderRequests.at(0).at(0), QStringLiteral("Select A Directory"));
    }

    void shellOpenAddress() {
        FakeDesktop desktop;
        QCOMPARE(ShellOpen("http://www.morvane.example/products/vantelo.html"), QString());
        QCOMPARE(desktop.openedUrls.size(), 1);
        QCOMPARE(desktop.openedUrls.at(0),
                 QUrl("http://www.morvane.example/products/vantelo.html"));
    }

    void shellOpenRelativeFileInItsFolder() {
        FakeDesktop desktop;
        QVERIFY(QDir().mkpath(scratch("")));
        QFile file(scratch("notes.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(ShellOpen("notes.txt", QString(), scratch("")), QString());
        QCOMPARE(desktop.openedUrls.value(0), QUrl::fromLocalFile(scratch("notes.txt")));
    }

    void shellOpenFailureText() {
        FakeDesktop desktop;
        desktop.openSucceeds = false;
        const QString failure = QStringLiteral("Insufficent system memory or corrupt program file");
        QCOMPARE(ShellOpen("http://unreachable.example/"), failure);
        QCOMPARE(ShellOpen(""), failure);
        QCOMPARE(desktop.openedUrls.size(), 1);
    }

    void filterTextToQtForm_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("expected");
        QTest::newRow("flash video") << "Flash live video (*.FLV*)|*.flv*"
                                     << "Flash live video (*.FLV*) (*.flv*)";
        QTest::newRow("several masks") << "Videos|*.flv;*.mp4"
                                       << "Videos (*.flv *.mp4)";
        QTest::newRow("several pairs") << "Flash|*.flv|All files|*.*"
                                       << "Flash (*.flv);;All files (*.*)";
        QTest::newRow("no pattern") << "Anything|"
                                    << "Anything (*)";
        QTest::newRow("already Qt's form") << "Flash (*.flv)"
                                           << "Flash (*.flv)";
    }
    void filterTextToQtForm() {
        QFETCH(QString, filter);
        QFETCH(QString, expected);
        QCOMPARE(ZebCommonDialog::ToQtFilter(filter), expected);
    }

    void openDialogGoesThroughTheDesktop() {
        FakeDesktop desktop;
        desktop.fileAnswer = "/srv/in/clip.flv";
        QCOMPARE(ZebCommonDialog::ShowOpen(nullptr, "Flash live video (*.FLV*)|*.flv*", "Open",
                                           "/srv/in"),
                 QStringLiteral("/srv/in/clip.flv"));
        QCOMPARE(desktop.fileRequests.at(0),
                 (QStringList{"Open", "/srv/in", "Flash live video (*.FLV*) (*.flv*)"}));
        desktop.fileAnswer.clear();
        QCOMPARE(ZebCommonDialog::ShowOpen(nullptr, "x|*", "Open", "/"), QString());
    }

    // Qt's dialog, set up as it is shown for real, lists what the pattern matches, in either
    // letter case, hidden or not, and the folders to move through.
    void realOpenDialogFiltersWithThePattern() {
        const QString folder = scratch("media");
        QVERIFY(QDir().mkpath(folder + "/sub"));
        for (const char* name :
             {"a.flv", "B.FLV", "c.Flv.part", "d.txt", "e.mp4", "flv", "f.fl", ".g.flv"}) {
            QFile file(folder + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        QFileDialog dialog;
        Desktop::prepareOpenFileDialog(
            dialog, "Open", folder,
            ZebCommonDialog::ToQtFilter("Flash live video (*.FLV*)|*.flv*"));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Open"));
        QCOMPARE(QFileInfo(dialog.directory().absolutePath()), QFileInfo(folder));
        QCOMPARE(dialog.fileMode(), QFileDialog::ExistingFile);
        // The desktop's own pickers compare patterns case-sensitively: both cases are spelled.
        QCOMPARE(dialog.nameFilters(), QStringList{"Flash live video (*.FLV*) (*.[fF][lL][vV]*)"});
        // The user reads the description as given, without Qt's pattern after it.
        auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
        QVERIFY(types);
        QCOMPARE(types->currentText(), QStringLiteral("Flash live video (*.FLV*)"));

        auto* view = dialog.findChild<QAbstractItemView*>("listView");
        QVERIFY(view);
        const auto listed = [&view] {
            QStringList names;
            const QModelIndex root = view->rootIndex();
            for (int row = 0; row < view->model()->rowCount(root); ++row)
                names << view->model()->index(row, 0, root).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE(listed(), (QStringList{".g.flv", "B.FLV", "a.flv", "c.Flv.part", "sub"}));

        // "All files" lists every name but those of unfinished downloads.
        QFileDialog everything;
        Desktop::prepareOpenFileDialog(everything, "Open", folder,
                                       ZebCommonDialog::ToQtFilter("Media|*.mp4|All files|*"));
        everything.selectNameFilter("All files (*)");
        view = everything.findChild<QAbstractItemView*>("listView");
        QVERIFY(view);
        QTRY_COMPARE(listed(), (QStringList{".g.flv", "B.FLV", "a.flv", "d.txt", "e.mp4", "f.fl",
                                            "flv", "sub"}));
    }

    // The detail view shows every size, type and date whole ("11.5 MiB", not "11....MiB").
    void realOpenDialogColumnsShowTheirWholeText() {
        const QString folder = scratch("sizes");
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/Harbour festival.mp4");
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(11.5 * 1024 * 1024)));
        file.close();
        QFileDialog dialog;
        Desktop::prepareOpenFileDialog(dialog, "Open", folder,
                                       ZebCommonDialog::ToQtFilter("Media|*.mp4"));
        dialog.setViewMode(QFileDialog::Detail);
        dialog.resize(640, 400);
        dialog.show();
        // QTreeView hides the item view's public size hint of a column.
        QAbstractItemView* details = dialog.findChild<QTreeView*>("treeView");
        QVERIFY(details);
        QHeaderView* header = static_cast<QTreeView*>(details)->header();
        QTRY_COMPARE(details->model()->rowCount(details->rootIndex()), 1);
        for (int column = 1; column < header->count(); ++column)
            QTRY_VERIFY2(
                header->sectionSize(column) >= details->sizeHintForColumn(column),
                qPrintable(
                    details->model()->index(0, column, details->rootIndex()).data().toString()));
    }
};

QTEST_MAIN(tst_modMain)
#include "tst_modMain.moc"
