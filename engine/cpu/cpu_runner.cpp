// The CPU test runner: one forked worker per process slot, released together
// through the shared worker area, each measuring its own rate for the test
// duration; the parent adds the rates.

#include "cpu/cpu_runner.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "cpu/cpu_tests.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/worker_group.h"
#include "state/worker_sync_area.h"

namespace {

// How a test's own figure becomes a display-unit figure: divided, then
// multiplied (one of the two is 1.0, so each scaling is one exact operation).
struct CpuTestEntry {
    double (*run)(std::int32_t seconds, int worker);  // null: not in this build
    double divisor;
    double multiplier;
    // In the parent before every fork of the test's workers; null: nothing
    // to make first.
    void (*prepare)();
};

const CpuTestEntry kCpuTests[9] = {
    // 0 Integer Math: Million Operations/s as returned.
    {[](std::int32_t seconds, int) { return IntegerMathTest(seconds); }, 1.0, 1.0, nullptr},
    // 1 Floating Point Math: Million Operations/s as returned.
    {[](std::int32_t seconds, int) { return FloatingPointTest(seconds); }, 1.0, 1.0, nullptr},
    // 2 Prime Numbers: primes/s to Million Primes/s.
    {[](std::int32_t seconds, int) { return PrimeTest(seconds); }, 1000000.0, 1.0, nullptr},
    // 3 Sorting: strings/s to Thousand Strings/s.
    {[](std::int32_t seconds, int) { return StringSortTest(seconds); }, 1000.0, 1.0, nullptr},
    // 4 Encryption: bytes/s to MB/s (2^-20).
    {[](std::int32_t seconds, int worker) { return EncryptionTest(seconds, worker); }, 1.0, 1.0 / 1048576.0,
     prepareEncryptionTest},
    // 5 Compression: bytes/s to KB/s (2^-10).
    {[](std::int32_t seconds, int) { return NewCompressData(seconds); }, 1.0, 1.0 / 1024.0, nullptr},
    // 6 CPU Single Thread: score as returned.
    {[](std::int32_t seconds, int) { return SingleThreadTest(seconds); }, 1.0, 1.0, nullptr},
    // 7 Physics: Frames/s as returned.
    {[](std::int32_t seconds, int) { return PhysicsTest(static_cast<double>(seconds)); }, 1.0, 1.0,
     preparePhysicsTest},
    // 8 Extended Instructions (NEON): Million Matrices/s as returned.
    {[](std::int32_t seconds, int worker) { return MatrixMultiplyTest(worker, seconds); }, 1.0, 1.0, nullptr},
};

std::function<double(int, std::int32_t, int)> workerDispatch;

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
// The parent waits for the workers' results at most this long per second of
// test duration, counted from the end of the test time.
constexpr std::int64_t kWaitNanosecondsPerTestSecond = 10 * kNanosecondsPerSecond;
// The pause between the last ready byte and go, for the system to settle.
constexpr std::int64_t kSettleNanoseconds = kNanosecondsPerSecond;

constexpr char kCannotStartText[] = "Error: Cannot create test process initialise test\n";

void log(const std::ostringstream& line) { debugLog(line.str()); }

void runWorker(int id, std::int32_t seconds, int worker, WorkerSyncArea area) {
    area.setReady(worker, true);
    for (;;) {
        if (area.abort()) return;
        if (area.go()) break;
    }
    // A test that ends abnormally (an exception) posts nothing; the parent
    // notices the worker's end.
    const double figure = workerDispatch ? workerDispatch(id, seconds, worker)
                                         : dispatchCpuTest(id, seconds, worker);
    area.setResult(worker, figure);
    area.setDone(worker, true);  // release: the result is visible first
}

}  // namespace

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
        std::fputs(kCannotStartText, stderr);
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

    if (id >= 0 && id < 9 && kCpuTests[id].prepare != nullptr) kCpuTests[id].prepare();
    // Every return below ends the group: workers still running are killed
    // and every worker is reaped, so none can post into a later run.
    WorkerGroup workers(area);
    workers.start(n, [&](int worker) { runWorker(id, seconds, worker, area); });

    // Every worker reports ready within the same bound as the results, so a
    // worker that stalls before its first step cannot hold the caller forever.
    const std::int64_t readyBound = std::max<std::int64_t>(seconds, 1) * kWaitNanosecondsPerTestSecond;
    // A worker that ended without posting, or one that kept the run past a
    // bound: the run's figure is 0 and the log says the run timed out.
    const auto lostOrLate = [] {
        if (debugLogging) debugLog("Test Timeout");
        return 0.0;
    };
    switch (workers.waitReady(readyBound)) {
        case WorkerGroup::Outcome::ok:
            break;
        case WorkerGroup::Outcome::aborted:
            std::fputs(kCannotStartText, stderr);
            return 0.0;
        case WorkerGroup::Outcome::timedOut:
        case WorkerGroup::Outcome::lost:
            return lostOrLate();
    }

    const auto neverPosted = [](int) { return false; };
    const auto done = [&](int worker) { return area.done(worker); };
    if (workers.pause(kSettleNanoseconds, neverPosted) != WorkerGroup::Outcome::ok) return lostOrLate();
    area.setGo(true);
    // The parent sleeps through the test time, woken only by a worker that
    // ends: one that ends without posting ends the run at once (its figure
    // would be missing anyway).
    if (workers.pause(seconds * kNanosecondsPerSecond, done) != WorkerGroup::Outcome::ok) return lostOrLate();
    if (workers.waitPosted(seconds * kWaitNanosecondsPerTestSecond, done) != WorkerGroup::Outcome::ok) {
        return lostOrLate();
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
    workers.end(readyBound);  // each has posted and is exiting
    return total;
}

void runCpuTest(int id, Baseline* baseline) {
    const int n = id == 6 ? 1 : baseline->numTestProcesses;
    // The log names the workers that really run: the area holds 256.
    const auto running = [](int workers) { return std::min(workers, WorkerSyncArea::kMaxWorkers); };
    if (debugLogging) {
        std::ostringstream line;
        line << "Running CPU Test: " << id << " on " << running(n) << " Thread(s)";
        log(line);
    }
    baseline->results[id] += runTestProcesses(id, baseline, n);
    if (id == 2 && n > baseline->numCores) {
        if (debugLogging) {
            std::ostringstream line;
            line << "Running CPU Test: [Primes Cross Platform] on " << running(baseline->numCores)
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
