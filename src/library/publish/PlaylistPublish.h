#pragma once

#include "playlist/Playlists.h"
#include "publish/PublishJob.h"

namespace publish {

// The job's items of a stored playlist, in play order.
std::vector<PublishItem> publishItems(const library::Playlist& playlist);

// Publishes the stored playlist `name` to `group` in `dir` (see
// publishPlaylist) and records it in the library: the revision published
// and all the groups it now goes to.
PublishResult publishStoredPlaylist(library::PlaylistStore& store, const QString& name,
                                    const QString& dir, const QString& group, int maxHeight,
                                    int bitRateKbps, const Renderer& render,
                                    const std::function<void(double)>& progress,
                                    const std::atomic<bool>& cancelled);

} // namespace publish
