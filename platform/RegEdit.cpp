#include "RegEdit.h"

#include "AppVersion.h"

#include <QSettings>

namespace {

QString dropLeadingSpaces(const QString& text) {
    int first = 0;
    while (first < text.size() && text.at(first) == QLatin1Char(' '))
        ++first;
    return text.mid(first);
}

QString cutAtNul(const QString& text) {
    const int nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// Only text is ever written, but a hand-edited file may hold a bare "a, b", which the file
// format reads as a list; give it back as it was typed.
QString storedText(const QVariant& stored) {
    if (stored.typeId() == QMetaType::QStringList)
        return stored.toStringList().join(QStringLiteral(", "));
    return stored.canConvert<QString>() ? stored.toString() : QString();
}

bool isBlank(const QString& text) {
    for (const QChar c : text)
        if (c != QLatin1Char(' '))
            return false;
    return true;
}
} // namespace

QString RegEdit::CleanStoredText(const QString& raw) {
    const QString cut = cutAtNul(dropLeadingSpaces(raw));
    return isBlank(cut) ? QString() : cut;
}

void RegEdit::WriteKey(const QString& valueName, const QString& value) {
    QSettings settings(AppVersion::Organisation, AppVersion::Product);
    // A damaged file reads as empty; start it afresh rather than keep its debris, so what
    // the user saw before this write is what the next start sees.
    if (settings.status() == QSettings::FormatError)
        settings.clear();
    settings.setValue(valueName, value);
    settings.sync();
}

QString RegEdit::LoadKey(const QString& valueName, const QString& defaultValue) const {
    const QSettings settings(AppVersion::Organisation, AppVersion::Product);
    // A damaged or unreadable store counts as an empty one.
    if (settings.status() != QSettings::NoError)
        return defaultValue;
    const QString text = CleanStoredText(storedText(settings.value(valueName)));
    return text.isEmpty() ? defaultValue : text;
}

void RegEdit::DelKey(const QString& valueName) {
    QSettings settings(AppVersion::Organisation, AppVersion::Product);
    settings.remove(valueName);
    settings.sync();
}

RegEdit& SettingsStore() {
    static RegEdit store;
    return store;
}
