// Reading a journal back: version 1 and 2 records, the snapshot's two copies,
// changes lost by sequence number, and the replay into a store.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <string_view>

#include "journal/JournalFiles.h"
#include "journal/JournalFormat.h"
#include "journal/JournalScanner.h"
#include "journal/TagJournal.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;
using namespace journal;

namespace {

// What the records of a journal hold, before the changes are replayed.
struct Change {
    const char* payload;
    uint32_t size;
    uint8_t type;
};
struct Parsed {
    bool header = false; // the start could be read
    std::string videoPath;
    SessionStamp session;
    int64_t counter = 0;
    std::vector<std::shared_ptr<TagRowData>> rows;
    std::vector<Change> changes;
    size_t lostRecords = 0;
    size_t lostTags = 0;
    size_t repaired = 0;
};

// ---- version 1 -------------------------------------------------------------

// Takes out the tags whose times no video has; returns how many.
size_t dropUnusable(std::vector<std::shared_ptr<TagRowData>>& rows) {
    const auto bad = std::remove_if(rows.begin(), rows.end(),
                                    [](const auto& row) { return !usableTimes(*row); });
    const auto count = static_cast<size_t>(rows.end() - bad);
    rows.erase(bad, rows.end());
    return count;
}

void parseV1(const std::string& bytes, Parsed& out) {
    const char* data = bytes.data();
    const size_t size = bytes.size();
    size_t at = kMagic1.size();
    // The next whole record, or false at the end: a record cut short or failing
    // its checksum ends the journal there; whole records after it are lost.
    auto next = [&](const char*& payload, uint32_t& length) {
        if (size - at < 8)
            return false;
        length = load<uint32_t>(data + at);
        if (size - at - 8 < length)
            return false;
        if (crcOf(0, data + at + 8, length) != load<uint32_t>(data + at + 4)) {
            // Damage rather than a torn end when whole records follow.
            size_t after = at + 8 + length, whole = 0;
            while (size - after >= 8) {
                const uint32_t l = load<uint32_t>(data + after);
                if (size - after - 8 < l)
                    break;
                if (crcOf(0, data + after + 8, l) == load<uint32_t>(data + after + 4))
                    ++whole;
                after += 8 + l;
            }
            if (whole > 0)
                out.lostRecords += 1 + whole;
            return false;
        }
        payload = data + at + 8;
        at += 8 + length;
        return true;
    };

    const char* payload = nullptr;
    uint32_t length = 0;
    if (!next(payload, length))
        return;
    Reader r(payload, length);
    uint8_t type = 0;
    uint32_t version = 0, count = 0;
    if (!r.get(type) || type != kBegin || !r.get(version) || version != kVersion1 ||
        !r.getText(out.videoPath) || !r.getStamp(out.session) || !r.get(out.counter) ||
        out.counter < 0 || out.counter > kIndexLimit || !r.get(count) ||
        !r.fits(count, kMinRowBytes))
        return;
    out.rows.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        auto row = std::make_shared<TagRowData>();
        if (!r.getRow(*row))
            return;
        out.rows.push_back(std::move(row));
    }
    if (!r.atEnd())
        return;
    out.lostTags += dropUnusable(out.rows);
    out.header = true;
    while (next(payload, length)) {
        if (length == 0) {
            ++out.lostRecords;
            break;
        }
        out.changes.push_back({payload + 1, length - 1, static_cast<uint8_t>(payload[0])});
    }
}

// ---- version 2 -------------------------------------------------------------

// The first copy of the header that can be read.
bool findHeader(const std::vector<Rec>& recs, const std::string& bytes, Header& h) {
    for (const Rec& rec : recs)
        if (rec.type == kHeader &&
            decodeHeader(rec.payload(bytes), rec.payloadSize(), bytes.size(), h))
            return true;
    return false;
}

// One snapshot record's `want` tags, appended to `rows` (less those whose
// times no video has, counted in `dropped`); nothing when it cannot be read
// whole.
bool readSnapshotRecord(const Rec& rec, const std::string& bytes, uint64_t want,
                        std::vector<std::shared_ptr<TagRowData>>& rows, size_t& dropped) {
    Reader r(rec.payload(bytes), rec.payloadSize());
    const bool full = rec.type == kSnapshotFull;
    uint32_t index = 0, count = 0;
    if (!r.get(index) || !r.get(count) || count != want || !r.fits(count, kMinRowBytes))
        return false;
    const size_t mark = rows.size();
    bool ok = true;
    for (uint32_t k = 0; ok && k < count; ++k) {
        auto row = std::make_shared<TagRowData>();
        ok = r.getRow(*row, full);
        rows.push_back(std::move(row));
    }
    if (ok && r.atEnd()) {
        const auto bad =
            std::remove_if(rows.begin() + static_cast<std::ptrdiff_t>(mark), rows.end(),
                           [](const auto& row) { return !usableTimes(*row); });
        dropped += static_cast<size_t>(rows.end() - bad);
        rows.erase(bad, rows.end());
        return true;
    }
    rows.resize(mark);
    return false;
}

