#pragma once

#include <string>

// The length of the video at `path` in the player's seconds (from the file's
// start, the earliest stream's), read from its container without decoding;
// NaN when it cannot be opened or does not say.
double mediaLength(const std::string& path);

// The frame rate of the first video stream at `path` (its average, as the
// container tells it); NaN when the file cannot be opened or has no video.
double videoFrameRate(const std::string& path);
