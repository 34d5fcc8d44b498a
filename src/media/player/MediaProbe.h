#pragma once

#include <string>

// The length of the video at `path` in the player's seconds (from the file's
// start, the earliest stream's), read from its container without decoding;
// NaN when it cannot be opened or does not say.
double mediaLength(const std::string& path);
