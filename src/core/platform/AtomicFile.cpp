#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/UnicodeText.h"

std::string fileErrorText(int err) {
    return err == kNotRegularFile ? "Not a regular file" : std::strerror(err);
}

namespace {

std::string describe(const std::filesystem::path& path, int err) {
    return path.string() + ": " + fileErrorText(err);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::filesystem::path folderOf(const std::filesystem::path& target) {
    return target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
}

// Temporary files are named ".NAME.XXXXXX", the X's filled in by mkostemp;
// NAME is cut so that the whole fits the file system's name limit.
constexpr size_t kTemporaryExtra = 8; // the leading dot and ".XXXXXX"

std::string temporaryName(const std::filesystem::path& target) {
    const size_t limit = fileNameLimit(folderOf(target));
    const std::string name = target.filename().string();
    return std::string(utf8Prefix(name, limit > kTemporaryExtra ? limit - kTemporaryExtra : 1));
}

// The NAME of a temporary file's name, or nothing when it is none of ours.
std::optional<std::string_view> nameOfTemporary(std::string_view entry) {
    if (entry.size() < kTemporaryExtra + 1 || entry.front() != '.' ||
        entry[entry.size() - 7] != '.')
        return std::nullopt;
    for (char c : entry.substr(entry.size() - 6))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return std::nullopt;
    return entry.substr(1, entry.size() - kTemporaryExtra);
}

// The file a write to `given` replaces: symbolic links followed to their
// final target (which need not exist). Returns 0 or an errno value.
int finalTarget(const std::filesystem::path& given, std::filesystem::path& target) {
    target = given;
    for (int hops = 0;; ++hops) {
        struct stat st {};
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        if (hops == 40)
            return ELOOP;
        // The system's own rule for opening through links: in a sticky folder
        // anyone may write to (/tmp), only a link of ours or of the folder's
        // owner is followed, so no other user's link sends the write elsewhere.
        struct stat folder {};
        if (::stat(folderOf(target).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
            (folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid() && st.st_uid != folder.st_uid)
            return EACCES;
        std::error_code ec;
        const std::filesystem::path link = std::filesystem::read_symlink(target, ec);
        if (ec)
            return ec.value();
        // Relative to the link's own folder; ".." is left to the system, which
        // knows where a linked folder's parent really is.
        target = link.is_absolute() ? link : folderOf(target) / link;
    }
}

void syncFolder(const std::filesystem::path& folder) {
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

// Only where /proc is missing: read once while the process starts, before any
// thread of ours exists.
const mode_t startupUmask = [] {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}();

} // namespace

mode_t processUmask() {
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(f);
        if (found)
            return static_cast<mode_t>(mask & 0777);
    }
    return startupUmask;
}

size_t fileNameLimit(const std::filesystem::path& folder) {
    // A folder yet to be made is on the file system of the nearest one above.
    std::filesystem::path existing = folder;
    std::error_code ec;
    while (existing.has_relative_path() && !std::filesystem::exists(existing, ec))
        existing = existing.parent_path();
    if (existing.empty())
        existing = ".";
    const long limit = ::pathconf(existing.c_str(), _PC_NAME_MAX);
    return limit > 0 && limit < NAME_MAX ? static_cast<size_t>(limit) : NAME_MAX;
}

bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ea, eb;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ea);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(b, eb);
    if (!ea && !eb && ca == cb)
        return true;
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool readWholeFile(const std::filesystem::path& path, std::string& contents, std::string& error,
                   int* errorCode, const std::function<bool(size_t read, size_t size)>& progress) {
    auto fail = [&](int err) {
        error = describe(path, err);
        if (errorCode)
            *errorCode = err;
        return false;
    };
    auto kind = [](mode_t mode) {
        return S_ISREG(mode) ? 0 : S_ISDIR(mode) ? EISDIR : kNotRegularFile;
    };
    // Devices are not even opened (opening some has effects of its own).
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && kind(st.st_mode))
        return fail(kind(st.st_mode));
    // Without O_NONBLOCK, opening a FIFO that took the file's place since
    // would wait for a writer; whatever was opened is looked at before a
    // byte is read.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    const int err = ::fstat(fd, &st) != 0 ? errno : kind(st.st_mode);
    if (err) {
        ::close(fd);
        return fail(err);
    }
    // Read straight into the result; grow only if the file grew meanwhile.
    contents.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
    const size_t size = contents.size();
    // Pieces small enough for a progress bar to move and a cancel to be prompt.
    const size_t piece = progress ? size_t(1) << 20 : SIZE_MAX;
    size_t used = 0;
    for (;;) {
        if (progress && !progress(used, size)) {
            ::close(fd);
            return fail(ECANCELED);
        }
        if (used == contents.size())
            contents.resize(contents.size() + (1 << 16));
        const ssize_t n =
            ::read(fd, contents.data() + used, std::min(contents.size() - used, piece));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            ::close(fd);
            return fail(err);
        }
        if (n == 0)
            break;
        used += static_cast<size_t>(n);
    }
    contents.resize(used);
    ::close(fd);
    return true;
}

