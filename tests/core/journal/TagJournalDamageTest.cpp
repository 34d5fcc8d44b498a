// The journal against damage: every single-bit flip of a journal, random
// bursts of garbage, old journals, and crafted ones.
#include <random>

#include "JournalTestSupport.h"
#include "support/ChildProcess.h"

namespace {

using namespace journaltest;

// A journal of 35 loaded tags with comments, then comments, deletions,
// presses, undos and redos; the model of every change, and of the store
// without each one.
struct Campaign {
    std::string bytes;
    Model snapshot;               // the store the journal starts from
    std::vector<TagEdit> changes; // appended after it
    Model truth;
    std::vector<Model> without; // the truth without change k

    Model replayWithout(const std::vector<size_t>& skipped) const {
        Model m = snapshot;
        for (size_t k = 0; k < changes.size(); ++k)
            if (std::find(skipped.begin(), skipped.end(), k) == skipped.end())
                m.apply(changes[k]);
        return m;
    }
};

Campaign buildCampaign(const std::string& video) {
    Campaign c;
    const char* names[] = {"ラック", "モール", "タックル", "スクラム", "トライ", "PG"};
    std::vector<std::shared_ptr<TagRowData>> loaded;
    for (int i = 0; i < 35; ++i) {
        loaded.push_back(
            tag(i % 3 != 0, 12.5f * i, names[i % 6], i % 4 == 0 ? "c" + std::to_string(i) : ""));
        loaded.back()->index = i;
    }
    TagDataModel store;
    store.replaceData(loaded);
    TagHistory history;
    TagJournal journal;
    EXPECT_TRUE(journal.open(video, SessionStamp{true, 10, 20, 30}));
    bool first = true;
    auto note = [&](const TagEdit& e) {
        journal.changed(e, store);
        if (first)
            c.snapshot = Model::of(store); // the first change starts from the store it made
        else
            c.changes.push_back(deepCopy(e));
        first = false;
    };
    auto press = [&](bool team, float at, const char* name) {
        note(history.perform(store, TagEdit::record(store, tag(team, at, name))));
    };
    auto comment = [&](int64_t index, const std::string& text) {
        note(history.perform(store, TagEdit::comment(store, index, text)));
    };
    auto remove = [&](std::vector<int64_t> doomed) {
        note(history.perform(store, TagEdit::remove(store, doomed)));
    };
    auto mark = [&](double start, double end, const char* teamA) {
        MatchInfo m = store.match;
        m.teams[0] = teamA;
        m.periods.push_back({m.periods.empty() ? "前半" : "後半", start, end, 0});
        note(history.perform(store, TagEdit::match(store, m)));
    };
    press(true, 500, "キック");
    comment(3, "ノックオン");
    comment(7, "good \"line\", out");
    comment(12, "x");
    comment(20, "");
    comment(35, "new");
    remove({5});
    mark(30, 2450, "東京"); // change 6: a match record
    remove({10, 11});
    press(false, 510, "ラインアウト");
    press(true, 520, "DG");
    press(false, 530, "ペナルティ");
    comment(36, "second\nline");
    note(*history.undo(store)); // the comment
    note(*history.undo(store)); // the last press
    note(*history.redo(store));
    remove({0, 34, 37});
    comment(3, "");
    note(*history.undo(store)); // the comment cleared
    note(*history.undo(store)); // the three deleted come back
    press(true, 540, "トライ");
    press(false, 550, "選手交代");
    comment(2, std::string(40, 'w'));
    mark(3000, MatchPeriod::kOpenEnd, "東京\"ガス\"");
    note(*history.undo(store)); // the period marked
    remove({1});
    EXPECT_TRUE(journal.flush());
    c.bytes = slurp(journal.file());
    c.truth = Model::of(store);
    EXPECT_TRUE(c.replayWithout({}).matches(store)) << "the model follows the store";
    for (size_t k = 0; k < c.changes.size(); ++k)
        c.without.push_back(c.replayWithout({k}));
    return c;
}

class JournalDamage : public StateHome {};

// Every bit of the journal flipped in turn: nothing is lost (a flipped bit is
// found from the checksum, the header and the snapshot have a second copy),
// and had anything been lost the result would say so.
TEST_F(JournalDamage, EverySingleBitFlipIsReadBackOrReported) {
    const Campaign c = buildCampaign(video);
    ASSERT_GT(c.bytes.size(), 3000u);
    ASSERT_EQ(c.changes.size(), 25u);
    const JournalContents whole = readBack(c.bytes);
    ASSERT_TRUE(whole.ours && !whole.damaged && whole.version == 2) << whole.error;
    ASSERT_TRUE(c.truth.matches(whole.store));
    // Every bit; under the sanitizers (ten times slower) one bit of every
    // byte, chosen by a seeded generator.
#if defined(__SANITIZE_ADDRESS__)
    constexpr bool everyBit = false;
#else
    constexpr bool everyBit = true;
#endif
    std::mt19937 rng(1207);
    std::string flipped = c.bytes;
    for (size_t i = 0; i < c.bytes.size(); ++i) {
        const int chosen = static_cast<int>(rng() % 8);
        for (int bit = 0; bit < 8; ++bit) {
            if (!everyBit && bit != chosen)
                continue;
            SCOPED_TRACE("byte " + std::to_string(i) + " bit " + std::to_string(bit));
            flipped[i] = static_cast<char>(c.bytes[i] ^ (1 << bit));
            const JournalContents back = readBack(flipped);
            flipped[i] = c.bytes[i];
            ASSERT_TRUE(back.ours) << back.error;
            if (c.truth.matches(back.store)) {
                ASSERT_FALSE(back.damaged) << "a false alarm";
                continue;
            }
            // Lost: at most one change, and said.
            ASSERT_TRUE(back.damaged) << "lost without a word";
            ASSERT_TRUE(std::any_of(c.without.begin(), c.without.end(), [&](const Model& m) {
                return m.matches(back.store);
            })) << "more than one change lost";
        }
    }
}

// Bursts of up to 16 garbage bytes: every change the burst did not touch is
// restored, and whatever is missing is reported.
TEST_F(JournalDamage, GarbageBurstsLoseOnlyTheChangesTheyTouchAndSaySo) {
    const Campaign c = buildCampaign(video);
    const auto records = recordsOf(c.bytes);
    // Records: header, snapshot (3 records), header, snapshot, then the changes.
    const size_t firstChange = records.size() - c.changes.size();
    ASSERT_EQ(firstChange, 8u);
    std::mt19937 rng(77);
    for (int n = 0; n < 3000; ++n) {
        std::string b = c.bytes;
        // The last byte is left alone: a zero there is a torn write by design.
        const size_t at = rng() % (b.size() - 1);
        const size_t len = std::min<size_t>(2 + rng() % 15, b.size() - 1 - at);
        SCOPED_TRACE("burst at " + std::to_string(at) + " length " + std::to_string(len));
        for (size_t i = at; i < at + len; ++i)
            b[i] = static_cast<char>(b[i] ^ (1 + rng() % 255));
        const JournalContents back = readBack(b);
        ASSERT_TRUE(back.ours) << back.error;
        std::vector<size_t> touched;
        for (size_t r = firstChange; r < records.size(); ++r)
            if (records[r].first < at + len && at < records[r].second)
                touched.push_back(r - firstChange);
        if (c.truth.matches(back.store))
            continue;
        // Some subset of the touched changes is missing.
        size_t lost = SIZE_MAX;
        for (unsigned mask = 1; mask < (1u << touched.size()); ++mask) {
            std::vector<size_t> skipped;
            for (size_t k = 0; k < touched.size(); ++k)
                if (mask & (1u << k))
                    skipped.push_back(touched[k]);
            if (c.replayWithout(skipped).matches(back.store))
                lost = std::min(lost, skipped.size());
        }
        ASSERT_NE(lost, SIZE_MAX) << "lost more than the changes it touched";
        ASSERT_TRUE(back.damaged) << "lost without a word";
        // Exact from the sequence numbers, except for damage at the very end
        // (a lower bound there).
        EXPECT_GE(back.lostRecords, touched.back() + 1 == c.changes.size() ? 1 : lost);
    }
}

// A change record spoiled beyond repair in the middle (the sixth a match
// record): only that change is lost, every later one is replayed, and the
// result says one record is lost.
TEST_F(JournalDamage, ARecordSpoiledInTheMiddleLosesOnlyItself) {
    const Campaign c = buildCampaign(video);
    const auto records = recordsOf(c.bytes);
    const size_t firstChange = records.size() - c.changes.size();
    for (size_t k : {size_t(0), size_t(6), c.changes.size() - 1}) {
        std::string b = c.bytes;
        const auto [from, to] = records[firstChange + k];
        for (size_t i = from + 17; i < to - 1; i += 3) // payload bytes
            b[i] = static_cast<char>(b[i] ^ 0x5a);
        const JournalContents back = readBack(b);
        ASSERT_TRUE(back.ours) << k;
        EXPECT_TRUE(back.damaged) << k;
        EXPECT_EQ(back.lostRecords, 1u) << k;
        EXPECT_EQ(back.changes, c.changes.size() - 1) << k;
        EXPECT_TRUE(c.without[k].matches(back.store)) << k;
        // One flipped bit in the same payload is repaired.
        b = c.bytes;
        b[from + 20] ^= 0x04;
        const JournalContents fixed = readBack(b);
        EXPECT_FALSE(fixed.damaged) << k;
        EXPECT_EQ(fixed.repaired, 1u) << k;
        EXPECT_TRUE(c.truth.matches(fixed.store)) << k;
    }
    // Two records in a row.
    std::string b = c.bytes;
    for (size_t r : {firstChange + 3, firstChange + 4})
        for (size_t i = records[r].first; i < records[r].second; i += 5)
            b[i] = static_cast<char>(b[i] ^ 0xff);
    const JournalContents back = readBack(b);
    ASSERT_TRUE(back.ours);
    EXPECT_TRUE(back.damaged);
    EXPECT_EQ(back.lostRecords, 2u);
    EXPECT_TRUE(c.replayWithout({3, 4}).matches(back.store));
}

// Both copies of one snapshot record spoiled: the tags of that record are
// lost and counted, the rest of the snapshot and every change come back.
TEST_F(JournalDamage, BothCopiesOfASnapshotRecordLostCostsOnlyItsTags) {
    const Campaign c = buildCampaign(video);
    const auto records = recordsOf(c.bytes);
    std::string b = c.bytes;
    for (size_t r : {size_t(2), size_t(6)}) // the second snapshot record, both copies
        for (size_t i = records[r].first + 20; i < records[r].second - 1; i += 7)
            b[i] = static_cast<char>(b[i] ^ 0x33);
    const JournalContents back = readBack(b);
    ASSERT_TRUE(back.ours);
    EXPECT_TRUE(back.damaged);
    EXPECT_EQ(back.lostRecords, 1u);
    EXPECT_EQ(back.lostTags, 16u);
    EXPECT_EQ(back.changes, c.changes.size());
    // Tags 16..31 of the snapshot are gone unless a change put them back.
    EXPECT_EQ(back.store.data.size() + 16, c.truth.tags.size());
}

// ---- journals of the previous release ----------------------------------------

TEST_F(JournalDamage, VersionOneJournalsStillReplay) {
    TagDataModel store;
    for (int i = 0; i < 5; ++i)
        store.appent(tag(i % 2 == 0, float(i), "スクラム", i == 2 ? "two" : ""));
    const SessionStamp stamp{true, 42, 7, 99};
    std::string bytes = v1::begin(video, stamp, store);
    TagHistory history;
    std::vector<TagEdit> edits;
    edits.push_back(history.perform(store, TagEdit::record(store, tag(true, 9, "PG"))));
    edits.push_back(history.perform(store, TagEdit::comment(store, 1, "one")));
    edits.push_back(history.perform(store, TagEdit::remove(store, {0, 3})));
    edits.push_back(*history.undo(store));
    edits.push_back(history.perform(store, TagEdit::record(store, tag(false, 11, "DG"))));
    for (const auto& e : edits)
        bytes += v1::edit(e);
    JournalContents back = readBack(bytes);
    ASSERT_TRUE(back.ours) << back.error;
    EXPECT_EQ(back.version, 1);
    EXPECT_FALSE(back.damaged);
    EXPECT_EQ(back.session, stamp);
    EXPECT_EQ(back.changes, edits.size());
    EXPECT_TRUE(sameStore(back.store, store));

    // Torn at the end: no damage. Spoiled in the middle: the replay stops
    // there (the old format has no way past it) and says so.
    back = readBack(bytes.substr(0, bytes.size() - 3));
    EXPECT_FALSE(back.damaged);
    EXPECT_EQ(back.changes, edits.size() - 1);
    std::string spoiled = bytes;
    spoiled[recordsOf(bytes)[2].first + 12] ^= 0x40; // inside the second edit (same framing)
    back = readBack(spoiled);
    ASSERT_TRUE(back.ours);
    EXPECT_TRUE(back.damaged);
    EXPECT_EQ(back.changes, 1u);
    EXPECT_EQ(back.lostRecords, edits.size() - 1);
}

// The left-over of the previous release at the video's own name is offered.
TEST_F(JournalDamage, AVersionOneLeftOverIsOffered) {
    TagDataModel store;
    for (int i = 0; i < 3; ++i)
        store.appent(tag(true, float(i), "PG"));
    fs::create_directories(folder());
    // The previous release named the journal from the path made absolute and
    // lexically normal, which is the canonical path when there are no links.
    spit(journalPathFor(video), v1::begin(video, SessionStamp{}, store));
    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    const JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.ours) << found.error;
    EXPECT_EQ(found.version, 1);
    EXPECT_TRUE(sameStore(found.store, store));
}

