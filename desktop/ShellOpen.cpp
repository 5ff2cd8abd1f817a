#include "ShellOpen.h"

#include "Desktop.h"

#include <QDir>
#include <QUrl>

namespace modMain {

QString ShellOpen(const QString& fileOrAddress, const QString& parameters, const QString& folder) {
    Q_UNUSED(parameters);
    // A relative file name is looked up in the working folder; anything else that is not an
    // existing file is taken as an address.
    const QString workingFolder = folder.isEmpty() ? QDir::currentPath() : folder;
    const QUrl url = QUrl::fromUserInput(fileOrAddress, workingFolder);
    if (fileOrAddress.trimmed().isEmpty() || !url.isValid() || !Desktop::instance().openUrl(url))
        return QStringLiteral("Insufficent system memory or corrupt program file");
    return QString();
}

} // namespace modMain
