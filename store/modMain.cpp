#include "modMain.h"

#include <QDir>
#include <QFileInfo>

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

} // namespace modMain
