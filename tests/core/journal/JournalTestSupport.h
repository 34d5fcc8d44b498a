#pragma once

// Helpers of the journal tests: a scratch state folder per test, a plain
// model of the store by index, and journal bytes as the releases wrote them.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "Model/DataModel.h"
#include "journal/TagJournal.h"
#include "platform/AtomicFile.h"
#include "support/Scratch.h"
#include "support/Tags.h"

namespace journaltest {

namespace fs = std::filesystem;

// XDG_STATE_HOME in a fresh folder of the test's own.
class StateHome : public ::testing::Test {
protected:
    void SetUp() override {
        home = freshScratchDir("rucktag-journal-");
        ::setenv("XDG_STATE_HOME", home.c_str(), 1);
        video = (home / "videos" / "match.mp4").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(home, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(home, ec);
        if (scratch >= 0)
            ::close(scratch);
    }
    fs::path folder() const { return home / "rucktag"; }
    // `bytes` read as a journal of the video, from memory (a campaign reads
    // tens of thousands).
    JournalContents readBack(const std::string& bytes) {
        if (scratch < 0)
            scratch = ::memfd_create("journal", MFD_CLOEXEC);
        EXPECT_EQ(::ftruncate(scratch, static_cast<off_t>(bytes.size())), 0);
        EXPECT_EQ(::pwrite(scratch, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        return readJournal("/proc/self/fd/" + std::to_string(scratch), video);
    }
    // Regular files directly in `dir` whose name holds `part`.
    std::vector<fs::path> filesIn(const fs::path& dir, const std::string& part = "") const {
        std::vector<fs::path> out;
        std::error_code ec;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_regular_file() &&
                it->path().filename().string().find(part) != std::string::npos)
                out.push_back(it->path());
        std::sort(out.begin(), out.end());
        return out;
    }

    fs::path home;
    std::string video;
    int scratch = -1;
};

// A tag as the model holds it.
struct Tag {
    bool team;
    float time;
    std::string timeText, name, comment;
    TagEnd end;
    TagLabels labels;
    bool operator==(const Tag&) const = default;
    static Tag of(const TagRowData& r) {
        return {r.team, r.time_val, r.time_string, r.name, r.comment, r.end, r.labels};
    }
};

// The store as a map by index, which is what a journal's replay keeps: a lost
// change leaves every other tag as it is.
struct Model {
    std::map<int64_t, Tag> tags;
    int64_t counter = 0;
    MatchInfo match;

    static Model of(const TagDataModel& store) {
        Model m;
        m.counter = store.index;
        m.match = store.match;
        for (const auto& t : store.data)
            m.tags[t->index] = Tag::of(*t);
        return m;
    }
    void apply(const TagEdit& e) {
        switch (e.kind) {
        case TagEdit::Kind::Insert:
            for (const auto& [place, row] : e.rows) {
                tags[row->index] = Tag::of(*row);
                counter = std::max(counter, row->index + 1);
            }
            break;
        case TagEdit::Kind::Remove:
            for (const auto& [place, row] : e.rows)
                tags.erase(row->index);
            break;
        case TagEdit::Kind::Comment:
            if (auto it = tags.find(e.index); it != tags.end())
                it->second.comment = e.after;
            break;
        case TagEdit::Kind::End:
            if (auto it = tags.find(e.index); it != tags.end())
                it->second.end = e.endAfter;
            break;
        case TagEdit::Kind::Labels:
            if (auto it = tags.find(e.index); it != tags.end())
                it->second.labels = e.labelsAfter;
            break;
        case TagEdit::Kind::Match:
            match = e.matchAfter;
            break;
        case TagEdit::Kind::Steps:
            for (const TagEdit& step : e.steps)
                apply(step);
            break;
        }
    }
    // Same tags in the same order (a store is kept by rising index), same
    // counter, same match.
    bool matches(const TagDataModel& store) const {
        if (store.index != counter || store.data.size() != tags.size() || !(store.match == match))
            return false;
        size_t i = 0;
        for (const auto& [index, t] : tags) {
            const TagRowData& r = *store.data[i++];
            if (r.index != index || !(Tag::of(r) == t))
                return false;
        }
        return true;
    }
};

// An edit with rows of its own (the store's rows change after it is applied).
inline TagEdit deepCopy(const TagEdit& e) {
    TagEdit c = e;
    for (auto& [place, row] : c.rows)
        row = std::make_shared<TagRowData>(*row);
    return c;
}

inline TagDataModel copyOf(const TagDataModel& s) {
    TagDataModel c;
    c.index = s.index;
    c.match = s.match;
    for (const auto& t : s.data)
        c.data.push_back(std::make_shared<TagRowData>(*t));
    return c;
}

// The records of a version 2 journal: [start, end) of each, in file order.
inline std::vector<std::pair<size_t, size_t>> recordsOf(const std::string& bytes) {
    std::vector<std::pair<size_t, size_t>> out;
    size_t at = 8;
    while (bytes.size() - at >= 8) {
        uint32_t length;
        std::memcpy(&length, bytes.data() + at, 4);
        if (bytes.size() - at - 8 < length)
            break;
        out.emplace_back(at, at + 8 + length);
        at += 8 + length;
    }
    return out;
}

// Version 1 journals as the previous release wrote them.
namespace v1 {
template <typename T> void put(std::string& out, T v) {
    out.append(reinterpret_cast<const char*>(&v), sizeof v);
}
inline void text(std::string& out, const std::string& t) {
    put<uint32_t>(out, static_cast<uint32_t>(t.size()));
    out += t;
}
inline void row(std::string& out, const TagRowData& r) {
    put<int64_t>(out, r.index);
    put<uint8_t>(out, r.team ? 1 : 0);
    put<float>(out, r.time_val);
    text(out, r.time_string);
    text(out, r.name);
    text(out, r.comment);
}
// Length, CRC-32, payload.
inline std::string record(const std::string& payload) {
    std::string out;
    put<uint32_t>(out, static_cast<uint32_t>(payload.size()));
    put<uint32_t>(out,
                  static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(payload.data()),
                                              static_cast<uInt>(payload.size()))));
    return out + payload;
}
inline std::string begin(const std::string& video, const SessionStamp& s,
                         const TagDataModel& store) {
    std::string p;
    put<uint8_t>(p, 1);
    put<uint32_t>(p, 1);
    text(p, video);
    put<uint8_t>(p, s.exists ? 1 : 0);
    put<uint64_t>(p, s.size);
    put<int64_t>(p, s.mtimeNs);
    put<uint64_t>(p, s.hash);
    put<int64_t>(p, store.index);
    put<uint32_t>(p, static_cast<uint32_t>(store.data.size()));
    for (const auto& r : store.data)
        row(p, *r);
    return "RUCKJNL1" + record(p);
}
inline std::string edit(const TagEdit& e) {
    std::string p;
    if (e.kind == TagEdit::Kind::Comment) {
        put<uint8_t>(p, 4);
        put<int64_t>(p, e.index);
        text(p, e.after);
    } else {
        put<uint8_t>(p, e.kind == TagEdit::Kind::Insert ? 2 : 3);
        put<uint32_t>(p, static_cast<uint32_t>(e.rows.size()));
        for (const auto& [place, r] : e.rows) {
            put<uint64_t>(p, place);
            if (e.kind == TagEdit::Kind::Insert)
                row(p, *r);
            else
                put<int64_t>(p, r->index);
        }
    }
    return record(p);
}
} // namespace v1

} // namespace journaltest
