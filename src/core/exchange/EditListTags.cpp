// The edit list's instances taken as tags, and the checks an import makes
// with them.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "SubModuleClass/TagFileManager.h"
#include "exchange/XmlChars.h"
#include "exchange/XmlEditList.h"
#include "review/Moments.h"
#include "text/TimeText.h"

namespace {

using xmlchars::equalsAscii;
using xmlchars::trimmed;

bool parseFloat(std::string_view text, float& value) {
    if (text.empty())
        return false;
    // from_chars takes no '+', which floatText never writes anyway.
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size();
}

bool readMarker(std::string_view text, float& time, TagEnd& end) {
    bool haveTime = false;
    end = {};
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t semi = text.find(';', pos);
        if (semi == std::string_view::npos)
            semi = text.size();
        const std::string_view part = text.substr(pos, semi - pos);
        if (part.starts_with("t=")) {
            if (!parseFloat(part.substr(2), time))
                return false;
            haveTime = true;
        } else if (part.starts_with("e=")) {
            if (part.substr(2) == "open") {
                end.state = TagEnd::State::Open;
            } else {
                float e;
                if (!parseFloat(part.substr(2), e))
                    return false;
                end = TagEnd::at(e);
            }
        } else if (!part.empty()) {
            return false;
        }
        pos = semi + 1;
    }
    const auto usable = [](float t) { return std::isfinite(t) && t >= 0.0f; };
    return haveTime && usable(time) && (!end.isSet() || (usable(end.time) && end.time >= time));
}

