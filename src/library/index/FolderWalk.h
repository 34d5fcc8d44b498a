#pragma once

#include <QString>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "index/SeasonLibrary.h"

// The walk through the library's folders that finds each session file
// beside its video.

namespace library {

// A session file found beside its video.
struct Found {
    std::string video, session, canonical;
};

// What a walk through the folders found.
struct Walk {
    std::vector<Found> found;
    std::set<std::string> listed;              // folders read whole
    std::map<std::string, QString> unreadable; // folders and files not read now, why
};

// The session files under `roots`, each beside its video. Links are
// followed, each folder read once (a link back up is no loop); what cannot
// be read now is said in `report` and noted in `w.unreadable`.
void walkFolders(const std::vector<std::string>& roots, Walk& w, ScanReport& report);

// Whether `path` lies below `folder`.
bool isUnder(const std::string& path, const std::string& folder);
// The path with its links resolved as far as they exist.
std::string canonicalOf(const std::string& path);

} // namespace library
