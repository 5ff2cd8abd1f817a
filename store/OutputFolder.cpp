#include "OutputFolder.h"

#include "AppVersion.h"
#include "RegEdit.h"
#include "SavedSettings.h"
#include "SpcFolder.h"
#include "modMain.h"

#include <QDir>
#include <QFileInfo>

namespace OutputFolder {

namespace {
constexpr int kPersonalFolder = 5;
constexpr int kFolderFlags = 2;
} // namespace

QString Default(QWidget* owner) {
    return SpecialFolder(owner, kPersonalFolder, kFolderFlags) + QLatin1Char('/') +
           QLatin1String(AppVersion::Organisation) + QLatin1Char('/') +
           QLatin1String(AppVersion::Product);
}

QString Load() {
    const QString fallback = Default(nullptr);
    return SettingsStore().LoadKey(SavedSettings::StoredName(SavedSetting::OutputFolder), fallback);
}

void Save(const QString& folder) {
    SettingsStore().WriteKey(SavedSettings::StoredName(SavedSetting::OutputFolder), folder);
}

std::optional<QString> Resolved(const QString& typed) {
    QString folder = typed;
    if (folder == QLatin1String("~") || folder.startsWith(QLatin1String("~/")))
        folder.replace(0, 1, QDir::homePath());
    if (!QDir::isAbsolutePath(folder))
        return std::nullopt;
    return folder;
}

void MakeIfMissing(const QString& typed) {
    const auto folder = Resolved(typed);
    if (folder && !QFileInfo::exists(*folder))
        modMain::CreatePath(*folder);
}

QString NotAFullPathText() {
    return QStringLiteral("The output folder must be a full path that begins with \"/\" or "
                          "\"~/\", for example ~/Videos. Type one, or choose one with Browse.");
}

} // namespace OutputFolder
