#include "SubModuleClass/TagJournal.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "SubModuleClass/AtomicFile.h"
#include "SubModuleClass/SystemLog.h"

namespace {

constexpr std::string_view kMagic = "RUCKJNL1";
constexpr uint32_t kVersion = 1;
enum RecordType : uint8_t { kBegin = 1, kInsert = 2, kRemove = 3, kComment = 4 };

uint64_t fnv1a(std::string_view bytes, uint64_t h = 1469598103934665603ull) {
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

uint32_t checksum(const char* data, size_t size) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

template <typename T> void put(std::string& out, T value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
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

// Frames `payload`, which was built after 8 bytes reserved at `start`.
void seal(std::string& out, size_t start) {
    const size_t size = out.size() - start - 8;
    const uint32_t length = static_cast<uint32_t>(size);
    const uint32_t crc = checksum(out.data() + start + 8, size);
    std::memcpy(out.data() + start, &length, 4);
    std::memcpy(out.data() + start + 4, &crc, 4);
}

std::string encodeEdit(const TagEdit& edit) {
    std::string out(8, '\0');
    switch (edit.kind) {
    case TagEdit::Kind::Insert:
        put<uint8_t>(out, kInsert);
        put<uint32_t>(out, static_cast<uint32_t>(edit.rows.size()));
        for (const auto& [place, row] : edit.rows) {
            put<uint64_t>(out, place);
            putRow(out, *row);
        }
        break;
    case TagEdit::Kind::Remove:
        put<uint8_t>(out, kRemove);
        put<uint32_t>(out, static_cast<uint32_t>(edit.rows.size()));
        for (const auto& [place, row] : edit.rows) {
            put<uint64_t>(out, place);
            put<int64_t>(out, row->index);
        }
        break;
    case TagEdit::Kind::Comment:
        put<uint8_t>(out, kComment);
        put<int64_t>(out, edit.index);
        putText(out, edit.after);
        break;
    }
    seal(out, 0);
    return out;
}

std::string encodeBegin(const std::string& video, const SessionStamp& s,
                        const TagDataModel& store) {
    std::string out(kMagic);
    const size_t start = out.size();
    out.append(8, '\0');
    put<uint8_t>(out, kBegin);
    put<uint32_t>(out, kVersion);
    putText(out, video);
    put<uint8_t>(out, s.exists ? 1 : 0);
    put<uint64_t>(out, s.size);
    put<int64_t>(out, s.mtimeNs);
    put<uint64_t>(out, s.hash);
    put<int64_t>(out, store.index);
    put<uint32_t>(out, static_cast<uint32_t>(store.data.size()));
    for (const auto& row : store.data)
        putRow(out, *row);
    seal(out, start);
    return out;
}

// Bounds-checked reading of one payload.
class Reader {
public:
    Reader(const char* data, size_t size) : p_(data), end_(data + size) {}
    template <typename T> bool get(T& value) {
        if (static_cast<size_t>(end_ - p_) < sizeof value)
            return false;
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return true;
    }
    bool getText(std::string& text) {
        uint32_t n = 0;
        if (!get(n) || static_cast<size_t>(end_ - p_) < n)
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
        return true;
    }
    bool atEnd() const { return p_ == end_; }

private:
    const char* p_;
    const char* end_;
};

// Indexes far beyond anything a match can hand out mean a broken record.
constexpr int64_t kIndexLimit = int64_t(1) << 32;

} // namespace

SessionStamp stampOfFile(const std::filesystem::path& file) {
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

std::filesystem::path journalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return std::filesystem::path(state) / "rucktag";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home && *home ? home : "/tmp") / ".local/state/rucktag";
}

std::filesystem::path journalPathFor(const std::string& videoPath) {
    std::error_code ec;
    std::filesystem::path absolute = std::filesystem::absolute(videoPath, ec);
    const std::string full =
        (ec ? std::filesystem::path(videoPath) : absolute).lexically_normal().string();
    // A readable part of the name, and the hash of the whole path to tell
    // videos of the same name apart.
    std::string name;
    for (char c : std::filesystem::path(full).filename().string()) {
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

JournalContents readJournal(const std::filesystem::path& file, const std::string& videoPath) {
    JournalContents result;
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
    if (bytes.compare(0, kMagic.size(), kMagic) != 0) {
        result.error = file.string() + ": not a journal";
        return result;
    }

    const char* data = bytes.data();
    const size_t size = bytes.size();
    size_t at = kMagic.size();
    // The next whole record's payload, or false at the end: a record cut
    // short or failing its checksum ends the journal there; when a whole
    // record follows it, the journal is damaged rather than torn.
    auto next = [&](const char*& payload, uint32_t& length) {
        if (size - at < 8)
            return false;
        uint32_t crc;
        std::memcpy(&length, data + at, 4);
        std::memcpy(&crc, data + at + 4, 4);
        if (size - at - 8 < length)
            return false;
        if (checksum(data + at + 8, length) != crc) {
            const size_t after = at + 8 + length;
            uint32_t l2, c2;
            if (size - after >= 8) {
                std::memcpy(&l2, data + after, 4);
                std::memcpy(&c2, data + after + 4, 4);
                if (size - after - 8 >= l2 && checksum(data + after + 8, l2) == c2)
                    result.damaged = true;
            }
            return false;
        }
        payload = data + at + 8;
        at += 8 + length;
        return true;
    };

    const char* payload = nullptr;
    uint32_t length = 0;
    if (!next(payload, length)) {
        result.error = file.string() + ": the journal's start is incomplete";
        return result;
    }
    TagDataModel& store = result.store;
    {
        Reader r(payload, length);
        uint8_t type = 0, exists = 0;
        uint32_t version = 0, count = 0;
        if (!r.get(type) || type != kBegin || !r.get(version) || version != kVersion ||
            !r.getText(result.videoPath) || !r.get(exists) || !r.get(result.session.size) ||
            !r.get(result.session.mtimeNs) || !r.get(result.session.hash) || !r.get(store.index) ||
            !r.get(count)) {
            result.error = file.string() + ": the journal's start cannot be read";
            return result;
        }
        result.session.exists = exists != 0;
        store.data.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            auto row = std::make_shared<TagRowData>();
            if (!r.getRow(*row)) {
                result.error = file.string() + ": the journal's start cannot be read";
                return result;
            }
            store.data.push_back(std::move(row));
        }
    }
    if (result.videoPath != videoPath)
        return result;
    result.ours = true;

    // The store is kept by rising index (tags are appended with the counter
    // and come back to their old places), so while that holds a tag's place
    // follows from its index: a table by index replays each change in
    // constant time. Otherwise every change is applied by its places.
    bool byIndex = true;
    for (size_t i = 0; i < store.data.size(); ++i)
        if (store.data[i]->index < 0 || store.data[i]->index >= kIndexLimit ||
            (i > 0 && store.data[i]->index <= store.data[i - 1]->index))
            byIndex = false;
    std::vector<std::shared_ptr<TagRowData>> slots;
    if (byIndex) {
        slots.resize(static_cast<size_t>(std::max<int64_t>(store.index, 0)));
        for (auto& row : store.data) {
            if (static_cast<size_t>(row->index) >= slots.size())
                slots.resize(static_cast<size_t>(row->index) + 1);
            slots[static_cast<size_t>(row->index)] = std::move(row);
        }
        store.data.clear();
    }

    TagEdit edit;
    while (next(payload, length)) {
        Reader r(payload, length);
        uint8_t type = 0;
        bool ok = r.get(type);
        edit.rows.clear();
        if (type == kInsert || type == kRemove) {
            edit.kind = type == kInsert ? TagEdit::Kind::Insert : TagEdit::Kind::Remove;
            uint32_t count = 0;
            ok = ok && r.get(count);
            for (uint32_t i = 0; ok && i < count; ++i) {
                uint64_t place = 0;
                auto row = std::make_shared<TagRowData>();
                ok = r.get(place) && (type == kInsert ? r.getRow(*row) : r.get(row->index)) &&
                     row->index >= 0 && row->index < kIndexLimit;
                edit.rows.emplace_back(static_cast<size_t>(place), std::move(row));
            }
        } else if (type == kComment) {
            edit.kind = TagEdit::Kind::Comment;
            ok = ok && r.get(edit.index) && r.getText(edit.after);
        } else {
            ok = false;
        }
        if (!ok || !r.atEnd()) {
            result.damaged = true;
            break;
        }
        ++result.changes;
        if (!byIndex) {
            store.apply(edit);
            continue;
        }
        switch (edit.kind) {
        case TagEdit::Kind::Insert:
            for (auto& [place, row] : edit.rows) {
                const auto i = static_cast<size_t>(row->index);
                if (i >= slots.size())
                    slots.resize(std::max(i + 1, slots.size() * 2));
                if (row->index >= store.index)
                    store.index = row->index + 1;
                slots[i] = std::move(row);
            }
            break;
        case TagEdit::Kind::Remove:
            for (const auto& [place, row] : edit.rows)
                if (static_cast<size_t>(row->index) < slots.size())
                    slots[static_cast<size_t>(row->index)].reset();
            break;
        case TagEdit::Kind::Comment:
            if (edit.index >= 0 && static_cast<size_t>(edit.index) < slots.size() &&
                slots[static_cast<size_t>(edit.index)])
                slots[static_cast<size_t>(edit.index)]->comment = edit.after;
            break;
        }
    }
    if (byIndex)
        for (auto& row : slots)
            if (row)
                store.data.push_back(std::move(row));
    return result;
}

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
        syncFd_ = -1;
        lock.unlock();
        std::string failure;
        if (fd >= 0) {
            if (::fdatasync(fd) != 0)
                failure = std::string("journal: ") + std::strerror(errno);
            ::close(fd);
        }
        if (!failure.empty())
            systemLog(failure);
        if (onDurable)
            for (uint64_t s = durableSeq_ + 1; s <= seq; ++s)
                onDurable(s);
        lock.lock();
        if (!failure.empty() && error_.empty())
            error_ = failure;
        durableSeq_ = seq;
        done_.notify_all();
    }
}

