// A fixed pool of threads that runs one task over contiguous chunks of a range of indices.
//
// The pool is built once with its threads and then reused: a call hands the same task to
// every thread and waits for all of them, with nothing allocated and nothing locked per index.
// The calling thread runs chunk 0 itself, so a pool of size 1 starts no thread.
//
// A trainer calls the pool back to back, a millisecond or so apart, with a little Python in
// between. Waking a sleeping thread costs tens of microseconds on a virtual machine, on the
// way in and again on the way out, so each side first waits by spinning for a short while
// (spin_time) and only then sleeps on a condition variable; an idle pool sleeps. A caller that
// knows the next job is far off (the search, before it hands a batch to a Python evaluator
// that may run threads of its own) asks the workers to sleep at once after a job.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace ortolan {

class ThreadPool {
public:
    // How long a thread spins for the next job, or the caller for the workers to finish,
    // before it sleeps.
    static constexpr std::chrono::microseconds spin_time{200};

    // threads >= 1: threads - 1 workers plus the calling thread. Throws std::invalid_argument
    // for a smaller count.
    explicit ThreadPool(int32_t threads);
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    int32_t size() const { return size_; }

    // Splits [0, count) into size() contiguous chunks as equal as possible (chunk c is
    // [count * c / size(), count * (c + 1) / size()), empty when count < size()) and calls
    // task(begin, end, chunk) for each, chunk 0 on the calling thread; returns when all are
    // done. Nothing is allocated per call. The first exception a task throws is rethrown here
    // once every chunk has finished. Calls from several threads are served one at a time; a
    // task must not call for_chunks on the same pool. With rest_after the workers sleep as
    // soon as they finish, rather than spinning for the next job.
    template <class Task>
    void for_chunks(int64_t count, Task&& task, bool rest_after = false) {
        using Callable = std::remove_reference_t<Task>;
        run(
            count,
            [](void* callable, int64_t begin, int64_t end, int32_t chunk) {
                (*static_cast<Callable*>(callable))(begin, end, chunk);
            },
            const_cast<void*>(static_cast<const void*>(std::addressof(task))), rest_after);
    }

private:
    using Invoke = void (*)(void* callable, int64_t begin, int64_t end, int32_t chunk);

    void run(int64_t count, Invoke invoke, void* callable, bool rest_after);
    // Runs one chunk of the current job, keeping the first exception.
    void run_chunk(int32_t chunk);
    void work(int32_t chunk);

    int32_t size_;
    std::vector<std::thread> workers_;

    std::mutex call_mutex_;  // one for_chunks at a time
    // mutex_ and the two condition variables serve the threads that stopped spinning.
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable finished_;
    // Counts jobs handed out; a worker waits for it to move on. Written under mutex_.
    std::atomic<uint64_t> generation_ = 0;
    std::atomic<int32_t> pending_ = 0;  // workers still running the current job
    std::atomic<bool> stopping_ = false;

    // The current job, written before generation_ moves on.
    Invoke invoke_ = nullptr;
    void* callable_ = nullptr;
    int64_t count_ = 0;
    bool rest_after_ = false;
    std::exception_ptr error_;  // under mutex_
};

}  // namespace ortolan
