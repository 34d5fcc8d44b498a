#include "SubModuleClass/TagJournal.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/SystemLog.h"

namespace fs = std::filesystem;

// The journal file (native byte order, as written on this machine).
//
// Version 1, "RUCKJNL1" (still read): records of [u32 length][u32 CRC-32 of
// the payload][payload]; the first payload is the begin record (type, version,
// video, session stamp, counter, every tag), the others are changes. A bad
// record ends the replay.
//
// Version 2, "RUCKJNL2": records of
//   [u32 length][u32 crc][u32 sync][u32 seq][u8 type][payload][u8 end mark]
// `length` counts the bytes after the crc, `crc` is the CRC-32 of the length
// field and of sync..payload, `seq` numbers the file's records from 0 and
// `end mark` (0xA5, outside the crc) tells a record whose tail was never
// written (zeros) from a damaged one. The file is
//   header, snapshot 1..n, header, snapshot 1..n, change, change, ...
// (seq 0, 1..n, n+1, n+2..2n+1, then from 2n+2): the header (video, session
// stamp, counter, how the snapshot is cut) and the snapshot (at most 16 tags
// a record) are written twice. The reader checks every record; on a bad one
// it scans forward for the next good record (sync word, plausible length and
// sequence number, checksum), then repairs the span in between when it was
// one record with one bit flipped (the length and sync word follow from where
// the next record starts; a single flipped bit elsewhere is found from the
// checksum). Sequence numbers tell how many changes a span that cannot be
// repaired held.
namespace {

constexpr std::string_view kMagic1 = "RUCKJNL1";
constexpr std::string_view kMagic2 = "RUCKJNL2";
constexpr uint32_t kVersion1 = 1;
constexpr uint32_t kVersion2 = 2;
enum RecordType : uint8_t {
    kBegin = 1, // version 1: header and snapshot in one
    kInsert = 2,
    kRemove = 3,
    kComment = 4,
    kHeader = 5,   // version 2
    kSnapshot = 6, // version 2
};
constexpr uint32_t kSync = 0x4B52A7D3;
constexpr uint8_t kEndMark = 0xA5;
constexpr size_t kFrame = 8;                 // length, crc
constexpr size_t kMinLength = 4 + 4 + 1 + 1; // sync, seq, type, end mark
constexpr size_t kMinRecord = kFrame + kMinLength;
constexpr size_t kPayloadAt = 17; // from the record's start
// A tag takes at least this many bytes: index, team, time, three text lengths.
constexpr size_t kMinRowBytes = 8 + 1 + 4 + 4 + 4 + 4;
// Indexes far beyond anything a match can hand out mean a broken record.
constexpr int64_t kIndexLimit = int64_t(1) << 32;
constexpr uint32_t kCrcPoly = 0xEDB88320u; // CRC-32, reflected

uint64_t fnv1a(std::string_view bytes, uint64_t h = 1469598103934665603ull) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

uint32_t crcOf(uint32_t crc, const void* data, size_t size) {
    // zlib takes uInt lengths: records stay far below 4 GB, but be exact.
    const auto* p = static_cast<const Bytef*>(data);
    while (size > 0) {
        const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
        crc = static_cast<uint32_t>(crc32(crc, p, n));
        p += n;
        size -= n;
    }
    return crc;
}

template <typename T> void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
template <typename T> T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
void putText(std::string& out, std::string_view text) {
    put<uint32_t>(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}
void putRow(std::string& out, const TagRowData& row) {
    put<int64_t>(out, row.index);
    put<uint8_t>(out, row.team ? 1 : 0);
    put<float>(out, row.time_val);
    putText(out, row.time_string);
    putText(out, row.name);
    putText(out, row.comment);
}

// A change's payload (version 2: the type is in the frame).
uint8_t encodeChange(const TagEdit& edit, std::string& out) {
    switch (edit.kind) {
    case TagEdit::Kind::Insert:
    case TagEdit::Kind::Remove:
        put<uint32_t>(out, static_cast<uint32_t>(edit.rows.size()));
        for (const auto& [place, row] : edit.rows) {
            put<uint64_t>(out, place);
            if (edit.kind == TagEdit::Kind::Insert)
                putRow(out, *row);
            else
                put<int64_t>(out, row->index);
        }
        return edit.kind == TagEdit::Kind::Insert ? kInsert : kRemove;
    case TagEdit::Kind::Comment:
        put<int64_t>(out, edit.index);
        putText(out, edit.after);
        return kComment;
    }
    return 0;
}

// Appends one version 2 record whose payload `fill` appends.
template <typename Fill> void frame(std::string& out, uint32_t seq, uint8_t type, Fill&& fill) {
    const size_t start = out.size();
    out.append(kFrame, '\0');
    put<uint32_t>(out, kSync);
    put<uint32_t>(out, seq);
    put<uint8_t>(out, type);
    fill(out);
    const uint32_t length = static_cast<uint32_t>(out.size() - start - kFrame + 1);
    std::memcpy(out.data() + start, &length, 4);
    uint32_t crc = crcOf(0, &length, 4);
    crc = crcOf(crc, out.data() + start + kFrame, length - 1);
    std::memcpy(out.data() + start + 4, &crc, 4);
    out.push_back(static_cast<char>(kEndMark));
}

// Bounds-checked reading of one payload.
class Reader {
public:
    Reader(const char* data, size_t size) : p_(data), end_(data + size) {}
    template <typename T> bool get(T& value) {
        if (left() < sizeof value)
            return false;
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return true;
    }
    bool getText(std::string& text) {
        uint32_t n = 0;
        if (!get(n) || left() < n)
            return false;
        text.assign(p_, n);
        p_ += n;
        return true;
    }
    bool getRow(TagRowData& row) {
        uint8_t team = 0;
        if (!get(row.index) || !get(team) || !get(row.time_val) || !getText(row.time_string) ||
            !getText(row.name) || !getText(row.comment))
            return false;
        row.team = team != 0;
        return row.index >= 0 && row.index < kIndexLimit;
    }
    bool getStamp(SessionStamp& s) {
        uint8_t exists = 0;
        if (!get(exists) || !get(s.size) || !get(s.mtimeNs) || !get(s.hash))
            return false;
        s.exists = exists != 0;
        return true;
    }
    // `count` rows fit in what is left (checked before anything is allocated).
    bool fits(uint64_t count, size_t each) const { return count <= left() / each; }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    bool atEnd() const { return p_ == end_; }

private:
    const char* p_;
    const char* end_;
};

bool decodeChange(uint8_t type, const char* payload, size_t size, TagEdit& edit) {
    Reader r(payload, size);
    edit.rows.clear();
    edit.index = -1;
    edit.after.clear();
    if (type == kInsert || type == kRemove) {
        edit.kind = type == kInsert ? TagEdit::Kind::Insert : TagEdit::Kind::Remove;
        uint32_t count = 0;
        if (!r.get(count) || !r.fits(count, type == kInsert ? 8 + kMinRowBytes : 16))
            return false;
        edit.rows.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t place = 0;
            auto row = std::make_shared<TagRowData>();
            if (!r.get(place))
                return false;
            if (type == kInsert ? !r.getRow(*row) : !r.get(row->index))
                return false;
            if (row->index < 0 || row->index >= kIndexLimit)
                return false;
            edit.rows.emplace_back(static_cast<size_t>(std::min<uint64_t>(place, SIZE_MAX)),
                                   std::move(row));
        }
    } else if (type == kComment) {
        edit.kind = TagEdit::Kind::Comment;
        if (!r.get(edit.index) || !r.getText(edit.after))
            return false;
    } else {
        return false;
    }
    return r.atEnd();
}

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

// The position of a single flipped bit in a message of `bits` bits whose
// CRC-32 differs from the stored one by `syndrome`, or -1. Flipping bit k
// (bits counted in the order the CRC takes them, least significant first)
// changes the CRC by the register that bit leaves behind after the bits that
// follow it, which is stepped through here from the last bit backwards.
int64_t flippedBit(uint32_t syndrome, uint64_t bits) {
    uint32_t v = kCrcPoly;
    for (uint64_t k = bits; k-- > 0;) {
        if (v == syndrome)
            return static_cast<int64_t>(k);
        v = (v & 1) ? (v >> 1) ^ kCrcPoly : v >> 1;
    }
    return -1;
}

struct Rec {
    size_t at = 0;
    uint32_t length = 0;
    uint32_t seq = 0;
    uint8_t type = 0;
    const char* payload(const std::string& bytes) const { return bytes.data() + at + kPayloadAt; }
    uint32_t payloadSize() const { return length - kMinLength; }
};

bool knownType(uint8_t type) {
    return type == kInsert || type == kRemove || type == kComment || type == kHeader ||
           type == kSnapshot;
}

class V2Scanner {
public:
    explicit V2Scanner(std::string& bytes)
        : bytes_(bytes), data_(bytes.data()), size_(bytes.size()),
          budget_(8 * bytes.size() + (size_t(1) << 20)) {}

