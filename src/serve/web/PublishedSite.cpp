#include "web/PublishedSite.h"

#include <algorithm>
#include <dirent.h>
#include <iostream>
#include <sys/stat.h>

namespace serve {

int findGroup(const Site& site, std::string_view token) {
    int found = -1;
    for (size_t i = 0; i < site.tokens.size(); ++i) {
        const std::string& t = site.tokens[i];
        unsigned diff = t.size() != token.size() || token.empty();
        for (size_t k = 0; k < token.size(); ++k)
            diff |= static_cast<unsigned char>(token[k]) ^
                    static_cast<unsigned char>(k < t.size() ? t[k] : 0);
        // Chosen without a branch on the comparison.
        const int match = -static_cast<int>(diff == 0);
        found = (found & ~match) | (static_cast<int>(i) & match);
    }
    return found;
}

std::vector<publish::Manifest> playlistsOf(const Site& site, int group, const Keep& keep) {
    std::vector<publish::Manifest> of;
    for (const publish::Manifest& m : publish::manifestsOf(site.manifests, site.groups[group].name))
        if (!keep || keep(m))
            of.push_back(m);
    std::stable_sort(of.begin(), of.end(), [](const auto& a, const auto& b) {
        return a.published != b.published ? a.published > b.published : a.id > b.id;
    });
    return of;
}

bool groupHasMedia(const Site& site, int group, std::string_view name, const Keep& keep) {
    const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (const publish::Manifest& m : site.manifests)
        if (m.groups.contains(site.groups[group].name) && (!keep || keep(m)))
            for (const publish::ManifestItem& item : m.items)
                if (item.media == wanted)
                    return true;
    return false;
}

PublishedSite::PublishedSite(std::string folder) : folder_(std::move(folder)) {}

namespace {
void addStamp(std::string& out, const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return;
    out += path + ' ' + std::to_string(st.st_ino) + ' ' + std::to_string(st.st_size) + ' ' +
           std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec) + '\n';
}
} // namespace

std::string PublishedSite::stamp() const {
    std::string out;
    addStamp(out, folder_ + "/groups.json");
    const std::string manifests = folder_ + "/playlists";
    std::vector<std::string> names;
    if (DIR* d = ::opendir(manifests.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string_view name = e->d_name;
            if (name.size() > 5 && name.front() != '.' && name.ends_with(".json"))
                names.emplace_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        addStamp(out, manifests + '/' + name);
    return out;
}

std::shared_ptr<const Site> PublishedSite::read() const {
    auto site = std::make_shared<Site>();
    const QString folder = QString::fromStdString(folder_);
    QString error;
    std::vector<publish::Group> groups;
    if (!publish::loadGroups(folder, groups, &error))
        std::cerr << "groups.json を読めません / cannot read groups.json: " << error.toStdString()
                  << "\n";
    for (publish::Group& g : groups)
        if (publish::isToken(g.token)) {
            site->tokens.push_back(g.token.toStdString());
            site->groups.push_back(std::move(g));
        }
    QStringList problems;
    site->manifests = publish::loadManifests(folder, &problems);
    for (const QString& p : problems)
        std::cerr << "プレイリストを読めません / cannot read a playlist: " << p.toStdString()
                  << "\n";
    return site;
}

std::shared_ptr<const Site> PublishedSite::current() {
    const std::lock_guard lock(mutex_);
    std::string now = stamp();
    if (!site_ || now != stamp_) {
        site_ = read();
        stamp_ = std::move(now);
    }
    return site_;
}

} // namespace serve
