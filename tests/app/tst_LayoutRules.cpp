#include "LayoutRules.h"

#include <QTest>

using LayoutRules::MainLayout;

namespace {
constexpr int OpeningWidth = 10665;
constexpr int OpeningHeight = 8145;

MainLayout laidOut(int width, int height) {
    MainLayout layout = LayoutRules::DesignLayout();
    LayoutRules::Apply(layout, width, height);
    return layout;
}
} // namespace

class tst_LayoutRules : public QObject {
    Q_OBJECT
private slots:
    void workedExampleAtOpeningSize();
    void widerMovesRightHandControlsAndWidensTheRest();
    void heightOnlyChangesTheAdvertisementHeight();
    void narrowWindowSkipsNegativeWidthsOnly();
    void minimisedSkipsSizesAndRestoreGivesTheSameLayout();
    void rulesAreStableWhenRepeated();
};

void tst_LayoutRules::workedExampleAtOpeningSize() {
    const MainLayout l = laidOut(OpeningWidth, OpeningHeight);
    QCOMPARE(l.cmdDownload.Left, 9300);
    QCOMPARE(l.txtSource.Width, 7710);
    QCOMPARE(l.FrmInfo.Width, 7395);
    QCOMPARE(l.Prg.Width, 7155);
    QCOMPARE(l.cmdCancel.Left, 6300);
    QCOMPARE(l.frmDest.Width, 7395);
    QCOMPARE(l.cmdOpen.Left, 6300);
    QCOMPARE(l.cmdBrowse.Left, 5205);
    QCOMPARE(l.txtDest.Width, 4965);
    QCOMPARE(l.Adds.Top, 3645);
    QCOMPARE(l.Adds.Width, 10425);
    QCOMPARE(l.Adds.Height, 4350);
    // Edges: 150 twips from the window's right edge, 120 from a frame's.
    QCOMPARE(l.cmdDownload.Left + l.cmdDownload.Width, OpeningWidth - 150);
    QCOMPARE(l.txtSource.Left + l.txtSource.Width, l.cmdDownload.Left - 150);
    QCOMPARE(l.FrmInfo.Left + l.FrmInfo.Width, OpeningWidth - 150);
    QCOMPARE(l.cmdCancel.Left + l.cmdCancel.Width, l.FrmInfo.Width - 120);
    QCOMPARE(l.Prg.Left + l.Prg.Width, l.FrmInfo.Width - 120);
    QCOMPARE(l.txtDest.Left + l.txtDest.Width, l.cmdBrowse.Left - 120);
    QCOMPARE(l.Adds.Top + l.Adds.Height, OpeningHeight - 150);
    // What the rules never move.
    const MainLayout design = LayoutRules::DesignLayout();
    QCOMPARE(l.cmdDownload.Top, design.cmdDownload.Top);
    QCOMPARE(l.FrmInfo.Height, design.FrmInfo.Height);
    QCOMPARE(l.frmDest.Top, design.frmDest.Top);
    QCOMPARE(l.cmdRefresh, design.cmdRefresh);
}

void tst_LayoutRules::widerMovesRightHandControlsAndWidensTheRest() {
    const MainLayout base = laidOut(OpeningWidth, OpeningHeight);
    const MainLayout wide = laidOut(OpeningWidth + 1500, OpeningHeight);
    QCOMPARE(wide.cmdDownload.Left, base.cmdDownload.Left + 1500);
    QCOMPARE(wide.cmdCancel.Left, base.cmdCancel.Left + 1500);
    QCOMPARE(wide.cmdOpen.Left, base.cmdOpen.Left + 1500);
    QCOMPARE(wide.cmdBrowse.Left, base.cmdBrowse.Left + 1500);
    QCOMPARE(wide.txtSource.Width, base.txtSource.Width + 1500);
    QCOMPARE(wide.FrmInfo.Width, base.FrmInfo.Width + 1500);
    QCOMPARE(wide.frmDest.Width, base.frmDest.Width + 1500);
    QCOMPARE(wide.Prg.Width, base.Prg.Width + 1500);
    QCOMPARE(wide.txtDest.Width, base.txtDest.Width + 1500);
    QCOMPARE(wide.Adds.Width, base.Adds.Width + 1500);
    QCOMPARE(wide.Adds.Height, base.Adds.Height);
    QCOMPARE(wide.cmdRefresh, base.cmdRefresh);
    QCOMPARE(wide.txtSource.Left, base.txtSource.Left);
    QCOMPARE(wide.FrmInfo.Left, base.FrmInfo.Left);
}

