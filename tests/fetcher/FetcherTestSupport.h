#pragma once
#include "Nabrix.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// The window side of the fetcher: hands over the output folder when it starts a fetch, and
// records what the fetcher asked it to show.
class TestNabrixHost {
public:
    void Attach(Nabrix& nabrix);
    // Starts a fetch as the main window does.
    void Fetch(Nabrix& nabrix, const QString& address) const;

    QString folder;
    QStringList previews;
    int paneShown = 0;
    mutable int folderReads = 0;
};

// Every event of a fetcher, in the order raised, as short texts ("InfoProgress 0 512").
class EventLog : public QObject {
public:
    explicit EventLog(Nabrix& nabrix);

    QStringList all() const { return events_; }
    // The log with each run of chunk progress events (same maximum, rising position, position
    // above 0) folded into one "DownloadProgress ... <last> <max>"; a run that does not rise
    // shows as "DownloadProgress out of order".
    QStringList folded() const;
    bool contains(const QString& prefix) const;
    // The position of the last DownloadProgress event; -1 when none came.
    qint64 lastProgress() const;
    // Each phase begun, with the number of events before it ("Video at 4").
    QStringList phases() const { return phases_; }
    void clear() {
        events_.clear();
        phases_.clear();
    }

private:
    QStringList events_;
    QStringList phases_;
};

// An old-layout video page as the service sent it.
struct VideoPageText {
    QString title = QStringLiteral("YouTube - Cats & Dogs: the movie!");
    QString category = QStringLiteral("Pets &amp; Animals");
    QString user = QStringLiteral("catlover");
    QString date = QStringLiteral("March 3, 2008");
    QString views = QStringLiteral("12,345");
    QString description = QStringLiteral("Two cats meet a dog.");
    QString videoId = QStringLiteral("VID123");
    QString token = QStringLiteral("TOK456");

    QString html() const;
};
