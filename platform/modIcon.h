#pragma once
#include <QColor>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QPixmap>
#include <QString>

class QWidget;

// The program's own pictures, drawn in code: the application icon "MAINICON", the 16x16
// button pictures and the idle video player shown where the preview pane is hidden.
namespace modIcon {

// The pictures that stand beside the button captions.
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
// "MAINICON" drawn at one size (any size works; IconSizes() are the ones installed).
QPixmap MainIconImage(int size);
// The same as an image; needs no application object (the build-time icon writer uses it).
QImage RenderMainIcon(int size);

// A 16x16 button picture.
QPixmap ButtonPicture(Picture picture);
// The same by name: "Information", "Globe", "CurvedArrow", "CirclingArrows", "FolderArrow",
// "FolderMagnifier", "RedCross", "RedDownArrow" (case-insensitive); a null pixmap otherwise.
QPixmap ButtonPicture(const QString& name);

// The 180x147 idle video player: black screen, play symbol, player bar.
QPixmap IdlePlayerPicture();

// Draws the icon and every picture above ahead of their first use. Safe on any thread once
// the application object exists: start-up runs it beside the building of the main window.
void DrawPictures();

} // namespace modIcon
