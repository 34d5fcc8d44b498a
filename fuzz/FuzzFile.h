#pragma once

// The bytes of one fuzz input as a file a reader can open by name: a memfd
// through /proc/self/fd/N, or a temporary file where that cannot be read
// (a reader that refuses anything but plain files by its path, say).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "platform/AtomicFile.h"

class FuzzFile {
public:
    FuzzFile() {
        fd_ = ::memfd_create("fuzz", MFD_CLOEXEC);
        if (fd_ >= 0) {
            path_ = "/proc/self/fd/" + std::to_string(fd_);
            put(reinterpret_cast<const uint8_t*>("probe"), 5);
            std::string contents, error;
            if (readWholeFile(path_, contents, error) && contents == "probe")
                return;
            ::close(fd_);
        }
        const char* tmp = std::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/rucktag-fuzz-XXXXXX";
        fd_ = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd_ < 0) {
            std::perror("fuzz: no scratch file");
            std::abort();
        }
        path_ = name;
        temporary_ = true;
    }
    ~FuzzFile() {
        if (temporary_)
            ::unlink(path_.c_str());
        ::close(fd_);
    }
    void put(const uint8_t* data, size_t size) {
        if (::ftruncate(fd_, 0) != 0 ||
            (size > 0 && ::pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size))) {
            std::perror("fuzz: cannot write the scratch file");
            std::abort();
        }
    }
    const std::filesystem::path& path() const { return path_; }

private:
    int fd_ = -1;
    std::filesystem::path path_;
    bool temporary_ = false;
};