void tst_LayoutRules::heightOnlyChangesTheAdvertisementHeight() {
    const MainLayout base = laidOut(OpeningWidth, OpeningHeight);
    for (const int delta : {900, -900}) {
        MainLayout resized = laidOut(OpeningWidth, OpeningHeight + delta);
        QCOMPARE(resized.Adds.Height, base.Adds.Height + delta);
        QCOMPARE(resized.Adds.Top, base.cmdRefresh.Top + base.cmdRefresh.Height + 150);
        resized.Adds.Height = base.Adds.Height;
        QVERIFY(resized == base);
    }
}

void tst_LayoutRules::narrowWindowSkipsNegativeWidthsOnly() {
    // From the opening layout to a window 2000 twips wide and 3000 high: the address box, both
    // frames and the advertisement height would go negative and keep their sizes; positions
    // and the sizes that stay positive still follow.
    MainLayout l = laidOut(OpeningWidth, OpeningHeight);
    const MainLayout before = l;
    LayoutRules::Apply(l, 2000, 3000);
    QCOMPARE(l.cmdDownload.Left, 2000 - 1215 - 150);
    QCOMPARE(l.txtSource.Width, before.txtSource.Width);
    QCOMPARE(l.FrmInfo.Width, before.FrmInfo.Width);
    QCOMPARE(l.frmDest.Width, before.frmDest.Width);
    QCOMPARE(l.Prg.Width, before.FrmInfo.Width - 240);
    QCOMPARE(l.cmdCancel.Left, before.cmdCancel.Left);
    QCOMPARE(l.Adds.Width, 2000 - 240);
    QCOMPARE(l.Adds.Height, before.Adds.Height);

    // Narrower still: the text box inside the destination frame goes on from the kept width.
    LayoutRules::Apply(l, 100, 100);
    QCOMPARE(l.cmdDownload.Left, 100 - 1215 - 150);
    QCOMPARE(l.Adds.Width, 2000 - 240);
    QCOMPARE(l.txtDest.Width, before.txtDest.Width);

    // A width that just fits gives zero, which is allowed.
    MainLayout exact = LayoutRules::DesignLayout();
    LayoutRules::Apply(exact, 1440 + 1215 + 300, OpeningHeight);
    QCOMPARE(exact.txtSource.Width, 0);
}

void tst_LayoutRules::minimisedSkipsSizesAndRestoreGivesTheSameLayout() {
    MainLayout l = laidOut(OpeningWidth + 735, OpeningHeight + 600);
    const MainLayout before = l;
    LayoutRules::Apply(l, 0, 0);
    QCOMPARE(l.txtSource.Width, before.txtSource.Width);
    QCOMPARE(l.FrmInfo.Width, before.FrmInfo.Width);
    QCOMPARE(l.Adds.Width, before.Adds.Width);
    QCOMPARE(l.Adds.Height, before.Adds.Height);
    QCOMPARE(l.cmdDownload.Left, -1365);
    LayoutRules::Apply(l, OpeningWidth + 735, OpeningHeight + 600);
    QVERIFY(l == before);
}

void tst_LayoutRules::rulesAreStableWhenRepeated() {
    MainLayout l = laidOut(OpeningWidth, OpeningHeight);
    const MainLayout once = l;
    LayoutRules::Apply(l, OpeningWidth, OpeningHeight);
    QVERIFY(l == once);
}

QTEST_APPLESS_MAIN(tst_LayoutRules)
#include "tst_LayoutRules.moc"