    std::vector<Rec> records;
    size_t repaired = 0;
    size_t trailingLost = 0; // records of a damaged span at the end (at least)

    void run() {
        size_t pos = kMagic2.size();
        int64_t last = -1; // seq of the last good record
        while (pos < size_) {
            Rec rec;
            if (validAt(pos, last, rec)) {
                take(rec, last);
                pos += kFrame + rec.length;
                continue;
            }
            // A bad span from pos: up to the next good record, or the end.
            Rec next;
            const size_t found = findNext(pos + 1, pos, last, next);
            const size_t end = found == npos ? size_ : found;
            Rec fixed;
            if (!exhausted_ && repair(pos, end, last, fixed) &&
                (found == npos || fixed.seq < next.seq)) {
                take(fixed, last);
                ++repaired;
            } else if (found == npos && !exhausted_ && !torn(pos)) {
                trailingLost = recordsIn(pos);
            }
            if (exhausted_) {
                trailingLost = std::max<size_t>(trailingLost, 1);
                break;
            }
            if (found == npos)
                break;
            take(next, last);
            pos = found + kFrame + next.length;
        }
    }

private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    void take(const Rec& rec, int64_t& last) {
        records.push_back(rec);
        last = rec.seq;
    }

    // The frame at `at` is plausible: length within the file, sync word,
    // a sequence number after `last` (and no further than `maxSeq`), a known
    // type.
    bool plausible(size_t at, int64_t last, uint64_t maxSeq, Rec& rec) const {
        if (size_ - at < kMinRecord)
            return false;
        rec.at = at;
        rec.length = load<uint32_t>(data_ + at);
        if (rec.length < kMinLength || rec.length > size_ - at - kFrame)
            return false;
        if (load<uint32_t>(data_ + at + 8) != kSync)
            return false;
        rec.seq = load<uint32_t>(data_ + at + 12);
        rec.type = static_cast<uint8_t>(data_[at + 16]);
        return static_cast<int64_t>(rec.seq) > last && rec.seq <= maxSeq && knownType(rec.type);
    }

