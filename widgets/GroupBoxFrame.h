#pragma once

// The Fusion style draws every group box frame from a PNG picture in Qt's resources, loaded by
// name. Reading a picture by name makes Qt's image reader ask every image-format plugin whether
// it reads that format, so each plugin (GIF, ICO, JPEG with libjpeg...) would be loaded before
// the main window's first paint, only to draw two frames.
namespace GroupBoxFrame {
// With the Fusion style, decodes the frame picture with Qt's own PNG reader and puts it where
// the style's load looks first (the pixmap cache, under the key of the file's path, time and
// size). Should that key ever change, the style loads the picture itself, as before.
void Preload();
} // namespace GroupBoxFrame
