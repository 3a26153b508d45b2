// The memory suite's entry point (ids 9-15) and what its tests share: the
// allocation of their big buffers and the bound on waiting for workers.

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "state/baseline.h"
#include "state/clock_log.h"

namespace {

NullSink memoryTestsSink;

constexpr int kDatabaseTest = 9;
constexpr int kReadCachedTest = 10;
constexpr int kReadUncachedTest = 11;
constexpr int kWriteTest = 12;
constexpr int kAvailableRamTest = 13;
constexpr int kLatencyTest = 14;
constexpr int kThreadedReadTest = 15;

// Blocks of the three latency runs, in KiB: a few pages, a few more, and
// thousands of pages between consecutive loads.
constexpr std::int32_t kLatencyBlocksKiB[] = {16, 64, 8192};

MemoryTestSeams testSeams;

// At namespace scope, made before main: the database workers allocate
// through it, and a worker must not be the first to initialise an object
// (see WorkerGroup::start).
std::function<bool(std::size_t)> allocationHook;

}  // namespace

void* allocateTestBuffer(std::size_t bytes) {
    if (allocationHook && !allocationHook(bytes)) return nullptr;
    return std::malloc(bytes);
}

void setAllocationHookForTesting(std::function<bool(std::size_t bytes)> allow) {
    allocationHook = std::move(allow);
}

void setMemoryTestSeamsForTesting(const MemoryTestSeams& seams) { testSeams = seams; }

const MemoryTestSeams& memoryTestSeams() { return testSeams; }

std::int64_t memoryTestClock() {
    return testSeams.clock != nullptr ? testSeams.clock() : nowNanoseconds();
}

std::int64_t workerWaitBoundNanoseconds(std::int32_t seconds) {
    return static_cast<std::int64_t>(std::max(seconds, 1)) * 10000000000LL;
}

int databaseWorkerCount(std::int32_t numLogicals, std::int32_t numCores,
                        std::int32_t numTestProcesses) {
    const std::int32_t perCore = numLogicals > numCores ? numLogicals / 2 : numLogicals;
    return std::min({numTestProcesses, perCore, kDatabaseMaxWorkers});
}

std::vector<int> threadedReadCounts(std::int32_t numLogicals) {
    std::vector<int> counts;
    for (std::int32_t n = numLogicals; n >= 1; n /= 2) counts.push_back(n);
    return counts;
}

void runMemoryTest(int id, Baseline* baseline) {
    if (id < 0 || id >= kTestCount) return;
    const std::int32_t seconds = baseline->testSeconds;
    double figure = 0.0;
    switch (id) {
        case kDatabaseTest:
            figure = runDatabaseTest(seconds, databaseWorkerCount(baseline->numLogicals,
                                                                  baseline->numCores,
                                                                  baseline->numTestProcesses));
            break;
        case kReadCachedTest:
            figure = testReadCached(seconds);
            break;
        case kReadUncachedTest:
            figure = testReadUncached(seconds);
            break;
        case kWriteTest:
            figure = testWrite(seconds);
            break;
        case kAvailableRamTest:
            figure = testAvailableRam(seconds);
            break;
        case kLatencyTest: {
            double sum = 0.0;
            for (std::int32_t blockKiB : kLatencyBlocksKiB) {
                const double latency = measureLatency(seconds, blockKiB);
                // No average of a partial set: the slot stays as it was.
                if (latency == 0.0) return;
                sum += latency;
            }
            figure = sum / 3.0;
            break;
        }
        case kThreadedReadTest: {
            double best = 0.0;
            for (int n : threadedReadCounts(baseline->numLogicals)) {
                const ThreadedReadRun run = runThreadedRead(seconds, n);
                // A run short of threads fails the whole test: the best of
                // the smaller runs is not the machine's figure.
                if (!run.threadsStarted) return;
                best = std::max(best, run.total);
            }
            figure = best;
            break;
        }
        default:
            break;
    }
    baseline->results[id] += figure;
}
