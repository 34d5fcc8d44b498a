#include "SubModuleClass/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string describe(const std::filesystem::path& path, int err) {
    return path.string() + ": " + std::strerror(err);
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

// Temporary files are named ".NAME.XXXXXX", the X's filled in by mkostemp.
std::string temporaryPrefix(const std::filesystem::path& target) {
    return "." + target.filename().string() + ".";
}

bool isTemporaryOf(std::string_view entry, std::string_view prefix) {
    if (entry.size() != prefix.size() + 6 || entry.substr(0, prefix.size()) != prefix)
        return false;
    for (char c : entry.substr(prefix.size()))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
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

bool readWholeFile(const std::filesystem::path& path, std::string& contents, std::string& error,
                   int* errorCode) {
    auto fail = [&](int err) {
        error = describe(path, err);
        if (errorCode)
            *errorCode = err;
        return false;
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return fail(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        return fail(EISDIR);
    }
    // Read straight into the result; grow only if the file grew meanwhile.
    contents.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0);
    size_t used = 0;
    for (;;) {
        if (used == contents.size())
            contents.resize(contents.size() + (1 << 16));
        const ssize_t n = ::read(fd, contents.data() + used, contents.size() - used);
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

int removeStaleTemporaries(const std::filesystem::path& target) {
    const std::filesystem::path folder = folderOf(target);
    const std::string prefix = temporaryPrefix(target);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return 0;
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (!isTemporaryOf(entry->d_name, prefix))
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

std::string writeFileAtomically(const std::filesystem::path& target, std::string_view contents) {
    const std::filesystem::path folder = folderOf(target);
    removeStaleTemporaries(target);

    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = (folder / (temporaryPrefix(target) + "XXXXXX")).string();
        fd = ::mkostemp(temp.data(), O_CLOEXEC);
        if (fd < 0)
            return describe(target, errno);
        // Held until the file is renamed, so that no other writer's clean-up
        // takes it for a leftover. Where locks are not supported nobody can
        // take it either, and leftovers simply stay.
        if (::flock(fd, LOCK_EX) != 0)
            break;
        // Another writer's clean-up may have removed it before we locked it.
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_nlink == 0 && attempt < 8) {
            ::close(fd);
            fd = -1;
        }
    }

    // mkostemp makes the file private; give it the old file's mode, or what a
    // newly created file would get.
    struct stat old {};
    const mode_t mode =
        ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~processUmask());
    int err = 0;
    if (::fchmod(fd, mode) != 0 && errno != EPERM)
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
        return describe(target, err);
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
