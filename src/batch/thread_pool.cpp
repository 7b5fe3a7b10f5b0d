#include "batch/thread_pool.h"

#include <stdexcept>

namespace ortolan {

ThreadPool::ThreadPool(int32_t threads) : size_(threads) {
    if (threads < 1) throw std::invalid_argument("a thread pool needs at least one thread");
    workers_.reserve(static_cast<size_t>(threads - 1));
    try {
        for (int32_t chunk = 1; chunk < threads; ++chunk)
            workers_.emplace_back([this, chunk] { work(chunk); });
    } catch (...) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        start_.notify_all();
        for (std::thread& worker : workers_) worker.join();
        throw;
    }
}

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void ThreadPool::run_chunk(int32_t chunk) {
    const int64_t begin = count_ * chunk / size_;
    const int64_t end = count_ * (chunk + 1) / size_;
    try {
        invoke_(callable_, begin, end, chunk);
    } catch (...) {
        std::lock_guard lock(mutex_);
        if (!error_) error_ = std::current_exception();
    }
}

void ThreadPool::run(int64_t count, Invoke invoke, void* callable) {
    if (count < 0) count = 0;
    if (size_ == 1) {
        invoke(callable, 0, count, 0);
        return;
    }
    std::lock_guard call(call_mutex_);
    {
        std::lock_guard lock(mutex_);
        invoke_ = invoke;
        callable_ = callable;
        count_ = count;
        error_ = nullptr;
        pending_ = size_ - 1;
        ++generation_;
    }
    start_.notify_all();
    run_chunk(0);
    std::exception_ptr error;
    {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, [this] { return pending_ == 0; });
        error = std::move(error_);
        error_ = nullptr;
    }
    if (error) std::rethrow_exception(error);
}

void ThreadPool::work(int32_t chunk) {
    uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            start_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
        }
        run_chunk(chunk);
        bool last;
        {
            std::lock_guard lock(mutex_);
            last = --pending_ == 0;
        }
        if (last) finished_.notify_one();
    }
}

}  // namespace ortolan
