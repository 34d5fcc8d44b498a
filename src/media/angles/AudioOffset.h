#pragma once

#include <atomic>
#include <string>

// An angle's offset proposed from the sound both cameras recorded: the
// loudness of each file in six bands and 10 ms steps (its log, minus its mean
// over the second around it, so that levels and microphones do not count) is
// cross-correlated by FFT, and the best shift is refined between steps (to a
// few milliseconds on noise-like crowd sound). The confidence is 1 minus the
// ratio of the best score found two seconds or more away to the best one.
//
// Bounded: each file is read from its start for `maxLagSeconds` plus two
// minutes (the stretch compared at every shift), so a 90-minute match costs
// a few minutes of decoding; only the sound is demuxed where the container
// allows.
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
