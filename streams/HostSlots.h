#pragma once
#include <QHash>
#include <QObject>
#include <QString>

// How many requests of the segmented downloads may run at once against one host: servers and
// their rate limits count connections per host, so every download of this thread shares one
// count (Shared).
class HostSlots : public QObject {
    Q_OBJECT
public:
    // The requests that may run at once against one host.
    static constexpr int MaxPerHost = 4;

    explicit HostSlots(int perHost = MaxPerHost, QObject* parent = nullptr)
        : QObject(parent), perHost_(perHost) {}
    // The count of this thread's downloads.
    static HostSlots& Shared();

    int PerHost() const { return perHost_; }
    // Takes a slot of the host when one is free.
    bool TryTake(const QString& host);
    // Gives a slot back; those waiting hear of it.
    void Give(const QString& host);

signals:
    void SlotFreed();

private:
    int perHost_;
    QHash<QString, int> taken_;
};
