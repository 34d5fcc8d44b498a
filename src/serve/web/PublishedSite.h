#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "publish/PublishFolder.h"

namespace serve {

// One reading of the publish folder: the groups with a well-formed token
// and the manifests.
struct Site {
    std::vector<publish::Group> groups;
    std::vector<std::string> tokens; // groups[i]'s token as bytes
    std::vector<publish::Manifest> manifests;
};

// The group whose token is `token`, or -1. Every group's token is compared
// in full, with no early exit, so the time taken tells nothing about how
// much of a token was right.
int findGroup(const Site& site, std::string_view token);
// Whether a published playlist is still shown (all are when empty).
using Keep = std::function<bool(const publish::Manifest&)>;
// The playlists of groups[group] that `keep` keeps, newest first.
std::vector<publish::Manifest> playlistsOf(const Site& site, int group, const Keep& keep);
// Whether one of those names the media file `name`.
bool groupHasMedia(const Site& site, int group, std::string_view name, const Keep& keep);

// The publish folder as the server sees it: read again when groups.json or
// a manifest changed (name, size, modification time or inode), so that
// publishing and revoking while serving take effect at the next request.
class PublishedSite {
public:
    explicit PublishedSite(std::string folder);

    std::shared_ptr<const Site> current();

private:
    std::string stamp() const;
    std::shared_ptr<const Site> read() const;

    const std::string folder_;
    std::mutex mutex_;
    std::string stamp_;
    std::shared_ptr<const Site> site_;
};

} // namespace serve
