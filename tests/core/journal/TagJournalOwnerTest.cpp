// Who owns a video's journal, what becomes of the journal a run left behind,
// what a failed write does, and by which name a video is known.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "JournalTestSupport.h"
#include "platform/SystemLog.h"

namespace {

using namespace journaltest;

class JournalOwner : public StateHome {
protected:
    // A run that records `presses` tags onto `store` and ends without saving
    // (the journal file stays, as after a crash).
    void crashedRun(const std::string& path, TagDataModel& store, int presses,
                    const char* name = "PG") {
        TagJournal journal;
        ASSERT_TRUE(journal.open(path, SessionStamp{}));
        TagHistory history;
        for (int i = 0; i < presses; ++i)
            journal.changed(
                history.perform(store, TagEdit::record(store, tag(true, float(i), name))), store);
        ASSERT_TRUE(journal.flush());
    }
    std::vector<fs::path> setAside() const { return filesIn(folder(), ".deferred-"); }
};

// A second process on the same video is refused while the first lives, and
// gets the video once the first is killed (the kernel drops the lock).
TEST_F(JournalOwner, AnotherLiveProcessHoldsTheVideoUntilItDies) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        TagJournal journal;
        const char ok = journal.open(video, SessionStamp{}) ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(ok, 'y');

    EXPECT_TRUE(TagJournal::heldElsewhere(video));
    EXPECT_TRUE(TagJournal::heldElsewhere(video)); // a probe takes nothing
    TagJournal mine;
    EXPECT_FALSE(mine.open(video, SessionStamp{}));
    EXPECT_TRUE(mine.file().empty());
    TagDataModel store;
    TagHistory history;
    mine.changed(history.perform(store, TagEdit::record(store, tag(true, 1, "PG"))), store);
    mine.restoreLeftover(store);
    ASSERT_TRUE(mine.flush());
    EXPECT_FALSE(fs::exists(journalPathFor(video))); // nothing journaled
    EXPECT_FALSE(mine.readLeftover().found);

    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(TagJournal::heldElsewhere(video));
    EXPECT_TRUE(mine.open(video, SessionStamp{}));
    EXPECT_FALSE(mine.file().empty());
    EXPECT_FALSE(TagJournal::heldElsewhere(video)); // held here, not elsewhere

    // One owner per process too; close() gives it up.
    TagJournal second;
    EXPECT_FALSE(second.open(video, SessionStamp{}));
    mine.close();
    EXPECT_TRUE(mine.file().empty());
    EXPECT_TRUE(second.open(video, SessionStamp{}));
    // The next open() of another video gives up this one.
    EXPECT_TRUE(second.open((home / "other.mp4").string(), SessionStamp{}));
    EXPECT_TRUE(mine.open(video, SessionStamp{}));
}

// Yes: the restored store starts this run's journal; the old journal goes to
// discarded/ once the new one is on disk, and is not offered again.
TEST_F(JournalOwner, RestoreStartsThisRunsJournal) {
    TagDataModel before;
    crashedRun(video, before, 3);
    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    EXPECT_FALSE(fs::exists(journalPathFor(video))); // set aside at once
    ASSERT_EQ(setAside().size(), 1u);
    JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.found);
    ASSERT_TRUE(found.ours) << found.error;
    EXPECT_EQ(found.file, setAside()[0]);
    EXPECT_FALSE(found.damaged);
    EXPECT_TRUE(sameStore(found.store, before));

    TagDataModel store = copyOf(found.store);
    journal.restoreLeftover(store);
    TagHistory history;
    journal.changed(history.perform(store, TagEdit::record(store, tag(false, 9, "DG"))), store);
    ASSERT_TRUE(journal.flush());
    EXPECT_TRUE(setAside().empty());
    EXPECT_EQ(filesIn(folder() / "discarded").size(), 1u);
    const JournalContents now = readJournal(journalPathFor(video), video);
    ASSERT_TRUE(now.ours);
    EXPECT_TRUE(sameStore(now.store, store));
    EXPECT_FALSE(journal.readLeftover().found); // answered
    journal.close();

    // The next run is offered this run's journal, and only that.
    TagJournal next;
    ASSERT_TRUE(next.open(video, SessionStamp{}));
    found = next.readLeftover();
    ASSERT_TRUE(found.ours);
    EXPECT_TRUE(sameStore(found.store, store));
}

