#pragma once

#include <sys/fsuid.h>
#include <unistd.h>

// File access as an ordinary user on this thread (and the threads it starts)
// while it lives: root passes every permission check.
class AsUser {
public:
    AsUser() : root_(::geteuid() == 0) {
        if (root_) {
            ::setfsgid(65534);
            ::setfsuid(65534);
        }
    }
    ~AsUser() {
        if (root_) {
            ::setfsuid(0);
            ::setfsgid(0);
        }
    }
    AsUser(const AsUser&) = delete;
    AsUser& operator=(const AsUser&) = delete;

private:
    bool root_;
};
