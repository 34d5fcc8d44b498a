#pragma once

#include <string>
#include <vector>

#include "live/LiveRecorder.h"

// Writes NAME.live.json beside `ts` at once whole (an atomic replace); an
// empty text, else why not.
std::string writeLiveSidecar(const std::string& ts, const std::vector<LiveGap>& gaps,
                             const std::string& started, const std::string& source);