// No: the journal is moved to discarded/, never deleted; files there older
// than 14 days go.
TEST_F(JournalOwner, DiscardMovesItAsideAndPrunesOldOnes) {
    TagDataModel before;
    crashedRun(video, before, 2);
    const fs::path discarded = folder() / "discarded";
    fs::create_directories(discarded);
    spit(discarded / "old.journal", "x");
    spit(discarded / "recent.journal", "y");
    const std::pair<const char*, int> ages[] = {{"old.journal", 15}, {"recent.journal", 13}};
    for (const auto& [name, days] : ages) {
        const timespec t{::time(nullptr) - days * 86400, 0}, times[2] = {t, t};
        ::utimensat(AT_FDCWD, (discarded / name).c_str(), times, 0);
    }

    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    const JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.ours);
    const std::string bytes = slurp(found.file);
    journal.discardLeftover();
    EXPECT_FALSE(fs::exists(found.file));
    EXPECT_FALSE(fs::exists(discarded / "old.journal"));
    EXPECT_TRUE(fs::exists(discarded / "recent.journal"));
    const auto kept = filesIn(discarded, ".deferred-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(slurp(kept[0]), bytes);
    journal.close();
    TagJournal next;
    ASSERT_TRUE(next.open(video, SessionStamp{}));
    EXPECT_FALSE(next.readLeftover().found);
}

// Ask again next time: the journal is offered again even when this run
// records changes and ends without saving too; the newest is offered first,
// the other one after it.
TEST_F(JournalOwner, AQuestionPutOffIsAskedAgainEvenAfterAnotherCrash) {
    TagDataModel first;
    crashedRun(video, first, 2, "ラック");
    TagDataModel second;
    {
        TagJournal journal;
        ASSERT_TRUE(journal.open(video, SessionStamp{}));
        const JournalContents found = journal.readLeftover();
        ASSERT_TRUE(found.ours);
        journal.deferLeftover();
        EXPECT_FALSE(journal.readLeftover().found); // answered for this opening
        TagHistory history;
        for (int i = 0; i < 4; ++i)
            journal.changed(
                history.perform(second, TagEdit::record(second, tag(false, float(i), "モール"))),
                second);
        ASSERT_TRUE(journal.flush());
    } // ends without saving
    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    EXPECT_EQ(setAside().size(), 2u);
    JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.ours);
    EXPECT_TRUE(sameStore(found.store, second)); // the newest
    journal.deferLeftover();
    found = journal.readLeftover();
    ASSERT_TRUE(found.ours);
    EXPECT_TRUE(sameStore(found.store, first)); // then the one put off before
    journal.discardLeftover();
    EXPECT_FALSE(journal.readLeftover().found);
    journal.close();
    TagJournal again;
    ASSERT_TRUE(again.open(video, SessionStamp{}));
    found = again.readLeftover();
    ASSERT_TRUE(found.ours);
    EXPECT_TRUE(sameStore(found.store, second));
}

// A journal that cannot be read whole is never written over: not by the
// next press, and on restore it is first kept in damaged/, byte for byte.
TEST_F(JournalOwner, ADamagedLeftOverIsKeptAsideNeverOverwritten) {
    TagDataModel before;
    crashedRun(video, before, 5);
    std::string bytes = slurp(journalPathFor(video));
    const auto records = recordsOf(bytes);
    for (size_t i = records.back().first + 17; i < records.back().second - 1; i += 2)
        bytes[i] ^= 0x21; // the last change, beyond repair
    spit(journalPathFor(video), bytes);

    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    const JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.ours);
    EXPECT_TRUE(found.damaged);
    EXPECT_EQ(found.lostRecords, 1u);
    EXPECT_EQ(found.store.data.size(), 4u);
    // A press before the answer writes this run's journal, not over it.
    TagDataModel store = copyOf(found.store);
    TagHistory history;
    journal.changed(history.perform(store, TagEdit::record(store, tag(true, 7, "DG"))), store);
    ASSERT_TRUE(journal.flush());
    EXPECT_EQ(slurp(found.file), bytes);
    journal.restoreLeftover(store);
    ASSERT_TRUE(journal.flush());
    EXPECT_FALSE(fs::exists(found.file));
    const auto kept = filesIn(folder() / "damaged");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(slurp(kept[0]), bytes);
    EXPECT_TRUE(sameStore(readJournal(journalPathFor(video), video).store, store));
}

