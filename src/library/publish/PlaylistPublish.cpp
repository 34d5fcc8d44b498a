#include "publish/PlaylistPublish.h"

namespace publish {

std::vector<PublishItem> publishItems(const library::Playlist& playlist) {
    std::vector<PublishItem> items;
    for (const library::PlaylistItem& i : playlist.items) {
        const QString match = (i.matchDate + QLatin1Char(' ') + i.matchTitle).trimmed();
        items.push_back({QString::fromStdString(i.video), i.from(), i.to(), i.title, match,
                         i.matchTime, i.note});
    }
    return items;
}

PublishResult publishStoredPlaylist(library::PlaylistStore& store, const QString& name,
                                    const QString& dir, const QString& group, int maxHeight,
                                    int bitRateKbps, const Renderer& render,
                                    const std::function<void(double)>& progress,
                                    const std::atomic<bool>& cancelled) {
    PublishResult result;
    const std::optional<library::Playlist> playlist = store.load(name, &result.error);
    if (!playlist) {
        if (result.error.isEmpty())
            result.error = QStringLiteral("プレイリストがありません / no such playlist: ") + name;
        return result;
    }
    if (playlist->items.empty()) {
        result.error = QStringLiteral("プレイリストが空です / the playlist is empty: ") + name;
        return result;
    }
    const PublishRequest request{dir,
                                 group,
                                 playlist->id,
                                 playlist->name,
                                 playlist->revision,
                                 publishItems(*playlist),
                                 maxHeight,
                                 bitRateKbps};
    result = publishPlaylist(request, render, progress, cancelled);
    if (result.status == PublishStatus::Done &&
        store.markPublished(playlist->id, playlist->revision, result.manifest.groups,
                            &result.error) != library::PlaylistResult::Done)
        result.status = PublishStatus::Failed;
    return result;
}

} // namespace publish
