#include "AeroButton.h"
#include "YtDlpProgram.h"
#include "frmAbout.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

class tst_frmAbout : public QObject {
    Q_OBJECT
private slots:
    void textIsBuiltAfreshAndEndsWithALineBreak();
    void enterClosesAndTheAddressDoesNothing();
};

void tst_frmAbout::textIsBuiltAfreshAndEndsWithALineBreak() {
    QString first;
    {
        frmAbout about;
        first = about.InfoText();
    }
    frmAbout again;
    QCOMPARE(again.InfoText(), first);
    QVERIFY(!first.contains(QRegularExpression("[^\r]\n")));
    QStringList lines = first.split("\r\n");
    // After the listing, the yt-dlp that reads sites' pages, and how to update an old one.
    const QString version = YtDlpProgram::Version();
    const QString hint = YtDlpProgram::UpdateHint();
    QStringList ytDlp = {"", "yt-dlp : " + (version.isEmpty() ? "not installed" : version)};
    if (!hint.isEmpty())
        ytDlp.append(hint);
    QCOMPARE(lines.mid(23, ytDlp.size()), ytDlp);
    lines.remove(23, ytDlp.size());
    QCOMPARE(lines.size(), 24); // 23 lines, each with its break
    QCOMPARE(lines.last(), QString());
    QCOMPARE(lines.mid(0, 2), QStringList({"Vantelo", "Version : 1.5.1"}));
    QCOMPARE(lines.mid(6, 8),
             QStringList({"", "Credits:", QString(21, '-'), "FFMPEG", "Windows Media Format SDK",
                          "", "Other Products", QString(21, '-')}));
    QCOMPARE(lines[4], again.lblEMail->text());
    QCOMPARE(lines.mid(14, 9).filter(QRegularExpression("\\S")).size(), 9);
    // The break after the last product shows as an empty last line.
    QCOMPARE(again.txtInfo->document()->blockCount(), 24 + ytDlp.size());
}

void tst_frmAbout::enterClosesAndTheAddressDoesNothing() {
    QWidget owner;
    owner.show();
    frmAbout about(&owner);
    QCOMPARE(about.size(), QSize(342, 273));
    about.show();
    QVERIFY(QTest::qWaitForWindowExposed(&about));
    QSignalSpy accepted(&about, &QDialog::accepted);
    QTest::mouseClick(about.lblEMail, Qt::LeftButton);
    QVERIFY(about.isVisible());
    // The focus starts in the read-only text, which would keep Enter to itself.
    QTest::keyClick(about.txtInfo, Qt::Key_Return);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!about.isVisible());
}

QTEST_MAIN(tst_frmAbout)
#include "tst_frmAbout.moc"
