#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag library add FOLDER…`, `rucktag library scan` and
// `rucktag library search [--code NAME] [--team A|B] [--label GROUP=TEXT]
// [--text WORDS] [--json]`, with `--database URL` anywhere after the action.
// `args` are the words after "library"; a QCoreApplication must exist.
// Returns 0 done (a search that found nothing too), 1 the library could not
// be reached or written, 2 bad usage.
int runLibraryCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
