// libFuzzer target: the journal reader must take any bytes. No crash, no
// exception, no allocation beyond a small multiple of the input (run with
// -malloc_limit_mb), and what it returns holds together.
//
// With RUCKTAG_FUZZ_SEEDS=DIR set, journals written by the journal itself
// (version 2 with ends and labels, whole and with a change lost) and by the previous release
// (version 1) are put in DIR first, as seeds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <zlib.h>

#include "FuzzFile.h"
#include "Model/DataModel.h"
#include "journal/TagJournal.h"

namespace {

// The video the seeds name.
constexpr const char* kVideo = "/fuzz/match.mp4";

void check(bool ok) {
    if (!ok)
        __builtin_trap();
}

void writeSeeds(const std::filesystem::path& dir) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir, ec);
    const fs::path state =
        fs::temp_directory_path() / ("rucktag-fuzz-seeds-" + std::to_string(::getpid()));
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    TagDataModel store;
    for (int i = 0; i < 20; ++i) {
        auto row = std::make_shared<TagRowData>();
        row->team = i % 2;
        row->time_val = 3.5f * i;
        row->time_string = createTimeString(row->time_val);
        row->name = kTagLabels[i % kTagLabels.size()];
        row->comment = i % 5 == 0 ? "comment, \"quoted\"" : "";
        store.appent(row);
    }
    {
        TagJournal journal;
        TagHistory history;
        if (!journal.open(kVideo, SessionStamp{true, 1, 2, 3}))
            return;
        auto press = [&](const char* name) {
            auto row = std::make_shared<TagRowData>();
            row->name = name;
            journal.changed(history.perform(store, TagEdit::record(store, row)), store);
        };
        press("PG");
        journal.changed(history.perform(store, TagEdit::comment(store, 3, "note")), store);
        journal.changed(history.perform(store, TagEdit::end(store, 2, TagEnd::at(9.5f))), store);
        journal.changed(history.perform(store, TagEdit::label(store, 2, "結果", "成功")), store);
        auto open = std::make_shared<TagRowData>();
        open->name = "スクラム";
        open->end.state = TagEnd::State::Open;
        journal.changed(history.perform(store, TagEdit::record(store, open)), store);
        journal.changed(history.perform(store, TagEdit::remove(store, {1, 4, 7})), store);
        journal.changed(*history.undo(store), store);
        press("DG");
        journal.flush();
        fs::copy_file(journal.file(), dir / "seed-v2", fs::copy_options::overwrite_existing, ec);
        std::ifstream in(journal.file(), std::ios::binary);
        std::string bytes{std::istreambuf_iterator<char>(in), {}};
        if (bytes.size() > 200) {
            bytes[bytes.size() - 40] ^= 0x10;
            bytes[bytes.size() - 60] ^= 0x77;
            std::ofstream(dir / "seed-v2-damaged", std::ios::binary) << bytes;
        }
        journal.restart(store); // a snapshot of tags with ends and labels
        journal.flush();
        fs::copy_file(journal.file(), dir / "seed-v2-full", fs::copy_options::overwrite_existing,
                      ec);
        journal.retire();
        journal.flush();
    }
    fs::remove_all(state, ec);

    // Version 1: [length][crc][payload], the begin record holding every tag.
    auto put32 = [](std::string& s, uint32_t v) { s.append(reinterpret_cast<char*>(&v), 4); };
    auto put64 = [](std::string& s, uint64_t v) { s.append(reinterpret_cast<char*>(&v), 8); };
    auto text = [&](std::string& s, const std::string& t) {
        put32(s, static_cast<uint32_t>(t.size()));
        s += t;
    };
    auto row = [&](std::string& s, int64_t index, const std::string& name) {
        put64(s, static_cast<uint64_t>(index));
        s.push_back(1);
        float t = 1.5f;
        s.append(reinterpret_cast<char*>(&t), 4);
        text(s, "0:00:01");
        text(s, name);
        text(s, "");
    };
    auto record = [&](const std::string& p) {
        std::string s;
        put32(s, static_cast<uint32_t>(p.size()));
        put32(s, static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(p.data()),
                                             static_cast<uInt>(p.size()))));
        return s + p;
    };
    std::string begin;
    begin.push_back(1);
    put32(begin, 1);
    text(begin, kVideo);
    begin.append(25, '\0');
    put64(begin, 3);
    put32(begin, 3);
    for (int i = 0; i < 3; ++i)
        row(begin, i, "ラック");
    std::string insert;
    insert.push_back(2);
    put32(insert, 1);
    put64(insert, 3);
    row(insert, 3, "PG");
    std::string comment;
    comment.push_back(4);
    put64(comment, 1);
    text(comment, "x");
    std::ofstream(dir / "seed-v1", std::ios::binary)
        << "RUCKJNL1" + record(begin) + record(insert) + record(comment);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (const char* dir = std::getenv("RUCKTAG_FUZZ_SEEDS"); dir && *dir)
        writeSeeds(dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzFile file;
    file.put(data, size);
    JournalContents back = readJournal(file.path(), kVideo);
    // Whatever video it names, its replay is run too.
    if (back.found && !back.ours && !back.videoPath.empty())
        back = readJournal(file.path(), back.videoPath);

    check(back.found);
    check(back.ours || back.store.data.empty());
    if (!back.error.empty())
        check(!back.ours);
    if (back.ours) {
        check(back.error.empty());
        check(back.damaged == (back.lostRecords > 0));
        check(back.version == 1 || back.version == 2);
        // Every tag and change is made from bytes of the file.
        check(back.store.data.size() <= size / 25);
        check(back.changes <= size / 9);
        check(back.lostTags <= size / 25 + back.lostRecords * 16);
        // A counter past every index, within what a match can hand out.
        check(back.store.index >= 0 && back.store.index <= (int64_t(1) << 32));
        for (const auto& row : back.store.data)
            check(row && row->index >= 0 && row->index < back.store.index);
    }
    return 0;
}
