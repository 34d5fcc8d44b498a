#pragma once

#include "playlist/Playlists.h"
#include "publish/PublishJob.h"

namespace publish {

// The job's items of a stored playlist, in play order.
std::vector<PublishItem> publishItems(const library::Playlist& playlist);

// What changed in a playlist since its manifest was written. Items are known
// again by their match and match time (a tag added twice pairs in order).
struct Changes {
    int added = 0, removed = 0;
    int retold = 0;   // title or note changed
    int reframed = 0; // its span (前, 後) changed
    bool reordered = false;
    bool any() const { return added || removed || retold || reframed || reordered; }
};
Changes changesSince(const Manifest& published, const std::vector<PublishItem>& now);
// "公開後: 追加 1・削除 2・題名/メモ 1・場面 1・順番"; empty without changes.
QString changesText(const Changes& changes);

// Publishes the stored playlist `name` to `group` in `dir` (see
// publishPlaylist) and records it in the library: the revision published
// and all the groups it now goes to.
PublishResult publishStoredPlaylist(library::PlaylistStore& store, const QString& name,
                                    const QString& dir, const QString& group, int maxHeight,
                                    int bitRateKbps, const Renderer& render,
                                    const std::function<void(double)>& progress,
                                    const std::atomic<bool>& cancelled);

} // namespace publish
