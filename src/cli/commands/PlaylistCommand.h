#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag playlist create NAME`, `add NAME [the search's options] [--note
// TEXT] [--lead S] [--lag S]`, `show NAME [--json]`, `list` and `remove NAME`,
// with `--database URL` anywhere. `args` are the words after "playlist"; a
// QCoreApplication must exist. Returns 0 done, 1 the library could not be
// reached or refused the change, 2 bad usage.
int runPlaylistCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
