#pragma once
#include "StreamPlan.h"

#include <QByteArray>
#include <QUrl>

// DASH manifests (MPD): every representation of every video and audio adaptation set becomes a
// track with all its segments, from SegmentTemplate (with or without SegmentTimeline),
// SegmentList, or a single file (SegmentBase or BaseURL alone). BaseURL is resolved level by
// level from the manifest's own address.
//
// Only static manifests of one period are taken: a dynamic (live) one is refused, as is one
// with ContentProtection anywhere in it.
namespace DashManifest {

Streams::Plan Read(const QByteArray& text, const QUrl& address);

// "PT1H2M3.5S" in seconds; nullopt for anything that is no such duration.
std::optional<double> ParseDuration(const QString& text);

} // namespace DashManifest
