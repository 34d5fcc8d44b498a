#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "SubModuleClass/TagFileManager.h"
#include "journal/TagJournal.h"
#include "platform/AtomicFile.h"
#include "support/ChildProcess.h"
#include "support/Scratch.h"

using ::testing::HasSubstr;

namespace fs = std::filesystem;

// Every umask() call of this program, ours included, comes here: the tests
// count them to see that reading the mask never sets it.
namespace {
std::atomic<int> umaskCalls{0};
}
extern "C" mode_t umask(mode_t mask) noexcept {
    ++umaskCalls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace {

class AtomicFile : public ::testing::Test {
protected:
    void SetUp() override { dir = freshScratchDir("rucktag-atomic-"); }
    void TearDown() override { fs::remove_all(dir); }
    std::set<std::string> names() const { return namesIn(dir); }
    fs::path dir;
};

} // namespace

TEST_F(AtomicFile, SpecialFilesAreRefusedWithoutWaitingOrReadingAndNeverReplaced) {
    const fs::path fifo = dir / "fifo.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const fs::path zero = dir / "zero.csv";
    fs::create_symlink("/dev/zero", zero);
    const fs::path socket = dir / "socket.csv";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

    // Every reader of a session or a journal comes back at once with the reason.
    for (const fs::path& file : {fifo, zero, socket}) {
        SCOPED_TRACE(file.filename().string());
        EXPECT_EQ(inChild([&] {
                      std::string contents, error;
                      int code = 0;
                      return !readWholeFile(file, contents, error, &code) &&
                             code == kNotRegularFile && contents.empty() &&
                             error == file.string() + ": Not a regular file";
                  }),
                  "exit 0");
        EXPECT_EQ(inChild([&] {
                      const auto loaded = TagFileManager::readCSVFile(file);
                      return loaded.errorCode == kNotRegularFile && loaded.damaged() &&
                             loaded.rows.empty();
                  }),
                  "exit 0");
        EXPECT_EQ(inChild([&] {
                      const JournalContents journal = readJournal(file, "/v/match.mp4");
                      return journal.found && !journal.ours && !journal.error.empty();
                  }),
                  "exit 0");
    }
    ::close(sock);

    // A write leaves a FIFO, a device and a link to either as they are, and
    // no temporary file.
    const fs::path device = dir / "device.csv";
    const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0600, ::makedev(1, 3)) == 0;
    fs::create_symlink(haveDevice ? "device.csv" : "fifo.csv", dir / "link.csv");
    for (const fs::path& file : {fifo, dir / "link.csv", device}) {
        if (file == device && !haveDevice)
            continue;
        SCOPED_TRACE(file.filename().string());
        EXPECT_EQ(writeFileAtomically(file, "tags\n"), file.string() + ": Not a regular file");
    }
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "link.csv")));
    if (haveDevice) {
        EXPECT_TRUE(fs::is_character_file(fs::symlink_status(device)));
    }
    EXPECT_EQ(names().size(), haveDevice ? 5u : 4u);
}

TEST_F(AtomicFile, ALinkedFileIsWrittenThroughKeepingTheTargetsOwnerAndMode) {
    // match.csv -> real/match.csv, and a link to that link.
    fs::create_directories(dir / "real");
    const fs::path real = dir / "real" / "match.csv";
    spit(real, "old\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(real.c_str(), 1234, 5678), 0);
    }
    fs::create_symlink("real/match.csv", dir / "match.csv");
    fs::create_symlink(dir / "match.csv", dir / "again.csv");

    ASSERT_EQ(writeFileAtomically(dir / "again.csv", "new\n"), "");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "match.csv")));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "again.csv")));
    EXPECT_EQ(slurp(real), "new\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 5678u);
    }
    // The temporary file was made and renamed beside the target.
    EXPECT_EQ(names(), (std::set<std::string>{"again.csv", "match.csv", "real"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "real"), {}), 1);

    // A plain file keeps its owner too.
    spit(dir / "plain.csv", "old\n");
    if (root) {
        ASSERT_EQ(::chown((dir / "plain.csv").c_str(), 4321, 8765), 0);
    }
    ASSERT_EQ(writeFileAtomically(dir / "plain.csv", "new\n"), "");
    ASSERT_EQ(::stat((dir / "plain.csv").c_str(), &st), 0);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 8765u);
    }

    // A link whose target is missing makes the target; a loop is refused.
    fs::create_symlink("real/later.csv", dir / "later.csv");
    ASSERT_EQ(writeFileAtomically(dir / "later.csv", "x"), "");
    EXPECT_EQ(slurp(dir / "real" / "later.csv"), "x");
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "later.csv")));
    fs::create_symlink("loop2.csv", dir / "loop1.csv");
    fs::create_symlink("loop1.csv", dir / "loop2.csv");
    EXPECT_THAT(writeFileAtomically(dir / "loop1.csv", "x"), HasSubstr("Too many levels"));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "loop1.csv")));
    EXPECT_EQ(names().size(), 7u);

    // In a folder like /tmp, another user's link is not followed.
    if (root) {
        fs::create_directories(dir / "shared");
        ASSERT_EQ(::chmod((dir / "shared").c_str(), 01777), 0);
        fs::create_symlink(real, dir / "shared" / "theirs.csv");
        ASSERT_EQ(::lchown((dir / "shared" / "theirs.csv").c_str(), 1234, 1234), 0);
        EXPECT_THAT(writeFileAtomically(dir / "shared" / "theirs.csv", "x"),
                    HasSubstr("Permission denied"));
        EXPECT_EQ(slurp(real), "new\n");
        EXPECT_TRUE(fs::is_symlink(fs::symlink_status(dir / "shared" / "theirs.csv")));
        // One's own link there is followed.
        ASSERT_EQ(::lchown((dir / "shared" / "theirs.csv").c_str(), 0, 0), 0);
        EXPECT_EQ(writeFileAtomically(dir / "shared" / "theirs.csv", "ours\n"), "");
        EXPECT_EQ(slurp(real), "ours\n");
    }
}

