#include "WaitingAddresses.h"

#include "RegEdit.h"

#include <QSet>

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

// Every distinct address stored, however many.
QStringList Stored() {
    QStringList addresses;
    QSet<QString> seen;
    for (const QString& line : SettingsStore().LoadKey(kStoredName, QString()).split(kSeparator)) {
        const QString address = line.trimmed();
        if (!address.isEmpty() && !seen.contains(address)) {
            seen.insert(address);
            addresses << address;
        }
    }
    return addresses;
}
} // namespace

QStringList Load() {
    // kMost waiting, and the one under way before them.
    return Stored().mid(0, kMost + 1);
}

bool Add(const QString& address, int most) {
    QStringList addresses = Load();
    if (addresses.contains(address))
        return true;
    if (addresses.size() >= most)
        return false;
    addresses << address;
    Save(addresses);
    return true;
}

void KeepFirst(const QString& address) {
    const QString kept = address.trimmed();
    if (kept.isEmpty())
        return;
    QStringList addresses = Load();
    addresses.removeAll(kept);
    addresses.prepend(kept);
    Save(addresses);
}

void Remove(const QString& address) {
    QStringList addresses = Load();
    if (addresses.removeAll(address.trimmed()) > 0)
        Save(addresses);
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

LeftOut Tidy(const std::function<bool(const QString&)>& refuse) {
    LeftOut leftOut;
    QStringList kept;
    for (const QString& address : Stored()) {
        if (refuse(address))
            ++leftOut.refused;
        else if (kept.size() >= kMost)
            ++leftOut.beyondMost;
        else
            kept << address;
    }
    // Written back at once: what was told is not told again at the next start.
    if (leftOut.refused > 0 || leftOut.beyondMost > 0)
        Save(kept);
    return leftOut;
}

} // namespace WaitingAddresses
