#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "memory/memory_internal.h"
#include "memory_test_seams.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

// A stand-in worker that prepares nothing and posts 1.0.
void quickWorker(std::int32_t, float, std::int32_t worker) {
    if (vxtest::readyForGo(worker)) currentWorkerSyncArea().setResult(worker, 1.0);
}

class ThreadedReadTest : public ::testing::Test {
protected:
    void TearDown() override {
        setThreadedReadWorkerForTesting({});
        setAllocationHookForTesting({});
        setMemoryTestSeamsForTesting({});
    }
    Baseline baseline_;  // maps the area the test uses
};

TEST_F(ThreadedReadTest, SharesSplitTheTotalBlock) {
    const std::pair<int, int> shares[] = {{1, 536870912}, {2, 268435456}, {4, 134217728}, {8, 67108864},
                                          {16, 33554432}, {31, 17318416}, {32, 33554432}, {64, 16777216},
                                          {65, 33038209}, {256, 8388608}};
    for (const auto& [threads, bytes] : shares) {
        EXPECT_EQ(threadedShareBytes(threads), bytes) << threads;
    }
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

// What each test thread's timed part did, and whether it read the clock
// before the go flag.
std::vector<std::string> threadLogs[8];
std::atomic<bool> clockBeforeGo{false};
thread_local bool isTestThread = false;

std::int64_t clockAfterGo() {
    if (isTestThread && !currentWorkerSyncArea().go()) clockBeforeGo = true;
    return vxtest::virtualClock();
}

TEST_F(ThreadedReadTest, SumsTheRatesOfThreadsReleasedTogether) {
    vxtest::ScopedVirtualClock clock;
    MemoryTestSeams seams = memoryTestSeams();
    seams.clock = clockAfterGo;
    setMemoryTestSeamsForTesting(seams);
    clockBeforeGo = false;
    setThreadedReadWorkerForTesting([](std::int32_t share, float seconds, std::int32_t worker) {
        isTestThread = true;
        threadedReadWorker(share, seconds, worker);
        threadLogs[worker] = vxtest::virtualLog();
    });
    WorkerSyncArea area = currentWorkerSyncArea();
    area.setResult(8, 123.0);  // beyond the threads of this run: not summed

    const double total = testThreadedRead(0, 8);

    // Each thread filled its 64 MiB before the go flag, then timed one group
    // of 17 passes over its 8,388,608 words at 2 ns a word: 8 bytes per
    // 2 ns is 3814.697265625 MiB/s, counted eight times.
    EXPECT_FALSE(clockBeforeGo.load());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(threadLogs[i], (std::vector<std::string>{"fill 67108864", "clock",
                                                           "read 8388608 x17", "clock"}))
            << i;
        EXPECT_EQ(area.result(i), 3814.697265625) << i;
    }
    EXPECT_EQ(total, 8 * 3814.697265625);
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
    EXPECT_LT(vxtest::secondsSince(start), 4.0);  // neither the duration nor the bound
    for (int i = 0; i < 4; ++i) EXPECT_EQ(area.result(i), 0.0) << i;  // nobody measured
}

TEST_F(ThreadedReadTest, RealAllocationFailureGivesZero) {
    setAllocationHookForTesting([](std::size_t) { return false; });
    EXPECT_EQ(testThreadedRead(3, 2), 0.0);
}

// A clock that moves 1 ms at every reading.
std::atomic<std::int64_t> clockReadings{0};
std::int64_t millisecondTicks() { return 1000000000 + 1000000 * clockReadings++; }

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
    setMemoryTestSeamsForTesting({.clock = millisecondTicks});
    EXPECT_EQ(workerWaitBoundNanoseconds(0), 10000000000LL);
    EXPECT_EQ(workerWaitBoundNanoseconds(2), 20000000000LL);
    EXPECT_EQ(workerWaitBoundNanoseconds(6), 60000000000LL);
    for (const auto& [seconds, readings] : {std::pair{0, 10002}, std::pair{2, 20002}}) {
        clockReadings = 0;
        EXPECT_EQ(testThreadedRead(seconds, 3), 0.0);
        // One reading forms the deadline, then one per turn until a reading
        // lies beyond the bound.
        EXPECT_EQ(clockReadings.load(), readings) << seconds;
    }
}

// What the child process of the test below saw.
struct StartFailureReport {
    int hookCalls;
    int workersStarted;
    int workersReturnedByThen;  // when runTest returned
    double slot;
    double memoryMark;
};
StartFailureReport* report = nullptr;
constexpr int kCannotDropPrivileges = 3;
std::atomic<int> workersStarted{0};
std::atomic<int> workersReturned{0};

// Before the sixth thread, no user may create another process or thread.
void limitThreadsAtTheSixth(std::int32_t worker) {
    ++report->hookCalls;
    const rlimit none{0, 0};
    if (worker == 5) setrlimit(RLIMIT_NPROC, &none);
}

TEST_F(ThreadedReadTest, RunShortOfThreadsFailsTheTestWithItsReason) {
    void* shared = mmap(nullptr, sizeof(StartFailureReport), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(shared, MAP_FAILED);
    report = new (shared) StartFailureReport{};
    const std::unique_ptr<StartFailureReport, void (*)(StartFailureReport*)> unmap(
        report, [](StartFailureReport* mapped) { munmap(mapped, sizeof(StartFailureReport)); });
    int errors[2];
    ASSERT_EQ(pipe(errors), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Baseline* baseline = createBaseline();
        // The process limit binds only a user without privileges.
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(kCannotDropPrivileges);
        dup2(errors[1], STDERR_FILENO);
        baseline->numLogicals = 8;
        for (int id = 9; id <= 14; ++id) baseline->results[id] = 100.0 + id;
        baseline->memoryMark = 777.0;
        setThreadedReadWorkerForTesting([](std::int32_t share, float seconds, std::int32_t worker) {
            ++workersStarted;
            quickWorker(share, seconds, worker);
            ++workersReturned;
        });
        setMemoryTestSeamsForTesting({.beforeThreadStart = limitThreadsAtTheSixth});
        runTest(baseline, 15);
        *report = {report->hookCalls, workersStarted.load(), workersReturned.load(),
                   baseline->results[15], baseline->memoryMark};
        _exit(0);  // no exit handlers: the leak checker would need a thread
    }
    close(errors[1]);
    int status = -1;
    if (!vxtest::waitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 30.0)) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    char text[256] = {};
    const ssize_t length = read(errors[0], text, sizeof(text) - 1);
    close(errors[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kCannotDropPrivileges) {
        GTEST_SKIP() << "root without the right to become another user";
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;

    // Five threads started and were released by the abort and joined; the
    // smaller runs were not tried; slot and mark show no figure.
    EXPECT_EQ(report->hookCalls, 6);
    EXPECT_EQ(report->workersStarted, 5);
    EXPECT_EQ(report->workersReturnedByThen, 5);
    EXPECT_EQ(report->slot, 0.0);
    EXPECT_EQ(report->memoryMark, 0.0);
    EXPECT_EQ(std::string(text, length > 0 ? static_cast<std::size_t>(length) : 0),
              "Error: Cannot create test thread 6 of 8 (Resource temporarily unavailable)\n");
}

}  // namespace
