// The thread pool: every index in exactly one chunk, chunks contiguous and as equal as
// possible, chunk 0 on the calling thread, exceptions carried back to the caller, and one pool
// serving many calls, also from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <thread>
#include <vector>

#include "batch/thread_pool.h"

namespace ortolan {
namespace {

struct ChunkSeen {
    int64_t begin = -1, end = -1;
    std::thread::id thread;
    int32_t calls = 0;
};

TEST(ThreadPool, ChunksCoverTheRangeContiguouslyAndEvenly) {
    for (int32_t threads = 1; threads <= 4; ++threads) {
        ThreadPool pool(threads);
        ASSERT_EQ(pool.size(), threads);
        for (int64_t count : {0, 1, 2, 3, 5, 7, 64, 1000, 1023}) {
            std::vector<ChunkSeen> chunks(static_cast<size_t>(threads));
            std::vector<int32_t> visits(static_cast<size_t>(count), 0);
            pool.for_chunks(count, [&](int64_t begin, int64_t end, int32_t chunk) {
                ChunkSeen& seen = chunks[static_cast<size_t>(chunk)];
                seen = {begin, end, std::this_thread::get_id(), seen.calls + 1};
                for (int64_t i = begin; i < end; ++i) ++visits[static_cast<size_t>(i)];
            });
            for (int32_t v : visits) EXPECT_EQ(v, 1) << threads << " threads, count " << count;
            int64_t next = 0;
            for (int32_t c = 0; c < threads; ++c) {
                const ChunkSeen& seen = chunks[static_cast<size_t>(c)];
                EXPECT_EQ(seen.calls, 1);
                EXPECT_EQ(seen.begin, next);
                const int64_t length = seen.end - seen.begin;
                EXPECT_TRUE(length == count / threads || length == count / threads + 1)
                    << "chunk " << c << " of " << threads << " has " << length << " of " << count;
                next = seen.end;
            }
            EXPECT_EQ(next, count);
            EXPECT_EQ(chunks[0].thread, std::this_thread::get_id());
        }
    }
}

TEST(ThreadPool, WorkersAreThreadsOfTheirOwn) {
    ThreadPool pool(3);
    std::vector<std::thread::id> ids(3);
    pool.for_chunks(3, [&](int64_t, int64_t, int32_t chunk) {
        ids[static_cast<size_t>(chunk)] = std::this_thread::get_id();
    });
    EXPECT_NE(ids[1], ids[0]);
    EXPECT_NE(ids[2], ids[0]);
    EXPECT_NE(ids[1], ids[2]);
}

TEST(ThreadPool, RethrowsTheExceptionOfAChunkAfterAllChunksFinished) {
    ThreadPool pool(2);
    std::atomic<int32_t> finished{0};
    EXPECT_THROW(pool.for_chunks(2,
                                 [&](int64_t, int64_t, int32_t chunk) {
                                     if (chunk == 0) throw std::runtime_error("chunk 0 failed");
                                     std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                     finished.fetch_add(1);
                                 }),
                 std::runtime_error);
    EXPECT_EQ(finished.load(), 1);
    // The pool is whole afterwards, and the error is not thrown again.
    int64_t total = 0;
    std::vector<int64_t> sums(2, 0);
    pool.for_chunks(100, [&](int64_t begin, int64_t end, int32_t chunk) {
        for (int64_t i = begin; i < end; ++i) sums[static_cast<size_t>(chunk)] += i;
    });
    for (int64_t s : sums) total += s;
    EXPECT_EQ(total, 4950);
    EXPECT_THROW(pool.for_chunks(1, [](int64_t, int64_t, int32_t) { throw std::logic_error("x"); }),
                 std::logic_error);
}

TEST(ThreadPool, ServesManyCallsFromSeveralThreads) {
    ThreadPool pool(2);
    auto caller = [&pool](int64_t count, int64_t* result) {
        for (int32_t round = 0; round < 500; ++round) {
            int64_t sums[2] = {0, 0};
            pool.for_chunks(count, [&](int64_t begin, int64_t end, int32_t chunk) {
                for (int64_t i = begin; i < end; ++i) sums[chunk] += i;
            });
            *result += sums[0] + sums[1];
        }
    };
    int64_t a = 0, b = 0;
    std::thread other(caller, 10, &b);
    caller(20, &a);
    other.join();
    EXPECT_EQ(a, 500 * 190);
    EXPECT_EQ(b, 500 * 45);
}

TEST(ThreadPool, RefusesFewerThanOneThread) {
    EXPECT_THROW(ThreadPool(0), std::invalid_argument);
    EXPECT_THROW(ThreadPool(-3), std::invalid_argument);
}

}  // namespace
}  // namespace ortolan