int removeStaleTemporaries(const std::filesystem::path& folder,
                           const std::function<bool(std::string_view name)>& isOurs) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<std::string_view> name = nameOfTemporary(entry->d_name);
        if (!name || !isOurs(*name))
            continue;
        const std::filesystem::path path = folder / entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A writer holds its lock until the rename: a lock we can take means
        // the writer is gone. The name must still be this very file.
        struct stat held {
        }, named{};
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(path.c_str(), &named) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino &&
            ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

int removeStaleTemporaries(const std::filesystem::path& target) {
    const std::string name = temporaryName(target);
    return removeStaleTemporaries(folderOf(target),
                                  [&name](std::string_view found) { return found == name; });
}

int createLockedTemporary(const std::filesystem::path& target, std::string& temp) {
    const std::filesystem::path pattern = folderOf(target) / ("." + temporaryName(target) + ".");
    for (int attempt = 0;; ++attempt) {
        temp = pattern.string() + "XXXXXX";
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        // Held until the file is renamed, so that no other writer's clean-up
        // takes it for a leftover. Where locks are not supported nobody can
        // take it either, and leftovers simply stay.
        if (::flock(fd, LOCK_EX) != 0)
            return fd;
        // Another writer's clean-up may have removed it before we locked it.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink == 0 && attempt < 8) {
            ::close(fd);
            continue;
        }
        return fd;
    }
}

std::string writeFileAtomically(const std::filesystem::path& given, std::string_view contents) {
    std::filesystem::path target;
    if (const int err = finalTarget(given, target))
        return describe(given, err);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        return describe(given, S_ISDIR(old.st_mode) ? EISDIR : kNotRegularFile);
    const std::filesystem::path folder = folderOf(target);
    removeStaleTemporaries(target);

    std::string temp;
    const int fd = createLockedTemporary(target, temp);
    if (fd < 0)
        return describe(given, errno);

    int err = 0;
    // mkostemp makes the file ours and private: give it the old file's owner
    // (where we may) and mode, or what a newly created file would get. The
    // owner first, as changing it clears the set-ID bits.
    struct stat made {};
    if (existed && ::fstat(fd, &made) == 0 &&
        (made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0 && errno != EPERM)
        err = errno;
    const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~processUmask());
    if (!err && ::fchmod(fd, mode) != 0 && errno != EPERM)
        err = errno;
    if (!err && !writeAll(fd, contents))
        err = errno;
    if (!err && ::fsync(fd) != 0)
        err = errno;
    if (!err && ::rename(temp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err)
        ::unlink(temp.c_str());
    // Closing drops the lock, so only after the rename.
    ::close(fd);
    if (err)
        return describe(given, err);
    // Make the rename itself durable.
    syncFolder(folder);
    return {};
}

std::string keepDamagedCopy(const std::filesystem::path& file, std::string& kept) {
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    const std::string base = file.string() + ".damaged-" + stamp;

    for (int n = 1; n < 1000; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        // A second name for the same file: nothing to read, and it never
        // replaces an existing file.
        if (::link(file.c_str(), candidate.c_str()) == 0) {
            syncFolder(folderOf(file));
            kept = candidate;
            return {};
        }
        if (errno == EEXIST)
            continue;
        if (errno == ENOENT)
            return describe(file, ENOENT);
        // No hard links here (FAT cards, some shares): copy it.
        const int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0)
            return describe(file, errno);
        struct stat st {};
        ::fstat(in, &st);
        const int out = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                               (st.st_mode & 0666) | 0600);
        if (out < 0) {
            const int e = errno;
            ::close(in);
            if (e == EEXIST)
                continue;
            return describe(candidate, e);
        }
        int e = 0;
        char buf[1 << 16];
        for (;;) {
            const ssize_t got = ::read(in, buf, sizeof buf);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                e = errno;
                break;
            }
            if (got == 0)
                break;
            if (!writeAll(out, std::string_view(buf, static_cast<size_t>(got)))) {
                e = errno;
                break;
            }
        }
        if (!e && ::fsync(out) != 0)
            e = errno;
        if (::close(out) != 0 && !e)
            e = errno;
        ::close(in);
        if (e) {
            ::unlink(candidate.c_str());
            return describe(file, e);
        }
        syncFolder(folderOf(file));
        kept = candidate;
        return {};
    }
    return describe(file, EEXIST);
}

std::vector<std::filesystem::path> jsonFilesIn(const std::filesystem::path& folder,
                                               std::error_code& ec) {
    std::vector<std::filesystem::path> files;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > 5 && name.front() != '.' && name.ends_with(".json"))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}
