#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "index/SeasonLibrary.h"

// Playlists: named, ordered lists of moments from any matches of the season
// library, each with a title and a note (the coaching point). They live in
// the library's database, so everyone on a club's server shares them.
//
// An item keeps a copy of its tag (code, team, times, the match's video and
// session) because a scan rebuilds the tags; the match is found again by its
// session file's path.
//
// Two analysts on one playlist: every playlist has a revision that each
// change raises. A change names the revision it was made on; when another
// change came first, it is refused (Result::Conflict) and nothing is written,
// so the caller reloads and shows the other's change instead of overwriting it.

namespace library {

struct PlaylistItem {
    qint64 id = 0;
    std::string video, session; // the match, as in Hit
    QString matchTitle, matchDate;
    QString matchTime; // as Hit::matchTime, when added
    double time = 0.0;
    std::optional<double> end;
    bool teamA = true;
    std::string code;
    double lead = 0.0, lag = 0.0; // seconds before the tag and after its end
    QString title, note;
    qint64 revision = 0; // raised by every change of this item
    // The moment played and published: [time - lead, (end or time) + lag],
    // never before 0.
    double from() const;
    double to() const;
};

struct Playlist {
    qint64 id = 0;
    QString name;
    qint64 revision = 0;
    std::vector<PlaylistItem> items; // in play order
    // Published state: the revision last published (0: never), when, to
    // which groups.
    qint64 publishedRevision = 0;
    QString publishedAt; // ISO 8601, UTC
    QStringList publishedGroups;
};

enum class PlaylistResult { Done, Conflict, NotFound, Failed };

class PlaylistStore {
public:
    explicit PlaylistStore(SeasonLibrary& library);

    std::vector<Playlist> list(QString* error) const; // items left empty
    std::optional<Playlist> load(const QString& name, QString* error) const;

    // A new, empty playlist; Failed when the name is taken or empty.
    PlaylistResult create(const QString& name, QString* error);
    PlaylistResult rename(qint64 playlist, qint64 revision, const QString& name, QString* error);
    PlaylistResult remove(qint64 playlist, qint64 revision, QString* error);

    // Appends hits (their code's lead and lag given per hit, title = code and
    // match time, note = `note`).
    PlaylistResult append(qint64 playlist, qint64 revision, const std::vector<PlaylistItem>& items,
                          QString* error);
    // `order`: every item id of the playlist once, in the new order.
    PlaylistResult reorder(qint64 playlist, qint64 revision, const std::vector<qint64>& order,
                           QString* error);
    PlaylistResult removeItems(qint64 playlist, qint64 revision, const std::vector<qint64>& items,
                               QString* error);
    // Title, note, lead and lag of one item, made on `item.revision`.
    PlaylistResult editItem(qint64 playlist, const PlaylistItem& item, QString* error);

    PlaylistResult markPublished(qint64 playlist, qint64 revision, const QStringList& groups,
                                 QString* error);

private:
    SeasonLibrary& lib;
};

} // namespace library
