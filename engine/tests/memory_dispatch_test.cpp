#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "memory_test_seams.h"
#include "platform/sysctl.h"
#include "state/baseline.h"
#include "state/worker_group.h"
#include "test_support.h"

namespace {

class MemoryDispatchTest : public ::testing::Test {
protected:
    void TearDown() override {
        workerGroupSeamsForTesting() = {};
        setAllocationHookForTesting({});
        platform::setSystemRootForTesting("");
    }
    vxtest::ScopedWorkDir root_;
};

TEST_F(MemoryDispatchTest, IdsOutsideTheMemorySuiteAddNothing) {
    Baseline baseline;
    baseline.testSeconds = 0;
    for (int id = 0; id < kTestCount; ++id) baseline.results[id] = 2.0;
    for (int id : {-1, 0, 3, 8, 16, 99}) runMemoryTest(id, &baseline);
    for (int id = 0; id < kTestCount; ++id) EXPECT_EQ(baseline.results[id].load(), 2.0) << id;
}

std::vector<std::int32_t> databaseForks;
std::size_t largestBuffer = 0;

// Every id runs its own test on the virtual clock, whose costs give each
// test a figure of its own: cached reads 1 ns a word, uncached reads 2 ns,
// writes 3 ns, and the three latency runs 5, 7 and 12 ns a load. Buffers
// are capped (at most 256 MiB) to keep the fills short: the big tests run
// on their fallback buffers.
TEST_F(MemoryDispatchTest, EveryIdReachesItsOwnTestAndAddsItsFigure) {
    vxtest::writeFile(root_.path() / "proc" / "meminfo", "MemFree: 1048576 kB\nMemAvailable: 2097152 kB\n");
    platform::setSystemRootForTesting(root_.path().string());
    workerGroupSeamsForTesting().allowFork = [](int worker) {
        databaseForks.push_back(worker);
        return false;
    };
    setAllocationHookForTesting([](std::size_t bytes) { return bytes <= largestBuffer; });
    vxtest::ScopedVirtualClock clock;
    vxtest::virtualCosts.realLoops = false;

    Baseline baseline;
    baseline.testSeconds = 0;
    baseline.numLogicals = 3;  // threaded runs of 3 and 1 threads
    baseline.numCores = 2;
    baseline.numTestProcesses = 5;
    constexpr std::size_t kMiB = 1024 * 1024;
    const struct {
        int id;
        std::size_t largestBuffer;
        double figure;
        double tolerance;
        std::vector<std::string> steps;  // empty: not checked here
    } table[] = {
        {9, 256 * kMiB, 0.0, 0.0, {}},  // its first fork is refused
        {10, 256 * kMiB, 7629.39453125, 0.0, {}},  // ten sizes, 8 bytes a nanosecond
        {11, 256 * kMiB, 3814.697265625, 0.0,
         {"fill 268435456", "clock", "read 33554432 x5", "clock"}},
        {12, 256 * kMiB, 2543.1315104, 1e-4,
         {"fill 268435456", "clock", "write 33554432 x5", "clock"}},
        // One sample although the deadline has passed: the pause follows it.
        {13, 256 * kMiB, 2048.0, 0.0, {"clock", "pause 500000", "clock"}},
        // The mean of the three runs, each divided by 1e-9 in single precision.
        {14, 256 * kMiB, 8.0 / 0.9999999717180685, 1e-12,
         {"link 2097152", "clock", "chase 2097152", "clock", "link 2097152", "clock",
          "chase 2097152", "clock", "link 2097152", "clock", "chase 2097152", "clock"}},
        // Three threads of 178,956,970 bytes at 2 ns a word; the one-thread
        // run gets no buffer and gives 0.
        {15, 200 * kMiB, 3 * 3814.697, 0.01, {}},
    };
    for (const auto& row : table) {
        vxtest::threadLog.clear();
        largestBuffer = row.largestBuffer;
        for (int id = 0; id < kTestCount; ++id) baseline.results[id] = 0.25;
        runMemoryTest(row.id, &baseline);
        for (int id = 0; id < kTestCount; ++id) {
            if (id == row.id) {
                EXPECT_NEAR(baseline.results[id].load(), 0.25 + row.figure, row.tolerance) << id;
            } else {
                EXPECT_EQ(baseline.results[id].load(), 0.25) << row.id << " wrote " << id;
            }
        }
        if (!row.steps.empty()) {
            EXPECT_EQ(vxtest::virtualLog(), row.steps) << row.id;
        }
    }
    ASSERT_FALSE(databaseForks.empty());
    EXPECT_EQ(databaseForks.front(), 0);

    // Without a logical processor no threaded run is tried.
    baseline.numLogicals = 0;
    baseline.results[15] = 0.25;
    vxtest::threadLog.clear();
    runMemoryTest(15, &baseline);
    EXPECT_EQ(baseline.results[15].load(), 0.25);
    EXPECT_TRUE(vxtest::virtualLog().empty());
}

}  // namespace
