#pragma once

// Ends the test program with a message when the scope it guards is still
// running after `seconds` (a read that waits forever, say), so that a
// regression fails at once instead of leaving the test run hanging.
#include <csignal>
#include <cstring>
#include <unistd.h>

class Deadline {
public:
    Deadline(unsigned seconds, const char* what) {
        what_ = what;
        struct sigaction action {};
        action.sa_handler = &expired;
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &previous_);
        ::alarm(seconds);
    }
    ~Deadline() {
        ::alarm(0);
        sigaction(SIGALRM, &previous_, nullptr);
    }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    static void expired(int) {
        static const char head[] = "\nStill running after its deadline: ";
        (void)!::write(2, head, sizeof head - 1);
        (void)!::write(2, what_, std::strlen(what_));
        (void)!::write(2, "\n", 1);
        ::_exit(1);
    }
    static inline const char* what_ = "";
    struct sigaction previous_ {};
};
