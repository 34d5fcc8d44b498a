#pragma once

#include <ostream>
#include <string>
#include <vector>

// `rucktag record SOURCE --out FILE.ts [--format lavfi|v4l2] [--for SECONDS]`:
// records a live source until Ctrl+C (or for SECONDS), telling its states on
// `err`. `args` are the words after "record". Returns the exit code: 0 the
// file finished, 1 a source or file that failed, 2 bad usage.
int runRecordCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