    uint32_t checksum(size_t at, uint32_t length) const {
        uint32_t crc = crcOf(0, &length, 4);
        crc = crcOf(crc, &kSync, 4);
        return crcOf(crc, data_ + at + 12, length - 5);
    }

    // A good record at `at` (a checksum with one flipped bit of its own counts).
    bool validAt(size_t at, int64_t last, Rec& rec) {
        if (exhausted_ || !plausible(at, last, UINT32_MAX, rec))
            return false;
        // Checksums over a bounded number of bytes in all: a crafted file of
        // sync words and long lengths cannot make the reading quadratic.
        if (budget_ < rec.length) {
            exhausted_ = true;
            return false;
        }
        budget_ -= rec.length;
        const uint32_t diff = checksum(at, rec.length) ^ load<uint32_t>(data_ + at + 4);
        if (diff == 0)
            return true;
        if (std::popcount(diff) == 1) {
            ++repaired;
            return true;
        }
        return false;
    }

    // The next good record from `from` on, for a bad span that began at
    // `spanStart`; a bounded amount of checking in all.
    size_t findNext(size_t from, size_t spanStart, int64_t last, Rec& rec) {
        const std::string_view all(data_, size_);
        const char sync[4] = {static_cast<char>(kSync & 0xff), static_cast<char>(kSync >> 8 & 0xff),
                              static_cast<char>(kSync >> 16 & 0xff),
                              static_cast<char>(kSync >> 24 & 0xff)};
        for (size_t p = from + 8; p < size_ && !exhausted_;) {
            const size_t hit = all.find(std::string_view(sync, 4), p);
            if (hit == std::string_view::npos)
                return npos;
            p = hit + 1;
            const size_t at = hit - 8;
            // No more records fit between the span's start and here.
            const uint64_t maxSeq = static_cast<uint64_t>(last + 1) + (at - spanStart) / kMinRecord;
            Rec candidate;
            if (!plausible(at, last, maxSeq, candidate))
                continue;
            if (validAt(at, last, candidate)) {
                rec = candidate;
                return at;
            }
        }
        return npos;
    }

    // The span [at, end) as one record whose length and sync word follow from
    // its bounds, with at most one flipped bit.
    bool repair(size_t at, size_t end, int64_t last, Rec& rec) {
        if (end - at < kMinRecord || end - at - kFrame > UINT32_MAX)
            return false;
        const auto length = static_cast<uint32_t>(end - at - kFrame);
        const uint32_t stored = load<uint32_t>(data_ + at + 4);
        const uint32_t diff = checksum(at, length) ^ stored;
        if (diff != 0 && std::popcount(diff) != 1) {
            // The message is length, sync, then the bytes from at + 12.
            const uint64_t bits = 8 * (uint64_t(8) + length - 5);
            const int64_t k = flippedBit(diff, bits);
            if (k < 64) // none, or in the length or sync word, which are given
                return false;
            const size_t byte = at + 12 + static_cast<size_t>(k / 8 - 8);
            const char before = bytes_[byte];
            bytes_[byte] = static_cast<char>(before ^ (1 << (k % 8)));
            Rec check;
            std::memcpy(bytes_.data() + at, &length, 4);
            std::memcpy(bytes_.data() + at + 8, &kSync, 4);
            if (!plausible(at, last, UINT32_MAX, check) || check.length != length) {
                bytes_[byte] = before;
                return false;
            }
            rec = check;
            return true;
        }
        std::memcpy(bytes_.data() + at, &length, 4);
        std::memcpy(bytes_.data() + at + 8, &kSync, 4);
        return plausible(at, last, UINT32_MAX, rec) && rec.length == length;
    }

    // After the last good record: a write cut short (the end mark and what
    // came before it never written: zeros, or fewer bytes than the length
    // says), as opposed to a damaged record.
    bool torn(size_t at) const {
        if (data_[size_ - 1] == 0)
            return true;
        if (size_ - at < kFrame)
            return true;
        const uint32_t length = load<uint32_t>(data_ + at);
        if (length <= size_ - at - kFrame)
            return false; // whole by its length, yet bad
        // Longer than what is there: cut short, unless what is there ends
        // with an end mark, as a whole record with a damaged length does (a
        // record cut short ends so only by chance, 1 in 256).
        return !(size_ - at >= kMinRecord && static_cast<uint8_t>(data_[size_ - 1]) == kEndMark);
    }

    // How many records a damaged span at the end held, at least: the sync
    // words in it.
    size_t recordsIn(size_t at) const {
        size_t count = 0;
        const std::string_view all(data_, size_);
        const std::string_view sync(reinterpret_cast<const char*>(&kSync), 4);
        for (size_t p = at + 8; p < size_; p += kMinRecord) {
            p = all.find(sync, p);
            if (p == std::string_view::npos)
                break;
            ++count;
        }
        return std::max<size_t>(count, 1);
    }

