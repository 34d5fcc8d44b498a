#include "match/Angles.h"

#include <cmath>

void alignByEvent(MatchAngle& angle, double main1, double angle1) {
    angle.scale = 1.0;
    angle.offset = angle1 - main1;
}

bool alignByEvents(MatchAngle& angle, double main1, double angle1, double main2, double angle2) {
    const double dm = main2 - main1;
    const double da = angle2 - angle1;
    if (std::abs(dm) < 1.0 || std::abs(da) < 1.0)
        return false;
    const double scale = da / dm;
    if (!std::isfinite(scale) || std::abs(scale - 1.0) > 0.01)
        return false;
    angle.scale = scale;
    angle.offset = angle1 - scale * main1;
    return true;
}