// A decimal as other tools write it: "752.36", also "752,36", "+5", "1e3";
// "inf", "nan" and a number too large for a double read as not finite.
std::optional<double> readNumber(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    std::string storage;
    if (text.find(',') != std::string_view::npos && text.find('.') == std::string_view::npos) {
        storage.assign(text);
        std::replace(storage.begin(), storage.end(), ',', '.');
        text = storage;
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ptr != text.data() + text.size())
        return std::nullopt;
    if (ec == std::errc::result_out_of_range)
        return text.find_first_of("eE") != std::string_view::npos &&
                       text[text.find_first_of("eE") + 1] == '-'
                   ? 0.0
                   : INFINITY;
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

bool isTeamGroup(std::string_view group) {
    group = trimmed(group);
    return equalsAscii(group, kTeamLabelGroup) || group == "チーム";
}

std::optional<bool> teamLetter(std::string_view text) {
    text = trimmed(text);
    if (text == "A" || text == "a")
        return true;
    if (text == "B" || text == "b")
        return false;
    return std::nullopt;
}

// Labels of one instance by group, found by a hash once there are many.
class LabelAdder {
public:
    explicit LabelAdder(TagLabels& labels) : labels_(labels) {}

    void add(std::string group, const std::string& text) {
        if (group.empty())
            group = kNoGroupLabelGroup;
        if (auto* t = find(group)) {
            if (*t != text) {
                *t += kRepeatedLabelJoin;
                *t += text;
            }
            return;
        }
        labels_.emplace_back(std::move(group), text);
        if (!index_.empty() || labels_.size() > 8)
            for (size_t k = index_.empty() ? 0 : labels_.size() - 1; k < labels_.size(); ++k)
                index_.emplace(labels_[k].first, k);
    }

private:
    std::string* find(const std::string& group) {
        if (index_.empty()) {
            for (auto& [g, t] : labels_)
                if (g == group)
                    return &t;
            return nullptr;
        }
        const auto it = index_.find(group);
        return it == index_.end() ? nullptr : &labels_[it->second].second;
    }

    TagLabels& labels_;
    std::unordered_map<std::string, size_t> index_;
};

std::string instanceName(const EditListInstance& instance) {
    std::string name = std::to_string(instance.line) + " 行目";
    if (!instance.id.empty())
        name += " (ID " + std::string(trimmed(instance.id)) + ")";
    return name;
}

// The instances left out, each kind with where it was.
struct LeftOut {
    std::vector<std::string> noCode, noTime, badTime, pastEnd, manyLabels, badMarker, longCode;
};

// Labels and team of `instance` into `tag`: the Rucktag label's exact time
// and end (true when it read), the team's label, the others kept.
bool takeLabels(const EditListInstance& instance, TagRowData& tag, LabelAdder& labels,
                std::optional<bool>& team, LeftOut& out) {
    bool markerSeen = false, exact = false;
    for (const auto& [group, text] : instance.labels) {
        if (!markerSeen && group == kRucktagLabelGroup) {
            markerSeen = true;
            if (readMarker(text, tag.time_val, tag.end)) {
                exact = true;
                continue;
            }
            // Told, and not kept: a label of this group means the range.
            out.badMarker.push_back(instanceName(instance));
            continue;
        }
        // The label that tells the team (and its repeats) is the team,
        // no longer a label; one that says otherwise is kept.
        if (isTeamGroup(group))
            if (const auto letter = teamLetter(text); letter && (!team || *team == *letter)) {
                team = letter;
                continue;
            }
        labels.add(group, text);
    }
    return exact;
}

// The team from a code "A スクラム", "B　スクラム" (an ideographic space),
// the prefix then dropped from the tag's name.
void teamFromCode(const std::string& code, TagRowData& tag, std::optional<bool>& team) {
    for (std::string_view space : {std::string_view(" "), std::string_view("\u3000")}) {
        if (code.size() > 1 + space.size() && (code[0] == 'A' || code[0] == 'B') &&
            std::string_view(code).substr(1, space.size()) == space) {
            team = code[0] == 'A';
            tag.name = code.substr(1 + space.size());
            break;
        }
    }
}

// Time and end from the instance's start and end; false when they cannot be.
bool timesFromRange(const EditListInstance& instance, TagRowData& tag, LabelAdder& labels,
                    LeftOut& out) {
    const auto start = readNumber(instance.start);
    if (!start) {
        out.noTime.push_back(instanceName(instance));
        return false;
    }
    // Times a video cannot have would poison every file they reach.
    const float time = static_cast<float>(*start);
    const auto end = readNumber(instance.end);
    const float until = end ? static_cast<float>(*end) : time;
    if (!std::isfinite(time) || time < 0.0f || !std::isfinite(until) || until < time) {
        out.badTime.push_back(instanceName(instance));
        return false;
    }
    tag.time_val = time;
    tag.end = {};
    if (until > time) {
        // Already a clip: its range is its moment, with no lead or lag.
        tag.end = TagEnd::at(until);
        labels.add(std::string(kExactRangeGroup), std::string(kExactRangeLabel));
    }
    return true;
}

// The tag of one instance; null when it is left out (said in `out`).
std::shared_ptr<TagRowData> tagOf(const EditListInstance& instance, double duration,
                                  std::optional<bool>& team, LeftOut& out) {
    if (!instance.hasCode || trimmed(instance.code).empty()) {
        out.noCode.push_back(instanceName(instance));
        return nullptr;
    }
    auto tag = std::make_shared<TagRowData>();
    LabelAdder labels(tag->labels);
    const bool exact = takeLabels(instance, *tag, labels, team, out);
    tag->name = instance.code;
    if (!team)
        teamFromCode(instance.code, *tag, team);
    if (!exact && !timesFromRange(instance, *tag, labels, out))
        return nullptr;
    if (std::isfinite(duration) && tag->time_val > duration) {
        out.pastEnd.push_back(instanceName(instance));
        return nullptr;
    }
    if (tag->name.size() > kMaxImportedCodeBytes) {
        out.longCode.push_back(instanceName(instance));
        return nullptr;
    }
    // Written out again with its Team and Rucktag labels, the tag must
    // still be an instance a file may hold.
    if (tag->labels.size() + 2 > kMaxLabelsPerInstance) {
        out.manyLabels.push_back(instanceName(instance));
        return nullptr;
    }
    tag->time_string = createTimeString(tag->time_val);
    tag->comment = instance.freeText;
    tag->team = team.value_or(false);
    return tag;
}

// A period instance: ours by its marker, another tool's by a period code
// without a team.
std::optional<MatchPeriod> periodOf(const EditListInstance& instance) {
    static constexpr std::pair<std::string_view, double> kPeerPeriods[] = {
        {"前半", 0},        {"後半", 2400},  {"延長前半", 4800},
        {"延長後半", 5400}, {"1st Half", 0}, {"2nd Half", 2400}};
    std::optional<double> clock;
    for (const auto& [group, text] : instance.labels) {
        if (isTeamGroup(group) && teamLetter(text))
            return std::nullopt;
        if (group == kRucktagLabelGroup && std::string_view(text).starts_with(kPeriodMarker))
            if (const auto c = readNumber(text.substr(kPeriodMarker.size()));
                c && std::isfinite(*c))
                clock = *c;
    }
    const std::string_view code = trimmed(instance.code);
    if (!clock)
        for (const auto& [name, usual] : kPeerPeriods)
            if (code == name)
                clock = usual;
    const auto start = readNumber(instance.start);
    const auto end = readNumber(instance.end);
    if (!clock || !start || !std::isfinite(*start) || *start < 0)
        return std::nullopt;
    MatchPeriod period{std::string(code), *start, MatchPeriod::kOpenEnd, *clock};
    if (end && std::isfinite(*end) && *end > *start)
        period.end = *end;
    return period;
}

} // namespace