    std::string& bytes_;
    const char* data_;
    size_t size_;
    size_t budget_;
    bool exhausted_ = false;
};

struct Header {
    std::string videoPath;
    SessionStamp session;
    int64_t counter = 0;
    uint64_t tags = 0;
    uint32_t perRecord = 0;
    uint32_t records = 0;
};

bool decodeHeader(const char* payload, size_t size, size_t fileSize, Header& h) {
    Reader r(payload, size);
    uint32_t version = 0;
    return r.get(version) && version == kVersion2 && r.getText(h.videoPath) &&
           r.getStamp(h.session) && r.get(h.counter) && h.counter >= 0 &&
           h.counter <= kIndexLimit && r.get(h.tags) && r.get(h.perRecord) && r.get(h.records) &&
           r.atEnd() && h.perRecord > 0 && h.tags <= fileSize / kMinRowBytes &&
           h.records == (h.tags + h.perRecord - 1) / h.perRecord;
}

void parseV2(std::string& bytes, Parsed& out) {
    V2Scanner scan(bytes);
    scan.run();
    out.repaired = scan.repaired;
    const std::vector<Rec>& recs = scan.records;

    Header h;
    bool haveHeader = false;
    for (const Rec& rec : recs)
        if (rec.type == kHeader &&
            decodeHeader(rec.payload(bytes), rec.payloadSize(), bytes.size(), h)) {
            haveHeader = true;
            break;
        }
    if (!haveHeader)
        return;
    out.header = true;
    out.videoPath = std::move(h.videoPath);
    out.session = h.session;
    out.counter = h.counter;

    // The snapshot: each record from its first copy that can be read, else
    // from the second.
    constexpr size_t none = static_cast<size_t>(-1);
    std::vector<std::pair<size_t, size_t>> copies(h.records, {none, none});
    for (size_t i = 0; i < recs.size(); ++i) {
        if (recs[i].type != kSnapshot || recs[i].payloadSize() < 4)
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
        for (size_t i : {copies[chunk].first, copies[chunk].second}) {
            if (i == none || read)
                continue;
            Reader r(recs[i].payload(bytes), recs[i].payloadSize());
            uint32_t index = 0, count = 0;
            if (!r.get(index) || !r.get(count) || count != want || !r.fits(count, kMinRowBytes))
                continue;
            const size_t mark = out.rows.size();
            bool ok = true;
            for (uint32_t k = 0; ok && k < count; ++k) {
                auto row = std::make_shared<TagRowData>();
                ok = r.getRow(*row);
                out.rows.push_back(std::move(row));
            }
            if (ok && r.atEnd())
                read = true;
            else
                out.rows.resize(mark);
        }
        if (!read) {
            ++out.lostRecords;
            out.lostTags += want;
        }
    }

    // The changes, by sequence number: a gap is as many changes lost.
    uint64_t expected = 2 * uint64_t(h.records) + 2;
    for (const Rec& rec : recs) {
        if (rec.type != kInsert && rec.type != kRemove && rec.type != kComment)
            continue;
        if (rec.seq < expected) // not after the snapshot: not ours to replay
            continue;
        out.lostRecords += rec.seq - expected;
        expected = uint64_t(rec.seq) + 1;
        out.changes.push_back({rec.payload(bytes), rec.payloadSize(), rec.type});
    }
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
void replay(Parsed& p, JournalContents& result, size_t fileSize) {
    TagDataModel& store = result.store;
    store.index = p.counter;
    const size_t limit = fileSize / 8 + 4096;
    int64_t base = p.rows.empty() ? p.counter : p.rows.front()->index;
    bool byIndex = true;
    for (size_t i = 0; i < p.rows.size(); ++i) {
        const int64_t index = p.rows[i]->index;
        if (index < base || static_cast<uint64_t>(index - base) >= limit ||
            (i > 0 && index <= p.rows[i - 1]->index))
            byIndex = false;
        if (index >= store.index)
            store.index = index + 1;
    }
    std::vector<std::shared_ptr<TagRowData>> slots;
    if (byIndex) {
        if (!p.rows.empty())
            slots.resize(static_cast<size_t>(p.rows.back()->index - base) + 1);
        for (auto& row : p.rows)
            slots[static_cast<size_t>(row->index - base)] = std::move(row);
    } else {
        store.data = std::move(p.rows);
    }
    p.rows.clear();
    auto inTable = [&](int64_t index) {
        return index >= base && static_cast<uint64_t>(index - base) < limit;
    };
    auto leaveTable = [&] {
        for (auto& row : slots)
            if (row)
                store.data.push_back(std::move(row));
        slots.clear();
        slots.shrink_to_fit();
        byIndex = false;
    };

    TagEdit edit;
    for (const Change& c : p.changes) {
        if (!decodeChange(c.type, c.payload, c.size, edit)) {
            // A whole record that says nothing sensible (not written by us).
            ++p.lostRecords;
            continue;
        }
        ++result.changes;
        if (byIndex && edit.kind == TagEdit::Kind::Insert)
            for (const auto& [place, row] : edit.rows)
                if (!inTable(row->index)) {
                    leaveTable();
                    break;
                }
        if (!byIndex) {
            store.apply(edit);
            continue;
        }
        switch (edit.kind) {
        case TagEdit::Kind::Insert:
            for (auto& [place, row] : edit.rows) {
                const auto i = static_cast<size_t>(row->index - base);
                if (i >= slots.size())
                    slots.resize(std::min(std::max(i + 1, slots.size() * 2), limit));
                if (row->index >= store.index)
                    store.index = row->index + 1;
                slots[i] = std::move(row);
            }
            break;
        case TagEdit::Kind::Remove:
            for (const auto& [place, row] : edit.rows)
                if (row->index >= base && static_cast<uint64_t>(row->index - base) < slots.size())
                    slots[static_cast<size_t>(row->index - base)].reset();
            break;
        case TagEdit::Kind::Comment:
            if (edit.index >= base && static_cast<uint64_t>(edit.index - base) < slots.size() &&
                slots[static_cast<size_t>(edit.index - base)])
                slots[static_cast<size_t>(edit.index - base)]->comment = edit.after;
            break;
        }
    }
    if (byIndex)
        leaveTable();
}

} // namespace

SessionStamp stampOfFile(const fs::path& file) {
    SessionStamp stamp;
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return stamp;
    std::string contents, error;
    if (!readWholeFile(file, contents, error))
        return stamp;
    stamp.exists = true;
    stamp.size = contents.size();
    stamp.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.hash = fnv1a(contents);
    return stamp;
}

fs::path journalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return fs::path(state) / "rucktag";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local/state/rucktag";
}

