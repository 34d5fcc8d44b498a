#include <atomic>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

#include "SubModuleClass/AtomicFile.h"
#include "support/Scratch.h"

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
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    fs::path dir;
};

} // namespace

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
              (std::vector<std::string>{".s.csv.Ab12Z!", ".s.csv.Ab12Zz.x", ".s.csv.LiVe00",
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
    EXPECT_EQ(names(), std::vector<std::string>{"s.csv"});
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
