// Threaded memory read: the combined read bandwidth (MiB/s) of n threads,
// each reading its own share of one large block at the same time. The
// threads prepare their buffers in parallel, report ready in the
// WorkerSyncArea and are released together by its go flag.

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "memory/memory_internal.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"

namespace {

std::function<void(std::int32_t, float, std::int32_t)>& workerForTesting() {
    static std::function<void(std::int32_t, float, std::int32_t)> worker;
    return worker;
}

// Waits until all n threads are ready. False as soon as a thread has ended
// without becoming ready (its buffer could not be had), or when the bound
// has passed.
bool waitUntilReady(const WorkerSyncArea& area, int n, const std::atomic<bool>* finished,
                    std::int64_t bound) {
    const std::int64_t deadline = memoryTestClock() + bound;
    for (;;) {
        bool allReady = true;
        for (int i = 0; i < n; ++i) {
            // finished before ready: a thread that was ready when it ended
            // is then seen ready.
            const bool ended = finished[i].load(std::memory_order_acquire);
            if (area.ready(i)) continue;
            if (ended) return false;
            allReady = false;
        }
        if (allReady) return true;
        if (memoryTestClock() > deadline) {
            if (debugLogging) debugLog("Test Timeout");
            return false;
        }
    }
}

}  // namespace

std::int32_t threadedShareBytes(std::int32_t n) {
    std::uint64_t total = 536870912;                // 512 MiB
    if (n >= 65) total = 2147483648ULL;             // 2 GiB
    else if (n >= 32) total = 1073741824;           // 1 GiB
    return static_cast<std::int32_t>(total / static_cast<std::uint64_t>(n));
}

void threadedReadWorker(std::int32_t share, float seconds, std::int32_t worker) {
    const double rate = measureBandwidth(share, false, true, worker, seconds);
    currentWorkerSyncArea().setResult(worker, rate);
}

void setThreadedReadWorkerForTesting(
    std::function<void(std::int32_t share, float seconds, std::int32_t worker)> worker) {
    workerForTesting() = std::move(worker);
}

ThreadedReadRun runThreadedRead(std::int32_t seconds, std::int32_t n) {
    ThreadedReadRun run;
    if (n < 1) return run;
    n = std::min(n, static_cast<std::int32_t>(WorkerSyncArea::kMaxWorkers));
    WorkerSyncArea area = currentWorkerSyncArea();
    if (!area.valid()) return run;

    const std::int32_t share = threadedShareBytes(n);
    const float threadSeconds = static_cast<float>(seconds);
    const std::function<void(std::int32_t, float, std::int32_t)> worker =
        workerForTesting() ? workerForTesting() : threadedReadWorker;

    area.setGo(false);
    area.setAbort(false);
    for (int i = 0; i < n; ++i) {
        area.setReady(i, false);
        area.setResult(i, 0.0);
    }

    // Set by each thread as its last step, so that the wait below can tell
    // a thread that gave up from one that is still preparing.
    std::array<std::atomic<bool>, WorkerSyncArea::kMaxWorkers> finished{};
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(n));
    const auto beforeThreadStart = memoryTestSeams().beforeThreadStart;
    for (int i = 0; i < n && run.threadsStarted; ++i) {
        if (beforeThreadStart != nullptr) beforeThreadStart(i);
        try {
            threads.emplace_back([&worker, &finished, share, threadSeconds, i] {
                worker(share, threadSeconds, i);
                finished[i].store(true, std::memory_order_release);
            });
        } catch (const std::system_error& error) {
            // A figure from fewer threads than asked is not a result.
            std::fprintf(stderr, "Error: Cannot create test thread %d of %d (%s)\n", i + 1, n,
                         error.code().message().c_str());
            run.threadsStarted = false;
        }
    }

    const bool ready = run.threadsStarted &&
        waitUntilReady(area, n, finished.data(), workerWaitBoundNanoseconds(seconds));
    if (!ready) {
        // Threads waiting for go end on the abort flag without measuring;
        // the others are still preparing or have ended, and end by
        // themselves.
        area.setAbort(true);
        for (std::thread& thread : threads) thread.join();
        return run;
    }

    area.setGo(true);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    for (std::thread& thread : threads) thread.join();

    for (int i = 0; i < n; ++i) run.total += area.result(i);
    return run;
}

double testThreadedRead(std::int32_t seconds, std::int32_t n) {
    return runThreadedRead(seconds, n).total;
}