namespace {

std::string lexicalVideoPath(const std::string& videoPath) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(videoPath, ec);
    return (ec ? fs::path(videoPath) : absolute).lexically_normal().string();
}

// The journal file's name for a video known by `full`.
fs::path journalPathOf(const std::string& full) {
    // A readable part of the name, and the hash of the whole path to tell
    // videos of the same name apart.
    std::string name;
    for (char c : fs::path(full).filename().string()) {
        if (name.size() >= 60)
            break;
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name.push_back(plain ? c : '_');
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(full)));
    return journalFolder() / (name + "-" + hash + ".journal");
}

bool sameVideo(const std::string& named, const std::string& asked) {
    if (named == asked)
        return true;
    if (named.empty() || named.size() > 4096 || named.find('\0') != std::string::npos ||
        named.front() != '/')
        return false;
    return canonicalVideoPath(named) == canonicalVideoPath(asked);
}

} // namespace

std::string canonicalVideoPath(const std::string& videoPath) {
    if (videoPath.empty())
        return videoPath;
    const std::string lexical = lexicalVideoPath(videoPath);
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(lexical, ec);
    return ec ? lexical : canonical.lexically_normal().string();
}

fs::path journalPathFor(const std::string& videoPath) {
    return journalPathOf(canonicalVideoPath(videoPath));
}

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
    const std::string_view magic = std::string_view(bytes).substr(0, kMagic1.size());
    auto distance = [&](std::string_view want) {
        int bits = 0;
        for (size_t i = 0; i < want.size(); ++i)
            bits += i < magic.size() ? std::popcount(static_cast<unsigned>(
                                           static_cast<unsigned char>(magic[i] ^ want[i])))
                                     : 8;
        return bits;
    };
    if (magic == kMagic1) {
        result.version = 1;
        parseV1(bytes, parsed);
    } else if (bytes.size() > kMagic2.size()) {
        // Version 2 needs no file tag to be read (its records are checked one
        // by one), so a flipped bit in it costs nothing.
        result.version = 2;
        parseV2(bytes, parsed);
        if (!parsed.header && distance(kMagic1) <= 1) {
            parsed = Parsed{};
            result.version = 1;
            parseV1(bytes, parsed);
        }
    }
    if (!parsed.header) {
        const bool journal = distance(kMagic1) <= 1 || distance(kMagic2) <= 1;
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
    result.damaged = result.lostRecords > 0;
    return result;
}

// ---- the writer ------------------------------------------------------------

namespace {

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool isRegular(const fs::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Renames `from` to `to` unless `to` exists.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without it: we hold the video's claim, so nobody else
    // moves its journals meanwhile.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

// Moves `file` to `folder` (made when missing) under its own name, or with
// -2, -3, ... before its extension when that is taken. Never replaces a file.
// Returns an empty text, or the reason.
std::string moveInto(const fs::path& file, const fs::path& folder, bool touch) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string stem = file.stem().string(), extension = file.extension().string();
    for (int n = 1; n < 1000; ++n) {
        const fs::path target = folder / (n == 1 ? file.filename().string()
                                                 : stem + "-" + std::to_string(n) + extension);
        const int err = renameNoReplace(file, target);
        if (err == EEXIST)
            continue;
        if (err != 0)
            return file.string() + ": " + std::strerror(err);
        if (touch) // counts its days from now
            ::utimensat(AT_FDCWD, target.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
        syncFolder(folder);
        syncFolder(file.parent_path());
        return {};
    }
    return file.string() + ": " + std::strerror(EEXIST);
}

constexpr auto kDiscardedKept = std::chrono::hours(24 * 14);

void pruneDiscarded(const fs::path& folder) {
    std::error_code ec;
    const auto now = std::chrono::system_clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const auto modified =
            std::chrono::system_clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec));
        if (now - modified > kDiscardedKept)
            ::unlink(it->path().c_str());
    }
}

// A left-over journal of `file` set aside: "NAME-hash.deferred-<ns>.journal".
std::string asidePrefix(const fs::path& file) {
    return file.stem().string() + ".deferred-";
}

fs::path lockPathOf(const fs::path& file) {
    return file.parent_path() / (file.stem().string() + ".lock");
}

