#include "RegEdit.h"

#include "SavedSettings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <optional>

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

// What tells one state of the settings file from another, as far as Qt's parsed copy goes.
struct FileStamp {
    QString path;
    qint64 size = -1;
    QDateTime modified;
    bool operator==(const FileStamp& other) const {
        return path == other.path && size == other.size && modified == other.modified;
    }
};

FileStamp stampOf(const QString& path) {
    const QFileInfo info(path);
    return {path, info.size(), info.lastModified()};
}

// Qt keeps the parsed file for the whole process and parses it again only when its size or
// time changes, and only that parse reports the damage: later readers would get the debris
// as stored values. So the file found damaged is remembered until it changes.
std::optional<FileStamp>& damagedFile() {
    static std::optional<FileStamp> stamp;
    return stamp;
}

bool isDamaged(const QSettings& settings) {
    const FileStamp stamp = stampOf(settings.fileName());
    if (settings.status() == QSettings::FormatError)
        damagedFile() = stamp;
    else if (damagedFile() && !(*damagedFile() == stamp))
        damagedFile().reset();
    return damagedFile().has_value() && *damagedFile() == stamp;
}

// Larger than any file of the program's few values, and small enough to parse at once.
constexpr qint64 kLargestStoreFile = 1024 * 1024;

// The store's values, in the one file the size guard measures. QSettings parses the whole
// file as it is constructed.
class StoreSettings : public QSettings {
public:
    StoreSettings() : QSettings(SavedSettings::StoreFile(), QSettings::IniFormat) {}
};

// A FIFO, a device or a socket in the file's place would hold the program in open() inside
// QSettings; a file over the limit would hold it in parsing. Neither is read, like any damaged
// file. A missing file is the store of a first start.
bool isUnreadable() {
    const QFileInfo file(SavedSettings::StoreFile());
    return file.exists() && (!file.isFile() || file.size() > kLargestStoreFile);
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
    WriteKeys({{valueName, value}});
}

QString RegEdit::LoadKey(const QString& valueName, const QString& defaultValue) const {
    return LoadKeys({{valueName, defaultValue}}).value(0);
}

void RegEdit::WriteKeys(const NamedTexts& values) {
    // Such a file is damaged: started afresh without being read, like any damaged file. A
    // folder stays (nothing of the user's is thrown away), and QSettings then fails to write.
    if (isUnreadable())
        QFile::remove(SavedSettings::StoreFile());
    StoreSettings settings;
    // A damaged file reads as empty; start it afresh rather than keep its debris, so what
    // the user saw before this write is what the next start sees.
    if (isDamaged(settings))
        settings.clear();
    for (const auto& [name, value] : values)
        settings.setValue(name, value);
    settings.sync();
    // The file now holds what was just written: a rewrite of the same size within the file
    // system's clock tick would otherwise still match the damaged file's stamp.
    if (settings.status() == QSettings::NoError)
        damagedFile().reset();
}

QStringList RegEdit::LoadKeys(const NamedTexts& namesAndDefaults) const {
    QStringList texts;
    for (const auto& entry : namesAndDefaults)
        texts.append(entry.second);
    if (isUnreadable())
        return texts;
    const StoreSettings settings;
    // A damaged or unreadable store counts as an empty one.
    if (settings.status() == QSettings::AccessError || isDamaged(settings))
        return texts;
    for (int i = 0; i < texts.size(); ++i) {
        const QString text =
            CleanStoredText(storedText(settings.value(namesAndDefaults[size_t(i)].first)));
        if (!text.isEmpty())
            texts[i] = text;
    }
    return texts;
}

void RegEdit::DelKey(const QString& valueName) {
    if (isUnreadable())
        return;
    StoreSettings settings;
    settings.remove(valueName);
    settings.sync();
}

RegEdit& SettingsStore() {
    static RegEdit store;
    return store;
}
