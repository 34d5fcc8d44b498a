#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// The publish folder: what the publisher writes and `rucktag serve` reads.
//
//   DIR/groups.json            the groups and their link tokens (mode 0600)
//   DIR/playlists/<ID>.json    one manifest per published playlist
//   DIR/media/<KEY>.mp4        the rendered items (KEY: 64 lowercase hex)
//
// Every file is replaced atomically, and a manifest is written only once
// every media file it names is complete, so a reader never sees half a
// playlist. A reader never maps a requested name to a path: it looks it up
// in the manifests, which name only well-formed media names.

namespace publish {

struct Group {
    QString name;
    QString token;   // 43 characters of base64url: 256 random bits
    QString created; // ISO 8601, UTC
};

struct ManifestItem {
    QString title, match, matchTime, note;
    QString media; // "<KEY>.mp4"
    double duration = 0.0;
};

struct Manifest {
    qint64 id = 0; // the library's playlist id
    QString name;
    QStringList groups;
    qint64 revision = 0;
    QString published; // ISO 8601, UTC
    std::vector<ManifestItem> items;
};

// ---- Paths (all under `dir`)

QString groupsPath(const QString& dir);
QString manifestsDir(const QString& dir);
QString manifestPath(const QString& dir, qint64 id);
QString mediaDir(const QString& dir);
// The media file called `name`; empty when `name` is no media name.
QString mediaPath(const QString& dir, const QString& name);
// Where an item is rendered before it is renamed to its media name.
QString mediaTempPath(const QString& dir, const QString& key);

// "<64 lowercase hex>.mp4": the only names a manifest may give.
bool isMediaName(const QString& name);
// 43 characters of base64url.
bool isToken(const QString& token);

// ---- Reading (for the server too)

// The groups; an absent file is no group. False (and why) for a file that
// cannot be read or is not a groups file.
bool loadGroups(const QString& dir, std::vector<Group>& groups, QString* error);
std::optional<Manifest> readManifest(const QString& path, QString* error);
// Every manifest of the folder, by id; one that cannot be read is left out
// and its reason added to `problems`.
std::vector<Manifest> loadManifests(const QString& dir, QStringList* problems);
// The manifests that name `group`.
std::vector<Manifest> manifestsOf(const std::vector<Manifest>& all, const QString& group);

// ---- Writing

// 32 bytes from getrandom() as base64url without padding; empty (and why)
// when the system gives no randomness.
QString newToken(QString* error);
// The group `name`, made with a new token when there is none yet.
std::optional<Group> ensureGroup(const QString& dir, const QString& name, QString* error);
// Gives `name` a new token; the old one no longer opens anything. Nullopt
// (and why) when there is no such group or the file cannot be written.
std::optional<Group> revokeGroup(const QString& dir, const QString& name, QString* error);

// Writes the manifest after checking that every media file it names is in
// place; refuses (and writes nothing) otherwise.
bool writeManifest(const QString& dir, const Manifest& manifest, QString* error);

// The media key of an item: the SHA-256 of the source's canonical path, size
// and modification time, the range and the rendering's settings. Empty when
// the source cannot be read.
QString mediaKey(const QString& source, double from, double to, int maxHeight, int bitRateKbps);

// Removes the media files no manifest names (with `among`, only those of
// these names). Skipped (0) while another publish holds the folder (see
// PublishLock). Returns how many went.
int removeUnusedMedia(const QString& dir, QString* error, const QStringList* among = nullptr);

// Held by a publish from its first render to its manifest, so that another
// publish's clean-up never removes media rendered for a manifest not yet
// written. Shared: publishes run side by side.
class PublishLock {
public:
    explicit PublishLock(const QString& dir);
    ~PublishLock();
    PublishLock(const PublishLock&) = delete;
    PublishLock& operator=(const PublishLock&) = delete;
    bool held() const { return fd_ >= 0; }
    void release();

private:
    int fd_ = -1;
};

} // namespace publish
