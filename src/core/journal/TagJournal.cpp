#include "journal/TagJournal.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "journal/JournalFiles.h"
#include "journal/JournalFormat.h"
#include "platform/AtomicFile.h"
#include "platform/SystemLog.h"

namespace fs = std::filesystem;
using namespace journal;

namespace {

// The journal file the writer thread appends to.
struct JournalOut {
    int fd = -1;
    fs::path path;           // the file fd writes to
    uint64_t generation = 0; // the journal it holds (kept when closed)
    uint32_t nextSeq = 0;    // of its next record

    bool holds(uint64_t g) const { return fd >= 0 && generation == g; }

    void close() {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        path.clear();
    }

    // Writes a new journal (header and snapshot) in one piece and opens it
    // for appending; the reason when that failed.
    std::string start(const fs::path& file, const std::string& header, const std::string& rows,
                      const std::vector<JournalChunk>& chunks, const std::string& match,
                      uint64_t g) {
        uint32_t seq = 0;
        const std::string bytes = encodeStart(header, rows, chunks, match, seq);
        std::error_code ec;
        fs::create_directories(file.parent_path(), ec);
        std::string error = writeFileAtomically(file, bytes);
        if (error.empty()) {
            fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
            if (fd < 0)
                error = file.string() + ": " + std::strerror(errno);
        }
        if (!error.empty())
            return error;
        path = file;
        generation = g;
        nextSeq = seq;
        return {};
    }

    void frameChange(std::string& bytes, uint8_t type, const std::string& payload) {
        frame(bytes, nextSeq++, type, [&](std::string& o) { o += payload; });
    }

    // Appends `bytes`; the reason when that failed, and then the file is
    // closed: part of a record may be in it, so this journal is done.
    std::string append(const std::string& bytes) {
        const char* p = bytes.data();
        size_t left = bytes.size();
        while (left > 0) {
            const ssize_t n = ::write(fd, p, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                std::string error = path.string() + ": " + std::strerror(errno);
                close();
                return error;
            }
            p += n;
            left -= static_cast<size_t>(n);
        }
        return {};
    }
};

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
    int fd = -1;
    if (!claimLock(lock, fd))
        return false;
    lockPath_ = lock;
    lockFd_ = fd;
    claimed_ = true;
    return true;
}

void TagJournal::releaseClaim() {
    if (!claimed_)
        return;
    releaseLock(lockPath_, lockFd_);
    lockFd_ = -1;
    lockPath_.clear();
    claimed_ = false;
}

bool TagJournal::heldElsewhere(const std::string& videoPath) {
    if (videoPath.empty())
        return false;
    return lockHeldElsewhere(lockPathOf(journalPathFor(videoPath)));
}

