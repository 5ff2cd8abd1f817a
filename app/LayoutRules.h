#pragma once

// The main window's resize rules as plain arithmetic over twips (15 twips to a pixel), so that
// they can be checked without a window.
namespace LayoutRules {

struct TwipRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    bool operator==(const TwipRect& other) const {
        return Left == other.Left && Top == other.Top && Width == other.Width &&
               Height == other.Height;
    }
    bool operator!=(const TwipRect& other) const { return !(*this == other); }
};

// The controls that the rules read or move. Positions are relative to each control's
// container: the window, or FrmInfo (Prg, cmdCancel), or frmDest (cmdOpen, cmdBrowse, txtDest).
struct MainLayout {
    TwipRect cmdDownload;
    TwipRect txtSource;
    TwipRect FrmInfo;
    TwipRect Prg;
    TwipRect cmdCancel;
    TwipRect frmDest;
    TwipRect cmdOpen;
    TwipRect cmdBrowse;
    TwipRect txtDest;
    TwipRect cmdRefresh;
    TwipRect Adds;

    bool operator==(const MainLayout& other) const;
    bool operator!=(const MainLayout& other) const { return !(*this == other); }
};

// The positions the controls have when the window is built.
MainLayout DesignLayout();

// Runs the twelve rules in order for a client area of `width` x `height` twips. Each rule reads
// what the earlier ones set; a rule that would give a negative width or height is skipped and
// leaves that value as it was, and the following rules still run.
void Apply(MainLayout& layout, int width, int height);

} // namespace LayoutRules
