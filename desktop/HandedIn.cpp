#include "HandedIn.h"

#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringList>

namespace HandedIn {

namespace {
// What a text box would show of the text's first line: trimmed, no control characters.
QString FirstLine(const QString& text) {
    QString line = text.section(QLatin1Char('\n'), 0, 0).trimmed();
    line.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return line;
}
} // namespace

QString Address(const QString& text) {
    const QString line = FirstLine(text);
    return line.size() > kMaxAddressLength ? QString() : line;
}

QStringList SchemeGuesses(const QString& address) {
    const QString typed = address.trimmed();
    if (typed.contains(QLatin1String("://")))
        return {};
    // A host name with a dot (or localhost) and perhaps a port, up to the path: "javascript:",
    // "data:text" or "mailto:a@b.c" never read as one.
    static const QRegularExpression host(
        QStringLiteral("^(localhost|([A-Za-z0-9-]+\\.)+[A-Za-z0-9-]+)(:[0-9]{1,5})?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QString start = typed.section(QRegularExpression(QStringLiteral("[/?#]")), 0, 0);
    if (!host.match(start).hasMatch())
        return {};
    return {QStringLiteral("https://") + typed, QStringLiteral("http://") + typed};
}

bool IsTooLong(const QString& text) {
    return FirstLine(text).size() > kMaxAddressLength;
}

QString LeftOutText(int tooLong, int beyondMost, int most) {
    QStringList said;
    if (tooLong == 1)
        said << QStringLiteral("An address longer than %1 characters was left out: no video page "
                               "has one that long.")
                    .arg(kMaxAddressLength);
    else if (tooLong > 1)
        said << QStringLiteral("%1 addresses longer than %2 characters were left out: no video "
                               "page has one that long.")
                    .arg(tooLong)
                    .arg(kMaxAddressLength);
    if (beyondMost == 1)
        said << QStringLiteral("An address was left out: no more than %1 wait their turn.")
                    .arg(most);
    else if (beyondMost > 1)
        said << QStringLiteral("%1 addresses were left out: no more than %2 wait their turn.")
                    .arg(beyondMost)
                    .arg(most);
    return said.join(QLatin1Char('\n'));
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