TEST_F(AtomicFile, NewFilesTakeTheUmaskWhichIsReadButNeverSet) {
    const mode_t saved = ::umask(022);
    for (mode_t mask : {mode_t(027), mode_t(002), mode_t(077)}) {
        ::umask(mask);
        const int before = umaskCalls;
        EXPECT_EQ(processUmask(), mask);
        const fs::path file = dir / ("f" + std::to_string(mask) + ".csv");
        ASSERT_EQ(writeFileAtomically(file, "x"), "");
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
        EXPECT_EQ(umaskCalls, before) << "the mask was set to be read";
    }
    ::umask(saved);
}

TEST_F(AtomicFile, LeftoversOfCutShortWritesGoOthersStay) {
    const fs::path target = dir / "s.csv";
    spit(target, "old");
    // What a killed writer leaves, and names that are not its.
    for (const char* name : {".s.csv.Ab12Zz", ".s.csv.000000", ".s.csv.abc", ".s.csv.Ab12Z!",
                             ".t.csv.Ab12Zz", "s.csv.Ab12Zz", ".s.csv.Ab12Zz.x"})
        spit(dir / name, "left");
    // One that a live writer holds.
    spit(dir / ".s.csv.LiVe00", "busy");
    const int held = ::open((dir / ".s.csv.LiVe00").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    ASSERT_EQ(writeFileAtomically(target, "new"), "");
    EXPECT_EQ(slurp(target), "new");
    EXPECT_EQ(names(),
              (std::set<std::string>{".s.csv.Ab12Z!", ".s.csv.Ab12Zz.x", ".s.csv.LiVe00",
                                     ".s.csv.abc", ".t.csv.Ab12Zz", "s.csv", "s.csv.Ab12Zz"}));
    ::close(held); // the writer is gone
    EXPECT_EQ(removeStaleTemporaries(target), 1);
    EXPECT_FALSE(fs::exists(dir / ".s.csv.LiVe00"));
}

TEST_F(AtomicFile, WritersOfOneTargetNeverTakeEachOthersFiles) {
    // Each write first clears leftovers: it must never take the file another
    // writer is filling, which would make that writer's rename fail.
    const fs::path target = dir / "s.csv";
    const std::string a(200000, 'a'), b(200000, 'b');
    std::atomic<int> failures{0};
    auto writer = [&](const std::string& text) {
        for (int i = 0; i < 150; ++i)
            if (!writeFileAtomically(target, text).empty())
                ++failures;
    };
    std::thread t1(writer, std::cref(a)), t2(writer, std::cref(b));
    t1.join();
    t2.join();
    EXPECT_EQ(failures, 0);
    const std::string last = slurp(target);
    EXPECT_TRUE(last == a || last == b);
    EXPECT_EQ(names(), std::set<std::string>{"s.csv"});
}

TEST_F(AtomicFile, DamagedFilesAreKeptUnderNewNamesNeverReplacingOne) {
    const fs::path file = dir / "match.csv";
    spit(file, "damaged\n");
    std::string first, second;
    ASSERT_EQ(keepDamagedCopy(file, first), "");
    ASSERT_EQ(keepDamagedCopy(file, second), "");
    EXPECT_EQ(first.rfind((dir / "match.csv.damaged-").string(), 0), 0u) << first;
    // YYYYmmdd-HHMMSS
    EXPECT_EQ(first.size(), (dir / "match.csv.damaged-").string().size() + 15) << first;
    EXPECT_EQ(second, first + "-2");
    EXPECT_EQ(slurp(file), "damaged\n");

    // Replacing the file leaves the kept copies whole.
    ASSERT_EQ(writeFileAtomically(file, "new\n"), "");
    EXPECT_EQ(slurp(first), "damaged\n");
    EXPECT_EQ(slurp(second), "damaged\n");
    EXPECT_EQ(slurp(file), "new\n");

    std::string none;
    EXPECT_NE(keepDamagedCopy(dir / "missing.csv", none), "");
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(names().size(), 3u);
}
