#include "HandedIn.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace HandedIn {

QString Address(const QString& text) {
    QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    // What a text box would show of it: no control characters.
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return line.size() > kMaxAddressLength ? QString() : line;
}

QString DroppedAddress(const QList<QUrl>& urls, const QString& text) {
    for (const QUrl& url : urls)
        if (url.isValid())
            return Address(url.toString(QUrl::FullyEncoded));
    return Address(text);
}

QString MediaFile(const QList<QUrl>& urls) {
    const QMimeDatabase types;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            continue;
        const QFileInfo file(url.toLocalFile());
        if (!file.isFile() || !file.isReadable())
            continue;
        const QString type = types.mimeTypeForFile(file).name();
        if (type.startsWith(QLatin1String("video/")) || type.startsWith(QLatin1String("audio/")))
            return file.absoluteFilePath();
    }
    return QString();
}

} // namespace HandedIn
