#include "journal/JournalFormat.h"

#include <algorithm>
#include <zlib.h>

namespace journal {

uint64_t fnv1a(std::string_view bytes, uint64_t h) {
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

uint8_t encodeChange(const TagEdit& edit, std::string& out) {
    switch (edit.kind) {
    case TagEdit::Kind::Insert:
    case TagEdit::Kind::Remove: {
        const bool insert = edit.kind == TagEdit::Kind::Insert;
        const bool full =
            insert && std::any_of(edit.rows.begin(), edit.rows.end(),
                                  [](const auto& r) { return needsFullRow(*r.second); });
        put<uint32_t>(out, static_cast<uint32_t>(edit.rows.size()));
        for (const auto& [place, row] : edit.rows) {
            put<uint64_t>(out, place);
            if (full)
                putFullRow(out, *row);
            else if (insert)
                putRow(out, *row);
            else
                put<int64_t>(out, row->index);
        }
        return full ? kInsertFull : insert ? kInsert : kRemove;
    }
    case TagEdit::Kind::Comment:
        put<int64_t>(out, edit.index);
        putText(out, edit.after);
        return kComment;
    case TagEdit::Kind::End:
        put<int64_t>(out, edit.index);
        putEnd(out, edit.endAfter);
        return kEnd;
    case TagEdit::Kind::Labels:
        put<int64_t>(out, edit.index);
        putLabels(out, edit.labelsAfter);
        return kLabels;
    case TagEdit::Kind::Match:
        putText(out, matchJson(edit.matchAfter));
        return kMatch;
    case TagEdit::Kind::Steps: // written part by part
        break;
    }
    return 0;
}

namespace {

bool decodeRows(uint8_t type, Reader& r, TagEdit& edit) {
    const bool insert = type != kRemove;
    const bool full = type == kInsertFull;
    edit.kind = insert ? TagEdit::Kind::Insert : TagEdit::Kind::Remove;
    uint32_t count = 0;
    if (!r.get(count) || !r.fits(count, insert ? 8 + kMinRowBytes : 16))
        return false;
    edit.rows.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t place = 0;
        auto row = std::make_shared<TagRowData>();
        if (!r.get(place))
            return false;
        if (insert ? !r.getRow(*row, full) : !r.get(row->index))
            return false;
        if (row->index < 0 || row->index >= kIndexLimit || (insert && !usableTimes(*row)))
            return false;
        edit.rows.emplace_back(static_cast<size_t>(std::min<uint64_t>(place, SIZE_MAX)),
                               std::move(row));
    }
    return true;
}

} // namespace

bool decodeChange(uint8_t type, const char* payload, size_t size, TagEdit& edit) {
    Reader r(payload, size);
    edit.rows.clear();
    edit.index = -1;
    edit.after.clear();
    edit.endAfter = {};
    edit.labelsAfter.clear();
    edit.matchAfter = {};
    bool ok = false;
    switch (type) {
    case kInsert:
    case kInsertFull:
    case kRemove:
        ok = decodeRows(type, r, edit);
        break;
    case kComment:
        edit.kind = TagEdit::Kind::Comment;
        ok = r.get(edit.index) && r.getText(edit.after);
        break;
    case kEnd:
        edit.kind = TagEdit::Kind::End;
        ok = r.get(edit.index) && r.getEnd(edit.endAfter) &&
             (!edit.endAfter.isSet() || usableTime(edit.endAfter.time));
        break;
    case kLabels:
        edit.kind = TagEdit::Kind::Labels;
        ok = r.get(edit.index) && r.getLabels(edit.labelsAfter);
        break;
    case kMatch: {
        edit.kind = TagEdit::Kind::Match;
        std::string text, error;
        ok = r.left() <= kMatchLimit + 4 && r.getText(text) &&
             readMatchJson(text, edit.matchAfter, error);
        break;
    }
    default:
        break;
    }
    return ok && r.atEnd();
}

void encodeHeader(const Header& h, std::string& out) {
    put<uint32_t>(out, kVersion2);
    putText(out, h.videoPath);
    put<uint8_t>(out, h.session.exists ? 1 : 0);
    put<uint64_t>(out, h.session.size);
    put<int64_t>(out, h.session.mtimeNs);
    put<uint64_t>(out, h.session.hash);
    put<int64_t>(out, h.counter);
    put<uint64_t>(out, h.tags);
    put<uint32_t>(out, h.perRecord);
    put<uint32_t>(out, h.records);
}

bool decodeHeader(const char* payload, size_t size, size_t fileSize, Header& h) {
    Reader r(payload, size);
    uint32_t version = 0;
    return r.get(version) && version == kVersion2 && r.getText(h.videoPath) &&
           r.getStamp(h.session) && r.get(h.counter) && h.counter >= 0 &&
           h.counter <= kIndexLimit && r.get(h.tags) && r.get(h.perRecord) && r.get(h.records) &&
           r.atEnd() && h.perRecord > 0 && h.tags <= fileSize / kMinRowBytes &&
           h.records == (h.tags + h.perRecord - 1) / h.perRecord;
}

std::string encodeStart(const std::string& header, const std::string& rows,
                        const std::vector<JournalChunk>& chunks, const std::string& match,
                        uint32_t& nextSeq) {
    std::string bytes(kMagic2);
    bytes.reserve(8 + 2 * (header.size() + rows.size()) + match.size() +
                  (2 * chunks.size() + 3) * (kMinRecord + 8));
    uint32_t seq = 0;
    for (int copy = 0; copy < 2; ++copy) {
        frame(bytes, seq++, kHeader, [&](std::string& out) { out += header; });
        for (uint32_t k = 0; k < chunks.size(); ++k) {
            const size_t from = chunks[k].offset;
            const size_t to = k + 1 < chunks.size() ? chunks[k + 1].offset : rows.size();
            frame(bytes, seq++, chunks[k].full ? kSnapshotFull : kSnapshot, [&](std::string& out) {
                put<uint32_t>(out, k);
                put<uint32_t>(out, chunks[k].tags);
                out.append(rows, from, to - from);
            });
        }
    }
    // Read as the first change: a journal without it is read as before.
    if (!match.empty())
        frame(bytes, seq++, kMatch, [&](std::string& out) { out += match; });
    nextSeq = seq;
    return bytes;
}

} // namespace journal
