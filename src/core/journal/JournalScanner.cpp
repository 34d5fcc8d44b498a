#include "journal/JournalScanner.h"

#include <algorithm>
#include <bit>
#include <string_view>

namespace journal {

namespace {

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

bool knownType(uint8_t type) {
    return isChangeType(type) || type == kHeader || isSnapshotType(type);
}

} // namespace

void V2Scanner::run() {
    size_t pos = kMagic2.size();
    int64_t last = -1; // seq of the last good record
    while (pos < size_) {
        Rec rec;
        if (validAt(pos, last, rec)) {
            take(rec, last);
            pos += kFrame + rec.length;
            continue;
        }
        pos = skipBadSpan(pos, last);
        if (pos == npos)
            break;
    }
}

size_t V2Scanner::skipBadSpan(size_t pos, int64_t& last) {
    // Up to the next good record, or the end.
    Rec next;
    const size_t found = findNext(pos + 1, pos, last, next);
    const size_t end = found == npos ? size_ : found;
    Rec fixed;
    if (!exhausted_ && repair(pos, end, last, fixed) && (found == npos || fixed.seq < next.seq)) {
        take(fixed, last);
        ++repaired;
    } else if (found == npos && !exhausted_ && !torn(pos)) {
        trailingLost = recordsIn(pos);
    }
    if (exhausted_) {
        trailingLost = std::max<size_t>(trailingLost, 1);
        return npos;
    }
    if (found == npos)
        return npos;
    take(next, last);
    return found + kFrame + next.length;
}

void V2Scanner::take(const Rec& rec, int64_t& last) {
    records.push_back(rec);
    last = rec.seq;
}

// The frame at `at` is plausible: length within the file, sync word,
// a sequence number after `last` (and no further than `maxSeq`), a known
// type.
bool V2Scanner::plausible(size_t at, int64_t last, uint64_t maxSeq, Rec& rec) const {
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

uint32_t V2Scanner::checksum(size_t at, uint32_t length) const {
    uint32_t crc = crcOf(0, &length, 4);
    crc = crcOf(crc, &kSync, 4);
    return crcOf(crc, data_ + at + 12, length - 5);
}

// A good record at `at` (a checksum with one flipped bit of its own counts).
bool V2Scanner::validAt(size_t at, int64_t last, Rec& rec) {
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
size_t V2Scanner::findNext(size_t from, size_t spanStart, int64_t last, Rec& rec) {
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
bool V2Scanner::repair(size_t at, size_t end, int64_t last, Rec& rec) {
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
bool V2Scanner::torn(size_t at) const {
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
size_t V2Scanner::recordsIn(size_t at) const {
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

} // namespace journal