void TagJournal::open(const std::string& videoPath, const SessionStamp& session) {
    video_ = videoPath;
    file_ = journalPathFor(videoPath);
    session_ = session;
    started_ = false;
    std::lock_guard lock(mutex_);
    error_.clear();
    errorTaken_ = false;
}

void TagJournal::close() {
    video_.clear();
    file_.clear();
    started_ = false;
}

void TagJournal::startFrom(const TagDataModel& store) {
    std::string bytes = encodeBegin(video_, session_, store);
    snapshotBytes_ = bytes.size();
    changeBytes_ = 0;
    started_ = true;
    ++snapshots_;
    submit({Command::Replace, file_, std::move(bytes)});
}

void TagJournal::changed(const TagEdit& edit, const TagDataModel& store) {
    if (file_.empty())
        return;
    // The first change starts the journal from the store it made, which holds
    // that change; later ones are appended.
    if (!started_ ||
        changeBytes_ > std::max(kRestartFactor * snapshotBytes_, minimumRestartBytes)) {
        startFrom(store);
        return;
    }
    std::string bytes = encodeEdit(edit);
    changeBytes_ += bytes.size();
    // Appends go to the file the last Replace started: no path to copy.
    submit({Command::Append, {}, std::move(bytes)});
}

void TagJournal::restart(const TagDataModel& store) {
    if (!file_.empty())
        startFrom(store);
}

