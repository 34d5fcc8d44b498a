#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <thread>
#include <vector>

namespace serve {

// The server's connections: `threads` workers and at most `waiting`
// accepted connections queued for them. When the queue is full the accept
// loop waits, so a flood of connections stays in the kernel's backlog
// instead of growing the server's memory and open files.
class WorkerPool : public httplib::TaskQueue {
public:
    WorkerPool(size_t threads, size_t waiting);
    ~WorkerPool() override;

    void enqueue(std::function<void()> job) override;
    void shutdown() override;

private:
    void work();

    const size_t waiting_;
    std::mutex mutex_;
    std::condition_variable ready_, room_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace serve
