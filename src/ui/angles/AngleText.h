#pragma once

#include <QString>

#include "match/Angles.h"

struct AudioOffsetGuess;

// A time in the alignment: H:MM:SS.hh.
QString timeText(double seconds);
// The offset in seconds, signed ("-3.200 秒").
QString offsetText(double offset);
// The drift of the angle's clock in parts per million, signed; empty when
// there is none.
QString driftText(const MatchAngle& angle);
// The whole map: "ずれ -3.200 秒", and the drift when there is one.
QString mapText(const MatchAngle& angle);
// A proposal from the sound with its confidence in words; a weak one says
// to mark a moment instead.
QString proposalText(const AudioOffsetGuess& guess);
