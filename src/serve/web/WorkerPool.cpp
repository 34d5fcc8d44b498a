#include "web/WorkerPool.h"

namespace serve {

WorkerPool::WorkerPool(size_t threads, size_t waiting) : waiting_(waiting) {
    for (size_t i = 0; i < threads; ++i)
        threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    shutdown();
}

void WorkerPool::enqueue(std::function<void()> job) {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [this] { return jobs_.size() < waiting_ || stopping_; });
    jobs_.push_back(std::move(job));
    ready_.notify_one();
}

void WorkerPool::shutdown() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    ready_.notify_all();
    room_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable())
            t.join();
}

void WorkerPool::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
            // Queued connections are still served on shutdown (each closes its socket).
            if (jobs_.empty())
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            room_.notify_one();
        }
        job();
    }
}

} // namespace serve
