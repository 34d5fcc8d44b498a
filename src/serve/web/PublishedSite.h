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
// The playlists of groups[group], newest first.
std::vector<publish::Manifest> playlistsOf(const Site& site, int group);
// Whether a playlist of groups[group] names the media file `name`.
bool groupHasMedia(const Site& site, int group, std::string_view name);

// The publish folder as the server sees it: read again when groups.json or
// a manifest changed (name, size, modification time or inode), so that
// publishing and revoking while serving take effect at the next request.
class PublishedSite {
public:
    // `keep`: whether a playlist is still shown (all when empty).
    explicit PublishedSite(std::string folder,
                           std::function<bool(const publish::Manifest&)> keep = {});

    std::shared_ptr<const Site> current();

private:
    std::string stamp() const;
    std::shared_ptr<const Site> read() const;

    const std::string folder_;
    const std::function<bool(const publish::Manifest&)> keep_;
    std::mutex mutex_;
    std::string stamp_;
    std::shared_ptr<const Site> site_;
};

} // namespace serve
