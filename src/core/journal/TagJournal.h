#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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
// The name a video is known by: its absolute path with symbolic links, "." and
// ".." resolved as far as the path exists (std::filesystem::weakly_canonical).
std::string canonicalVideoPath(const std::string& videoPath);
// One file per video, named from its canonical path, so the same video reached
// through a link or a path with ".." has the same journal.
std::filesystem::path journalPathFor(const std::string& videoPath);

// What a journal file holds.
struct JournalContents {
    bool found = false;         // a file is there
    bool ours = false;          // it names the video asked about and could be read
    std::filesystem::path file; // the file read
    std::string videoPath;      // the video it names
    SessionStamp session;       // the session file it began from
    TagDataModel store;         // the store at its last change that could be read
    size_t changes = 0;         // changes replayed after the snapshot
    // Part of what the journal recorded could not be read: the store lacks
    // those changes (or snapshot tags) and the user should be told. A torn
    // last record (a write cut short by a kill or a power cut) is no damage.
    bool damaged = false;
    size_t lostRecords =
        0;               // records known to be lost (a lower bound when the damage is at the end)
    size_t lostTags = 0; // tags of the snapshot lost with both copies of their record
    size_t repaired = 0; // damaged records read whole all the same (a bit corrected, a second copy)
    int version = 0;     // the file's format (1 or 2)
    std::string error;   // the file could not be read
};

// One snapshot record's share of a journal's encoded tags (internal).
struct JournalChunk {
    uint32_t offset = 0; // into the encoded tags
    uint32_t tags = 0;
    bool full = false; // the tags carry their ends and labels
};

// Reads `file` and rebuilds the store it records; `videoPath` must be the
// video it names (compared by canonical path). Any bytes are safe: memory
// stays within a small multiple of the file's size.
JournalContents readJournal(const std::filesystem::path& file, const std::string& videoPath);

// The journal of the open video's tag store. Every change is appended as a
// record (length, checksum, sequence number, payload) and made durable by a
// writer thread, so the caller never waits for the disk. A journal begins with
// a snapshot of the whole store and starts afresh from a snapshot when its
// changes outgrow it several times over, and after a write failed.
//
// One process at a time owns a video: open() claims it with a lock the kernel
// drops when the process ends, however it ends.
class TagJournal {
public:
    TagJournal();
    ~TagJournal(); // writes what is pending first, then releases the claim

    // Claims `videoPath` for this process and remembers the session stamp. False
    // when another live process holds it: then nothing is journaled and file() is
    // empty. (Another TagJournal of this process holding it counts as well.)
    // A journal the video left behind is set aside for readLeftover(); nothing
    // is written until the first change.
    bool open(const std::string& videoPath, const SessionStamp& session);
    void close(); // releases the claim; the journal file stays (unsaved changes)
    // True when another live process holds `videoPath` (a probe: claims nothing).
    static bool heldElsewhere(const std::string& videoPath);
    // Whether a run left a journal of `videoPath` behind (at its own name or
    // set aside) that names it: changes no session file holds. A probe: moves
    // and claims nothing.
    static bool leftBehind(const std::string& videoPath);

    // After open(): the newest journal this video left behind (a run that ended
    // without saving, or one whose question was put off), read and replayed.
    // `found` false when there is none. One that names this video is preferred;
    // failing that, one that cannot be read at all (`ours` false, `error` set).
    JournalContents readLeftover();
    // The three answers to the question about it:
    // The restored store starts this run's journal; a left-over that could not
    // be read whole is first kept aside (journalFolder()/damaged/), never
    // overwritten; a whole one goes to discarded/ once the new journal is on disk.
    void restoreLeftover(const TagDataModel& restored);
    // Moved to journalFolder()/discarded/ (files there older than 14 days are
    // pruned), never deleted.
    void discardLeftover();
    // Kept for the next question (this run's journal never writes over it).
    void deferLeftover();

    // `edit` has just been applied to `store`.
    void changed(const TagEdit& edit, const TagDataModel& store);
    // Takes over a store as the journal's new start.
    void restart(const TagDataModel& store);
    // Removes this run's journal file (after a save).
    void retire();
    // This run's changes were given up (no to saving them): the journal is
    // moved into the discarded folder, where a wrong answer can be undone
    // by hand.
    void discard();
    // The session file changed on disk (after a save).
    void setSession(const SessionStamp& session) { session_ = session; }

    const std::filesystem::path& file() const { return file_; }
    // Waits until everything handed over so far is on disk (or failed).
    bool flush(int timeoutMs = 5000);
    // The failure of the current failure episode, once; empty when none or
    // already taken. An episode begins with a failed write and ends with the
    // next successful one (each change after a failure retries with a fresh
    // snapshot); open() starts afresh. The system log gets one line per episode.
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
    // Tags per snapshot record (each written twice).
    static constexpr uint32_t kTagsPerSnapshotRecord = 16;

private:
    struct Command {
        enum Op { Replace, Append, Remove, Discard } op;
        std::filesystem::path file;
        std::string bytes; // Replace: the header's payload; Append: the change's payload
        std::string rows;  // Replace: the snapshot's tags, encoded
        std::vector<JournalChunk> chunks; // Replace: the snapshot's records
        std::string match;                // Replace: the match record's payload, or empty
        uint8_t type = 0;                 // Append: the record type
        uint64_t seq = 0;
        uint64_t generation = 0; // the journal (snapshot) it belongs to
    };
    struct Outcome; // of one command, for the failure episodes
    void submit(Command command);
    void writerLoop();
    void syncerLoop();
    void startFrom(const TagDataModel& store);
    void append(const TagEdit& edit);
    bool claim(const std::filesystem::path& lock);
    void releaseClaim();
    // Under mutex_: the failure episode after `outcomes`; returns the line for
    // the system log when an episode began.
    std::string note(const std::vector<Outcome>& outcomes);
    void forget();

    std::string video_;   // canonical
    std::string asGiven_; // absolute and lexically normal, as the previous release named journals
    std::filesystem::path file_;
    SessionStamp session_;
    bool started_ = false;
    size_t snapshotBytes_ = 0;
    size_t changeBytes_ = 0;
    uint64_t seq_ = 0;
    int snapshots_ = 0;
    uint64_t generation_ = 0;
    // The generation of the last journal a write of which failed (writer and
    // syncer threads): the next change starts a new one.
    std::atomic<uint64_t> brokenGeneration_{0};

    // The claim: a lock file beside the journal.
    std::filesystem::path lockPath_;
    int lockFd_ = -1;
    bool claimed_ = false;
    // The left-over offered by readLeftover(), and those answered this opening.
    std::filesystem::path leftover_;
    bool leftoverWhole_ = false;
    std::set<std::filesystem::path> answered_;

    std::mutex mutex_;
    std::condition_variable wake_, done_;
    std::deque<Command> queue_;
    uint64_t durableSeq_ = 0; // under mutex_: written (or failed) up to here
    bool stopping_ = false;
    std::string error_;
    bool errorTaken_ = false;
    bool inEpisode_ = false; // under mutex_: the last write failed
    // The syncer makes written records durable; the writer never waits for
    // it, so a record reaches the file (and survives a killed process) even
    // while the disk is slow to sync.
    std::condition_variable syncWake_;
    int syncFd_ = -1; // a dup of the file to sync, or -1
    uint64_t syncGeneration_ = 0;
    uint64_t syncSeq_ = 0;    // written up to here
    uint64_t writtenSeq_ = 0; // under mutex_: in the file (not yet synced) up to here
    std::thread writer_;
    std::thread syncer_;
};
