#pragma once
#include <QString>
#include <optional>

class QWidget;

// The folder downloads and conversions are written to. The main window and the conversion
// dialog keep it under one stored value (SavedSetting::OutputFolder), so a folder chosen in one
// is the other's too.
namespace OutputFolder {
// <documents>/Morvane/Vantelo, used until a folder has been stored.
QString Default(QWidget* owner);
// The stored folder, or the default when none is stored.
QString Load();
void Save(const QString& folder);

// The folder a typed text names: a leading "~" is the home folder. Nothing for a relative
// path (it would land wherever the program was started) or an empty text.
std::optional<QString> Resolved(const QString& typed);
// Makes the folder a typed text names when it is missing, a relative one nowhere (it would land
// wherever the program was started); whether it could be made is not reported.
void MakeIfMissing(const QString& typed);
// Why a typed folder cannot be used, for the user.
QString NotAFullPathText();
} // namespace OutputFolder
