#include "publish/PublishJob.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cstdio>

namespace publish {

namespace {

double lengthOf(const PublishItem& item) {
    return std::max(1e-3, item.to - item.from);
}

// The groups the playlist goes to: those it went to before and `group`.
QStringList groupsAfter(const PublishRequest& request) {
    QStringList groups;
    const QString path = manifestPath(request.dir, request.playlistId);
    if (QFileInfo::exists(path))
        if (const std::optional<Manifest> old = readManifest(path, nullptr))
            groups = old->groups;
    if (!groups.contains(request.group))
        groups << request.group;
    return groups;
}

struct Renders {
    QStringList made; // media names rendered now
    PublishStatus status = PublishStatus::Done;
};

// Renders the items whose media is not there yet.
Renders renderMissing(const PublishRequest& request, const QStringList& keys,
                      const Renderer& render, const std::function<void(double)>& progress,
                      const std::atomic<bool>& cancelled, PublishResult& result) {
    Renders renders;
    double total = 0, done = 0;
    for (const PublishItem& item : request.items)
        total += lengthOf(item);
    QSet<QString> present;
    for (size_t i = 0; i < request.items.size(); ++i) {
        const PublishItem& item = request.items[i];
        const QString& key = keys[static_cast<qsizetype>(i)];
        const QString name = key + QStringLiteral(".mp4");
        const QString target = mediaPath(request.dir, name);
        if (present.contains(name) || QFileInfo::exists(target)) {
            result.kept += present.contains(name) ? 0 : 1;
        } else {
            const QString temp = mediaTempPath(request.dir, key);
            const double base = done, share = lengthOf(item);
            const bool rendered = render(
                item.source, item.from, item.to, temp, request.maxHeight, request.bitRateKbps,
                [&](double p) {
                    if (progress)
                        progress((base + share * p) / total);
                },
                cancelled, &result.error);
            renders.status = rendered           ? PublishStatus::Done
                             : cancelled.load() ? PublishStatus::Cancelled
                                                : PublishStatus::Failed;
            if (renders.status == PublishStatus::Done &&
                std::rename(QFile::encodeName(temp).constData(),
                            QFile::encodeName(target).constData()) != 0) {
                result.error =
                    target +
                    QStringLiteral(
                        ": 作った動画を置けません / the rendered video cannot be put in place");
                renders.status = PublishStatus::Failed;
            }
            if (renders.status != PublishStatus::Done) {
                QFile::remove(temp);
                return renders;
            }
            renders.made << name;
            ++result.rendered;
        }
        present.insert(name);
        done += lengthOf(item);
        if (progress)
            progress(done / total);
    }
    return renders;
}

Manifest manifestOf(const PublishRequest& request, const QStringList& keys) {
    Manifest m;
    m.id = request.playlistId;
    m.name = request.playlistName;
    m.groups = groupsAfter(request);
    m.revision = request.revision;
    m.published = QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
    for (size_t i = 0; i < request.items.size(); ++i) {
        const PublishItem& item = request.items[i];
        m.items.push_back({item.title, item.match, item.matchTime, item.note,
                           keys[static_cast<qsizetype>(i)] + QStringLiteral(".mp4"),
                           item.to - item.from});
    }
    return m;
}

} // namespace

QString linkPath(const Group& group) {
    return QStringLiteral("/g/") + group.token + QLatin1Char('/');
}

PublishResult publishPlaylist(const PublishRequest& request, const Renderer& render,
                              const std::function<void(double)>& progress,
                              const std::atomic<bool>& cancelled) {
    PublishResult result;
    if (!QDir().mkpath(mediaDir(request.dir))) {
        result.error = mediaDir(request.dir) +
                       QStringLiteral(": フォルダーを作れません / the folder cannot be made");
        return result;
    }
    PublishLock lock(request.dir);
    if (!lock.held()) {
        result.error =
            request.dir +
            QStringLiteral(": フォルダーをロックできません / the folder cannot be locked");
        return result;
    }
    QStringList keys;
    for (const PublishItem& item : request.items) {
        keys << mediaKey(item.source, item.from, item.to, request.maxHeight, request.bitRateKbps);
        if (keys.back().isEmpty()) {
            result.error =
                item.source + QStringLiteral(": 動画を読めません / the video cannot be read");
            return result;
        }
    }
    const Renders renders = renderMissing(request, keys, render, progress, cancelled, result);
    result.status = cancelled.load() ? PublishStatus::Cancelled : renders.status;
    if (result.status == PublishStatus::Cancelled)
        result.error.clear();
    std::optional<Group> group;
    if (result.status == PublishStatus::Done &&
        (group = ensureGroup(request.dir, request.group, &result.error))) {
        result.manifest = manifestOf(request, keys);
        if (!writeManifest(request.dir, result.manifest, &result.error))
            result.status = PublishStatus::Failed;
    } else if (result.status == PublishStatus::Done) {
        result.status = PublishStatus::Failed;
    }
    // The media this publish made go again when it did not complete; a
    // completed one takes those no manifest names any more.
    lock.release();
    if (result.status != PublishStatus::Done) {
        removeUnusedMedia(request.dir, nullptr, &renders.made);
        return result;
    }
    result.group = *group;
    result.removed = removeUnusedMedia(request.dir, nullptr);
    return result;
}

} // namespace publish
