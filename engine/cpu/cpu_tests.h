#pragma once

#include <cstdint>

// The CPU tests. Each runs inside one forked worker process for the given
// duration and returns that worker's own figure; the runner scales it to the
// display unit (dispatchCpuTest) and sums the workers.

// Million integer operations per second; 0.0 when its arrays cannot be had.
double IntegerMathTest(std::int32_t seconds);
// Million floating-point operations per second; 0.0 without memory.
double FloatingPointTest(std::int32_t seconds);
// Primes found per second.
double PrimeTest(std::int32_t seconds);
// Strings sorted per second.
double StringSortTest(std::int32_t seconds);
// Mean of the AES, SHA-256 and ECDSA-verify rates, bytes per second; posts
// the three rates into the worker's encryption slots of the sync area.
double EncryptionTest(std::int32_t seconds, std::int32_t workerIndex);
// Input bytes compressed per second.
double NewCompressData(std::int32_t seconds);
// Weighted single-core score of the floating-point, sorting and
// compression tests.
double SingleThreadTest(std::int32_t seconds);
// Frames per second of physics stepping time.
double PhysicsTest(double seconds);
// Million 4x4 matrix-vector transforms per second; posts the scalar and SIMD
// rates into the worker's matrix slots of the sync area.
double MatrixMultiplyTest(std::int32_t workerIndex, double seconds);

// Run in the parent before the workers of their test are forked: each makes
// the one-time objects that its libraries create on first use, so that no
// worker is the first to initialise one (see WorkerGroup::start).
void prepareEncryptionTest();
void preparePhysicsTest();

// The CPU tests' shared sink (integer math and floating point write to it).
class NullSink;
NullSink& cpuTestsSink();
