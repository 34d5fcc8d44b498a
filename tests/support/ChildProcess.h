#pragma once

#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs `body` in a child process that is killed after two seconds and, outside
// the address sanitizer (which reserves its memory up front), can take no more
// than 256 MB more: a read that waits forever or never ends fails the test
// instead of hanging it or eating the machine's memory. "exit 0" is success,
// "exit 2" an exception (out of memory).
inline std::string inChild(const std::function<bool()>& body) {
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(2);
#if !defined(__SANITIZE_ADDRESS__)
        long pages = 0;
        if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(f, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(f);
        }
        const rlim_t cap = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (256 << 20);
        const rlimit limit{cap, cap};
        ::setrlimit(RLIMIT_AS, &limit);
#endif
        // Whatever happens, the child never returns into the test program.
        try {
            ::_exit(body() ? 0 : 1);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s\n", e.what());
            ::_exit(2);
        } catch (...) {
            ::_exit(3);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFSIGNALED(status))
        return std::string("killed by ") + ::strsignal(WTERMSIG(status));
    return "exit " + std::to_string(WEXITSTATUS(status));
}
