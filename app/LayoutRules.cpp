#include "LayoutRules.h"

namespace LayoutRules {

namespace {
// A window system refuses sizes below zero; such a rule leaves the size alone.
void setSize(int& size, int value) {
    if (value >= 0)
        size = value;
}
} // namespace

bool MainLayout::operator==(const MainLayout& o) const {
    return cmdDownload == o.cmdDownload && txtSource == o.txtSource && FrmInfo == o.FrmInfo &&
           Prg == o.Prg && cmdCancel == o.cmdCancel && frmDest == o.frmDest &&
           cmdOpen == o.cmdOpen && cmdBrowse == o.cmdBrowse && txtDest == o.txtDest &&
           cmdRefresh == o.cmdRefresh && Adds == o.Adds;
}

MainLayout DesignLayout() {
    MainLayout l;
    l.cmdDownload = {8160, 240, 1215, 315};
    l.txtSource = {1440, 240, 4575, 315};
    l.FrmInfo = {3120, 720, 6255, 1215};
    l.Prg = {120, 360, 6015, 255};
    l.cmdCancel = {5160, 720, 975, 315};
    l.frmDest = {3120, 2040, 6255, 855};
    l.cmdOpen = {5160, 360, 975, 345};
    l.cmdBrowse = {4080, 360, 975, 345};
    l.txtDest = {120, 360, 3855, 315};
    l.cmdRefresh = {120, 3120, 1215, 375};
    l.Adds = {120, 4440, 9255, 1935};
    return l;
}

void Apply(MainLayout& l, int width, int height) {
    l.cmdDownload.Left = width - l.cmdDownload.Width - 150;
    setSize(l.txtSource.Width, width - l.txtSource.Left - l.cmdDownload.Width - 300);
    setSize(l.FrmInfo.Width, width - l.FrmInfo.Left - 150);
    setSize(l.Prg.Width, l.FrmInfo.Width - 240);
    l.cmdCancel.Left = l.FrmInfo.Width - l.cmdCancel.Width - 120;
    setSize(l.frmDest.Width, l.FrmInfo.Width);
    l.cmdOpen.Left = l.frmDest.Width - l.cmdOpen.Width - 120;
    l.cmdBrowse.Left = l.cmdOpen.Left - l.cmdBrowse.Width - 120;
    setSize(l.txtDest.Width, l.cmdBrowse.Left - 240);
    l.Adds.Top = l.cmdRefresh.Top + l.cmdRefresh.Height + 150;
    setSize(l.Adds.Width, width - 240);
    setSize(l.Adds.Height, height - (l.Adds.Top + 150));
}

} // namespace LayoutRules
