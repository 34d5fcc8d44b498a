#pragma once

#include <csignal>
#include <sys/resource.h>

// Makes writes past `bytes` fail (EFBIG) while it lives, in every thread: a
// full disk, as root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &old_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{bytes, old_.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit old_{};
    void (*previous_)(int) = nullptr;
};
