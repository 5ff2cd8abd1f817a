#pragma once
#include <QImage>
#include <QString>

// Draws the program's own pictures in code: the application icon "MAINICON", the 16x16 button
// pictures and the idle video player. Used at build time only (the vantelo-icons tool), which
// stores the results for the program's resources (PictureSet) and the desktop's icon theme.
// Needs no application object.
namespace PictureDrawing {

// "MAINICON" drawn at one size (any size works; PictureSet::kIconSizes are the ones stored).
QImage MainIcon(int size);
// A button picture by its name in PictureSet::kButtonNames; a null image for another name.
QImage ButtonPicture(const QString& name);
// The idle video player: black screen, play symbol, player bar.
QImage IdlePlayer();

} // namespace PictureDrawing
