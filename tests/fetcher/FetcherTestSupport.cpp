#include "FetcherTestSupport.h"

void TestNabrixHost::Attach(Nabrix& nabrix) {
    QObject::connect(&nabrix, &Nabrix::PreviewNavigate,
                     [this](const QString& address) { previews.append(address); });
    QObject::connect(&nabrix, &Nabrix::PreviewPaneShow, [this] { ++paneShown; });
}

void TestNabrixHost::Fetch(Nabrix& nabrix, const QString& address) const {
    ++folderReads;
    nabrix.SetOutputFolder(folder);
    nabrix.GetVideoInfo(address);
}

EventLog::EventLog(Nabrix& nabrix) {
    auto add = [this](const QString& event) { events_.append(event); };
    connect(&nabrix, &Nabrix::DownloadProgress, this, [add](qint64 current, qint64 max) {
        add(QStringLiteral("DownloadProgress %1 %2").arg(current).arg(max));
    });
    connect(&nabrix, &Nabrix::DownloadComplete, this,
            [add] { add(QStringLiteral("DownloadComplete")); });
    connect(&nabrix, &Nabrix::DownloadError, this, [add](const QString& description) {
        add(QStringLiteral("DownloadError ") + description);
    });
    connect(&nabrix, &Nabrix::InvalidUrl, this, [add] { add(QStringLiteral("InvalidUrl")); });
    connect(&nabrix, &Nabrix::VideoData, this,
            [add](const QString& title, const QString& category, const QString& user,
                  const QString& date, const QString& views, const QString& description) {
                add(QStringList{QStringLiteral("VideoData"), title, category, user, date, views,
                                description}
                        .join(QLatin1Char('|')));
            });
    connect(&nabrix, &Nabrix::InfoError, this,
            [add](const QString& description) { add(QStringLiteral("InfoError ") + description); });
    connect(&nabrix, &Nabrix::InfoProgress, this, [add](qint64 current, qint64 max) {
        add(QStringLiteral("InfoProgress %1 %2").arg(current).arg(max));
    });
    connect(&nabrix, &Nabrix::PhaseStarted, this, [this](Nabrix::Phase phase) {
        phases_.append(QStringLiteral("%1 at %2")
                           .arg(phase == Nabrix::Phase::Page ? "Page" : "Video")
                           .arg(events_.size()));
    });
}

namespace {

bool ChunkProgress(const QString& event, qint64& current, qint64& max) {
    const QStringList parts = event.split(QLatin1Char(' '));
    if (parts.size() != 3 || parts[0] != QLatin1String("DownloadProgress"))
        return false;
    current = parts[1].toLongLong();
    max = parts[2].toLongLong();
    return current > 0;
}

} // namespace

QStringList EventLog::folded() const {
    QStringList result;
    for (int i = 0; i < events_.size();) {
        qint64 current = 0;
        qint64 max = 0;
        if (!ChunkProgress(events_[i], current, max)) {
            result.append(events_[i++]);
            continue;
        }
        bool rising = true;
        qint64 last = current;
        qint64 nextCurrent = 0;
        qint64 nextMax = 0;
        for (++i; i < events_.size() && ChunkProgress(events_[i], nextCurrent, nextMax) &&
                  nextMax == max;
             ++i) {
            rising = rising && nextCurrent > last;
            last = nextCurrent;
        }
        result.append(rising ? QStringLiteral("DownloadProgress ... %1 %2").arg(last).arg(max)
                             : QStringLiteral("DownloadProgress out of order"));
    }
    return result;
}

bool EventLog::contains(const QString& prefix) const {
    for (const QString& event : events_)
        if (event.startsWith(prefix))
            return true;
    return false;
}

qint64 EventLog::lastProgress() const {
    for (int i = events_.size() - 1; i >= 0; --i) {
        const QStringList parts = events_[i].split(QLatin1Char(' '));
        if (parts.value(0) == QLatin1String("DownloadProgress"))
            return parts.value(1).toLongLong();
    }
    return -1;
}

QString VideoPageText::html() const {
    return QStringLiteral(
               "<html><head><title>%1</title>\n"
               "<script>var watchUsername = '%3';</script></head><body>\n"
               "<div>Category: <a href=\"/browse?c=15\" "
               "onclick=\"urchinTracker('/Events/VideoWatch/VideoCategoryLink');\">%2</a></div>\n"
               "<div>Added: <span class=\"watch-stat\">%4</span></div>\n"
               "<div>Views: <span id=\"watch-view-count\">%5</span></div>\n"
               "<div><span class=\"description\">%6</span></div>\n"
               "<embed src=\"/player2.swf\" flashvars=\"hl=en&video_id=%7&l=94&t=%8&sk=x\">\n"
               "</body></html>\n")
        .arg(title, category, user, date, views, description, videoId, token);
}
