#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag report SESSION.csv OUT.pdf [--png DIR] [--html OUT.html]` (the
// match file NAME.match.json beside the session used when there is one) and
// `rucktag report --library [--database URL] [search options] OUT.pdf ...`
// for the tags a library search finds. `args` are the words after "report";
// a QGuiApplication must exist (fonts). Returns 0 done, 1 a file that could
// not be read or written, 2 bad usage.
int runReportCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
