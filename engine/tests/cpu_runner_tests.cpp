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

class CpuRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        record_.testSeconds = 1;
        record_.numTestProcesses = 8;
        record_.numCores = 8;
    }
    void TearDown() override {
        EXPECT_TRUE(workers_.endRemaining());  // every worker was reaped by the runner
        EXPECT_TRUE(vxtest::noChildProcessesLeft());
        setWorkerDispatchForTesting(nullptr);
        workerGroupSeamsForTesting().allowFork = nullptr;
        workerGroupSeamsForTesting().started = nullptr;
        workerGroupSeamsForTesting().boundDivisor = 1;
    }
    Baseline record_;
    vxtest::ScopedWorkDir dir_;
    vxtest::ForkedWorkers workers_;
};

// Each worker returns its index plus one and leaves a file behind.
double markedWorker(int, std::int32_t, int worker) {
    vxtest::writeFile("ran-" + std::to_string(worker), "");
    return worker + 1.0;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] void stall() {
    for (;;) pause();
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

// Every failure gives 0.0 within its own bound (here the real bounds / 10:
// the ready wait and the result wait are 1 s for a 1-second test) with its
// own report, and leaves no worker behind (TearDown).
TEST_F(CpuRunnerTest, EveryFailureGivesZeroWithinItsBound) {
    struct Failure {
        const char* name;
        std::int32_t seconds;
        std::function<bool(int)> allowFork;
        std::function<void(int)> started;                     // in each worker before ready
        std::function<double(int, std::int32_t, int)> test;  // after go
        const char* errorText;
        bool timeoutLogged;
        double minSeconds, maxSeconds;
    };
    const auto crashes = [](int, std::int32_t, int worker) {
        if (worker == 3) raise(SIGKILL);
        return 1.0;
    };
    const auto late = [](int, std::int32_t, int worker) {
        if (worker == 3) stall();
        return 1.0;
    };
    const Failure failures[] = {
        {"fork fails", 1, [](int worker) { return worker != 2; }, nullptr, markedWorker,
         "Error: Cannot create test process initialise test\n", false, 0.0, 0.8},
        {"never ready", 1, nullptr, [](int worker) { if (worker == 2) stall(); }, markedWorker, "", true, 1.0, 1.8},
        {"ends before ready", 1, nullptr, [](int worker) { if (worker == 2) _exit(0); }, markedWorker, "", false,
         0.0, 0.8},
        // Settle 1 s, then noticed at once although the test lasts 3 s.
        {"crashes after go", 3, nullptr, nullptr, crashes, "", false, 1.0, 1.8},
        // Settle 1 s, test 1 s, then the 1 s wait for the results.
        {"never posts", 1, nullptr, nullptr, late, "", true, 3.0, 3.8},
    };
    vxtest::ScopedDebugLogging logging;
    workerGroupSeamsForTesting().boundDivisor = 10;
    for (const Failure& failure : failures) {
        SCOPED_TRACE(failure.name);
        std::filesystem::remove("debug.log");
        record_.testSeconds = failure.seconds;
        workerGroupSeamsForTesting().allowFork = failure.allowFork;
        workerGroupSeamsForTesting().started = failure.started;
        setWorkerDispatchForTesting(failure.test);
        testing::internal::CaptureStderr();
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(runTestProcesses(0, &record_, 4), 0.0);  // other workers' figures are discarded
        const double elapsed = secondsSince(start);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), failure.errorText);
        EXPECT_GE(elapsed, failure.minSeconds);
        EXPECT_LT(elapsed, failure.maxSeconds);
        const auto messages = vxtest::debugMessages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), "Test Timeout"), failure.timeoutLogged ? 1 : 0);
        EXPECT_TRUE(vxtest::noChildProcessesLeft());
    }
    // No worker ran its test once a fork had failed.
    for (int worker = 0; worker < 4; ++worker) EXPECT_FALSE(std::filesystem::exists("ran-" + std::to_string(worker)));
    // The next run works normally again.
    workerGroupSeamsForTesting().allowFork = nullptr;
    setWorkerDispatchForTesting(markedWorker);
    record_.testSeconds = 1;
    EXPECT_EQ(runTestProcesses(0, &record_, 8), 36.0);
}

// The caller killed before go (its workers waiting for it) or while its
// workers measure: no worker is left 2 s later.
TEST_F(CpuRunnerTest, NoWorkerOutlivesAKilledCaller) {
    struct Kill {
        int signal;
        bool afterGo;
    };
    record_.testSeconds = 5;  // the workers measure for longer than the check waits
    WorkerSyncArea area = currentWorkerSyncArea();
    for (const Kill kill : {Kill{SIGTERM, false}, Kill{SIGINT, false}, Kill{SIGTERM, true}}) {
        SCOPED_TRACE(std::string(strsignal(kill.signal)) + (kill.afterGo ? " while measuring" : " before go"));
        const int before = workers_.count();
        vxtest::RunnerProcess runner([&] { runTestProcesses(0, &record_, 3); });
        ASSERT_TRUE(runner.started());
        ASSERT_TRUE(vxtest::waitUntil([&] {
            if (workers_.count() < before + 3) return false;
            if (kill.afterGo) return area.go();
            return area.ready(0) && area.ready(1) && area.ready(2);
        }, 10.0));
        EXPECT_EQ(area.go(), kill.afterGo);
        ASSERT_TRUE(runner.signal(kill.signal, 2.0));
        EXPECT_TRUE(vxtest::waitUntil([&] { return workers_.allEnded(); }, 2.0));
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
