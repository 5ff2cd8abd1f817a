#include "StreamPlan.h"

#include <algorithm>
#include <cmath>

namespace Streams {

QString RefusalText(const Plan& plan, const QUrl& address) {
    const QString where = address.toDisplayString();
    switch (plan.refusal) {
    case Refusal::None:
        return QString();
    case Refusal::Live:
        return QStringLiteral("%1 is a live stream, which cannot be saved as a file").arg(where);
    case Refusal::Drm:
        return QStringLiteral("The video at %1 is protected against copying (DRM)").arg(where);
    case Refusal::Unreadable:
        break;
    }
    return QStringLiteral("The stream list at %1 could not be read: %2").arg(where, plan.problem);
}

QString ClockText(double seconds) {
    const qint64 whole = std::isfinite(seconds) && seconds > 0 ? qint64(std::floor(seconds)) : 0;
    const qint64 hours = whole / 3600;
    const QString minutesSeconds = QStringLiteral("%1:%2")
                                       .arg(hours > 0 ? (whole / 60) % 60 : whole / 60,
                                            hours > 0 ? 2 : 1, 10, QLatin1Char('0'))
                                       .arg(whole % 60, 2, 10, QLatin1Char('0'));
    return hours > 0 ? QString::number(hours) + QLatin1Char(':') + minutesSeconds : minutesSeconds;
}

QString SegmentFailureText(int number, const Segment& segment, const QString& why) {
    const double end = segment.start + segment.duration;
    // The end is rounded up, so that a segment of under a second shows a span.
    return QStringLiteral("Segment %1 (%2–%3) could not be fetched: %4")
        .arg(number)
        .arg(ClockText(segment.start), ClockText(std::ceil(end)), why);
}

QString ResultProblem(const QList<Track>& tracks, const Contents& contents) {
    double planned = 0, longestSegment = 0;
    bool picture = false, sound = false;
    for (const Track& track : tracks) {
        double sum = 0;
        for (const Segment& segment : track.segments) {
            sum += segment.duration;
            longestSegment = std::max(longestSegment, segment.duration);
        }
        planned = std::max(planned, track.duration > 0 ? track.duration : sum);
        picture |= track.kind == TrackKind::Video && (track.width > 0 || track.height > 0);
        sound |= track.kind == TrackKind::Audio;
    }
    if (contents.video + contents.audio == 0)
        return QStringLiteral("The downloaded file holds neither picture nor sound");
    if (picture && contents.video == 0)
        return QStringLiteral("The downloaded file holds no picture, though its stream list "
                              "names one");
    if (sound && contents.audio == 0)
        return QStringLiteral("The downloaded file holds no sound, though its stream list "
                              "names it");
    if (planned > 0 && planned - contents.seconds > longestSegment)
        return QStringLiteral("The downloaded file lasts %1 of the %2 its stream list names; "
                              "the rest is missing")
            .arg(ClockText(contents.seconds), ClockText(std::ceil(planned)));
    return QString();
}

namespace {

bool BetterVideo(const Track& candidate, const Track& best) {
    if (candidate.height != best.height)
        return candidate.height > best.height;
    return candidate.bandwidth > best.bandwidth;
}

bool BetterAudio(const Track& candidate, const Track& best) {
    if (candidate.preferred != best.preferred)
        return candidate.preferred;
    return candidate.bandwidth > best.bandwidth;
}

} // namespace

Choice Choose(const Plan& plan, int maxHeight) {
    Choice choice;
    choice.video = WithinHeight(
        int(plan.tracks.size()), maxHeight,
        [&plan](int i) {
            const Track& track = plan.tracks[i];
            return track.kind == TrackKind::Video ? track.height : -1;
        },
        [&plan](int a, int b) { return BetterVideo(plan.tracks[a], plan.tracks[b]); });
    const QString group = choice.video >= 0 ? plan.tracks[choice.video].audioGroup : QString();
    for (int i = 0; i < plan.tracks.size(); ++i) {
        const Track& track = plan.tracks[i];
        if (track.kind != TrackKind::Audio || (!group.isEmpty() && track.audioGroup != group))
            continue;
        if (choice.audio < 0 || BetterAudio(track, plan.tracks[choice.audio]))
            choice.audio = i;
    }
    return choice;
}

} // namespace Streams