// The claims this process holds, by lock file: another TagJournal of the
// process cannot take them either, and heldElsewhere() does not count them.
std::mutex claimsMutex;
std::set<std::string>& claims() {
    static std::set<std::string> held;
    return held;
}
bool claimedHere(const fs::path& lock) {
    std::lock_guard guard(claimsMutex);
    return claims().count(lock.string()) > 0;
}

// The lock of an open file description, dropped by the kernel when the last
// descriptor of it closes (the process ending, however it ends). Unlike a
// flock(), it can be probed without taking it (F_OFD_GETLK).
bool lockedByOther(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}

} // namespace

struct TagJournal::Outcome {
    bool ok;
    uint64_t generation;
    std::string failure;
};

TagJournal::TagJournal() : writer_([this] { writerLoop(); }), syncer_([this] { syncerLoop(); }) {}

TagJournal::~TagJournal() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
    {
        std::lock_guard lock(mutex_);
        syncWake_.notify_one();
    }
    syncer_.join();
    releaseClaim();
}

bool TagJournal::claim(const fs::path& lock) {
    {
        std::lock_guard guard(claimsMutex);
        if (!claims().insert(lock.string()).second)
            return false; // another TagJournal of this process
    }
    std::error_code ec;
    fs::create_directories(lock.parent_path(), ec);
    int fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
            const int err = errno;
            ::close(fd);
            fd = -1;
            if (err == EAGAIN || err == EACCES) {
                std::lock_guard guard(claimsMutex);
                claims().erase(lock.string());
                return false;
            }
            // No locks on this file system: journal unguarded.
        }
    } else {
        // No lock file can be made (a folder that cannot be written): nobody
        // journals here, but a holder of an old lock file still counts.
        const int probe = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (probe >= 0) {
            const bool held = lockedByOther(probe);
            ::close(probe);
            if (held) {
                std::lock_guard guard(claimsMutex);
                claims().erase(lock.string());
                return false;
            }
        }
    }
    lockPath_ = lock;
    lockFd_ = fd;
    claimed_ = true;
    return true;
}

void TagJournal::releaseClaim() {
    if (!claimed_)
        return;
    if (lockFd_ >= 0)
        ::close(lockFd_);
    lockFd_ = -1;
    {
        std::lock_guard guard(claimsMutex);
        claims().erase(lockPath_.string());
    }
    lockPath_.clear();
    claimed_ = false;
}

bool TagJournal::heldElsewhere(const std::string& videoPath) {
    if (videoPath.empty())
        return false;
    const fs::path lock = lockPathOf(journalPathFor(videoPath));
    if (claimedHere(lock))
        return false;
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = lockedByOther(fd);
    ::close(fd);
    return held;
}

void TagJournal::forget() {
    video_.clear();
    asGiven_.clear();
    file_.clear();
    started_ = false;
    leftover_.clear();
    leftoverWhole_ = false;
    answered_.clear();
}

bool TagJournal::open(const std::string& videoPath, const SessionStamp& session) {
    // What is still on its way for the previous video lands under its claim.
    flush();
    {
        std::lock_guard lock(mutex_);
        error_.clear();
        errorTaken_ = false;
        inEpisode_ = false;
    }
    forget();
    if (videoPath.empty()) {
        releaseClaim();
        return false;
    }
    const std::string canonical = canonicalVideoPath(videoPath);
    const fs::path file = journalPathOf(canonical);
    const fs::path lock = lockPathOf(file);
    if (!claimed_ || lockPath_ != lock) {
        releaseClaim();
        if (!claim(lock))
            return false;
    }
    video_ = canonical;
    asGiven_ = lexicalVideoPath(videoPath);
    file_ = file;
    session_ = session;
    // A journal at the video's own name was left by a run that ended without
    // saving: it is set aside, so this run's journal never writes over it.
    if (isRegular(file_)) {
        const fs::path folder = file_.parent_path();
        const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
        for (int n = 0; n < 1000; ++n) {
            const fs::path aside =
                folder / (asidePrefix(file_) + std::to_string(stamp) +
                          (n ? "-" + std::to_string(n) : std::string()) + ".journal");
            const int err = renameNoReplace(file_, aside);
            if (err != EEXIST) {
                if (err != 0)
                    systemLog(file_.string() + ": " + std::strerror(err));
                break;
            }
        }
    }
    return true;
}

void TagJournal::close() {
    flush();
    forget();
    releaseClaim();
}

JournalContents TagJournal::readLeftover() {
    if (file_.empty())
        return {};
    const fs::path folder = file_.parent_path();
    const std::string prefix = asidePrefix(file_);
    std::vector<std::pair<int64_t, fs::path>> candidates;
    auto consider = [&](const fs::path& path) {
        struct stat st {};
        if (answered_.count(path) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        candidates.emplace_back(
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, path);
    };
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() + 8 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - 8, 8, ".journal") == 0)
            consider(it->path());
    }
    // A journal of an older version under the name of the path as given
    // (links not resolved).
    const fs::path legacy = journalPathOf(asGiven_);
    if (legacy != file_)
        consider(legacy);
    // Newest first.
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second > b.second;
    });

    JournalContents unreadable;
    for (const auto& [when, path] : candidates) {
        JournalContents found = readJournal(path, video_);
        if (found.ours) {
            leftover_ = path;
            leftoverWhole_ = !found.damaged;
            return found;
        }
        // One that names another video is not this video's to offer.
        if (!found.error.empty() && !unreadable.found && path != legacy)
            unreadable = std::move(found);
    }
    if (unreadable.found) {
        leftover_ = unreadable.file;
        leftoverWhole_ = false;
    }
    return unreadable;
}

