// The journal's costs: what a journaled tag press adds on the GUI thread with
// 50,000 tags and how soon its record is durable; the recovery of a journal
// of 100,000 changes. With --load FILE: the session load time of FILE, then
// the same with the records freed (medians of 20); --write-session FILE
// writes the 100,000-tag file first (both used by bench/load_bench.py).
// Usage: bench_journal | bench_journal --write-session FILE | bench_journal --load FILE
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>
#include <unordered_map>

#include "SubModuleClass/TagFileManager.h"
#include "journal/TagJournal.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::shared_ptr<TagRowData> makeTag(std::mt19937& rng, float t) {
    auto row = std::make_shared<TagRowData>();
    row->team = rng() % 2;
    row->time_val = t;
    row->time_string = createTimeString(t);
    row->name = kTagLabels[rng() % 18];
    if (rng() % 6 == 0)
        row->comment = "ラインの裏へのキック、\"良い判断\"";
    return row;
}

std::vector<std::shared_ptr<TagRowData>> makeTags(size_t count) {
    std::mt19937 rng(42);
    std::vector<std::shared_ptr<TagRowData>> rows;
    float t = 0;
    for (size_t i = 0; i < count; ++i) {
        t += static_cast<float>(rng() % 2000) / 100.0f;
        rows.push_back(makeTag(rng, t));
        rows.back()->index = static_cast<int64_t>(i);
    }
    return rows;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

void pressCost() {
    constexpr int kPresses = 3000;
    TagDataModel plain, journaled;
    plain.replaceData(makeTags(50000));
    journaled.replaceData(makeTags(50000));
    TagHistory history;
    TagJournal journal;
    journal.open("/bench/match.mp4", SessionStamp{});
    std::mutex m;
    std::unordered_map<uint64_t, Clock::time_point> submitted, durable;
    journal.onDurable = [&](uint64_t seq) {
        const auto now = Clock::now();
        std::lock_guard lock(m);
        durable[seq] = now;
    };
    std::mt19937 rng(7);
    std::vector<double> plainMs, journaledMs;
    for (int i = 0; i < kPresses; ++i) {
        const float t = 1000.0f + static_cast<float>(i);
        auto a = makeTag(rng, t);
        auto b = std::make_shared<TagRowData>(*a);
        auto t0 = Clock::now();
        plain.appent(a);
        auto t1 = Clock::now();
        plainMs.push_back(ms(t1 - t0));

        t0 = Clock::now();
        journal.changed(history.perform(journaled, TagEdit::record(journaled, b)), journaled);
        t1 = Clock::now();
        journaledMs.push_back(ms(t1 - t0));
        {
            std::lock_guard lock(m);
            submitted[journal.lastSequence()] = t1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3)); // a fast analyst
    }
    journal.flush();
    std::vector<double> latency;
    {
        std::lock_guard lock(m);
        for (const auto& [seq, at] : submitted)
            if (durable.count(seq))
                latency.push_back(ms(durable[seq] - at));
    }
    std::printf("tag press with 50,000 tags, %d presses 3 ms apart:\n", kPresses);
    std::printf("  store only:          p50 %.4f ms  p99 %.4f ms  max %.3f ms\n",
                percentile(plainMs, 0.5), percentile(plainMs, 0.99),
                *std::max_element(plainMs.begin(), plainMs.end()));
    std::printf("  edit+history+journal: p50 %.4f ms  p99 %.4f ms  max %.3f ms"
                " (the first press writes the snapshot)\n",
                percentile(journaledMs, 0.5), percentile(journaledMs, 0.99),
                *std::max_element(journaledMs.begin(), journaledMs.end()));
    std::printf("  added at p99: %.4f ms\n",
                percentile(journaledMs, 0.99) - percentile(plainMs, 0.99));
    std::printf("  until durable (written and fdatasync'ed): p50 %.2f ms  p99 %.2f ms  max "
                "%.2f ms (%zu records)\n",
                percentile(latency, 0.5), percentile(latency, 0.99),
                *std::max_element(latency.begin(), latency.end()), latency.size());
    journal.retire();
    journal.flush();
}

void recovery() {
    constexpr int kChanges = 100000;
    const std::string video = "/bench/recovery.mp4";
    TagDataModel store;
    TagHistory history;
    TagJournal journal;
    journal.minimumRestartBytes = size_t(1) << 40; // one journal, never restarted
    journal.open(video, SessionStamp{});
    std::mt19937 rng(99);
    float t = 0;
    for (int i = 0; i < kChanges; ++i) {
        const unsigned what = rng() % 20;
        const TagEdit* applied = nullptr;
        if (what < 14 || store.data.empty()) {
            t += 0.5f;
            applied = &history.perform(store, TagEdit::record(store, makeTag(rng, t)));
        } else if (what < 16) {
            const int64_t index = store.data[rng() % store.data.size()]->index;
            applied = &history.perform(store, TagEdit::comment(store, index, "コメント"));
        } else if (what < 17) {
            std::vector<int64_t> doomed;
            for (int k = 0; k < 3; ++k)
                doomed.push_back(store.data[rng() % store.data.size()]->index);
            applied = &history.perform(store, TagEdit::remove(store, doomed));
        } else if (what < 19) {
            applied = history.undo(store);
        } else {
            applied = history.redo(store);
        }
        if (!applied) {
            --i;
            continue;
        }
        journal.changed(*applied, store);
    }
    journal.flush();
    const auto size = std::filesystem::file_size(journal.file());
    std::vector<double> runs;
    for (int r = 0; r < 15; ++r) {
        const auto t0 = Clock::now();
        JournalContents back = readJournal(journal.file(), video);
        runs.push_back(ms(Clock::now() - t0));
        if (!back.ours || back.changes + 1 != kChanges || !sameStore(back.store, store)) {
            std::printf("recovery: wrong store\n");
            return;
        }
    }
    std::printf("recovery of %d changes (%zu tags at the end, %.1f MB): median %.1f ms, best "
                "%.1f ms\n",
                kChanges, store.data.size(), static_cast<double>(size) / 1e6, percentile(runs, 0.5),
                *std::min_element(runs.begin(), runs.end()));
    journal.retire();
    journal.flush();
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-session") == 0)
        return TagFileManager::saveCSVFile(argv[2], makeTags(100000), true).empty() ? 0 : 1;
    if (argc == 3 && std::strcmp(argv[1], "--load") == 0) {
        std::vector<double> loads, loadsFreed;
        for (int r = 0; r < 20; ++r) {
            const auto t0 = Clock::now();
            {
                auto rows = TagFileManager::loadCSVFile(argv[2]);
                loads.push_back(ms(Clock::now() - t0));
                if (rows.size() != 100000)
                    return 1;
            }
            loadsFreed.push_back(ms(Clock::now() - t0));
        }
        std::printf("%.2f %.2f\n", percentile(loads, 0.5), percentile(loadsFreed, 0.5));
        return 0;
    }
    const auto state = std::filesystem::temp_directory_path() /
                       ("rucktag-bench-state-" + std::to_string(::getpid()));
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    pressCost();
    recovery();
    std::filesystem::remove_all(state);
    return 0;
}
