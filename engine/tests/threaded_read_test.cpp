#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "memory/memory_internal.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A stand-in worker that prepares nothing: ready, wait for go, post 1.0.
void quickWorker(std::int32_t, float, std::int32_t worker) {
    WorkerSyncArea area = currentWorkerSyncArea();
    area.setReady(worker, true);
    while (!area.go() && !area.abort()) {
    }
    if (!area.abort()) area.setResult(worker, 1.0);
}

class ThreadedReadTest : public ::testing::Test {
protected:
    void TearDown() override {
        setThreadedReadWorkerForTesting({});
        setAllocationHookForTesting({});
    }
    Baseline baseline_;  // maps the area the test uses
};

TEST_F(ThreadedReadTest, SharesSplitTheTotalBlock) {
    EXPECT_EQ(threadedShareBytes(1), 536870912);
    EXPECT_EQ(threadedShareBytes(2), 268435456);
    EXPECT_EQ(threadedShareBytes(4), 134217728);
    EXPECT_EQ(threadedShareBytes(8), 67108864);
    EXPECT_EQ(threadedShareBytes(16), 33554432);
    EXPECT_EQ(threadedShareBytes(31), 17318416);
    EXPECT_EQ(threadedShareBytes(32), 33554432);
    EXPECT_EQ(threadedShareBytes(64), 16777216);
    EXPECT_EQ(threadedShareBytes(65), 33038209);
    EXPECT_EQ(threadedShareBytes(256), 8388608);
    // 65 threads: 4,129,776 whole words read per pass, 33 passes per check.
    EXPECT_EQ(threadedShareBytes(65) / 8, 4129776);
    EXPECT_EQ(passesPerCheck(threadedShareBytes(65)), 33);
    EXPECT_EQ(passesPerCheck(threadedShareBytes(8)), 17);
}

TEST_F(ThreadedReadTest, ThreadCountsHalveDownToOne) {
    EXPECT_EQ(threadedReadCounts(8), (std::vector<int>{8, 4, 2, 1}));
    EXPECT_EQ(threadedReadCounts(10), (std::vector<int>{10, 5, 2, 1}));
    EXPECT_EQ(threadedReadCounts(1), (std::vector<int>{1}));
    EXPECT_TRUE(threadedReadCounts(0).empty());
}

TEST_F(ThreadedReadTest, SumsTheRatesOfThreadsReleasedTogether) {
    WorkerSyncArea area = currentWorkerSyncArea();
    area.setResult(8, 123.0);  // beyond the threads of this run: not summed
    const auto start = std::chrono::steady_clock::now();
    const double total = testThreadedRead(1, 8);
    EXPECT_GE(secondsSince(start), 1.0);
    double sum = 0.0;
    for (int i = 0; i < 8; ++i) {
        EXPECT_GT(area.result(i), 0.0) << i;
        sum += area.result(i);
    }
    EXPECT_EQ(total, sum);
    EXPECT_FALSE(area.abort());
}

TEST_F(ThreadedReadTest, ZeroOrNegativeThreadCountGivesZero) {
    EXPECT_EQ(testThreadedRead(0, 0), 0.0);
    EXPECT_EQ(testThreadedRead(0, -3), 0.0);
}

TEST_F(ThreadedReadTest, ThreadCountIsCappedAtTheAreaSlots) {
    std::atomic<int> calls{0};
    std::atomic<std::int32_t> share{0};
    setThreadedReadWorkerForTesting([&](std::int32_t bytes, float seconds, std::int32_t worker) {
        ++calls;
        share = bytes;
        quickWorker(bytes, seconds, worker);
    });
    EXPECT_EQ(testThreadedRead(0, 300), 256.0);
    EXPECT_EQ(calls.load(), 256);
    EXPECT_EQ(share.load(), 8388608);
}

TEST_F(ThreadedReadTest, ThreadWithoutBufferEndsTheRunWithZeroAtOnce) {
    WorkerSyncArea area = currentWorkerSyncArea();
    // Thread 1 gets no buffer (as after a failed allocation); the others are
    // real readers that are waiting for go when the run is given up.
    setThreadedReadWorkerForTesting([](std::int32_t share, float seconds, std::int32_t worker) {
        if (worker == 1) {
            currentWorkerSyncArea().setResult(worker, 0.0);
            return;
        }
        threadedReadWorker(share, seconds, worker);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(testThreadedRead(5, 4), 0.0);
    EXPECT_LT(secondsSince(start), 4.0);  // neither the duration nor the bound
    for (int i = 0; i < 4; ++i) EXPECT_EQ(area.result(i), 0.0) << i;  // nobody measured
}

TEST_F(ThreadedReadTest, RealAllocationFailureGivesZero) {
    setAllocationHookForTesting([](std::size_t) { return false; });
    EXPECT_EQ(testThreadedRead(3, 2), 0.0);
}

TEST_F(ThreadedReadTest, ThreadThatNeverGetsReadyEndsTheWaitAtTheBound) {
    setThreadedReadWorkerForTesting([](std::int32_t share, float seconds, std::int32_t worker) {
        if (worker == 0) {
            // Still preparing when the bound passes; it honours the abort.
            WorkerSyncArea area = currentWorkerSyncArea();
            while (!area.abort()) {
            }
            return;
        }
        quickWorker(share, seconds, worker);
    });
    EXPECT_EQ(workerWaitBoundNanoseconds(0), 10000000000LL);
    EXPECT_EQ(workerWaitBoundNanoseconds(6), 60000000000LL);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(testThreadedRead(0, 3), 0.0);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 10.0);
    EXPECT_LT(elapsed, 15.0);
}

}  // namespace
