#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

#include "publish/PublishFolder.h"

// Publishing a playlist to a group: the items' media rendered into the
// publish folder (those already there, same key, are kept), then the
// manifest, then the group's link. A cancel or a failure leaves the folder's
// manifests and groups as they were and no temporary file behind.
//
// The rendering itself is given (the media layer's renderItem), so that this
// stays with the folder's format in Qt Core.

namespace publish {

struct PublishItem {
    QString source; // the match video
    double from = 0.0, to = 0.0;
    QString title, match, matchTime, note;
};

struct PublishRequest {
    QString dir;
    QString group;
    qint64 playlistId = 0;
    QString playlistName;
    qint64 revision = 0;
    std::vector<PublishItem> items;
    int maxHeight = 720;
    int bitRateKbps = 2500;
};

enum class PublishStatus { Done, Cancelled, Failed };

// Renders [from, to) of `source` into `target`, which appears only when
// complete; `progress` gets 0 to 1. False when it failed (why in `error`) or
// was cancelled. The media layer's renderForPublish.
using Renderer =
    std::function<bool(const QString& source, double from, double to, const QString& target,
                       int maxHeight, int bitRateKbps, const std::function<void(double)>& progress,
                       const std::atomic<bool>& cancelled, QString* error)>;

struct PublishResult {
    PublishStatus status = PublishStatus::Failed;
    QString error;
    Group group;       // with its link's token
    Manifest manifest; // as written
    int rendered = 0;  // media made now
    int kept = 0;      // media already there
    int removed = 0;   // media no manifest names any more
};

// The link path of a group: "/g/TOKEN/".
QString linkPath(const Group& group);

// Publishes `request` to its group (added to the groups the playlist was
// published to before). `progress` gets 0 to 1 over all items.
PublishResult publishPlaylist(const PublishRequest& request, const Renderer& render,
                              const std::function<void(double)>& progress,
                              const std::atomic<bool>& cancelled);

} // namespace publish
