#include "Model/Moments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

std::vector<Moment> makeMoments(const std::vector<std::shared_ptr<TagRowData>>& listed, double lead,
                                double lag, double duration) {
    const double last = std::isfinite(duration) ? std::max(0.0, duration) : INFINITY;
    std::vector<Moment> moments;
    for (const auto& tag : listed) {
        const double t = tag->time_val;
        const double start = std::clamp(t - lead, 0.0, last);
        const double end = std::clamp(t + lag, 0.0, last);
        if (!(end > start))
            continue;
        if (!moments.empty()) {
            Moment& previous = moments.back();
            // Overlapping or touching, whichever way the list runs.
            if (start <= previous.end && end >= previous.start) {
                previous.start = std::min(previous.start, start);
                previous.end = std::max(previous.end, end);
                previous.tags.push_back(tag);
                continue;
            }
        }
        moments.push_back({start, end, {tag}});
    }
    return moments;
}

std::string momentFileName(size_t position, const TagRowData& tag) {
    char number[32];
    std::snprintf(number, sizeof number, "%03zu", position);
    std::string time = tag.time_string.empty() ? createTimeString(tag.time_val) : tag.time_string;
    std::replace(time.begin(), time.end(), ':', '-');
    std::string name = tag.name;
    // A hand-edited tag name must not reach into other folders.
    std::replace(name.begin(), name.end(), '/', '_');
    return std::string(number) + "_" + (tag.team ? "A" : "B") + "_" + name + "_" + time + ".mp4";
}
