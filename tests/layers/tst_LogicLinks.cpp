#include "OutputFolder.h"
#include "SpcFolder.h"
#include "TestHome.h"

#include <QStandardPaths>
#include <QTest>

// Linked with every file of the logic libraries and Qt Core alone (see CMakeLists.txt); runs
// without an application object. The folder lookups, which only windows call, are checked here.
class tst_LogicLinks : public QObject {
    Q_OBJECT
private slots:
    void folderLookupsNeedNoWindow() {
        TestHome home;
        const QString documents =
            QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QCOMPARE(SpecialFolder(nullptr, 5, 2), documents);
        QCOMPARE(SpecialFolder(nullptr, 17, 2), QString());
        QCOMPARE(OutputFolder::Default(nullptr), documents + "/Morvane/Vantelo");
        QCOMPARE(OutputFolder::Load(), OutputFolder::Default(nullptr));
    }
};

QTEST_APPLESS_MAIN(tst_LogicLinks)
#include "tst_LogicLinks.moc"
