#include "LayoutRules.h"
#include "ScreenPlacement.h"

#include <QTest>

using LayoutRules::MainLayout;

namespace {
constexpr int W = 10665, H = 8145; // the opening client area

MainLayout laidOut(int width, int height) {
    MainLayout layout = LayoutRules::DesignLayout();
    LayoutRules::Apply(layout, width, height);
    return layout;
}
} // namespace

class tst_LayoutRules : public QObject {
    Q_OBJECT
private slots:
    void workedExampleToTheTwip();
    void widerAndTallerMoveOnlyWhatTheRulesName();
    void negativeSizesAreSkippedAndTheOtherRulesStillApply();
    void aWindowTooLargeForItsScreenIsClampedOntoIt();
};

void tst_LayoutRules::workedExampleToTheTwip() {
    const MainLayout l = laidOut(W, H);
    const QList<int> got{l.cmdDownload.Left, l.txtSource.Width, l.FrmInfo.Width, l.Prg.Width,
                         l.cmdCancel.Left,   l.frmDest.Width,   l.cmdOpen.Left,  l.cmdBrowse.Left,
                         l.txtDest.Width,    l.Adds.Top,        l.Adds.Width,    l.Adds.Height};
    QCOMPARE(got,
             QList<int>({9300, 7710, 7395, 7155, 6300, 7395, 6300, 5205, 4965, 3645, 10425, 4350}));
}

void tst_LayoutRules::widerAndTallerMoveOnlyWhatTheRulesName() {
    const MainLayout base = laidOut(W, H);
    MainLayout wide = laidOut(W + 1500, H);
    for (int* left :
         {&wide.cmdDownload.Left, &wide.cmdCancel.Left, &wide.cmdOpen.Left, &wide.cmdBrowse.Left})
        *left -= 1500;
    for (int* width : {&wide.txtSource.Width, &wide.FrmInfo.Width, &wide.frmDest.Width,
                       &wide.Prg.Width, &wide.txtDest.Width, &wide.Adds.Width})
        *width -= 1500;
    QVERIFY(wide == base); // everything else, the preview and button row, stays put

    MainLayout tall = laidOut(W, H - 900);
    QCOMPARE(tall.Adds.Height, base.Adds.Height - 900);
    tall.Adds.Height = base.Adds.Height;
    QVERIFY(tall == base);
}

void tst_LayoutRules::negativeSizesAreSkippedAndTheOtherRulesStillApply() {
    MainLayout l = laidOut(W, H);
    const MainLayout before = l;
    LayoutRules::Apply(l, 2000, 3000);
    QCOMPARE(l.cmdDownload.Left, 2000 - 1215 - 150);     // positions may go anywhere
    QCOMPARE(l.txtSource.Width, before.txtSource.Width); // would be -955
    QCOMPARE(l.FrmInfo.Width, before.FrmInfo.Width);     // would be -1270
    QCOMPARE(l.Prg.Width, before.FrmInfo.Width - 240);   // reads the kept frame width
    QCOMPARE(l.Adds.Width, 2000 - 240);
    QCOMPARE(l.Adds.Height, before.Adds.Height); // would be -795
    MainLayout fits = LayoutRules::DesignLayout();
    LayoutRules::Apply(fits, 1440 + 1215 + 300, H);
    QCOMPARE(fits.txtSource.Width, 0); // zero is a size

    // Minimised, the client area is 0 x 0; restoring gives the layout from before.
    l = laidOut(W + 735, H + 600);
    const MainLayout shown = l;
    LayoutRules::Apply(l, 0, 0);
    QCOMPARE(l.Adds.Width, shown.Adds.Width);
    QCOMPARE(l.txtDest.Width, shown.txtDest.Width);
    LayoutRules::Apply(l, W + 735, H + 600);
    QVERIFY(l == shown);
}

void tst_LayoutRules::aWindowTooLargeForItsScreenIsClampedOntoIt() {
    // Where it fits, the window opens centred as ever.
    const QRect screen(0, 0, 1280, 1024);
    QCOMPARE(ScreenPlacement::Place(screen, QSize(711, 543), QMargins(1, 25, 1, 1)),
             QRect(QPoint(639, 511) - QPoint(355, 271), QSize(711, 543)));
    // At scale 2 a 1280 x 1024 screen is 640 x 512 (a panel takes 24): frame and all on it.
    const QRect small(0, 24, 640, 488);
    const QMargins frame(2, 20, 2, 2);
    const QRect placed = ScreenPlacement::Place(small, QSize(711, 543), frame);
    QCOMPARE(placed.marginsAdded(frame), small);
    // Only the side that does not fit is clamped; the other keeps its size, centred.
    const QRect wide = ScreenPlacement::Place(QRect(100, 0, 1000, 500), QSize(711, 543), frame);
    QCOMPARE(wide.marginsAdded(frame).height(), 500);
    QCOMPARE(wide.width(), 711);
    QCOMPARE(wide.marginsAdded(frame).center().x(), QRect(100, 0, 1000, 500).center().x());
}

QTEST_APPLESS_MAIN(tst_LayoutRules)
#include "tst_LayoutRules.moc"
