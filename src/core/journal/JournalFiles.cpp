#include "journal/JournalFiles.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "journal/JournalFormat.h"
#include "journal/TagJournal.h"
#include "platform/AtomicFile.h"
#include "platform/SystemLog.h"

namespace fs = std::filesystem;
using journal::fnv1a;

SessionStamp stampOfFile(const fs::path& file) {
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

fs::path journalFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return fs::path(state) / "rucktag";
    const char* home = std::getenv("HOME");
    return fs::path(home && *home ? home : "/tmp") / ".local/state/rucktag";
}

std::string canonicalVideoPath(const std::string& videoPath) {
    if (videoPath.empty())
        return videoPath;
    const std::string lexical = journal::lexicalVideoPath(videoPath);
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(lexical, ec);
    return ec ? lexical : canonical.lexically_normal().string();
}

fs::path journalPathFor(const std::string& videoPath) {
    return journal::journalPathOf(canonicalVideoPath(videoPath));
}

namespace journal {

std::string lexicalVideoPath(const std::string& videoPath) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(videoPath, ec);
    return (ec ? fs::path(videoPath) : absolute).lexically_normal().string();
}

fs::path journalPathOf(const std::string& full) {
    // A readable part of the name, and the hash of the whole path to tell
    // videos of the same name apart.
    std::string name;
    for (char c : fs::path(full).filename().string()) {
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

bool sameVideo(const std::string& named, const std::string& asked) {
    if (named == asked)
        return true;
    if (named.empty() || named.size() > 4096 || named.find('\0') != std::string::npos ||
        named.front() != '/')
        return false;
    return canonicalVideoPath(named) == canonicalVideoPath(asked);
}

// ---- moving journals -------------------------------------------------------

namespace {

void syncFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames `from` to `to` unless `to` exists.
int renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without it: we hold the video's claim, so nobody else
    // moves its journals meanwhile.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return EEXIST;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

constexpr auto kDiscardedKept = std::chrono::hours(24 * 14);

void pruneDiscarded(const fs::path& folder) {
    std::error_code ec;
    const auto now = std::chrono::system_clock::now();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        struct stat st {};
        if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const auto modified =
            std::chrono::system_clock::time_point(std::chrono::seconds(st.st_mtim.tv_sec));
        if (now - modified > kDiscardedKept)
            ::unlink(it->path().c_str());
    }
}

// A left-over journal of `file` set aside: "NAME-hash.deferred-<ns>.journal".
std::string asidePrefix(const fs::path& file) {
    return file.stem().string() + ".deferred-";
}

} // namespace

bool isRegular(const fs::path& file) {
    struct stat st {};
    return ::lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string moveInto(const fs::path& file, const fs::path& folder, bool touch) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    const std::string stem = file.stem().string(), extension = file.extension().string();
    for (int n = 1; n < 1000; ++n) {
        const fs::path target = folder / (n == 1 ? file.filename().string()
                                                 : stem + "-" + std::to_string(n) + extension);
        const int err = renameNoReplace(file, target);
        if (err == EEXIST)
            continue;
        if (err != 0)
            return file.string() + ": " + std::strerror(err);
        if (touch) // counts its days from now
            ::utimensat(AT_FDCWD, target.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
        syncFolder(folder);
        syncFolder(file.parent_path());
        return {};
    }
    return file.string() + ": " + std::strerror(EEXIST);
}

void moveToDiscarded(const fs::path& file, const fs::path& folder) {
    const std::string error = moveInto(file, folder, true);
    if (!error.empty())
        systemLog(error);
    pruneDiscarded(folder);
}

// ---- left-overs ------------------------------------------------------------

void setAside(const fs::path& file) {
    if (!isRegular(file))
        return;
    const fs::path folder = file.parent_path();
    const auto stamp = std::chrono::system_clock::now().time_since_epoch().count();
    for (int n = 0; n < 1000; ++n) {
        const fs::path aside =
            folder / (asidePrefix(file) + std::to_string(stamp) +
                      (n ? "-" + std::to_string(n) : std::string()) + ".journal");
        const int err = renameNoReplace(file, aside);
        if (err != EEXIST) {
            if (err != 0)
                systemLog(file.string() + ": " + std::strerror(err));
            break;
        }
    }
}

std::vector<fs::path> leftoverCandidates(const fs::path& file, const fs::path& legacy,
                                         const std::set<fs::path>& answered) {
    const std::string prefix = asidePrefix(file);
    std::vector<std::pair<int64_t, fs::path>> candidates;
    auto consider = [&](const fs::path& path) {
        struct stat st {};
        if (answered.count(path) || ::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return;
        candidates.emplace_back(
            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec, path);
    };
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > prefix.size() + 8 && name.compare(0, prefix.size(), prefix) == 0 &&
            name.compare(name.size() - 8, 8, ".journal") == 0)
            consider(it->path());
    }
    if (legacy != file)
        consider(legacy);
    // Newest first.
    std::sort(candidates.begin(), candidates.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second > b.second;
    });
    std::vector<fs::path> paths;
    paths.reserve(candidates.size());
    for (auto& candidate : candidates)
        paths.push_back(std::move(candidate.second));
    return paths;
}

// ---- the owner lock --------------------------------------------------------

namespace {

// The claims this process holds, by lock file: another TagJournal of the
// process cannot take them either, and heldElsewhere() does not count them.
std::mutex claimsMutex;
std::set<std::string>& claims() {
    static std::set<std::string> held;
    return held;
}
bool claimedHere(const fs::path& lock) {
    std::lock_guard guard(claimsMutex);
    return claims().count(lock.string()) > 0;
}
void unclaim(const fs::path& lock) {
    std::lock_guard guard(claimsMutex);
    claims().erase(lock.string());
}

// The lock of an open file description, dropped by the kernel when the last
// descriptor of it closes (the process ending, however it ends). Unlike a
// flock(), it can be probed without taking it (F_OFD_GETLK).
bool lockedByOther(int fd) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
}
bool lockedByOther(const fs::path& lock) {
    const int fd = ::open(lock.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool held = lockedByOther(fd);
    ::close(fd);
    return held;
}

} // namespace

fs::path lockPathOf(const fs::path& file) {
    return file.parent_path() / (file.stem().string() + ".lock");
}

bool claimLock(const fs::path& lock, int& fd) {
    {
        std::lock_guard guard(claimsMutex);
        if (!claims().insert(lock.string()).second)
            return false; // another TagJournal of this process
    }
    std::error_code ec;
    fs::create_directories(lock.parent_path(), ec);
    fd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
            const int err = errno;
            ::close(fd);
            fd = -1;
            if (err == EAGAIN || err == EACCES) {
                unclaim(lock);
                return false;
            }
            // No locks on this file system: journal unguarded.
        }
    } else if (lockedByOther(lock)) {
        // No lock file can be made (a folder that cannot be written): nobody
        // journals here, but a holder of an old lock file still counts.
        unclaim(lock);
        return false;
    }
    return true;
}

void releaseLock(const fs::path& lock, int fd) {
    if (fd >= 0)
        ::close(fd);
    unclaim(lock);
}

bool lockHeldElsewhere(const fs::path& lock) {
    return !claimedHere(lock) && lockedByOther(lock);
}

} // namespace journal
