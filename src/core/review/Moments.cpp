#include "review/Moments.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>
#include <utility>

#include "text/UnicodeText.h"

namespace {

// The lead and lag of each tag name: its code's own, else the screen's. A
// list has few names, so each is looked up once.
class LeadLag {
public:
    LeadLag(double lead, double lag, const CodeWindow* window)
        : lead_(lead), lag_(lag), window_(window) {}

    std::pair<double, double> of(const std::string& name) {
        if (!window_)
            return {lead_, lag_};
        const auto [it, added] = known_.try_emplace(name, lead_, lag_);
        if (added)
            if (const Code* code = window_->find(name))
                it->second = {code->lead.value_or(lead_), code->lag.value_or(lag_)};
        return it->second;
    }

private:
    double lead_, lag_;
    const CodeWindow* window_;
    std::unordered_map<std::string, std::pair<double, double>> known_;
};

} // namespace

bool hasExactRange(const TagRowData& tag) {
    for (const auto& [group, text] : tag.labels)
        if (group == kExactRangeGroup && text == kExactRangeLabel)
            return true;
    return false;
}

std::pair<double, double> tagMoment(const TagRowData& tag, double before, double after,
                                    double last) {
    if (tag.end.isSet() && !tag.labels.empty() && hasExactRange(tag))
        before = after = 0.0;
    const double t = tag.time_val;
    const double until = tag.end.isSet() ? std::max<double>(t, tag.end.time) : t;
    return {std::clamp(t - before, 0.0, last), std::clamp(until + after, 0.0, last)};
}

std::vector<Moment> makeMoments(const std::vector<std::shared_ptr<TagRowData>>& listed, double lead,
                                double lag, double duration, const CodeWindow* window) {
    const double last = std::isfinite(duration) ? std::max(0.0, duration) : INFINITY;
    LeadLag leadLag(lead, lag, window);
    std::vector<Moment> moments;
    for (const auto& tag : listed) {
        const auto [before, after] = leadLag.of(tag->name);
        const auto [start, end] = tagMoment(*tag, before, after, last);
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

std::string momentFileName(size_t position, const TagRowData& tag, size_t maxBytes) {
    char number[32];
    std::snprintf(number, sizeof number, "%03zu", position);
    std::string time = tag.time_string.empty() ? createTimeString(tag.time_val) : tag.time_string;
    std::replace(time.begin(), time.end(), ':', '-');
    const std::string head = std::string(number) + "_" + (tag.team ? "A" : "B") + "_";
    const std::string tail = "_" + time + ".mp4";
    // A hand-edited tag name can be longer than a file name may be, which
    // failed the whole export.
    const size_t room =
        maxBytes > head.size() + tail.size() ? maxBytes - head.size() - tail.size() : 0;
    std::string name(utf8Prefix(tag.name, room));
    // A hand-edited tag name must not reach into other folders.
    std::replace(name.begin(), name.end(), '/', '_');
    return head + name + tail;
}

bool isMomentFileName(std::string_view name) {
    size_t digits = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9')
        ++digits;
    return digits >= 3 && name.size() >= digits + 3 && name[digits] == '_' &&
           (name[digits + 1] == 'A' || name[digits + 1] == 'B') && name[digits + 2] == '_';
}
