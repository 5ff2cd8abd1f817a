#include "HostSlots.h"

HostSlots& HostSlots::Shared() {
    static thread_local HostSlots shared;
    return shared;
}

bool HostSlots::TryTake(const QString& host) {
    int& taken = taken_[host];
    if (taken >= perHost_)
        return false;
    ++taken;
    return true;
}

void HostSlots::Give(const QString& host) {
    const auto it = taken_.find(host);
    if (it == taken_.end())
        return;
    if (--it.value() <= 0)
        taken_.erase(it);
    emit SlotFreed();
}
