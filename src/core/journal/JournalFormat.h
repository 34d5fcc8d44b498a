#pragma once

// The journal file's records: framing, encoding and decoding (internal to the
// journal; callers use TagJournal.h).
//
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
//
// Tags with an end or labels travel in records of their own types (insert
// and snapshot records whose tags carry them, end and label changes), so a
// journal of tags without them is what it always was. So does the match
// (teams, periods, players): a match record holds the whole match as its
// file's text; one follows the snapshot when the match is not empty.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Model/DataModel.h"
#include "journal/TagJournal.h"

namespace journal {

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
    kEnd = 7,
    kLabels = 8,
    kInsertFull = 9, // tags with their ends and labels
    kSnapshotFull = 10,
    kMatch = 11, // the whole match after a change, as the match file's text
};
// A match record's text beyond this is no match file this program reads.
constexpr size_t kMatchLimit = kMaxMatchFileBytes;
inline bool isChangeType(uint8_t type) {
    return type == kInsert || type == kRemove || type == kComment || type == kEnd ||
           type == kLabels || type == kInsertFull || type == kMatch;
}
inline bool isSnapshotType(uint8_t type) {
    return type == kSnapshot || type == kSnapshotFull;
}
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

uint64_t fnv1a(std::string_view bytes, uint64_t h = 1469598103934665603ull);
uint32_t crcOf(uint32_t crc, const void* data, size_t size);

template <typename T> void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}
template <typename T> T load(const char* p) {
    T value;
    std::memcpy(&value, p, sizeof value);
    return value;
}
inline void putText(std::string& out, std::string_view text) {
    put<uint32_t>(out, static_cast<uint32_t>(text.size()));
    out.append(text);
}
inline void putRow(std::string& out, const TagRowData& row) {
    put<int64_t>(out, row.index);
    put<uint8_t>(out, row.team ? 1 : 0);
    put<float>(out, row.time_val);
    putText(out, row.time_string);
    putText(out, row.name);
    putText(out, row.comment);
}
// The tag, its end and its labels: the rows of kInsertFull and kSnapshotFull.
inline bool needsFullRow(const TagRowData& row) {
    return row.end.state != TagEnd::State::None || !row.labels.empty();
}
inline void putEnd(std::string& out, const TagEnd& end) {
    put<uint8_t>(out, static_cast<uint8_t>(end.state));
    put<float>(out, end.time);
}
inline void putLabels(std::string& out, const TagLabels& labels) {
    put<uint32_t>(out, static_cast<uint32_t>(labels.size()));
    for (const auto& [group, text] : labels) {
        putText(out, group);
        putText(out, text);
    }
}
inline void putFullRow(std::string& out, const TagRowData& row) {
    putRow(out, row);
    putEnd(out, row.end);
    putLabels(out, row.labels);
}

// Times a video can have: finite, not negative, an end not before the time.
// A record holding others was not written by a sound run: its tag is not
// taken (one such time poisons every file it reaches).
inline bool usableTime(float t) {
    return std::isfinite(t) && t >= 0.0f;
}
inline bool usableTimes(const TagRowData& row) {
    return usableTime(row.time_val) &&
           (!row.end.isSet() || (usableTime(row.end.time) && row.end.time >= row.time_val));
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
    bool getEnd(TagEnd& end) {
        uint8_t state = 0;
        if (!get(state) || state > static_cast<uint8_t>(TagEnd::State::At) || !get(end.time))
            return false;
        end.state = static_cast<TagEnd::State>(state);
        return true;
    }
    bool getLabels(TagLabels& labels) {
        uint32_t count = 0;
        if (!get(count) || !fits(count, 8))
            return false;
        labels.resize(count);
        for (auto& [group, text] : labels)
            if (!getText(group) || !getText(text))
                return false;
        return true;
    }
    bool getFullRow(TagRowData& row) {
        return getRow(row) && getEnd(row.end) && getLabels(row.labels);
    }
    bool getRow(TagRowData& row, bool full) { return full ? getFullRow(row) : getRow(row); }
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

// A change's payload (version 2: the type is in the frame); returns the type.
uint8_t encodeChange(const TagEdit& edit, std::string& out);
bool decodeChange(uint8_t type, const char* payload, size_t size, TagEdit& edit);

// The version 2 header's payload.
struct Header {
    std::string videoPath;
    SessionStamp session;
    int64_t counter = 0;
    uint64_t tags = 0;
    uint32_t perRecord = 0;
    uint32_t records = 0;
};
void encodeHeader(const Header& h, std::string& out);
bool decodeHeader(const char* payload, size_t size, size_t fileSize, Header& h);

// The whole start of a version 2 file: the tag, then the header and the
// snapshot twice, then the match record `match` (a kMatch payload) unless it
// is empty. `rows` are the snapshot's tags encoded, cut into records at
// `chunks`; `nextSeq` is set to the first change's.
std::string encodeStart(const std::string& header, const std::string& rows,
                        const std::vector<JournalChunk>& chunks, const std::string& match,
                        uint32_t& nextSeq);

} // namespace journal