// A file that cannot be read at all is offered as such (the user may be
// told), and kept.
TEST_F(JournalOwner, AnUnreadableLeftOverIsOfferedAsSuchAndKept) {
    fs::create_directories(folder());
    spit(journalPathFor(video), "RUCKJNL2 and then nothing of use");
    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    const JournalContents found = journal.readLeftover();
    EXPECT_TRUE(found.found);
    EXPECT_FALSE(found.ours);
    EXPECT_TRUE(found.damaged);
    EXPECT_FALSE(found.error.empty());
    TagDataModel store;
    TagHistory history;
    journal.changed(history.perform(store, TagEdit::record(store, tag(true, 7, "DG"))), store);
    ASSERT_TRUE(journal.flush());
    EXPECT_EQ(slurp(found.file), "RUCKJNL2 and then nothing of use");
    journal.discardLeftover();
    EXPECT_EQ(filesIn(folder() / "discarded").size(), 1u);
}

// A journal naming another video at this video's name is not offered, and
// stays where it is.
TEST_F(JournalOwner, AJournalOfAnotherVideoIsNotOffered) {
    TagDataModel other;
    const std::string otherVideo = (home / "elsewhere" / "b.mp4").string();
    crashedRun(otherVideo, other, 2);
    ASSERT_NE(journalPathFor(otherVideo), journalPathFor(video));
    EXPECT_EQ(journalPathFor(video).parent_path(), folder());
    fs::rename(journalPathFor(otherVideo), journalPathFor(video));
    const JournalContents read = readJournal(journalPathFor(video), video);
    EXPECT_TRUE(read.found && !read.ours);
    EXPECT_EQ(read.videoPath, otherVideo);
    TagJournal journal;
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    EXPECT_FALSE(journal.readLeftover().found);
    EXPECT_EQ(setAside().size(), 1u);
}

// ---- failed writes -------------------------------------------------------------

class JournalFailures : public StateHome {
protected:
    void SetUp() override {
        StateHome::SetUp();
        previous = setSystemLogSink([this](std::string_view line) {
            std::lock_guard lock(m);
            lines.emplace_back(line);
        });
    }
    void TearDown() override {
        setSystemLogSink(previous);
        StateHome::TearDown();
    }
    size_t logged() {
        std::lock_guard lock(m);
        return lines.size();
    }
    // The writer thread logs a failure after it has told it: waits (a hang
    // guard, not a measure) until `n` lines are there, then counts them.
    size_t loggedOnce(size_t n) {
        for (int i = 0; i < 500 && logged() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return logged();
    }
    void press() {
        journal.changed(history.perform(store, TagEdit::record(store, tag(true, clock += 1, "PG"))),
                        store);
        ASSERT_TRUE(journal.flush());
    }
    // The journal on disk holds the store as it is.
    bool onDisk() {
        const JournalContents back = readJournal(journalPathFor(video), video);
        return back.ours && !back.damaged && sameStore(back.store, store);
    }

    LogSink previous;
    std::mutex m;
    std::vector<std::string> lines;
    TagDataModel store;
    TagHistory history;
    TagJournal journal;
    float clock = 0;
};

// After a failure every change retries with a fresh snapshot, so once writes
// work again the journal holds every change; the failure is told once and
// logged once per episode (from a failure to the next write that works).
TEST_F(JournalFailures, AfterAFailedWriteTheNextChangeStartsAgain) {
    // The folder cannot be made: a file is in its place.
    spit(folder(), "not a folder");
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    for (int i = 0; i < 5; ++i)
        press();
    EXPECT_FALSE(journal.takeError().empty());
    EXPECT_TRUE(journal.takeError().empty());
    EXPECT_EQ(loggedOnce(1), 1u);
    // The video opened again is a new episode, told again.
    ASSERT_TRUE(journal.open(video, SessionStamp{}));
    press();
    EXPECT_FALSE(journal.takeError().empty());
    EXPECT_EQ(loggedOnce(2), 2u);

    // Space is back: the next change puts the whole store on disk.
    fs::remove(folder());
    press();
    EXPECT_TRUE(onDisk());
    EXPECT_TRUE(journal.takeError().empty());
    EXPECT_EQ(logged(), 2u);
    press();
    EXPECT_TRUE(onDisk());

    // A full disk (a file size limit here): appends and the retries fail, one
    // episode; then they work again.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    for (int i = 0; i < 3; ++i)
        press();
    ::setrlimit(RLIMIT_FSIZE, &old);
    const std::string full = journal.takeError();
    EXPECT_NE(full.find(std::strerror(EFBIG)), std::string::npos) << full;
    EXPECT_TRUE(journal.takeError().empty());
    EXPECT_EQ(logged(), 3u);
    EXPECT_FALSE(onDisk());
    press();
    EXPECT_TRUE(onDisk());
    EXPECT_EQ(logged(), 3u);

    // A folder where the journal file goes.
    journal.retire();
    ASSERT_TRUE(journal.flush());
    fs::create_directories(journalPathFor(video));
    press();
    press();
    EXPECT_FALSE(journal.takeError().empty());
    EXPECT_EQ(logged(), 4u);
    fs::remove(journalPathFor(video));
    press();
    EXPECT_TRUE(onDisk());
    EXPECT_EQ(store.data.size(), 15u);
    EXPECT_TRUE(journal.takeError().empty());
    EXPECT_EQ(logged(), 4u);
}

// ---- the name of a video -------------------------------------------------------

// The previous release's journal name: the lexically normal absolute path.
fs::path legacyJournalPath(const std::string& path) {
    const std::string full = fs::absolute(path).lexically_normal().string();
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : full) {
        h ^= c;
        h *= 1099511628211ull;
    }
    std::string name;
    for (char c : fs::path(full).filename().string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_';
        name.push_back(plain ? c : '_');
    }
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(h));
    return journalFolder() / (name + "-" + hash + ".journal");
}

