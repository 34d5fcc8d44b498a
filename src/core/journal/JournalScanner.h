#pragma once

// Finds the records of a version 2 journal: checks each one, resynchronises
// after a bad span and repairs a record with one flipped bit (see
// JournalFormat.h for the layout).

#include <cstdint>
#include <string>
#include <vector>

#include "journal/JournalFormat.h"

namespace journal {

// A record found in the file.
struct Rec {
    size_t at = 0;
    uint32_t length = 0;
    uint32_t seq = 0;
    uint8_t type = 0;
    const char* payload(const std::string& bytes) const { return bytes.data() + at + kPayloadAt; }
    uint32_t payloadSize() const { return length - kMinLength; }
};

class V2Scanner {
public:
    // Repairs are made in `bytes`.
    explicit V2Scanner(std::string& bytes)
        : bytes_(bytes), data_(bytes.data()), size_(bytes.size()),
          budget_(8 * bytes.size() + (size_t(1) << 20)) {}

    std::vector<Rec> records;
    size_t repaired = 0;
    size_t trailingLost = 0; // records of a damaged span at the end (at least)

    void run();

private:
    static constexpr size_t npos = static_cast<size_t>(-1);

    // A bad span from `pos`: resynchronises and repairs; the position to go
    // on from, or npos to stop.
    size_t skipBadSpan(size_t pos, int64_t& last);
    void take(const Rec& rec, int64_t& last);
    bool plausible(size_t at, int64_t last, uint64_t maxSeq, Rec& rec) const;
    uint32_t checksum(size_t at, uint32_t length) const;
    bool validAt(size_t at, int64_t last, Rec& rec);
    size_t findNext(size_t from, size_t spanStart, int64_t last, Rec& rec);
    bool repair(size_t at, size_t end, int64_t last, Rec& rec);
    bool torn(size_t at) const;
    size_t recordsIn(size_t at) const;

    std::string& bytes_;
    const char* data_;
    size_t size_;
    size_t budget_;
    bool exhausted_ = false;
};

} // namespace journal
