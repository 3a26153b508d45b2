#pragma once

#include <cstdint>
#include <functional>

struct Baseline;

// Runs CPU test id (0-8) in worker processes and adds the summed figure to
// results[id] (and sub-results for ids 4 and 8; test 2 also runs once more
// with one worker per physical core into primesCrossPlatform).
void runCpuTest(int id, Baseline* baseline);

// Forks n workers (capped at the area's 256 slots), releases them together
// and returns the sum of their figures in display units, or 0.0 when a fork
// failed, no area is mapped, a worker ended without posting (noticed at once
// while the parent sleeps, within 10 ms while it spins), or the workers were
// not all ready, or had not all posted, within ten seconds per second of
// test duration (after the test time, for the results). All but the first
// two write "Test Timeout" to the debug log when logging is on. Workers still
// running then are killed; every worker is reaped before this returns, and
// none outlives the thread that called it (see WorkerGroup).
double runTestProcesses(int id, Baseline* baseline, int n);

// Inside a worker: runs test id and returns its figure in display units.
double dispatchCpuTest(int id, std::int32_t seconds, int worker);

// Test seam: the dispatcher used by workers instead of dispatchCpuTest
// (lets tests run a worker that stalls or finishes at once). Empty: the real
// dispatcher.
void setWorkerDispatchForTesting(std::function<double(int id, std::int32_t seconds, int worker)> dispatch);
