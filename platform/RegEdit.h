#pragma once
#include <QString>

// The per-user settings store: named text values of the organisation "Morvane", application
// "Vantelo" (on Windows the registry key Software\Morvane\Vantelo, elsewhere a per-user file).
// Every read goes to the store and every write goes straight through; nothing here raises or
// shows a message.
class RegEdit {
public:
    void WriteKey(const QString& valueName, const QString& value);
    // The stored text, or `defaultValue` when the value is missing, empty or blank. Leading
    // spaces are dropped, trailing spaces kept, and the text is cut at its first NUL.
    QString LoadKey(const QString& valueName, const QString& defaultValue) const;
    void DelKey(const QString& valueName);
    // Tells the desktop that file associations changed; nothing to do on this platform.
    void RebuildIconCache() {}

    // Applies the read rules above to a raw stored text (empty result: use the default).
    static QString CleanStoredText(const QString& raw);
};

// The program's one settings store, created on first use.
RegEdit& SettingsStore();