// ---- crafted journals --------------------------------------------------------

// A version 2 record as the journal frames it.
std::string v2record(uint32_t seq, uint8_t type, const std::string& payload) {
    std::string out(8, '\0');
    v1::put<uint32_t>(out, 0x4B52A7D3);
    v1::put<uint32_t>(out, seq);
    v1::put<uint8_t>(out, type);
    out += payload;
    const uint32_t length = static_cast<uint32_t>(out.size() - 8 + 1);
    std::memcpy(out.data(), &length, 4);
    uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(&length), 4);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(out.data() + 8), static_cast<uInt>(length - 1));
    const auto c32 = static_cast<uint32_t>(crc);
    std::memcpy(out.data() + 4, &c32, 4);
    out.push_back(static_cast<char>(0xA5));
    return out;
}

std::string v2header(const std::string& video, int64_t counter, uint64_t tags, uint32_t per,
                     uint32_t records) {
    std::string p;
    v1::put<uint32_t>(p, 2);
    v1::text(p, video);
    p.append(1 + 8 + 8 + 8, '\0');
    v1::put<int64_t>(p, counter);
    v1::put<uint64_t>(p, tags);
    v1::put<uint32_t>(p, per);
    v1::put<uint32_t>(p, records);
    return p;
}

std::string rowBytes(int64_t index) {
    TagRowData r;
    r.index = index;
    r.name = "PG";
    std::string out;
    v1::row(out, r);
    return out;
}