void TagJournal::retire() {
    if (file_.empty())
        return;
    started_ = false;
    submit({Command::Remove, file_, {}});
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

void TagJournal::writerLoop() {
    int fd = -1;
    std::filesystem::path open; // the file fd writes to
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

        std::string failure;
        bool dirty = false;
        for (size_t i = 0; i < batch.size(); ++i) {
            Command& c = batch[i];
            if (c.op == Command::Remove) {
                closeFd();
                std::error_code ec;
                std::filesystem::remove(c.file, ec);
                continue;
            }
            if (c.op == Command::Replace) {
                closeFd();
                std::error_code ec;
                std::filesystem::create_directories(c.file.parent_path(), ec);
                std::string error = writeFileAtomically(c.file, c.bytes);
                if (!error.empty()) {
                    failure = error;
                    continue;
                }
                fd = ::open(c.file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                if (fd < 0) {
                    failure = c.file.string() + ": " + std::strerror(errno);
                    continue;
                }
                open = c.file;
                continue;
            }
            // Appends that arrived together go down in one write.
            std::string bytes = std::move(c.bytes);
            while (i + 1 < batch.size() && batch[i + 1].op == Command::Append)
                bytes += batch[++i].bytes;
            if (fd < 0) {
                // The journal could not be started: nothing to append to.
                if (failure.empty())
                    failure = "the journal could not be started";
                continue;
            }
            const char* p = bytes.data();
            size_t left = bytes.size();
            while (left > 0) {
                const ssize_t n = ::write(fd, p, left);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    failure = open.string() + ": " + std::strerror(errno);
                    break;
                }
                p += n;
                left -= static_cast<size_t>(n);
            }
            dirty = true;
        }
        if (!failure.empty())
            systemLog(failure);
        // Handed to the syncer: the latest file to sync replaces an older one
        // still waiting, whose records that sync covers as well.
        const int toSync = dirty && fd >= 0 ? ::dup(fd) : -1;

        lock.lock();
        if (!failure.empty() && error_.empty())
            error_ = failure;
        if (syncFd_ >= 0)
            ::close(syncFd_);
        syncFd_ = toSync;
        writtenSeq_ = syncSeq_ = batch.back().seq;
        syncWake_.notify_one();
    }
    lock.unlock();
    closeFd();
    lock.lock();
    syncWake_.notify_one();
}
