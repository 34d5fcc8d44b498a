#include "publish/PublishFolder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/AtomicFile.h"

namespace publish {

namespace {

constexpr const char* kGroupsFormat = "rucktag-publish-groups";
constexpr const char* kManifestFormat = "rucktag-publish-playlist";
constexpr int kVersion = 1;

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(path.toStdString());
}

QString nowText() {
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODate);
}

void setError(QString* error, const QString& text) {
    if (error)
        *error = text;
}

// Holds a flock on DIR/NAME while it lives; fd -1 when it could not be taken.
class FolderLock {
public:
    FolderLock(const QString& dir, const char* name, int how) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(name);
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0 && ::flock(fd_, how) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    bool held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

std::optional<QJsonObject> readJsonObject(const QString& path, const char* format, QString* error) {
    std::string text, why;
    if (!readWholeFile(fsPath(path), text, why)) {
        setError(error, path + QStringLiteral(": ") + QString::fromStdString(why));
        return std::nullopt;
    }
    QJsonParseError parse{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(text), &parse);
    const QJsonObject o = doc.object();
    if (parse.error != QJsonParseError::NoError || !doc.isObject() ||
        o.value(QStringLiteral("format")).toString() != QLatin1String(format) ||
        o.value(QStringLiteral("version")).toInt() != kVersion) {
        setError(error, path +
                            QStringLiteral(": 公開フォルダーのファイルとして読めません / not a ") +
                            QLatin1String(format) + QStringLiteral(" file of version 1"));
        return std::nullopt;
    }
    return o;
}

QByteArray groupsJson(const std::vector<Group>& groups) {
    QJsonArray list;
    for (const Group& g : groups)
        list.append(QJsonObject{{QStringLiteral("name"), g.name},
                                {QStringLiteral("token"), g.token},
                                {QStringLiteral("created"), g.created}});
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), QLatin1String(kGroupsFormat)},
                                     {QStringLiteral("version"), kVersion},
                                     {QStringLiteral("groups"), list}})
        .toJson(QJsonDocument::Indented);
}

// The token is the group's only secret: the file is the owner's alone, from
// its first byte (a new file is made private before anything is written).
bool writeGroups(const QString& dir, const std::vector<Group>& groups, QString* error) {
    const QByteArray path = QFile::encodeName(groupsPath(dir));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 || ::fchmod(fd, 0600) != 0) {
        setError(error, groupsPath(dir) + QStringLiteral(": ") +
                            QString::fromStdString(fileErrorText(errno)));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    const std::string why =
        writeFileAtomically(path.toStdString(), groupsJson(groups).toStdString());
    if (!why.empty())
        setError(error, groupsPath(dir) + QStringLiteral(": ") + QString::fromStdString(why));
    return why.empty();
}

// Reads, changes and writes the groups under the groups lock, so that two
// publishers never lose each other's change.
std::optional<Group> changeGroups(const QString& dir, const QString& name, bool revoke,
                                  QString* error) {
    if (name.trimmed().isEmpty()) {
        setError(error, QStringLiteral("グループ名が必要です / a group needs a name"));
        return std::nullopt;
    }
    if (revoke ? !QFileInfo::exists(groupsPath(dir)) : !QDir().mkpath(dir)) {
        setError(error, revoke ? QStringLiteral("そのグループはありません / no group named ") + name
                               : dir + QStringLiteral(
                                           ": フォルダーを作れません / the folder cannot be made"));
        return std::nullopt;
    }
    FolderLock lock(dir, ".groups.lock", LOCK_EX);
    std::vector<Group> groups;
    if (!lock.held() || !loadGroups(dir, groups, error)) {
        if (!lock.held())
            setError(error,
                     dir + QStringLiteral(
                               ": フォルダーをロックできません / the folder cannot be locked"));
        return std::nullopt;
    }
    auto it =
        std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.name == name; });
    if (it != groups.end() && !revoke)
        return *it;
    if (it == groups.end() && revoke) {
        setError(error, QStringLiteral("そのグループはありません / no group named ") + name);
        return std::nullopt;
    }
    const QString token = newToken(error);
    if (token.isEmpty())
        return std::nullopt;
    if (it == groups.end())
        it = groups.insert(groups.end(), Group{name, QString(), nowText()});
    it->token = token;
    const Group changed = *it;
    if (!writeGroups(dir, groups, error))
        return std::nullopt;
    return changed;
}