void TagJournal::restoreLeftover(const TagDataModel& restored) {
    if (file_.empty())
        return;
    const fs::path left = leftover_;
    const bool whole = leftoverWhole_;
    leftover_.clear();
    if (!left.empty()) {
        answered_.insert(left);
        if (!whole) {
            const std::string error = moveInto(left, file_.parent_path() / "damaged", false);
            if (!error.empty())
                systemLog(error); // it stays set aside, still never written over
        }
    }
    startFrom(restored);
    // A whole left-over is in the new journal; it goes once that is on disk.
    if (!left.empty() && whole)
        submit({Command::Discard, left, {}, {}, {}, 0, 0, generation_});
}

void TagJournal::discardLeftover() {
    if (leftover_.empty())
        return;
    const fs::path folder = file_.parent_path() / "discarded";
    const std::string error = moveInto(leftover_, folder, true);
    if (!error.empty())
        systemLog(error);
    pruneDiscarded(folder);
    answered_.insert(leftover_);
    leftover_.clear();
}

void TagJournal::deferLeftover() {
    if (leftover_.empty())
        return;
    answered_.insert(leftover_);
    leftover_.clear();
}

void TagJournal::startFrom(const TagDataModel& store) {
    Command c{Command::Replace, file_, {}, {}, {}, 0, 0, ++generation_};
    const size_t tags = store.data.size();
    const uint32_t per = kTagsPerSnapshotRecord;
    const auto records = static_cast<uint32_t>((tags + per - 1) / per);
    c.rows.reserve(tags * 48);
    c.chunks.reserve(records);
    for (size_t i = 0; i < tags; ++i) {
        if (i % per == 0)
            c.chunks.emplace_back(static_cast<uint32_t>(c.rows.size()),
                                  static_cast<uint32_t>(std::min<size_t>(per, tags - i)));
        putRow(c.rows, *store.data[i]);
    }
    std::string& h = c.bytes;
    put<uint32_t>(h, kVersion2);
    putText(h, video_);
    put<uint8_t>(h, session_.exists ? 1 : 0);
    put<uint64_t>(h, session_.size);
    put<int64_t>(h, session_.mtimeNs);
    put<uint64_t>(h, session_.hash);
    put<int64_t>(h, store.index);
    put<uint64_t>(h, tags);
    put<uint32_t>(h, per);
    put<uint32_t>(h, records);
    snapshotBytes_ = c.rows.size() + c.bytes.size();
    changeBytes_ = 0;
    started_ = true;
    ++snapshots_;
    submit(std::move(c));
}

void TagJournal::changed(const TagEdit& edit, const TagDataModel& store) {
    if (file_.empty())
        return;
    // The first change starts the journal from the store it made, which holds
    // that change; later ones are appended. After a failed write the journal
    // starts again, from a snapshot.
    if (!started_ || brokenGeneration_.load(std::memory_order_acquire) == generation_ ||
        changeBytes_ > std::max(kRestartFactor * snapshotBytes_, minimumRestartBytes)) {
        startFrom(store);
        return;
    }
    Command c{Command::Append, {}, {}, {}, {}, 0, 0, generation_};
    c.type = encodeChange(edit, c.bytes);
    changeBytes_ += c.bytes.size() + kMinRecord;
    submit(std::move(c));
}

void TagJournal::restart(const TagDataModel& store) {
    if (!file_.empty())
        startFrom(store);
}

void TagJournal::retire() {
    if (file_.empty())
        return;
    started_ = false;
    submit({Command::Remove, file_, {}, {}, {}, 0, 0, generation_});
}

void TagJournal::discard() {
    if (file_.empty() || !started_)
        return;
    started_ = false;
    submit({Command::Discard, file_, {}, {}, {}, 0, 0, generation_});
}

void TagJournal::submit(Command command) {
    {
        std::lock_guard lock(mutex_);
        command.seq = ++seq_;
        queue_.push_back(std::move(command));
    }
    wake_.notify_one();
}

bool TagJournal::flush(int timeoutMs) {
    std::unique_lock lock(mutex_);
    const uint64_t target = seq_;
    return done_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return durableSeq_ >= target; });
}

std::string TagJournal::takeError() {
    std::lock_guard lock(mutex_);
    if (error_.empty() || errorTaken_)
        return {};
    errorTaken_ = true;
    return error_;
}

std::string TagJournal::note(const std::vector<Outcome>& outcomes) {
    std::string log;
    for (const Outcome& o : outcomes) {
        if (o.ok) {
            inEpisode_ = false;
            continue;
        }
        brokenGeneration_.store(o.generation, std::memory_order_release);
        if (!inEpisode_) {
            inEpisode_ = true;
            error_ = o.failure;
            errorTaken_ = false;
            log = o.failure;
        }
    }
    return log; // the system log's one line for an episode that began
}