// The snapshot: each record from its first copy that can be read, else
// from the second.
void readSnapshot(const std::vector<Rec>& recs, const std::string& bytes, const Header& h,
                  Parsed& out) {
    constexpr size_t none = static_cast<size_t>(-1);
    std::vector<std::pair<size_t, size_t>> copies(h.records, {none, none});
    for (size_t i = 0; i < recs.size(); ++i) {
        if (!isSnapshotType(recs[i].type) || recs[i].payloadSize() < 4)
            continue;
        const uint32_t chunk = load<uint32_t>(recs[i].payload(bytes));
        if (chunk >= h.records)
            continue;
        auto& c = copies[chunk];
        if (c.first == none)
            c.first = i;
        else if (c.second == none)
            c.second = i;
    }
    out.rows.reserve(h.tags);
    for (uint32_t chunk = 0; chunk < h.records; ++chunk) {
        const uint64_t want =
            std::min<uint64_t>(h.perRecord, h.tags - uint64_t(chunk) * h.perRecord);
        bool read = false;
        for (size_t i : {copies[chunk].first, copies[chunk].second})
            if (i != none && !read)
                read = readSnapshotRecord(recs[i], bytes, want, out.rows, out.lostTags);
        if (!read) {
            ++out.lostRecords;
            out.lostTags += want;
        }
    }
}

// The changes, by sequence number: a gap is as many changes lost.
void collectChanges(const std::vector<Rec>& recs, const std::string& bytes, const Header& h,
                    Parsed& out) {
    uint64_t expected = 2 * uint64_t(h.records) + 2;
    for (const Rec& rec : recs) {
        if (!isChangeType(rec.type))
            continue;
        if (rec.seq < expected) // not after the snapshot: not ours to replay
            continue;
        out.lostRecords += rec.seq - expected;
        expected = uint64_t(rec.seq) + 1;
        out.changes.push_back({rec.payload(bytes), rec.payloadSize(), rec.type});
    }
}

void parseV2(std::string& bytes, Parsed& out) {
    V2Scanner scan(bytes);
    scan.run();
    out.repaired = scan.repaired;
    Header h;
    if (!findHeader(scan.records, bytes, h))
        return;
    out.header = true;
    out.videoPath = std::move(h.videoPath);
    out.session = h.session;
    out.counter = h.counter;
    readSnapshot(scan.records, bytes, h, out);
    collectChanges(scan.records, bytes, h, out);
    out.lostRecords += scan.trailingLost;
}

// ---- replay ----------------------------------------------------------------

// Rebuilds the store from the snapshot and the changes. The store is kept by
// rising index (tags are appended with the counter and come back to their old
// places), so while that holds a tag's place follows from its index: a table
// by index replays each change in constant time, and stays right when a
// change before was lost. The table spans at most a few times the file's
// size; otherwise (and for a snapshot out of index order) every change is
// applied by its places.
class Replay {
public:
    Replay(TagDataModel& store, size_t fileSize) : store_(store), limit_(fileSize / 8 + 4096) {}

    void start(int64_t counter, std::vector<std::shared_ptr<TagRowData>>& rows);
    void apply(TagEdit& edit);
    void finish() {
        if (byIndex_)
            leaveTable();
    }

private:
    bool inTable(int64_t index) const {
        return index >= base_ && static_cast<uint64_t>(index - base_) < limit_;
    }
    bool inSlots(int64_t index) const {
        return index >= base_ && static_cast<uint64_t>(index - base_) < slots_.size();
    }
    void leaveTable();
    void applyByIndex(TagEdit& edit);

    TagDataModel& store_;
    const size_t limit_;
    int64_t base_ = 0;
    bool byIndex_ = true;
    std::vector<std::shared_ptr<TagRowData>> slots_;
};

void Replay::start(int64_t counter, std::vector<std::shared_ptr<TagRowData>>& rows) {
    store_.index = counter;
    base_ = rows.empty() ? counter : rows.front()->index;
    for (size_t i = 0; i < rows.size(); ++i) {
        const int64_t index = rows[i]->index;
        if (!inTable(index) || (i > 0 && index <= rows[i - 1]->index))
            byIndex_ = false;
        if (index >= store_.index)
            store_.index = index + 1;
    }
    if (byIndex_) {
        if (!rows.empty())
            slots_.resize(static_cast<size_t>(rows.back()->index - base_) + 1);
        for (auto& row : rows)
            slots_[static_cast<size_t>(row->index - base_)] = std::move(row);
    } else {
        store_.data = std::move(rows);
    }
    rows.clear();
}

void Replay::leaveTable() {
    for (auto& row : slots_)
        if (row)
            store_.data.push_back(std::move(row));
    slots_.clear();
    slots_.shrink_to_fit();
    byIndex_ = false;
}

