#pragma once

#include <cstddef>
#include <string>

#include "match/MatchInfo.h"

// Marking the periods of a match as the analyst watches: each call changes
// `match` and returns true, or leaves it as it was and returns false with the
// reason in Japanese in `why`. The periods stay by rising start and never
// overlap; only the last may be open.

// Begins the next period at video time `t`, with its default name and clock.
bool markPeriodStart(MatchInfo& match, double t, std::string& why);
// Ends the open period at `t`.
bool markPeriodEnd(MatchInfo& match, double t, std::string& why);
// Moves the start (or the `end`) of period `which` by `by` seconds.
bool movePeriodEdge(MatchInfo& match, size_t which, bool end, double by, std::string& why);
// Takes period `which` off.
bool removePeriod(MatchInfo& match, size_t which, std::string& why);

// A period as the list shows it: "前半 0:00:12.04 – 0:40:30.00" ("… – " when open).
std::string periodText(const MatchPeriod& period);
