#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
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
// Two analysts on one playlist: every playlist has a revision, and every
// item one of its own. A change names the revision it was made on; when
// another change came first, it is refused (PlaylistResult::Conflict) and
// nothing is written, so the caller reloads and shows the other's change
// instead of overwriting it. Exactly:
// - rename, remove, append, reorder and removeItems are made on the
//   playlist's revision: any change done since (an item's edit included)
//   refuses them;
// - editItem is made on its item's revision: a change of that item since
//   (another edit) or its removal refuses it; edits of other items, appends
//   and reorders do not;
// - markPublished is refused only by a later publish recorded first.
// Every change done raises the playlist's revision by one (an edit also its
// item's), in the same transaction; markPublished raises nothing. The
// library's changed() follows each change, in other processes too.

namespace library {

class Connection;

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

// An item for `hit`: title = code and match time.
PlaylistItem playlistItem(const Hit& hit, double lead, double lag, const QString& note);

struct Playlist {
    qint64 id = 0;
    QString name;
    qint64 revision = 0;
    std::vector<PlaylistItem> items; // in play order
    qsizetype itemCount = 0;         // list() leaves `items` empty but counts them
    // Published state: the revision last published (0: never), when, to
    // which groups.
    qint64 publishedRevision = 0;
    QString publishedAt; // ISO 8601, UTC
    QStringList publishedGroups;
};

enum class PlaylistResult { Done, Conflict, NotFound, Failed };

// What the user reads when a change was refused because another came first.
QString conflictText();

// Every call leaves its failure's reason (Japanese) in `error`.
class PlaylistStore {
public:
    explicit PlaylistStore(SeasonLibrary& library);

    std::vector<Playlist> list(QString* error) const; // by name, items left empty
    // Null, `error` untouched, when there is no such playlist.
    std::optional<Playlist> load(const QString& name, QString* error) const;
    std::optional<Playlist> load(qint64 playlist, QString* error) const;

    // A new, empty playlist; Failed when the name is taken or empty.
    PlaylistResult create(const QString& name, QString* error);
    PlaylistResult rename(qint64 playlist, qint64 revision, const QString& name, QString* error);
    PlaylistResult remove(qint64 playlist, qint64 revision, QString* error);

    // Appends items (made by playlistItem) after the last.
    PlaylistResult append(qint64 playlist, qint64 revision, const std::vector<PlaylistItem>& items,
                          QString* error);
    // `order`: every item id of the playlist once, in the new order.
    PlaylistResult reorder(qint64 playlist, qint64 revision, const std::vector<qint64>& order,
                           QString* error);
    PlaylistResult removeItems(qint64 playlist, qint64 revision, const std::vector<qint64>& items,
                               QString* error);
    // Title, note, lead and lag of one item, made on `item.revision`.
    PlaylistResult editItem(qint64 playlist, const PlaylistItem& item, QString* error);

    // Revision `revision` was published to `groups` (all the playlist's
    // groups now), now.
    PlaylistResult markPublished(qint64 playlist, qint64 revision, const QStringList& groups,
                                 QString* error);

private:
    std::optional<Playlist> loadWhere(const QString& condition, const QVariant& key,
                                      QString* error) const;
    // Runs `body` in one transaction after raising the playlist's revision
    // from `revision`; `body` returns false on a database failure, or sets
    // `refused` (and the reason) to undo everything.
    PlaylistResult change(qint64 playlist, qint64 revision, QString* error,
                          const std::function<bool(QString*, PlaylistResult&)>& body);
    // Conflict when the playlist is there, else NotFound; the transaction undone.
    PlaylistResult refuse(qint64 playlist, QString* error);
    PlaylistResult failed(QString* error); // a database failure, said and undone

    Connection& c_;
};

} // namespace library
