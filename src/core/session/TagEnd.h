#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// How a tag ends. A tag of one instant has none; a tag of a code that lasts
// is open from the press that starts it until the press that gives it an end.
struct TagEnd {
    enum class State : uint8_t { None, Open, At };
    State state = State::None;
    float time = 0.0f; // seconds, when At

    static TagEnd at(float seconds) { return {State::At, seconds}; }
    bool isSet() const { return state == State::At; }
    // Same state and, when set, the same time (a NaN time equals a NaN).
    bool operator==(const TagEnd& other) const {
        return state == other.state && (state != State::At || time == other.time ||
                                        (time != time && other.time != other.time));
    }
};

// The labels of a tag: (group, text) pairs in the order they were first set,
// one text per group.
using TagLabels = std::vector<std::pair<std::string, std::string>>;
