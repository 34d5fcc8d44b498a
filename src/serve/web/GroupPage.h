#pragma once

#include <QString>
#include <string>
#include <vector>

#include "web/PublishedSite.h"

namespace serve {

// `text` with &, <, >, " and ' as character references.
std::string escapeHtml(const QString& text);

// The page of the group `group`: its playlists, each item with its title,
// match, match time, note and video (relative to /g/TOKEN/). Plain HTML with
// its style inline: no script, nothing from elsewhere.
std::string groupPage(const QString& group, const std::vector<publish::Manifest>& playlists);

// The one page for every request that finds nothing: the same for a wrong
// link, a revoked one and a wrong file name.
const std::string& notFoundPage();

} // namespace serve
