#include "modMain.h"

#include "Desktop.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace modMain {

QString GetFileName(const QString& path) {
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.mid(slash + 1);
}

QString GetFileExtension(const QString& name) {
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

QString AddSlash(const QString& path) {
    return path.endsWith(QLatin1Char('/')) ? path : path + QLatin1Char('/');
}

bool CreatePath(const QString& path) {
    const QString walked = path + QLatin1Char('/');
    for (int sep = walked.indexOf(QLatin1Char('/')); sep >= 0;
         sep = walked.indexOf(QLatin1Char('/'), sep + 1)) {
        const QString level = walked.left(sep);
        // The root (empty text) and drive names are never created.
        if (level.isEmpty() || level.endsWith(QLatin1Char(':')) || QFileInfo::exists(level))
            continue;
        if (!QDir().mkdir(level))
            return false;
    }
    return path.isEmpty() || QFileInfo(path).isDir();
}

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