void TagJournal::syncerLoop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        syncWake_.wait(lock, [&] {
            return syncSeq_ > durableSeq_ || (stopping_ && writtenSeq_ == syncSeq_ &&
                                              syncSeq_ <= durableSeq_ && queue_.empty());
        });
        if (syncSeq_ <= durableSeq_)
            break; // stopping, all done
        const int fd = syncFd_;
        const uint64_t seq = syncSeq_;
        const uint64_t generation = syncGeneration_;
        syncFd_ = -1;
        lock.unlock();
        std::string failure;
        if (fd >= 0) {
            if (::fdatasync(fd) != 0)
                failure = std::string("journal: ") + std::strerror(errno);
            ::close(fd);
        }
        if (onDurable)
            for (uint64_t s = durableSeq_ + 1; s <= seq; ++s)
                onDurable(s);
        lock.lock();
        const std::string log =
            failure.empty() ? std::string() : note({{false, generation, failure}});
        durableSeq_ = seq;
        done_.notify_all();
        if (!log.empty()) {
            lock.unlock();
            systemLog(log);
            lock.lock();
        }
    }
}

void TagJournal::writerLoop() {
    int fd = -1;
    fs::path open;               // the file fd writes to
    uint64_t openGeneration = 0; // the journal it holds
    uint32_t nextSeq = 0;        // of its next record
    auto closeFd = [&] {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        open.clear();
    };
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty() && stopping_)
            break;
        std::deque<Command> batch;
        batch.swap(queue_);
        lock.unlock();

        std::vector<Outcome> outcomes;
        bool dirty = false;
        for (size_t i = 0; i < batch.size(); ++i) {
            Command& c = batch[i];
            if (c.op == Command::Remove) {
                closeFd();
                if (isRegular(c.file))
                    ::unlink(c.file.c_str());
                continue;
            }
            if (c.op == Command::Discard) {
                // Only once the journal that replaces it is on disk.
                if (fd >= 0 && openGeneration == c.generation) {
                    const fs::path folder = c.file.parent_path() / "discarded";
                    const std::string error = moveInto(c.file, folder, true);
                    if (!error.empty())
                        systemLog(error);
                    pruneDiscarded(folder);
                }
                continue;
            }
            if (c.op == Command::Replace) {
                closeFd();
                std::string bytes(kMagic2);
                bytes.reserve(8 + 2 * (c.bytes.size() + c.rows.size()) +
                              (2 * c.chunks.size() + 2) * (kMinRecord + 8));
                uint32_t seq = 0;
                for (int copy = 0; copy < 2; ++copy) {
                    frame(bytes, seq++, kHeader, [&](std::string& out) { out += c.bytes; });
                    for (uint32_t k = 0; k < c.chunks.size(); ++k) {
                        const size_t from = c.chunks[k].first;
                        const size_t to =
                            k + 1 < c.chunks.size() ? c.chunks[k + 1].first : c.rows.size();
                        frame(bytes, seq++, kSnapshot, [&](std::string& out) {
                            put<uint32_t>(out, k);
                            put<uint32_t>(out, c.chunks[k].second);
                            out.append(c.rows, from, to - from);
                        });
                    }
                }
                std::error_code ec;
                fs::create_directories(c.file.parent_path(), ec);
                std::string error = writeFileAtomically(c.file, bytes);
                if (error.empty()) {
                    fd = ::open(c.file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                    if (fd < 0)
                        error = c.file.string() + ": " + std::strerror(errno);
                }
                if (!error.empty()) {
                    outcomes.push_back({false, c.generation, error});
                    continue;
                }
                open = c.file;
                openGeneration = c.generation;
                nextSeq = seq;
                outcomes.push_back({true, c.generation, {}});
                continue;
            }
            // Appends of one journal that arrived together go down in one write.
            const uint64_t generation = c.generation;
            std::string bytes;
            if (fd >= 0 && openGeneration == generation) {
                frame(bytes, nextSeq++, c.type, [&](std::string& out) { out += c.bytes; });
                while (i + 1 < batch.size() && batch[i + 1].op == Command::Append &&
                       batch[i + 1].generation == generation) {
                    const Command& d = batch[++i];
                    frame(bytes, nextSeq++, d.type, [&](std::string& out) { out += d.bytes; });
                }
            } else {
                while (i + 1 < batch.size() && batch[i + 1].op == Command::Append &&
                       batch[i + 1].generation == generation)
                    ++i;
                // The journal could not be started, or broke: nothing to append
                // to until the next change starts it again.
                outcomes.push_back({false, generation, "the journal could not be started"});
                continue;
            }
            const char* p = bytes.data();
            size_t left = bytes.size();
            while (left > 0) {
                const ssize_t n = ::write(fd, p, left);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    outcomes.push_back(
                        {false, generation, open.string() + ": " + std::strerror(errno)});
                    break;
                }
                p += n;
                left -= static_cast<size_t>(n);
            }
            if (left > 0) {
                // Part of a record may be in the file: this journal is done.
                closeFd();
                continue;
            }
            dirty = true;
        }
        // Handed to the syncer: the latest file to sync replaces an older one
        // still waiting, whose records that sync covers as well.
        const int toSync = dirty && fd >= 0 ? ::dup(fd) : -1;

        lock.lock();
        const std::string log = note(outcomes);
        if (syncFd_ >= 0)
            ::close(syncFd_);
        syncFd_ = toSync;
        syncGeneration_ = openGeneration;
        writtenSeq_ = syncSeq_ = batch.back().seq;
        syncWake_.notify_one();
        if (!log.empty()) {
            lock.unlock();
            systemLog(log);
            lock.lock();
        }
    }
    lock.unlock();
    closeFd();
    lock.lock();
    syncWake_.notify_one();
}
