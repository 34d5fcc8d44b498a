// The playlist calls of LibraryClient: each runs on the library's thread and
// answers on the asking one.
#include "client/LibraryClient.h"

using namespace library;

void LibraryClient::change(std::function<PlaylistResult(PlaylistStore&, QString*)> make,
                           ChangeReply reply) {
    postPlaylists([make = std::move(make), reply = std::move(reply)](PlaylistStore* store,
                                                                     const QString& problem) {
        QString error = problem;
        const PlaylistResult result = store ? make(*store, &error) : PlaylistResult::Failed;
        return std::function<void()>(
            [reply, result, error = explained(error)] { reply(result, error); });
    });
}

void LibraryClient::playlists(PlaylistsReply reply) {
    postPlaylists([reply = std::move(reply)](PlaylistStore* store, const QString& problem) {
        QString error = problem;
        std::vector<Playlist> found = store ? store->list(&error) : std::vector<Playlist>();
        return std::function<void()>(
            [reply, found = std::move(found), error = explained(error)] { reply(found, error); });
    });
}

void LibraryClient::loadPlaylist(qint64 playlist, PlaylistReply reply) {
    postPlaylists(
        [playlist, reply = std::move(reply)](PlaylistStore* store, const QString& problem) {
            QString error = problem;
            std::optional<Playlist> found =
                store ? store->load(playlist, &error) : std::optional<Playlist>();
            return std::function<void()>([reply, found = std::move(found),
                                          error = explained(error)] { reply(found, error); });
        });
}

void LibraryClient::createPlaylist(const QString& name, ChangeReply reply) {
    change([name](PlaylistStore& s, QString* e) { return s.create(name, e); }, std::move(reply));
}

void LibraryClient::appendToPlaylist(qint64 playlist, qint64 revision,
                                     const std::vector<PlaylistItem>& items, ChangeReply reply) {
    change([=](PlaylistStore& s, QString* e) { return s.append(playlist, revision, items, e); },
           std::move(reply));
}

void LibraryClient::reorderPlaylist(qint64 playlist, qint64 revision,
                                    const std::vector<qint64>& order, ChangeReply reply) {
    change([=](PlaylistStore& s, QString* e) { return s.reorder(playlist, revision, order, e); },
           std::move(reply));
}

void LibraryClient::removePlaylistItems(qint64 playlist, qint64 revision,
                                        const std::vector<qint64>& items, ChangeReply reply) {
    change(
        [=](PlaylistStore& s, QString* e) { return s.removeItems(playlist, revision, items, e); },
        std::move(reply));
}

void LibraryClient::editPlaylistItem(qint64 playlist, const PlaylistItem& item, ChangeReply reply) {
    change([=](PlaylistStore& s, QString* e) { return s.editItem(playlist, item, e); },
           std::move(reply));
}

void LibraryClient::renamePlaylist(qint64 playlist, qint64 revision, const QString& name,
                                   ChangeReply reply) {
    change([=](PlaylistStore& s, QString* e) { return s.rename(playlist, revision, name, e); },
           std::move(reply));
}

void LibraryClient::removePlaylist(qint64 playlist, qint64 revision, ChangeReply reply) {
    change([=](PlaylistStore& s, QString* e) { return s.remove(playlist, revision, e); },
           std::move(reply));
}
