#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "Model/DataModel.h"

// What a session file was when a journal began: a journal is never replayed
// as if it continued a session file that has changed since.
struct SessionStamp {
    bool exists = false;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    uint64_t hash = 0; // FNV-1a of the contents
    bool operator==(const SessionStamp&) const = default;
};
SessionStamp stampOfFile(const std::filesystem::path& file);

// $XDG_STATE_HOME/rucktag, else ~/.local/state/rucktag.
std::filesystem::path journalFolder();
// One file per video, named from its absolute path.
std::filesystem::path journalPathFor(const std::string& videoPath);

// What a journal file holds.
struct JournalContents {
    bool found = false;    // a file is there
    bool ours = false;     // it names the video asked about and could be read
    std::string videoPath; // the video it names
    SessionStamp session;  // the session file it began from
    TagDataModel store;    // the store at its last whole change
    size_t changes = 0;    // changes replayed after the snapshot
    // A record with a bad checksum followed by more: reading stopped there
    // and what came before is kept. A torn last record is no damage.
    bool damaged = false;
    std::string error; // the file could not be read
};

// Reads `file` and rebuilds the store it records; `videoPath` must be the
// video it names.
JournalContents readJournal(const std::filesystem::path& file, const std::string& videoPath);

// The journal of the open video's tag store. Every change is appended as a
// record (length, checksum, payload) and made durable by a writer thread, so
// the caller never waits for the disk. A journal begins with a snapshot of
// the whole store and starts afresh from a snapshot when its changes outgrow
// it several times over.
class TagJournal {
public:
    TagJournal();
    ~TagJournal(); // writes what is pending first

    // The journal now belongs to `videoPath` (nothing is written until the
    // first change). `session` is the session file as the store was loaded.
    void open(const std::string& videoPath, const SessionStamp& session);
    // No video: changes are not journaled.
    void close();
    // `edit` has just been applied to `store`.
    void changed(const TagEdit& edit, const TagDataModel& store);
    // Takes over a recovered store as the journal's new start.
    void restart(const TagDataModel& store);
    // Removes the journal file (after a save, or when its changes were given up).
    void retire();
    // The session file changed on disk (after a save).
    void setSession(const SessionStamp& session) { session_ = session; }

    const std::filesystem::path& file() const { return file_; }
    // Waits until everything handed over so far is on disk (or failed).
    bool flush(int timeoutMs = 5000);
    // The first write failure not yet taken, once; empty when none.
    std::string takeError();
    // Called on the writer thread with the sequence number of every record
    // that has become durable (benchmarks).
    std::function<void(uint64_t seq)> onDurable;
    uint64_t lastSequence() const { return seq_; }
    // Snapshots written so far (tests).
    int snapshots() const { return snapshots_; }

    // Restart from a snapshot when the changes written since the last one
    // exceed this many times its size
    // (at least minimumRestartBytes).
    static constexpr size_t kRestartFactor = 4;
    size_t minimumRestartBytes = 1 << 20;

private:
    struct Command {
        enum Op { Replace, Append, Remove } op;
        std::filesystem::path file;
        std::string bytes;
        uint64_t seq = 0;
    };
    void submit(Command command);
    void writerLoop();
    void syncerLoop();
    void startFrom(const TagDataModel& store);

    std::string video_;
    std::filesystem::path file_;
    SessionStamp session_;
    bool started_ = false;
    size_t snapshotBytes_ = 0;
    size_t changeBytes_ = 0;
    uint64_t seq_ = 0;
    int snapshots_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Command> queue_;
    uint64_t durableSeq_ = 0; // under mutex_: written (or failed) up to here
    bool stopping_ = false;
    std::string error_;
    bool errorTaken_ = false;
    // The syncer makes written records durable; the writer never waits for
    // it, so a record reaches the file (and survives a killed process) even
    // while the disk is slow to sync.
    std::condition_variable syncWake_;
    int syncFd_ = -1;         // a dup of the file to sync, or -1
    uint64_t syncSeq_ = 0;    // written up to here
    uint64_t writtenSeq_ = 0; // under mutex_: in the file (not yet synced) up to here
    std::thread writer_;
    std::thread syncer_;
};
