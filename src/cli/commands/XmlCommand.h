#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag xml export SESSION.csv OUT.xml [--lead S --lag S]` and
// `rucktag xml import IN.xml SESSION.csv [--team A|B]`, run before any
// window opens. `args` are the words after "xml". Returns the exit code:
// 0 done (an import that took what it could), 1 a file that could not be
// read or written, 2 bad usage.
int runXmlCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