bool TagJournal::leftBehind(const std::string& videoPath) {
    if (videoPath.empty())
        return false;
    const std::string canonical = canonicalVideoPath(videoPath);
    const fs::path file = journalPathOf(canonical);
    const fs::path legacy = journalPathOf(lexicalVideoPath(videoPath));
    std::vector<fs::path> candidates = leftoverCandidates(file, legacy, {});
    // Where a run that ended without saving left it (open() sets it aside).
    candidates.push_back(file);
    for (const fs::path& path : candidates) {
        // As readLeftover() offers them: one naming the video, or one of its
        // own names that cannot be read.
        const JournalContents found = readJournal(path, canonical);
        if (found.ours || (found.found && !found.error.empty() && path != legacy))
            return true;
    }
    return false;
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
    setAside(file_);
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
    // A journal of an older version under the name of the path as given
    // (links not resolved).
    const fs::path legacy = journalPathOf(asGiven_);
    const std::vector<fs::path> candidates = leftoverCandidates(file_, legacy, answered_);
    JournalContents unreadable;
    for (const fs::path& path : candidates) {
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
        submit({Command::Discard, left, {}, {}, {}, {}, 0, 0, generation_});
}

void TagJournal::discardLeftover() {
    if (leftover_.empty())
        return;
    moveToDiscarded(leftover_, file_.parent_path() / "discarded");
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
    Command c{Command::Replace, file_, {}, {}, {}, {}, 0, 0, ++generation_};
    const size_t tags = store.data.size();
    const uint32_t per = kTagsPerSnapshotRecord;
    const auto records = static_cast<uint32_t>((tags + per - 1) / per);
    c.rows.reserve(tags * 48);
    c.chunks.reserve(records);
    for (size_t first = 0; first < tags; first += per) {
        const size_t last = std::min<size_t>(tags, first + per);
        const auto begin = store.data.begin() + static_cast<ptrdiff_t>(first);
        const auto end = store.data.begin() + static_cast<ptrdiff_t>(last);
        const bool full =
            std::any_of(begin, end, [](const auto& row) { return needsFullRow(*row); });
        c.chunks.push_back(
            {static_cast<uint32_t>(c.rows.size()), static_cast<uint32_t>(last - first), full});
        for (auto it = begin; it != end; ++it)
            if (full)
                putFullRow(c.rows, **it);
            else
                putRow(c.rows, **it);
    }
    encodeHeader({video_, session_, store.index, tags, per, records}, c.bytes);
    // The match rides with the snapshot, written in the same piece.
    if (!store.match.empty())
        encodeChange(TagEdit::match(TagDataModel(), store.match), c.match);
    snapshotBytes_ = c.rows.size() + c.bytes.size() + c.match.size();
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
    append(edit);
}

void TagJournal::append(const TagEdit& edit) {
    if (edit.kind == TagEdit::Kind::Steps) {
        for (const TagEdit& step : edit.steps)
            append(step);
        return;
    }
    Command c{Command::Append, {}, {}, {}, {}, {}, 0, 0, generation_};
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
    submit({Command::Remove, file_, {}, {}, {}, {}, 0, 0, generation_});
}

void TagJournal::discard() {
    if (file_.empty() || !started_)
        return;
    started_ = false;
    submit({Command::Discard, file_, {}, {}, {}, {}, 0, 0, generation_});
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
    JournalOut out;
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
            const Command& c = batch[i];
            if (c.op == Command::Remove) {
                out.close();
                if (isRegular(c.file))
                    ::unlink(c.file.c_str());
            } else if (c.op == Command::Discard) {
                // Only once the journal that replaces it is on disk.
                if (out.holds(c.generation))
                    moveToDiscarded(c.file, c.file.parent_path() / "discarded");
            } else if (c.op == Command::Replace) {
                out.close();
                const std::string error =
                    out.start(c.file, c.bytes, c.rows, c.chunks, c.match, c.generation);
                outcomes.push_back({error.empty(), c.generation, error});
            } else {
                // Appends of one journal that arrived together go down in one write.
                size_t last = i;
                while (last + 1 < batch.size() && batch[last + 1].op == Command::Append &&
                       batch[last + 1].generation == c.generation)
                    ++last;
                if (!out.holds(c.generation)) {
                    // The journal could not be started, or broke: nothing to append
                    // to until the next change starts it again.
                    outcomes.push_back({false, c.generation, "the journal could not be started"});
                } else {
                    std::string bytes;
                    for (size_t k = i; k <= last; ++k)
                        out.frameChange(bytes, batch[k].type, batch[k].bytes);
                    std::string error = out.append(bytes);
                    if (error.empty())
                        dirty = true;
                    else
                        outcomes.push_back({false, c.generation, std::move(error)});
                }
                i = last;
            }
        }
        // Handed to the syncer: the latest file to sync replaces an older one
        // still waiting, whose records that sync covers as well.
        const int toSync = dirty && out.fd >= 0 ? ::dup(out.fd) : -1;

        lock.lock();
        const std::string log = note(outcomes);
        if (syncFd_ >= 0)
            ::close(syncFd_);
        syncFd_ = toSync;
        syncGeneration_ = out.generation;
        writtenSeq_ = syncSeq_ = batch.back().seq;
        syncWake_.notify_one();
        if (!log.empty()) {
            lock.unlock();
            systemLog(log);
            lock.lock();
        }
    }
    lock.unlock();
    out.close();
    lock.lock();
    syncWake_.notify_one();
}
