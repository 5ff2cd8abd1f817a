#include "AeroButton.h"
#include "AppVersion.h"
#include "Shape.h"
#include "frmAbout.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

class tst_frmAbout : public QObject {
    Q_OBJECT
private slots:
    void textListsProductVersionCreditsAndProducts();
    void everyOpeningBuildsTheSameText();
    void windowAndControls();
    void enterClosesAndTheAddressDoesNothing();
};

void tst_frmAbout::textListsProductVersionCreditsAndProducts() {
    frmAbout about;
    const QString text = about.InfoText();
    QVERIFY(text.endsWith("\r\n"));
    QVERIFY(!text.contains(QRegularExpression("[^\r]\n")));
    const QStringList lines = text.split("\r\n");
    QCOMPARE(lines.size(), 24); // 23 lines and the empty text after the last break
    QCOMPARE(lines.last(), QString());
    QCOMPARE(lines[0], "Vantelo");
    QCOMPARE(lines[1], QStringLiteral("Version : %1.%2.%3")
                           .arg(AppVersion::Major)
                           .arg(AppVersion::Minor)
                           .arg(AppVersion::Revision));
    QCOMPARE(lines[1], "Version : 1.5.1");
    QVERIFY(!lines[2].isEmpty());
    QCOMPARE(lines[3], "Company : Morvane");
    QCOMPARE(lines[4], about.lblEMail->text());
    QVERIFY(lines[5].startsWith("Country : "));
    QCOMPARE(lines[6], QString());
    QCOMPARE(lines[7], "Credits:");
    QCOMPARE(lines[8], QString(21, QLatin1Char('-')));
    QCOMPARE(lines[9], "FFMPEG");
    QCOMPARE(lines[10], "Windows Media Format SDK");
    QCOMPARE(lines[11], QString());
    QCOMPARE(lines[12], "Other Products");
    QCOMPARE(lines[13], QString(21, QLatin1Char('-')));
    for (int i = 14; i < 23; ++i)
        QVERIFY2(!lines[i].trimmed().isEmpty(), qPrintable(QString::number(i)));
    // The box shows the break after the last product as an empty last line.
    QCOMPARE(about.txtInfo->document()->blockCount(), 24);
}

void tst_frmAbout::everyOpeningBuildsTheSameText() {
    QString first;
    {
        frmAbout about;
        first = about.InfoText();
    }
    frmAbout again;
    QCOMPARE(again.InfoText(), first);
    QCOMPARE(again.InfoText().count("Vantelo\r\n"), 1);
}

void tst_frmAbout::windowAndControls() {
    QWidget owner;
    frmAbout about(&owner);
    QCOMPARE(about.windowTitle(), "About");
    QCOMPARE(about.size(), QSize(342, 273));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(!(about.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(about.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(about.txtInfo->geometry(), QRect(25, 42, 286, 176));
    QVERIFY(about.txtInfo->isReadOnly());
    QCOMPARE(about.txtInfo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(about.txtInfo->palette().color(QPalette::Base), QColor(224, 224, 224));
    QCOMPARE(about.cmdClose->text(), "&Ok");
    QCOMPARE(about.cmdClose->geometry(), QRect(256, 232, 65, 25));
    QVERIFY(about.cmdClose->isDefault());
    QVERIFY(about.cmdClose->toolTip().isEmpty());
    QCOMPARE(about.lblEMail->pos(), QPoint(16, 238));
    QVERIFY(about.lblEMail->font().underline());
    QCOMPARE(about.lblEMail->palette().color(QPalette::WindowText), QColor(Qt::blue));
    // The three squares line up with the right edge of the panel and the button.
    const int rightEdge = 4815 / 15;
    QCOMPARE(about.shp[0]->geometry().right() + 1, rightEdge);
    QCOMPARE(about.Shape1->geometry().right() + 1, rightEdge);
    QCOMPARE(about.cmdClose->geometry().right() + 1, rightEdge);
}

void tst_frmAbout::enterClosesAndTheAddressDoesNothing() {
    QWidget owner;
    owner.show();
    frmAbout about(&owner);
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QSignalSpy accepted(&about, &QDialog::accepted);

    QTest::mouseClick(about.lblEMail, Qt::LeftButton);
    QVERIFY(about.isVisible());
    QCOMPARE(accepted.count(), 0);

    about.txtInfo->setFocus();
    QTest::keyClick(about.txtInfo, Qt::Key_Return);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(tst_frmAbout)
#include "tst_frmAbout.moc"
