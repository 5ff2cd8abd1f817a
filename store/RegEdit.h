#pragma once
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

// The per-user settings store: named text values of the organisation "Morvane", application
// "Vantelo" (on Windows the registry key Software\Morvane\Vantelo, elsewhere a per-user file).
// Every read goes to the store and every write goes straight through; nothing here raises or
// shows a message. A store file that cannot be read, one that is no regular file (a FIFO would
// never let the read end) or one over 1 MB (no program of ours writes one) is damaged and
// reads as empty.
class RegEdit {
public:
    // Value names with a text each: the values to write, or the defaults of a read.
    using NamedTexts = std::vector<std::pair<QString, QString>>;

    void WriteKey(const QString& valueName, const QString& value);
    // The stored text, or `defaultValue` when the value is missing, empty or blank. Leading
    // spaces are dropped, trailing spaces kept, and the text is cut at its first NUL.
    QString LoadKey(const QString& valueName, const QString& defaultValue) const;
    // Several values with one reading of the store, each as LoadKey gives it.
    QStringList LoadKeys(const NamedTexts& namesAndDefaults) const;
    // Several values with one writing of the store, in the given order.
    void WriteKeys(const NamedTexts& values);
    void DelKey(const QString& valueName);
    // Tells the desktop that file associations changed; nothing to do on this platform.
    void RebuildIconCache() {}

    // Applies the read rules above to a raw stored text (empty result: use the default).
    static QString CleanStoredText(const QString& raw);
};

// The program's one settings store, created on first use.
RegEdit& SettingsStore();
