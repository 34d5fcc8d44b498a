#include "web/FolderStandIn.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace publish {

namespace {
QJsonObject readObject(const QString& path, const char* format, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QJsonParseError parse;
    const QJsonObject o = QJsonDocument::fromJson(file.readAll(), &parse).object();
    if (o.value("format").toString() != QLatin1String(format) || o.value("version").toInt() != 1) {
        *error = path + ": not a " + format + " file";
        return {};
    }
    return o;
}
} // namespace

QString groupsPath(const QString& dir) {
    return dir + "/groups.json";
}
QString manifestsDir(const QString& dir) {
    return dir + "/playlists";
}
QString mediaDir(const QString& dir) {
    return dir + "/media";
}

bool isMediaName(const QString& name) {
    static const QRegularExpression re("^[0-9a-f]{64}\\.mp4$");
    return re.match(name).hasMatch();
}

bool isToken(const QString& token) {
    static const QRegularExpression re("^[A-Za-z0-9_-]{43}$");
    return re.match(token).hasMatch();
}

bool loadGroups(const QString& dir, std::vector<Group>& groups, QString* error) {
    groups.clear();
    if (!QFile::exists(groupsPath(dir)))
        return true;
    const QJsonObject o = readObject(groupsPath(dir), "rucktag-publish-groups", error);
    if (o.isEmpty())
        return false;
    for (const QJsonValue& v : o.value("groups").toArray()) {
        const QJsonObject g = v.toObject();
        groups.push_back({g.value("name").toString(), g.value("token").toString(),
                          g.value("created").toString()});
    }
    return true;
}

std::vector<Manifest> loadManifests(const QString& dir, QStringList* problems) {
    std::vector<Manifest> all;
    const QDir folder(manifestsDir(dir));
    for (const QString& name : folder.entryList({"*.json"}, QDir::Files, QDir::Name)) {
        QString error;
        const QJsonObject o = readObject(folder.filePath(name), "rucktag-publish-playlist", &error);
        if (o.isEmpty()) {
            problems->append(error);
            continue;
        }
        Manifest m;
        m.id = o.value("id").toInteger();
        m.name = o.value("name").toString();
        for (const QJsonValue& g : o.value("groups").toArray())
            m.groups.append(g.toString());
        m.revision = o.value("revision").toInteger();
        m.published = o.value("published").toString();
        for (const QJsonValue& v : o.value("items").toArray()) {
            const QJsonObject i = v.toObject();
            m.items.push_back({i.value("title").toString(), i.value("match").toString(),
                               i.value("matchTime").toString(), i.value("note").toString(),
                               i.value("media").toString(), i.value("duration").toDouble()});
        }
        all.push_back(std::move(m));
    }
    return all;
}

std::vector<Manifest> manifestsOf(const std::vector<Manifest>& all, const QString& group) {
    std::vector<Manifest> of;
    for (const Manifest& m : all)
        if (m.groups.contains(group))
            of.push_back(m);
    return of;
}

} // namespace publish