EditListTags tagsFromEditList(const EditList& list, double duration) {
    EditListTags result;
    LeftOut out;
    std::vector<MatchPeriod> periods;
    for (const EditListInstance& instance : list.instances) {
        if (auto period = periodOf(instance)) {
            periods.push_back(std::move(*period));
            continue;
        }
        std::optional<bool> team;
        if (auto tag = tagOf(instance, duration, team, out))
            result.tags.push_back({std::move(tag), team, instance.line});
    }
    std::stable_sort(result.tags.begin(), result.tags.end(),
                     [](const ImportedTag& a, const ImportedTag& b) {
                         const float x = a.tag->time_val, y = b.tag->time_val;
                         return !std::isnan(x) && (std::isnan(y) || x < y);
                     });
    const auto tell = [&](const char* what, const std::vector<std::string>& where) {
        if (where.empty())
            return;
        std::string line = std::string(what) + ": " + std::to_string(where.size()) + " 件 (";
        for (size_t i = 0; i < where.size() && i < 5; ++i)
            line += (i ? ", " : "") + where[i];
        line += where.size() > 5 ? " ほか)" : ")";
        result.problems.push_back(std::move(line));
    };
    tell("コードのないインスタンスを読みませんでした", out.noCode);
    tell("開始時刻の読めないインスタンスを読みませんでした", out.noTime);
    tell("時刻が負か無限大か数でない、または終了が開始より前のインスタンスを読みませんでした",
         out.badTime);
    tell("動画の終わりより後に始まるインスタンスを読みませんでした", out.pastEnd);
    tell("ラベルが多すぎるインスタンスを読みませんでした", out.manyLabels);
    tell("コードが長すぎる (256 バイトまで) インスタンスを読みませんでした", out.longCode);
    tell("Rucktag ラベルが読めず、開始時刻を使いました", out.badMarker);
    std::stable_sort(periods.begin(), periods.end(),
                     [](const MatchPeriod& a, const MatchPeriod& b) { return a.start < b.start; });
    std::vector<std::string> overlapping;
    for (MatchPeriod& period : periods) {
        const MatchPeriod* last = result.periods.empty() ? nullptr : &result.periods.back();
        if (last && (last->open() || period.start < last->end))
            overlapping.push_back(period.name);
        else
            result.periods.push_back(std::move(period));
    }
    tell("ほかの期間と重なる期間を読みませんでした", overlapping);
    return result;
}

std::vector<std::string> unresolvedCodes(const std::vector<ImportedTag>& tags) {
    std::vector<std::string> codes;
    std::unordered_set<std::string> seen;
    for (const ImportedTag& t : tags)
        if (!t.team && seen.insert(t.tag->name).second)
            codes.push_back(t.tag->name);
    return codes;
}

namespace {

std::string duplicateKey(const TagRowData& tag) {
    std::string key;
    key.reserve(tag.name.size() + 16);
    key += tag.team ? 'A' : 'B';
    char bits[sizeof(float)];
    std::memcpy(bits, &tag.time_val, sizeof bits);
    key.append(bits, sizeof bits);
    key += static_cast<char>(tag.end.state);
    if (tag.end.isSet()) {
        std::memcpy(bits, &tag.end.time, sizeof bits);
        key.append(bits, sizeof bits);
    }
    key += tag.name;
    return key;
}

} // namespace

std::vector<bool> findDuplicates(const std::vector<std::shared_ptr<TagRowData>>& existing,
                                 const std::vector<ImportedTag>& incoming) {
    std::unordered_set<std::string> keys;
    keys.reserve(existing.size());
    for (const auto& tag : existing)
        keys.insert(duplicateKey(*tag));
    std::vector<bool> duplicate;
    duplicate.reserve(incoming.size());
    for (const ImportedTag& t : incoming)
        duplicate.push_back(keys.count(duplicateKey(*t.tag)) > 0);
    return duplicate;
}

std::string videoBesideSession(const std::string& sessionPath) {
    namespace fs = std::filesystem;
    const fs::path session(sessionPath);
    const fs::path folder = session.has_parent_path() ? session.parent_path() : fs::path(".");
    const fs::path wanted = session.filename();
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (ext != ".avi" && ext != ".mp4" && ext != ".mts" && ext != ".m2ts")
            continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        if (fs::path(TagFileManager::sessionFilePath(it->path().string())).filename() == wanted)
            found.push_back(it->path().string());
    }
    std::sort(found.begin(), found.end());
    return found.empty() ? std::string() : found.front();
}