// Counts, lengths and indexes read from a file are held against what the file
// can hold: no crash, no allocation by a number from the file (the child runs
// out of memory), no endless scan (out of time). Random bytes: the
// journal_reader fuzzer.
TEST_F(JournalDamage, CraftedJournalsAreReadWithinBoundsOfTheirSize) {
    std::vector<std::pair<std::string, std::string>> crafted;
    auto v1begin = [&](int64_t counter, uint32_t count, const std::string& rows) {
        std::string p;
        v1::put<uint8_t>(p, 1);
        v1::put<uint32_t>(p, 1);
        v1::text(p, video);
        p.append(1 + 8 + 8 + 8, '\0');
        v1::put<int64_t>(p, counter);
        v1::put<uint32_t>(p, count);
        return "RUCKJNL1" + v1::record(p + rows);
    };
    crafted.emplace_back("v1 snapshot count 2^32-1", v1begin(5, 0xFFFFFFFFu, rowBytes(1)));
    crafted.emplace_back("v1 tag index near 2^32", v1begin(1, 1, rowBytes((int64_t(1) << 32) - 2)));
    crafted.emplace_back("v1 tag index 2^40", v1begin(1, 1, rowBytes(int64_t(1) << 40)));
    crafted.emplace_back("v1 counter INT64_MAX", v1begin(INT64_MAX, 1, rowBytes(0)));
    {
        std::string insert;
        v1::put<uint8_t>(insert, 2);
        v1::put<uint32_t>(insert, 1);
        v1::put<uint64_t>(insert, 1);
        insert += rowBytes((int64_t(1) << 32) - 1);
        crafted.emplace_back("v1 insert of index 2^32-1",
                             v1begin(1, 1, rowBytes(0)) + v1::record(insert));
        std::string many;
        v1::put<uint8_t>(many, 2);
        v1::put<uint32_t>(many, 0xFFFFFFFFu);
        crafted.emplace_back("v1 insert count 2^32-1",
                             v1begin(1, 1, rowBytes(0)) + v1::record(many));
        std::string comment;
        v1::put<uint8_t>(comment, 4);
        v1::put<int64_t>(comment, INT64_MIN);
        v1::put<uint32_t>(comment, 0xFFFFFFF0u);
        crafted.emplace_back("v1 comment length 2^32",
                             v1begin(1, 1, rowBytes(0)) + v1::record(comment));
    }
    crafted.emplace_back("v2 header of 10^9 tags",
                         "RUCKJNL2" + v2record(0, 5, v2header(video, 1, 1000000000, 16, 62500000)));
    crafted.emplace_back("v2 header of 2^32-1 records",
                         "RUCKJNL2" +
                             v2record(0, 5, v2header(video, 1, 0xFFFFFFFFu, 1, 0xFFFFFFFFu)));
    {
        // Tags far apart: the table by index would need 2^31 slots.
        std::string chunk;
        v1::put<uint32_t>(chunk, 0);
        v1::put<uint32_t>(chunk, 2);
        chunk += rowBytes(0) + rowBytes(int64_t(1) << 31);
        std::string file =
            "RUCKJNL2" + v2record(0, 5, v2header(video, 3, 2, 16, 1)) + v2record(1, 6, chunk);
        std::string insert;
        v1::put<uint32_t>(insert, 1);
        v1::put<uint64_t>(insert, 2);
        insert += rowBytes((int64_t(1) << 32) - 5);
        file += v2record(4, 2, insert);
        crafted.emplace_back("v2 tags 2^31 apart", file);
        // A megabyte of sync words whose lengths reach the end: the scan for the
        // next good record must not check each against the rest of the file.
        std::string scan = "RUCKJNL2" + v2record(0, 5, v2header(video, 0, 0, 16, 0));
        while (scan.size() < (1u << 20)) {
            std::string fake(8, '\0');
            const uint32_t rest = static_cast<uint32_t>((1u << 20) - scan.size());
            std::memcpy(fake.data(), &rest, 4);
            v1::put<uint32_t>(fake, 0x4B52A7D3);
            v1::put<uint32_t>(fake, 3);
            v1::put<uint8_t>(fake, 2);
            scan += fake;
        }
        crafted.emplace_back("v2 a megabyte of false starts", scan);
    }

    for (const auto& [what, bytes] : crafted) {
        SCOPED_TRACE(what);
        EXPECT_EQ(inChild([&] {
                      const JournalContents back = readBack(bytes);
                      if (back.store.index < 0 || back.store.index > (int64_t(1) << 32))
                          return false;
                      return std::all_of(
                          back.store.data.begin(), back.store.data.end(),
                          [&](const auto& row) { return row->index < back.store.index; });
                  }),
                  "exit 0");
    }
    // The tags 2^31 apart are both restored (by their places).
    const JournalContents apart =
        readBack(std::find_if(crafted.begin(), crafted.end(), [](const auto& c) {
                     return c.first == "v2 tags 2^31 apart";
                 })->second);
    ASSERT_TRUE(apart.ours) << apart.error;
    EXPECT_EQ(apart.store.data.size(), 3u);
}

} // namespace

