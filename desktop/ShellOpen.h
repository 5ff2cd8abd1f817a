#pragma once
#include <QString>

// The one path function of modMain that reaches the desktop, apart from the plain ones in
// modMain.h so that path logic needs no desktop.
namespace modMain {
// Opens a file or address with its associated program. Returns an error text on failure,
// empty text otherwise.
QString ShellOpen(const QString& fileOrAddress, const QString& parameters = QString(),
                  const QString& folder = QString());
} // namespace modMain