void Replay::apply(TagEdit& edit) {
    if (byIndex_ && edit.kind == TagEdit::Kind::Insert)
        for (const auto& [place, row] : edit.rows)
            if (!inTable(row->index)) {
                leaveTable();
                break;
            }
    if (byIndex_)
        applyByIndex(edit);
    else
        store_.apply(edit);
}

void Replay::applyByIndex(TagEdit& edit) {
    switch (edit.kind) {
    case TagEdit::Kind::Insert:
        for (auto& [place, row] : edit.rows) {
            const auto i = static_cast<size_t>(row->index - base_);
            if (i >= slots_.size())
                slots_.resize(std::min(std::max(i + 1, slots_.size() * 2), limit_));
            if (row->index >= store_.index)
                store_.index = row->index + 1;
            slots_[i] = std::move(row);
        }
        break;
    case TagEdit::Kind::Remove:
        for (const auto& [place, row] : edit.rows)
            if (inSlots(row->index))
                slots_[static_cast<size_t>(row->index - base_)].reset();
        break;
    case TagEdit::Kind::Match: // the whole match: no tag's place involved
        store_.match = std::move(edit.matchAfter);
        break;
    case TagEdit::Kind::Comment:
    case TagEdit::Kind::End:
    case TagEdit::Kind::Labels:
        if (inSlots(edit.index))
            if (TagRowData* row = slots_[static_cast<size_t>(edit.index - base_)].get()) {
                if (edit.kind == TagEdit::Kind::Comment)
                    row->comment = edit.after;
                else if (edit.kind == TagEdit::Kind::End)
                    row->end = edit.endAfter;
                else
                    row->labels = edit.labelsAfter;
            }
        break;
    case TagEdit::Kind::Steps: // never read from a file: written part by part
        break;
    }
}

void replay(Parsed& p, JournalContents& result, size_t fileSize) {
    Replay r(result.store, fileSize);
    r.start(p.counter, p.rows);
    TagEdit edit;
    for (const Change& c : p.changes) {
        if (!decodeChange(c.type, c.payload, c.size, edit)) {
            // A whole record that says nothing sensible (not written by us).
            ++p.lostRecords;
            continue;
        }
        ++result.changes;
        r.apply(edit);
    }
    r.finish();
    // An end change read on its own can end a tag before its time: that end
    // is lost, the tag kept.
    for (const auto& row : result.store.data)
        if (row->end.isSet() && row->end.time < row->time_val) {
            row->end = {};
            ++p.lostRecords;
        }
}

// ---- the file --------------------------------------------------------------

// Bits by which the start of `bytes` differs from the file tag `want`.
int tagDistance(std::string_view bytes, std::string_view want) {
    const std::string_view magic = bytes.substr(0, kMagic1.size());
    int bits = 0;
    for (size_t i = 0; i < want.size(); ++i)
        bits += i < magic.size() ? std::popcount(static_cast<unsigned>(
                                       static_cast<unsigned char>(magic[i] ^ want[i])))
                                 : 8;
    return bits;
}

// Parses either version; returns the one read (0: neither tried).
int parseAny(std::string& bytes, Parsed& parsed) {
    if (std::string_view(bytes).substr(0, kMagic1.size()) == kMagic1) {
        parseV1(bytes, parsed);
        return 1;
    }
    if (bytes.size() <= kMagic2.size())
        return 0;
    // Version 2 needs no file tag to be read (its records are checked one
    // by one), so a flipped bit in it costs nothing.
    parseV2(bytes, parsed);
    if (!parsed.header && tagDistance(bytes, kMagic1) <= 1) {
        parsed = Parsed{};
        parseV1(bytes, parsed);
        return 1;
    }
    return 2;
}

} // namespace

JournalContents readJournal(const fs::path& file, const std::string& videoPath) {
    JournalContents result;
    result.file = file;
    std::string bytes;
    int code = 0;
    if (!readWholeFile(file, bytes, result.error, &code)) {
        if (code == ENOENT || code == ENOTDIR)
            result.error.clear();
        else
            result.found = true;
        return result;
    }
    result.found = true;

    Parsed parsed;
    result.version = parseAny(bytes, parsed);
    if (!parsed.header) {
        const bool journal = tagDistance(bytes, kMagic1) <= 1 || tagDistance(bytes, kMagic2) <= 1;
        result.error =
            file.string() + (journal ? ": the journal's start cannot be read" : ": not a journal");
        result.damaged = journal;
        result.version = journal ? result.version : 0;
        return result;
    }
    result.videoPath = std::move(parsed.videoPath);
    result.session = parsed.session;
    result.repaired = parsed.repaired;
    if (sameVideo(result.videoPath, videoPath)) {
        result.ours = true;
        replay(parsed, result, bytes.size());
    }
    result.lostRecords = parsed.lostRecords;
    result.lostTags = parsed.lostTags;
    result.damaged = result.lostRecords > 0 || result.lostTags > 0;
    return result;
}
