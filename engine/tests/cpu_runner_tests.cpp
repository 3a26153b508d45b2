// The CPU runner with real forked workers: the handshake, the sums, the
// worker counts, every way a run fails, and that no worker outlives its run.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cpu/cpu_runner.h"
#include "state/baseline.h"
#include "state/worker_group.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

class CpuRunnerTest : public vxtest::WorkerGroupTest {
protected:
    void SetUp() override {
        record_.testSeconds = 1;
        record_.numTestProcesses = 8;
        record_.numCores = 8;
    }
    void TearDown() override {
        WorkerGroupTest::TearDown();
        setWorkerDispatchForTesting(nullptr);
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

// The sum, in index order; through the settle second and the test time the
// parent sleeps, woken only when they end or a worker ends.
TEST_F(CpuRunnerTest, WorkersFiguresAreSummedInIndexOrder) {
    setWorkerDispatchForTesting(markedWorker);
    const vxtest::Wakeups run = vxtest::countWakeups([&] { EXPECT_EQ(runTestProcesses(0, &record_, 8), 36.0); });
    EXPECT_GE(run.seconds, 2.0);
    EXPECT_LT(run.switches, 20);  // waking every 10 ms to look: 200
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

// Every failure gives 0.0 within its own bound with its own report, and
// leaves no worker behind.
TEST_F(CpuRunnerTest, EveryFailureGivesZeroWithinItsBound) {
    using vxtest::stall;
    using Failure = vxtest::WorkerFailure<double (*)(int, std::int32_t, int)>;
    const auto crashes = [](int, std::int32_t, int worker) {
        if (worker == 3) raise(SIGKILL);
        return 1.0;
    };
    const auto late = [](int, std::int32_t, int worker) {
        if (worker == 3) stall();
        return 1.0;
    };
    vxtest::expectEveryFailureGivesZero(std::vector<Failure>{
        {"fork fails", 1, [](int worker) { return worker != 2; }, nullptr, markedWorker,
         "Error: Cannot create test process initialise test\n", false, 0.0, 0.8},
        {"never ready", 1, nullptr, [](int worker) { if (worker == 2) stall(); }, markedWorker, "", true, 1.0, 1.8},
        {"ends before ready", 1, nullptr, [](int worker) { if (worker == 2) _exit(0); }, markedWorker, "", true,
         0.0, 0.8},
        // Settle 1 s, then noticed at once although the test lasts 3 s: by
        // its pidfd, or within 10 ms where there is none.
        {"crashes after go", 3, nullptr, nullptr, crashes, "", true, 1.0, 1.8},
        {"crashes after go, no pidfds", 3, nullptr, nullptr, crashes, "", true, 1.0, 1.8, false},
        // Settle 1 s, test 1 s, then the 1 s wait for the results.
        {"never posts", 1, nullptr, nullptr, late, "", true, 3.0, 3.8},
    }, [&](const Failure& failure) {
        record_.testSeconds = failure.seconds;
        setWorkerDispatchForTesting(failure.body);
        return runTestProcesses(0, &record_, 4);
    });
    // No worker ran its test once a fork had failed, and the next run works.
    for (int worker = 0; worker < 4; ++worker) EXPECT_FALSE(std::filesystem::exists("ran-" + std::to_string(worker)));
    setWorkerDispatchForTesting(markedWorker);
    record_.testSeconds = 1;
    EXPECT_EQ(runTestProcesses(0, &record_, 8), 36.0);
}

// The caller killed before go (its workers waiting for it) or while its
// workers measure: no worker is left 2 s later.
TEST_F(CpuRunnerTest, NoWorkerOutlivesAKilledCaller) {
    record_.testSeconds = 5;  // the workers measure for longer than the check waits
    WorkerSyncArea area = currentWorkerSyncArea();
    for (const auto& [signal, afterGo] : {std::pair{SIGTERM, false}, std::pair{SIGINT, false}, std::pair{SIGTERM, true}}) {
        SCOPED_TRACE(std::string(strsignal(signal)) + (afterGo ? " while measuring" : " before go"));
        vxtest::expectNoWorkerOutlivesItsRunner(
            workers_, 3, [&] { runTestProcesses(0, &record_, 3); },
            [&, afterGo = afterGo] { return afterGo ? area.go() : area.ready(0) && area.ready(1) && area.ready(2); },
            afterGo, signal);
    }
}

TEST_F(CpuRunnerTest, NoMoreWorkersThanTheAreaHolds) {
    setWorkerDispatchForTesting([](int, std::int32_t, int) { return 1.0; });
    // Each worker holds back its ready byte (and its spinning) until all 256
    // are forked, so that the forks do not compete with 255 spinning workers
    // for the processors.
    workerGroupSeamsForTesting().started = [&](int) { vxtest::waitUntil([&] { return workers_.count() == 256; }, 60.0); };
    vxtest::ScopedDebugLogging logging;
    record_.numTestProcesses = 300;
    runCpuTest(0, &record_);
    EXPECT_EQ(record_.results[0], 256.0);
    const std::vector<std::string> expected = {
        "Running CPU Test: 0 on 256 Thread(s)",
        "CPU Test: 0 Cumulative Total = 256",
    };
    EXPECT_EQ(vxtest::debugMessages(), expected);
}
