// The CPU test runner: one forked worker per process slot, released together
// through the shared worker area, each measuring its own rate for the test
// duration; the parent adds the rates.

#include "cpu/cpu_runner.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <sstream>
#include <vector>

#include "cpu/cpu_tests.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"

namespace {

// How a test's own figure becomes a display-unit figure: divided, then
// multiplied (one of the two is 1.0, so each scaling is one exact operation).
struct CpuTestEntry {
    double (*run)(std::int32_t seconds, int worker);  // null: not in this build
    double divisor;
    double multiplier;
};

const CpuTestEntry kCpuTests[9] = {
    // 0 Integer Math: Million Operations/s as returned.
    {[](std::int32_t seconds, int) { return IntegerMathTest(seconds); }, 1.0, 1.0},
    // 1 Floating Point Math: Million Operations/s as returned.
    {[](std::int32_t seconds, int) { return FloatingPointTest(seconds); }, 1.0, 1.0},
    // 2 Prime Numbers: primes/s to Million Primes/s.
    {[](std::int32_t seconds, int) { return PrimeTest(seconds); }, 1000000.0, 1.0},
    // 3 Sorting: strings/s to Thousand Strings/s.
    {[](std::int32_t seconds, int) { return StringSortTest(seconds); }, 1000.0, 1.0},
    // 4 Encryption: bytes/s to MB/s (2^-20).
    {[](std::int32_t seconds, int worker) { return EncryptionTest(seconds, worker); }, 1.0, 1.0 / 1048576.0},
    // 5 Compression: bytes/s to KB/s (2^-10).
    {[](std::int32_t seconds, int) { return NewCompressData(seconds); }, 1.0, 1.0 / 1024.0},
    // 6 CPU Single Thread: score as returned.
    {[](std::int32_t seconds, int) { return SingleThreadTest(seconds); }, 1.0, 1.0},
    // 7 Physics: Frames/s as returned.
    {[](std::int32_t seconds, int) { return PhysicsTest(static_cast<double>(seconds)); }, 1.0, 1.0},
    // 8 Extended Instructions (NEON): Million Matrices/s as returned.
    {[](std::int32_t seconds, int worker) { return MatrixMultiplyTest(worker, seconds); }, 1.0, 1.0},
};

std::function<bool(int)> forkAllowed;
std::function<double(int, std::int32_t, int)> workerDispatch;

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// The parent waits for the workers' results at most this long per second of
// test duration, counted from the end of the test time.
constexpr std::int64_t kWaitNanosecondsPerTestSecond = 10 * kNanosecondsPerSecond;

void log(const std::ostringstream& line) { debugLog(line.str()); }

// Sleeps the whole time even when a signal interrupts the sleep.
void sleepSeconds(std::int32_t seconds) {
    if (seconds <= 0) return;
    timespec remaining{seconds, 0};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

[[noreturn]] void runWorker(int id, std::int32_t seconds, int worker, WorkerSyncArea area) {
    area.setReady(worker, true);
    for (;;) {
        if (area.abort()) _exit(0);
        if (area.go()) break;
    }
    double figure = 0.0;
    try {
        figure = workerDispatch ? workerDispatch(id, seconds, worker)
                                : dispatchCpuTest(id, seconds, worker);
    } catch (...) {
        // Never unwind into the parent's code copied into this process. A
        // test that ends abnormally posts nothing; the parent's wait runs out.
        _exit(0);
    }
    area.setResult(worker, figure);
    area.setDone(worker, true);  // release: the result is visible first
    // _exit, not exit: the parent may be a multi-threaded window process whose
    // exit handlers and static destructors must not run in a worker.
    _exit(0);
}

// Ends workers that are still running (after an abort or a timeout) and
// collects every worker's exit status, so that none is left as a zombie or
// can post into the area during a later run.
void endWorkers(const std::vector<pid_t>& workers, bool kill) {
    for (pid_t pid : workers) {
        if (kill) ::kill(pid, SIGKILL);
    }
    for (pid_t pid : workers) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
}

bool allSet(const WorkerSyncArea& area, int n, bool (WorkerSyncArea::*flag)(int) const) {
    for (int i = 0; i < n; ++i) {
        if (!(area.*flag)(i)) return false;
    }
    return true;
}

}  // namespace

void setForkFailureHookForTesting(std::function<bool(int)> allowFork) {
    forkAllowed = std::move(allowFork);
}

void setWorkerDispatchForTesting(std::function<double(int, std::int32_t, int)> dispatch) {
    workerDispatch = std::move(dispatch);
}

double dispatchCpuTest(int id, std::int32_t seconds, int worker) {
    if (id < 0 || id >= 9 || kCpuTests[id].run == nullptr) return 0.0;
    const CpuTestEntry& test = kCpuTests[id];
    return test.run(seconds, worker) / test.divisor * test.multiplier;
}

double runTestProcesses(int id, Baseline* baseline, int n) {
    WorkerSyncArea area = currentWorkerSyncArea();
    const std::int32_t seconds = baseline->testSeconds;
    if (!area.valid()) {
        std::fputs("Error: Cannot create test process initialise test\n", stderr);
        return 0.0;
    }
    // The area has slots for 256 workers; more are never started.
    n = std::min(n, WorkerSyncArea::kMaxWorkers);

    area.setGo(false);
    area.setAbort(false);
    for (int i = 0; i < n; ++i) {
        area.setReady(i, false);
        area.setDone(i, false);
        area.setResult(i, 0.0);
        // A phase that fails leaves its sub-result unwritten; cleared here it
        // adds 0 rather than a figure left over from an earlier run.
        for (int slot = 0; slot < kMatrixSubResults; ++slot) area.setMatrixResult(i, slot, 0.0);
        for (int slot = 0; slot < kEncryptionSubResults; ++slot) area.setEncryptionResult(i, slot, 0.0);
    }

    std::vector<pid_t> workers;
    workers.reserve(static_cast<std::size_t>(std::max(n, 0)));
    for (int i = 0; i < n; ++i) {
        const pid_t pid = (forkAllowed && !forkAllowed(i)) ? pid_t(-1) : fork();
        if (pid < 0) {
            area.setAbort(true);  // workers already started end at once
            continue;
        }
        if (pid == 0) runWorker(id, seconds, i, area);
        workers.push_back(pid);
    }

    // Every worker reports ready within the same bound as the results, so a
    // worker that dies before its first step cannot hold the caller forever.
    const std::int64_t readyDeadline =
        nowNanoseconds() + std::max<std::int64_t>(seconds, 1) * kWaitNanosecondsPerTestSecond;
    for (;;) {
        if (area.abort()) {
            std::fputs("Error: Cannot create test process initialise test\n", stderr);
            endWorkers(workers, true);  // they are leaving on the abort byte anyway
            return 0.0;
        }
        if (allSet(area, n, &WorkerSyncArea::ready)) break;
        if (nowNanoseconds() > readyDeadline) {
            area.setAbort(true);
            if (debugLogging) debugLog("Test Timeout");
            endWorkers(workers, true);
            return 0.0;
        }
    }

    sleepSeconds(1);  // let the system settle before the workers start
    area.setGo(true);
    sleepSeconds(seconds);

    const std::int64_t deadline = nowNanoseconds() + seconds * kWaitNanosecondsPerTestSecond;
    for (;;) {
        if (nowNanoseconds() > deadline) {
            if (debugLogging) debugLog("Test Timeout");
            endWorkers(workers, true);
            return 0.0;
        }
        if (allSet(area, n, &WorkerSyncArea::done)) break;
    }

    double total = 0.0;
    for (int i = 0; i < n; ++i) total += area.result(i);
    if (id == 8) {
        for (int i = 0; i < n; ++i) {
            for (int slot = 0; slot < kMatrixSubResults; ++slot) {
                baseline->matrixResults[slot] += area.matrixResult(i, slot);
            }
        }
    }
    if (id == 4) {
        for (int i = 0; i < n; ++i) {
            for (int slot = 0; slot < kEncryptionSubResults; ++slot) {
                baseline->encryptionResults[slot] += area.encryptionResult(i, slot);
            }
        }
    }
    endWorkers(workers, false);  // each has posted and is exiting
    return total;
}

void runCpuTest(int id, Baseline* baseline) {
    const int n = id == 6 ? 1 : baseline->numTestProcesses;
    if (debugLogging) {
        std::ostringstream line;
        line << "Running CPU Test: " << id << " on " << n << " Thread(s)";
        log(line);
    }
    baseline->results[id] += runTestProcesses(id, baseline, n);
    if (id == 2 && n > baseline->numCores) {
        if (debugLogging) {
            std::ostringstream line;
            line << "Running CPU Test: [Primes Cross Platform] on " << baseline->numCores
                 << " Thread(s)";
            log(line);
        }
        baseline->primesCrossPlatform += runTestProcesses(2, baseline, baseline->numCores);
    }
    if (debugLogging) {
        std::ostringstream line;
        line << "CPU Test: " << id << " Cumulative Total = " << baseline->results[id].load();
        log(line);
    }
}