// The same video through a link to it, a linked folder or a path with ".."
// has the same journal, and is asked about it.
TEST_F(JournalOwner, AVideoReachedThroughALinkOrDotDotIsTheSameVideo) {
    fs::create_directories(home / "videos");
    spit(video, "not really a video");
    fs::create_symlink(video, home / "link.mp4");
    fs::create_directory_symlink(home / "videos", home / "shelf");
    const std::string link = (home / "link.mp4").string();
    const std::string viaFolder = (home / "shelf" / "match.mp4").string();
    const std::string dotted = (home / "videos" / ".." / "videos" / "." / "match.mp4").string();
    for (const std::string& other : {link, viaFolder, dotted}) {
        EXPECT_EQ(journalPathFor(other), journalPathFor(video)) << other;
        EXPECT_EQ(canonicalVideoPath(other), canonicalVideoPath(video)) << other;
    }
    TagDataModel before;
    crashedRun(link, before, 3);
    TagJournal journal;
    ASSERT_TRUE(journal.open(dotted, SessionStamp{}));
    JournalContents found = journal.readLeftover();
    ASSERT_TRUE(found.ours) << found.error;
    EXPECT_EQ(found.videoPath, canonicalVideoPath(video));
    EXPECT_TRUE(sameStore(found.store, before));
    journal.discardLeftover();
    // Held through one name, held through all.
    TagJournal other;
    EXPECT_FALSE(other.open(viaFolder, SessionStamp{}));

    // A journal of the previous release under the name of the link itself.
    journal.close();
    TagDataModel old;
    for (int i = 0; i < 2; ++i)
        old.appent(tag(false, float(i), "DG"));
    const fs::path legacy = legacyJournalPath(link);
    ASSERT_NE(legacy, journalPathFor(link));
    spit(legacy, v1::begin(fs::absolute(link).lexically_normal().string(), SessionStamp{}, old));
    ASSERT_TRUE(journal.open(link, SessionStamp{}));
    found = journal.readLeftover();
    ASSERT_TRUE(found.ours) << found.error;
    EXPECT_EQ(found.file, legacy);
    EXPECT_TRUE(sameStore(found.store, old));
    journal.discardLeftover();
    EXPECT_FALSE(fs::exists(legacy));
}

} // namespace
