#include "WaitingAddresses.h"

#include "RegEdit.h"

namespace WaitingAddresses {

namespace {
const QString kStoredName = QStringLiteral("Waiting addresses");
// One address a line: what is handed in is cut to its first line before it gets here.
const QChar kSeparator = QLatin1Char('\n');

void Save(const QStringList& addresses) {
    if (addresses.isEmpty())
        SettingsStore().DelKey(kStoredName);
    else
        SettingsStore().WriteKey(kStoredName, addresses.join(kSeparator));
}
} // namespace

QStringList Load() {
    QStringList addresses;
    for (const QString& line : SettingsStore().LoadKey(kStoredName, QString()).split(kSeparator)) {
        const QString address = line.trimmed();
        if (!address.isEmpty() && !addresses.contains(address) && addresses.size() < kMost)
            addresses << address;
    }
    return addresses;
}

bool Add(const QString& address) {
    QStringList addresses = Load();
    if (addresses.contains(address))
        return true;
    if (addresses.size() >= kMost)
        return false;
    addresses << address;
    Save(addresses);
    return true;
}

QString TakeFirst() {
    QStringList addresses = Load();
    if (addresses.isEmpty())
        return QString();
    const QString first = addresses.takeFirst();
    Save(addresses);
    return first;
}

int Count() {
    return Load().size();
}

} // namespace WaitingAddresses
