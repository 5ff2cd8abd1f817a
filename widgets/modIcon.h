#pragma once
#include <QColor>
#include <QIcon>
#include <QList>
#include <QPixmap>
#include <QString>

class QWidget;

// The program's own pictures: the application icon "MAINICON", the 16x16 button pictures and
// the idle video player shown where the preview pane is hidden. The build draws them
// (PictureDrawing) and compiles them in; this reads them from the program's resources.
namespace modIcon {

// The pictures that stand beside the button captions (in the order of
// PictureSet::kButtonNames).
enum class Picture {
    Information,     // information bubble (About)
    Globe,           // globe (Homepage)
    CurvedArrow,     // curved arrow (Convert)
    CirclingArrows,  // two circling arrows (Refresh)
    FolderArrow,     // folder with an arrow (Open)
    FolderMagnifier, // folder with a magnifier (Browse)
    RedCross,        // red cross (Cancel)
    RedDownArrow,    // red downward arrow (Download, Check for Updates)
};

// The colour that the windows declare as the button pictures' transparent colour. The
// pictures already have a transparent background and never use pure white inside, so
// declaring it changes nothing visible.
inline const QColor kPictureTransparentColor = QColor(255, 255, 255);

// Sizes of the application icon, largest first.
const QList<int>& IconSizes();

// Sets the window icon from the named icon group (the program has one, "MAINICON"); with
// `alsoOwner` the top-level owner of the window and the application get it too. An unknown
// name leaves the icons as they were.
void SetWindowIcon(QWidget* window, const QString& resourceName, bool alsoOwner);

// The named icon group with every size of IconSizes(); a null icon for an unknown name.
QIcon LoadIcon(const QString& resourceName);
// "MAINICON" at one size: as stored for IconSizes(), scaled from them for any other size.
QPixmap MainIconImage(int size);

// A 16x16 button picture.
QPixmap ButtonPicture(Picture picture);
// The same by name: "Information", "Globe", "CurvedArrow", "CirclingArrows", "FolderArrow",
// "FolderMagnifier", "RedCross", "RedDownArrow" (case-insensitive); a null pixmap otherwise.
QPixmap ButtonPicture(const QString& name);

// The 180x147 idle video player: black screen, play symbol, player bar.
QPixmap IdlePlayerPicture();

} // namespace modIcon