QJsonObject manifestJson(const Manifest& m) {
    QJsonArray items;
    for (const ManifestItem& i : m.items)
        items.append(QJsonObject{{QStringLiteral("title"), i.title},
                                 {QStringLiteral("match"), i.match},
                                 {QStringLiteral("matchTime"), i.matchTime},
                                 {QStringLiteral("note"), i.note},
                                 {QStringLiteral("media"), i.media},
                                 {QStringLiteral("duration"), i.duration}});
    return QJsonObject{{QStringLiteral("format"), QLatin1String(kManifestFormat)},
                       {QStringLiteral("version"), kVersion},
                       {QStringLiteral("id"), m.id},
                       {QStringLiteral("name"), m.name},
                       {QStringLiteral("groups"), QJsonArray::fromStringList(m.groups)},
                       {QStringLiteral("revision"), m.revision},
                       {QStringLiteral("published"), m.published},
                       {QStringLiteral("items"), items}};
}

} // namespace

// ---- Paths

QString groupsPath(const QString& dir) {
    return dir + QStringLiteral("/groups.json");
}

QString manifestsDir(const QString& dir) {
    return dir + QStringLiteral("/playlists");
}

QString manifestPath(const QString& dir, qint64 id) {
    return manifestsDir(dir) + QLatin1Char('/') + QString::number(id) + QStringLiteral(".json");
}

QString mediaDir(const QString& dir) {
    return dir + QStringLiteral("/media");
}

QString mediaPath(const QString& dir, const QString& name) {
    return isMediaName(name) ? mediaDir(dir) + QLatin1Char('/') + name : QString();
}

QString mediaTempPath(const QString& dir, const QString& key) {
    return mediaDir(dir) + QStringLiteral("/.tmp-") + key + QStringLiteral(".mp4");
}

bool isMediaName(const QString& name) {
    static const QRegularExpression re(QStringLiteral("\\A[0-9a-f]{64}\\.mp4\\z"));
    return re.match(name).hasMatch();
}

bool isToken(const QString& token) {
    static const QRegularExpression re(QStringLiteral("\\A[A-Za-z0-9_-]{43}\\z"));
    return re.match(token).hasMatch();
}

// ---- Reading

bool loadGroups(const QString& dir, std::vector<Group>& groups, QString* error) {
    groups.clear();
    const QString path = groupsPath(dir);
    if (!QFileInfo::exists(path))
        return true;
    const std::optional<QJsonObject> o = readJsonObject(path, kGroupsFormat, error);
    if (!o)
        return false;
    for (const QJsonValue v : o->value(QStringLiteral("groups")).toArray()) {
        const QJsonObject g = v.toObject();
        Group group{g.value(QStringLiteral("name")).toString(),
                    g.value(QStringLiteral("token")).toString(),
                    g.value(QStringLiteral("created")).toString()};
        const bool taken = std::any_of(groups.begin(), groups.end(),
                                       [&](const Group& x) { return x.name == group.name; });
        if (group.name.isEmpty() || !isToken(group.token) || taken) {
            setError(error,
                     path + QStringLiteral(
                                ": グループの名前かトークンが正しくありません / a group without a "
                                "name or a valid token, or "
                                "a name given twice"));
            groups.clear();
            return false;
        }
        groups.push_back(std::move(group));
    }
    return true;
}

std::optional<Manifest> readManifest(const QString& path, QString* error) {
    const std::optional<QJsonObject> o = readJsonObject(path, kManifestFormat, error);
    if (!o)
        return std::nullopt;
    Manifest m;
    m.id = o->value(QStringLiteral("id")).toInteger();
    m.name = o->value(QStringLiteral("name")).toString();
    for (const QJsonValue g : o->value(QStringLiteral("groups")).toArray())
        m.groups << g.toString();
    m.revision = o->value(QStringLiteral("revision")).toInteger();
    m.published = o->value(QStringLiteral("published")).toString();
    for (const QJsonValue v : o->value(QStringLiteral("items")).toArray()) {
        const QJsonObject i = v.toObject();
        ManifestItem item{i.value(QStringLiteral("title")).toString(),
                          i.value(QStringLiteral("match")).toString(),
                          i.value(QStringLiteral("matchTime")).toString(),
                          i.value(QStringLiteral("note")).toString(),
                          i.value(QStringLiteral("media")).toString(),
                          i.value(QStringLiteral("duration")).toDouble()};
        if (!isMediaName(item.media)) {
            setError(error,
                     path + QStringLiteral(": 動画の名前が正しくありません / not a media name: ") +
                         item.media);
            return std::nullopt;
        }
        m.items.push_back(std::move(item));
    }
    return m;
}

