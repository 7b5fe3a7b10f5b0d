// A fixed pool of threads that runs one task over contiguous chunks of a range of indices.
//
// The pool is built once with its threads and then reused: a call hands the same task to
// every thread and waits for all of them, with nothing allocated and one lock taken per call,
// not per index. The calling thread runs chunk 0 itself, so a pool of size 1 starts no thread.
#pragma once

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
    // task must not call for_chunks on the same pool.
    template <class Task>
    void for_chunks(int64_t count, Task&& task) {
        using Callable = std::remove_reference_t<Task>;
        run(
            count,
            [](void* callable, int64_t begin, int64_t end, int32_t chunk) {
                (*static_cast<Callable*>(callable))(begin, end, chunk);
            },
            const_cast<void*>(static_cast<const void*>(std::addressof(task))));
    }

private:
    using Invoke = void (*)(void* callable, int64_t begin, int64_t end, int32_t chunk);

    void run(int64_t count, Invoke invoke, void* callable);
    // Runs one chunk of the current job, keeping the first exception.
    void run_chunk(int32_t chunk);
    void work(int32_t chunk);

    int32_t size_;
    std::vector<std::thread> workers_;

    std::mutex call_mutex_;  // one for_chunks at a time
    std::mutex mutex_;
    std::condition_variable start_;
    std::condition_variable finished_;
    uint64_t generation_ = 0;  // counts jobs handed out; a worker waits for the next one
    int32_t pending_ = 0;      // workers still running the current job
    bool stopping_ = false;

    // The current job, written under mutex_ before generation_ moves on.
    Invoke invoke_ = nullptr;
    void* callable_ = nullptr;
    int64_t count_ = 0;
    std::exception_ptr error_;
};

}  // namespace ortolan
