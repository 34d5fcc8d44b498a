#pragma once

#include <atomic>
#include <string>

struct AudioOffsetGuess {
    bool ok = false;
    double offset = 0.0;
    double confidence = 0.0;
    std::string error;
};
// Proposes MatchAngle::offset (angle time at main time 0) from the two files' sound. `confidence`
// 0..1 (peak's prominence); `error` in Japanese when a file has no sound or cannot be read. Reads
// at most `maxLagSeconds` of shift either way. Blocking: call it off the GUI thread. `cancel` may
// be null.
AudioOffsetGuess proposeAudioOffset(const std::string& mainPath, const std::string& anglePath,
                                    const std::atomic<bool>* cancel = nullptr,
                                    double maxLagSeconds = 300.0);