std::vector<Manifest> loadManifests(const QString& dir, QStringList* problems) {
    std::vector<Manifest> all;
    std::error_code ec;
    const std::vector<std::filesystem::path> files = jsonFilesIn(fsPath(manifestsDir(dir)), ec);
    for (const std::filesystem::path& file : files) {
        QString why;
        if (std::optional<Manifest> m = readManifest(QString::fromStdString(file.string()), &why))
            all.push_back(std::move(*m));
        else if (problems)
            *problems << why;
    }
    if (ec && ec != std::errc::no_such_file_or_directory && problems)
        *problems << manifestsDir(dir) + QStringLiteral(": ") +
                         QString::fromStdString(ec.message());
    std::sort(all.begin(), all.end(),
              [](const Manifest& a, const Manifest& b) { return a.id < b.id; });
    return all;
}

std::vector<Manifest> manifestsOf(const std::vector<Manifest>& all, const QString& group) {
    std::vector<Manifest> of;
    std::copy_if(all.begin(), all.end(), std::back_inserter(of),
                 [&](const Manifest& m) { return m.groups.contains(group); });
    return of;
}

// ---- Writing

QString newToken(QString* error) {
    QByteArray bytes(32, '\0');
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n =
            ::getrandom(bytes.data() + got, static_cast<size_t>(bytes.size() - got), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            setError(error, QStringLiteral("乱数を得られません / no randomness: ") +
                                QString::fromStdString(fileErrorText(errno)));
            return {};
        }
        got += n;
    }
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

std::optional<Group> ensureGroup(const QString& dir, const QString& name, QString* error) {
    return changeGroups(dir, name, false, error);
}

std::optional<Group> revokeGroup(const QString& dir, const QString& name, QString* error) {
    return changeGroups(dir, name, true, error);
}

bool writeManifest(const QString& dir, const Manifest& manifest, QString* error) {
    for (const ManifestItem& item : manifest.items) {
        const QString path = mediaPath(dir, item.media);
        if (path.isEmpty() || !QFileInfo(path).isFile()) {
            setError(error, QStringLiteral("動画がありません / missing media: ") + item.media);
            return false;
        }
    }
    if (!QDir().mkpath(manifestsDir(dir))) {
        setError(error, manifestsDir(dir) +
                            QStringLiteral(": フォルダーを作れません / the folder cannot be made"));
        return false;
    }
    const QString path = manifestPath(dir, manifest.id);
    const std::string why = writeFileAtomically(
        fsPath(path), QJsonDocument(manifestJson(manifest)).toJson().toStdString());
    if (!why.empty())
        setError(error, path + QStringLiteral(": ") + QString::fromStdString(why));
    return why.empty();
}

QString mediaKey(const QString& source, double from, double to, int maxHeight, int bitRateKbps) {
    const QString canonical = QFileInfo(source).canonicalFilePath();
    struct stat st {};
    if (canonical.isEmpty() || ::stat(QFile::encodeName(canonical).constData(), &st) != 0)
        return {};
    // Whole milliseconds, as the rendering cuts; a new rendering's version
    // changes the first line.
    const QString text = QStringLiteral("rucktag-publish-media 1\n%1\n%2\n%3.%4\n%5\n%6\n%7\n%8")
                             .arg(canonical)
                             .arg(qint64(st.st_size))
                             .arg(qint64(st.st_mtim.tv_sec))
                             .arg(qint64(st.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'))
                             .arg(std::llround(from * 1000))
                             .arg(std::llround(to * 1000))
                             .arg(maxHeight)
                             .arg(bitRateKbps);
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

int removeUnusedMedia(const QString& dir, QString* error, const QStringList* among) {
    FolderLock lock(dir, ".publish.lock", LOCK_EX | LOCK_NB);
    if (!lock.held())
        return 0; // another publish is under way; the last one cleans up
    QStringList problems;
    const std::vector<Manifest> manifests = loadManifests(dir, &problems);
    if (!problems.isEmpty()) {
        // An unreadable manifest may name anything: keep everything.
        setError(error, problems.join(QLatin1Char('\n')));
        return 0;
    }
    QSet<QString> named;
    for (const Manifest& m : manifests)
        for (const ManifestItem& i : m.items)
            named.insert(i.media);
    int removed = 0;
    const QStringList names =
        among ? *among : QDir(mediaDir(dir)).entryList(QDir::Files | QDir::System);
    for (const QString& name : names)
        if (isMediaName(name) && !named.contains(name) && QFile::remove(mediaPath(dir, name)))
            ++removed;
    return removed;
}

PublishLock::PublishLock(const QString& dir) {
    QDir().mkpath(dir);
    fd_ = FolderLock(dir, ".publish.lock", LOCK_SH).release();
}

PublishLock::~PublishLock() {
    release();
}

void PublishLock::release() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace publish
