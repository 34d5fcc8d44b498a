#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// The reading half of the publish folder's format, as far as the server
// needs it, until the publisher's reader is in the library layer.

namespace publish {

struct Group {
    QString name;
    QString token;
    QString created;
};

struct ManifestItem {
    QString title, match, matchTime, note;
    QString media;
    double duration = 0.0;
};

struct Manifest {
    qint64 id = 0;
    QString name;
    QStringList groups;
    qint64 revision = 0;
    QString published;
    std::vector<ManifestItem> items;
};

QString groupsPath(const QString& dir);
QString manifestsDir(const QString& dir);
QString mediaDir(const QString& dir);
bool isMediaName(const QString& name);
bool isToken(const QString& token);
bool loadGroups(const QString& dir, std::vector<Group>& groups, QString* error);
std::vector<Manifest> loadManifests(const QString& dir, QStringList* problems);
std::vector<Manifest> manifestsOf(const std::vector<Manifest>& all, const QString& group);

} // namespace publish
