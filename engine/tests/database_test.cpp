#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"
#include "test_support.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

using vxtest::noChildProcessesLeft;

class DatabaseTest : public ::testing::Test {
protected:
    void TearDown() override {
        setDatabaseWorkerForTesting({});
        setDatabaseForkHookForTesting({});
        setAllocationHookForTesting({});
    }
    Baseline baseline_;  // maps the area the test uses
};

TEST_F(DatabaseTest, WorkerCountFollowsCoresAndStopsAt32) {
    EXPECT_EQ(databaseWorkerCount(8, 8, 8), 8);
    EXPECT_EQ(databaseWorkerCount(16, 8, 16), 8);
    EXPECT_EQ(databaseWorkerCount(8, 8, 4), 4);
    EXPECT_EQ(databaseWorkerCount(128, 64, 128), 32);
    EXPECT_EQ(databaseWorkerCount(40, 40, 40), 32);
    EXPECT_EQ(databaseWorkerCount(1, 1, 1), 1);
}

TEST_F(DatabaseTest, DataIsTheSameForEveryWorker) {
    DatabaseData first, second;
    ASSERT_TRUE(generateDatabaseData(first));
    ASSERT_TRUE(generateDatabaseData(second));
    EXPECT_EQ(std::memcmp(first.names, second.names, kNameRecords * kNameRecordBytes), 0);
    EXPECT_EQ(std::memcmp(first.numbers, second.numbers, kNameRecords * 8), 0);
    EXPECT_EQ(std::memcmp(first.blob, first.names, kBlobBytes), 0);

    bool allLetters = true;
    for (std::uint64_t r = 0; r < kNameRecords; r += 997) {
        const char* record = first.names + r * kNameRecordBytes;
        EXPECT_EQ(std::strlen(record), 49u) << r;
        for (int c = 0; c < 49; ++c) allLetters = allLetters && record[c] >= 'A' && record[c] <= 'O';
    }
    EXPECT_TRUE(allLetters);
    // The blob holds 20 whole records, zero bytes included.
    EXPECT_EQ(first.blob[49], 0);
    EXPECT_EQ(first.blob[999], 0);
}

TEST_F(DatabaseTest, WorkerWithoutDataMemoryCannotGenerate) {
    setAllocationHookForTesting([](std::size_t bytes) { return bytes != kNameRecords * 50; });
    DatabaseData data;
    EXPECT_FALSE(generateDatabaseData(data));
}

TEST_F(DatabaseTest, PassCutAfterItsFirstSelectCountsThatSelect) {
    DatabaseData data;
    ASSERT_TRUE(generateDatabaseData(data));
    const DatabaseTally tally = runDatabasePasses(data, 0);
    ASSERT_TRUE(tally.completed);
    EXPECT_EQ(tally.inserted, 121135u);
    EXPECT_EQ(tally.selected, 32152u);

    // The first select really returned every row whose first name starts
    // with A to D.
    std::uint64_t expectedRows = 0;
    for (std::uint64_t r = 0; r < kRowsPerPass; ++r) {
        const char first = data.names[r * kNameRecordBytes];
        expectedRows += first >= 'A' && first <= 'D';
    }
    EXPECT_EQ(tally.rowsSeen, expectedRows);
    EXPECT_GT(tally.rate, 0.0);
}

TEST_F(DatabaseTest, FullPassesCountFixedSelectIncrements) {
    DatabaseData data;
    ASSERT_TRUE(generateDatabaseData(data));
    const DatabaseTally tally = runDatabasePasses(data, 1);
    ASSERT_TRUE(tally.completed);
    ASSERT_EQ(tally.inserted % 121135, 0u);
    const std::uint64_t passes = tally.inserted / 121135;
    ASSERT_GE(passes, 1u);
    // Either the deadline passed after the first select of the last pass
    // (cut there), or later in it (the pass ran to its end).
    const std::uint64_t cut = 97316 * (passes - 1) + 32152;
    const std::uint64_t whole = 97316 * passes;
    EXPECT_TRUE(tally.selected == cut || tally.selected == whole)
        << tally.selected << " after " << passes << " passes";
    EXPECT_GE(tally.end - tally.start, 1000000000);
    const double expected = static_cast<double>(tally.inserted + tally.selected) /
                            (static_cast<double>(tally.end - tally.start) / 1e9) / 1000.0;
    EXPECT_DOUBLE_EQ(tally.rate, expected);
}

TEST_F(DatabaseTest, WorkerProcessesPostRatesThatAreSummed) {
    WorkerSyncArea area = currentWorkerSyncArea();
    const auto start = std::chrono::steady_clock::now();
    const double total = runDatabaseTest(1, 2);
    EXPECT_GE(secondsSince(start), 1.0);
    ASSERT_GT(area.result(0), 0.0);
    ASSERT_GT(area.result(1), 0.0);
    EXPECT_EQ(total, area.result(0) + area.result(1));
    EXPECT_TRUE(noChildProcessesLeft());
}

TEST_F(DatabaseTest, NoWorkersSleepsTheDurationAndGivesZero) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runDatabaseTest(1, 0), 0.0);
    EXPECT_GE(secondsSince(start), 1.0);
    EXPECT_TRUE(currentWorkerSyncArea().go());
}

TEST_F(DatabaseTest, WorkerCountIsCappedAt32) {
    setDatabaseWorkerForTesting([](std::int32_t, std::int32_t worker) {
        WorkerSyncArea area = currentWorkerSyncArea();
        area.setReady(worker, true);
        while (!area.go() && !area.abort()) {
        }
        area.setResult(worker, 1.0);
    });
    EXPECT_EQ(runDatabaseTest(0, 40), 32.0);
    EXPECT_TRUE(noChildProcessesLeft());
}

TEST_F(DatabaseTest, ForkFailureOnTheThirdWorkerGivesZeroAndNoWorkerRunsTheTest) {
    setDatabaseForkHookForTesting([](std::int32_t worker) { return worker != 2; });
    WorkerSyncArea area = currentWorkerSyncArea();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runDatabaseTest(3, 4), 0.0);
    EXPECT_LT(secondsSince(start), 3.0);
    EXPECT_TRUE(area.abort());
    EXPECT_FALSE(area.go());
    for (int i = 0; i < 4; ++i) EXPECT_EQ(area.result(i), 0.0) << i;
    EXPECT_TRUE(noChildProcessesLeft());
}

TEST_F(DatabaseTest, WorkersWithoutDataMemoryEndTheRunAtOnce) {
    setAllocationHookForTesting([](std::size_t bytes) { return bytes != kNameRecords * 50; });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runDatabaseTest(5, 3), 0.0);
    EXPECT_LT(secondsSince(start), 5.0);
    EXPECT_TRUE(noChildProcessesLeft());
}

TEST_F(DatabaseTest, WorkerThatNeverPostsEndsTheWaitAtTheBound) {
    setDatabaseWorkerForTesting([](std::int32_t seconds, std::int32_t worker) {
        if (worker != 1) {
            databaseWorker(seconds, worker);
            return;
        }
        WorkerSyncArea area = currentWorkerSyncArea();
        area.setReady(worker, true);
        while (!area.abort()) {  // nothing sets it after go: stalls until killed
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runDatabaseTest(0, 2), 0.0);
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 10.0);
    EXPECT_LT(elapsed, 16.0);
    EXPECT_TRUE(noChildProcessesLeft());  // the stalled worker was ended and reaped
}

}  // namespace
