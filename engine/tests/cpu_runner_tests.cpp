// The CPU runner with real forked workers: the handshake, the sums, the
// worker counts, fork failure, timeout and the reaping of every worker.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>

#include "cpu/cpu_runner.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

class CpuRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        record_.testSeconds = 1;
        record_.numTestProcesses = 8;
        record_.numCores = 8;
    }
    void TearDown() override {
        setWorkerDispatchForTesting(nullptr);
        setForkFailureHookForTesting(nullptr);
        EXPECT_TRUE(vxtest::noChildProcessesLeft());
    }
    Baseline record_;
    vxtest::ScopedWorkDir dir_;
};

// Each worker returns its index plus one and leaves a file behind.
double markedWorker(int, std::int32_t, int worker) {
    vxtest::writeFile("ran-" + std::to_string(worker), "");
    return worker + 1.0;
}

}  // namespace

TEST_F(CpuRunnerTest, IntegerMathProducesARealFigureFromEveryProcessor) {
    record_.numTestProcesses = 2;
    runTest(&record_, 0);
    EXPECT_GT(record_.results[0], 100.0);  // Million Operations/s summed over two workers
}

TEST_F(CpuRunnerTest, WorkersFiguresAreSummedInIndexOrder) {
    setWorkerDispatchForTesting(markedWorker);
    EXPECT_EQ(runTestProcesses(0, &record_, 8), 36.0);  // 1 + 2 + ... + 8
    for (int worker = 0; worker < 8; ++worker) EXPECT_TRUE(std::filesystem::exists("ran-" + std::to_string(worker)));
}

TEST_F(CpuRunnerTest, SingleThreadTestAlwaysRunsOneWorker) {
    setWorkerDispatchForTesting(markedWorker);
    runCpuTest(6, &record_);
    EXPECT_EQ(record_.results[6], 1.0);
    EXPECT_FALSE(std::filesystem::exists("ran-1"));
}

TEST_F(CpuRunnerTest, PrimesRunAgainWithOneWorkerPerCoreWhenThreadsOutnumberCores) {
    setWorkerDispatchForTesting([](int, std::int32_t, int) { return 1.0; });
    vxtest::ScopedDebugLogging logging;
    record_.numCores = 4;
    runCpuTest(2, &record_);
    EXPECT_EQ(record_.results[2], 8.0);
    EXPECT_EQ(record_.primesCrossPlatform, 4.0);
    const std::vector<std::string> expected = {
        "Running CPU Test: 2 on 8 Thread(s)",
        "Running CPU Test: [Primes Cross Platform] on 4 Thread(s)",
        "CPU Test: 2 Cumulative Total = 8",
    };
    EXPECT_EQ(vxtest::debugMessages(), expected);
}

TEST_F(CpuRunnerTest, LogLinesNameTheTestTheWorkersAndTheTotal) {
    setWorkerDispatchForTesting([](int, std::int32_t, int) { return 1234.5678; });
    vxtest::ScopedDebugLogging logging;
    runCpuTest(3, &record_);
    const std::vector<std::string> expected = {
        "Running CPU Test: 3 on 8 Thread(s)",
        "CPU Test: 3 Cumulative Total = 9876.54",  // six significant digits
    };
    EXPECT_EQ(vxtest::debugMessages(), expected);
}

TEST_F(CpuRunnerTest, SubResultsOfEveryWorkerAreAdded) {
    setWorkerDispatchForTesting([](int, std::int32_t, int worker) {
        WorkerSyncArea area = currentWorkerSyncArea();
        for (int slot = 0; slot < 5; ++slot) area.setMatrixResult(worker, slot, worker * 10.0 + slot);
        for (int slot = 0; slot < 3; ++slot) area.setEncryptionResult(worker, slot, worker + slot * 100.0);
        return 1.0;
    });
    runCpuTest(8, &record_);
    for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(record_.matrixResults[slot], 280.0 + 8 * slot);
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(record_.encryptionResults[slot], 0.0);
    runCpuTest(4, &record_);
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(record_.encryptionResults[slot], 28.0 + 800.0 * slot);
}

TEST_F(CpuRunnerTest, SubResultsLeftUnwrittenCountAsZeroNotAsAnEarlierRunsFigure) {
    setWorkerDispatchForTesting([](int, std::int32_t, int worker) {
        currentWorkerSyncArea().setEncryptionResult(worker, 0, 5.0);
        return 1.0;
    });
    runCpuTest(4, &record_);
    EXPECT_EQ(record_.encryptionResults[0], 40.0);
    setWorkerDispatchForTesting([](int, std::int32_t, int) { return 1.0; });  // a failed phase posts nothing
    record_.encryptionResults[0] = 0.0;
    runCpuTest(4, &record_);
    EXPECT_EQ(record_.encryptionResults[0], 0.0);
}

TEST_F(CpuRunnerTest, ForkFailureGivesZeroAndNoWorkerRunsTheTest) {
    setWorkerDispatchForTesting(markedWorker);
    setForkFailureHookForTesting([](int worker) { return worker != 2; });
    testing::internal::CaptureStderr();
    const double total = runTestProcesses(0, &record_, 8);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(total, 0.0);
    EXPECT_EQ(errors, "Error: Cannot create test process initialise test\n");
    for (int worker = 0; worker < 8; ++worker) EXPECT_FALSE(std::filesystem::exists("ran-" + std::to_string(worker)));
    // The next run works normally again.
    setForkFailureHookForTesting(nullptr);
    EXPECT_EQ(runTestProcesses(0, &record_, 8), 36.0);
}

TEST_F(CpuRunnerTest, LateWorkerTimesTheRunOutAndIsEnded) {
    setWorkerDispatchForTesting([](int, std::int32_t, int worker) {
        if (worker == 3) {
            for (;;) pause();  // never posts
        }
        return 1.0;
    });
    vxtest::ScopedDebugLogging logging;
    const auto started = std::chrono::steady_clock::now();
    runCpuTest(1, &record_);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(record_.results[1], 0.0);  // the other workers' figures are discarded
    EXPECT_GE(waited, 1 + 1 + 10);       // settle, test time, ten seconds per test second
    EXPECT_LT(waited, 20);
    const auto messages = vxtest::debugMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), "Test Timeout"), messages.end());
    // TearDown checks that the stalled worker was ended and reaped.
}

TEST_F(CpuRunnerTest, NoMoreWorkersThanTheAreaHolds) {
    setWorkerDispatchForTesting([](int, std::int32_t, int) { return 1.0; });
    record_.numTestProcesses = 300;
    runCpuTest(0, &record_);
    EXPECT_EQ(record_.results[0], 256.0);
}
