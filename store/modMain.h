#pragma once
#include <QString>

// Path operations on plain path texts with "/" separators. Opening a file or address with
// the desktop is in ShellOpen.h.
namespace modMain {
// The text after the last separator; empty when the path has none.
QString GetFileName(const QString& path);
// The text after the last dot (the scan does not stop at separators); empty without a dot.
QString GetFileExtension(const QString& name);
// The path with a trailing separator.
QString AddSlash(const QString& path);
// Creates the folder and every missing parent; false when a level cannot be created.
bool CreatePath(const QString& path);
} // namespace modMain
