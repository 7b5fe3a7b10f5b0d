#include "batch/thread_pool.h"

#include <stdexcept>

namespace ortolan {

namespace {

// Tells the processor that this is a spin-wait loop.
inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Spins until done() or until spin_time has passed; returns done(). The processor is offered
// to other threads now and then, which matters when there are more threads than cores.
template <class Done>
bool spin_until(Done&& done) {
    const auto until = std::chrono::steady_clock::now() + ThreadPool::spin_time;
    for (;;) {
        for (int32_t i = 0; i < 64; ++i) {
            if (done()) return true;
            relax();
        }
        if (std::chrono::steady_clock::now() >= until) return done();
        std::this_thread::yield();
    }
}

}  // namespace

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

void ThreadPool::run(int64_t count, Invoke invoke, void* callable, bool rest_after) {
    if (count < 0) count = 0;
    if (size_ == 1) {
        invoke(callable, 0, count, 0);
        return;
    }
    std::lock_guard call(call_mutex_);
    // Every worker has finished the previous job (pending_ reached 0), so none reads these.
    invoke_ = invoke;
    callable_ = callable;
    count_ = count;
    rest_after_ = rest_after;
    pending_.store(size_ - 1, std::memory_order_relaxed);
    {
        // Under the mutex, so that a worker between its test and its sleep cannot miss it.
        std::lock_guard lock(mutex_);
        generation_.fetch_add(1, std::memory_order_release);
    }
    start_.notify_all();
    run_chunk(0);
    auto finished = [this] { return pending_.load(std::memory_order_acquire) == 0; };
    if (!spin_until(finished)) {
        std::unique_lock lock(mutex_);
        finished_.wait(lock, finished);
    }
    std::exception_ptr error;
    {
        std::lock_guard lock(mutex_);
        error = std::move(error_);
        error_ = nullptr;
    }
    if (error) std::rethrow_exception(error);
}

void ThreadPool::work(int32_t chunk) {
    uint64_t seen = 0;
    bool spin = true;
    auto ready = [&] {
        return stopping_.load(std::memory_order_acquire) ||
               generation_.load(std::memory_order_acquire) != seen;
    };
    for (;;) {
        if (!spin || !spin_until(ready)) {
            std::unique_lock lock(mutex_);
            start_.wait(lock, ready);
        }
        if (stopping_.load(std::memory_order_acquire)) return;
        seen = generation_.load(std::memory_order_acquire);
        spin = !rest_after_;
        run_chunk(chunk);
        if (pending_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Taken so that a caller between its test and its sleep cannot miss the news.
            std::lock_guard lock(mutex_);
            finished_.notify_one();
        }
    }
}

}  // namespace ortolan
