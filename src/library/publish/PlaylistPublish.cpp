#include "publish/PlaylistPublish.h"

#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>

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

Changes changesSince(const Manifest& published, const std::vector<PublishItem>& now) {
    using Key = std::pair<QString, QString>;
    std::multimap<Key, size_t> before;
    for (size_t i = 0; i < published.items.size(); ++i)
        before.emplace(Key{published.items[i].match, published.items[i].matchTime}, i);
    Changes c;
    std::vector<size_t> order; // the published places of the items still there
    for (const PublishItem& item : now) {
        const auto found = before.find(Key{item.match, item.matchTime});
        if (found == before.end()) {
            ++c.added;
            continue;
        }
        const ManifestItem& was = published.items[found->second];
        order.push_back(found->second);
        before.erase(found);
        c.retold += was.title != item.title || was.note != item.note;
        // The rendered length is a frame's rounding off the span asked.
        c.reframed += std::abs(was.duration - (item.to - item.from)) > 0.1;
    }
    c.removed = static_cast<int>(before.size());
    c.reordered = !std::is_sorted(order.begin(), order.end());
    return c;
}

QString changesText(const Changes& c) {
    QStringList parts;
    const auto count = [&parts](int n, const char* what) {
        if (n > 0)
            parts << QStringLiteral("%1 %2").arg(QString::fromUtf8(what)).arg(n);
    };
    count(c.added, "追加");
    count(c.removed, "削除");
    count(c.retold, "題名/メモ");
    count(c.reframed, "場面");
    if (c.reordered)
        parts << QStringLiteral("順番");
    return parts.isEmpty() ? QString() : QStringLiteral("公開後: ") + parts.join(QChar(0x30FB));
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
