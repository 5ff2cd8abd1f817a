#pragma once
#include <QString>

// Path operations on plain path texts with "/" separators.
namespace modMain {
// The text after the last separator; empty when the path has none.
QString GetFileName(const QString& path);
// The text after the last dot (the scan does not stop at separators); empty without a dot.
QString GetFileExtension(const QString& name);
// The path with a trailing separator.
QString AddSlash(const QString& path);
// Creates the folder and every missing parent; false when a level cannot be created.
bool CreatePath(const QString& path);
// Opens a file or address with its associated program. Returns an error text on failure,
// empty text otherwise.
QString ShellOpen(const QString& fileOrAddress, const QString& parameters = QString(),
                  const QString& folder = QString());
} // namespace modMain
