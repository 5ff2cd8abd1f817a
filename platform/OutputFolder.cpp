#include "OutputFolder.h"

#include "AppVersion.h"
#include "RegEdit.h"
#include "SpcFolder.h"

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
    return SettingsStore().LoadKey(kSettingName, fallback);
}

void Save(const QString& folder) {
    SettingsStore().WriteKey(kSettingName, folder);
}

} // namespace OutputFolder