// Tags whose times no video has (written by a run that let one through) are
// not replayed, and the journal says it lost them.
TEST_F(JournalDamage, TimesNoVideoHasAreNotReplayed) {
    TagDataModel store;
    auto late = tag(true, 3.0f, "UE");
    late->end = TagEnd::at(2.0f);
    std::vector<std::shared_ptr<TagRowData>> loaded{tag(true, 1.0f, "PG"), tag(false, NAN, "DG"),
                                                    late};
    for (size_t i = 0; i < loaded.size(); ++i)
        loaded[i]->index = static_cast<int64_t>(i);
    store.replaceData(loaded);
    TagJournal journal;
    TagHistory history;
    journal.open(video, SessionStamp{});
    auto step = [&](TagEdit e) { journal.changed(history.perform(store, std::move(e)), store); };
    step(TagEdit::record(store, tag(true, -5.0f, "キック")));
    step(TagEdit::record(store, tag(true, 7.0f, "トライ")));
    step(TagEdit::end(store, 4, TagEnd::at(INFINITY)));
    step(TagEdit::end(store, 0, TagEnd::at(0.5f)));
    ASSERT_TRUE(journal.flush());
    const JournalContents back = readJournal(journal.file(), video);
    ASSERT_TRUE(back.ours) << back.error;
    EXPECT_TRUE(back.damaged);
    // Three tags and two end changes; where the snapshot was cut decides
    // which count each is in.
    EXPECT_EQ(back.lostTags + back.lostRecords, 5u);
    std::vector<std::string> names;
    for (const auto& row : back.store.data) {
        names.push_back(row->name);
        EXPECT_EQ(row->end, TagEnd{}) << row->name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"PG", "トライ"}));
}
