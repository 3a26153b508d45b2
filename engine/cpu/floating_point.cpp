// CPU test 1, "Floating Point Math": dependent chains of add, subtract,
// multiply and divide in single and double precision. Result in Million
// Operations/s. Also the first phase of the single-thread test.

#include <cstdlib>
#include <sstream>

#include "cpu/cpu_tests.h"
#include "cpu/floating_point_internal.h"
#include "state/c_rand.h"
#include "state/clock_log.h"
#include "state/minstd.h"

namespace floating_point {

namespace {

constexpr std::uint32_t kDataSeed = 777;
// Pair indices run 0, 2, ..., 19,998 and wrap to 0, so i + 1 never passes
// the last element.
constexpr std::int32_t kWrapAbove = 19997;

}  // namespace

void fillSingle(float* single, std::size_t count) {
    Minstd minstd(kDataSeed);
    for (std::size_t k = 0; k < count; ++k) {
        const int r1 = cRand();
        const int r2 = cRand();
        const std::uint32_t m = minstd.next();
        float v = (static_cast<float>(r1) * 1000.0f + static_cast<float>(r2)) +
                  static_cast<float>(m) / 10000.0f;
        if (v == 0.0f) v = 1.0f;
        single[k] = v;
    }
}

void fillDouble(double* dbl, std::size_t count) {
    Minstd minstd(kDataSeed);
    for (std::size_t k = 0; k < count; ++k) {
        const int r1 = cRand();
        const int r2 = cRand();
        const std::uint32_t m = minstd.next();
        double v = (static_cast<double>(r1) * 1000.0 + static_cast<double>(r2)) +
                   static_cast<double>(m) / 10000.0;
        if (v == 0.0) v = 1.0;
        dbl[k] = v;
    }
}

// The build uses -ffp-contract=off and no fast-math, so each line below stays
// one IEEE operation: (t + b) - b is not t once t + b has rounded or
// overflowed, which is exactly what the chain relies on.
template <typename T>
static inline T chain(T a, T b) {
    T t = a;
    t = t + b; t = t - b; t = t * b;
    t = t + b; t = t - b; t = t * b;
    t = t + b; t = t - b; t = t * b;
    t = t / b;
    t = t + b; t = t - b; t = t * b;
    t = t + b; t = t - b; t = t * b;
    t = t + b; t = t - b; t = t * b;
    t = t / b;
    return t;
}

float singleChain(float a, float b) { return chain(a, b); }
double doubleChain(double a, double b) { return chain(a, b); }

void runIterationBlock(const float* single, const double* dbl, std::int32_t& index,
                       float& singleSum, double& doubleSum) {
    std::int32_t i = index;
    float sumF = singleSum;
    double sumD = doubleSum;
    for (int k = 0; k < kIterationsPerClockRead; ++k) {
        sumF += chain(single[i], single[i + 1]);
        sumD += chain(dbl[i], dbl[i + 1]);
        i = (i > kWrapAbove) ? 0 : i + 2;
    }
    index = i;
    singleSum = sumF;
    doubleSum = sumD;
}

namespace {

// The calls as FloatingPointTest makes them: direct, nothing virtual.
struct DirectFloatingPointCalls {
    static void* allocate(std::size_t bytes) { return std::malloc(bytes); }
    static void release(void* block) { std::free(block); }
    static std::int64_t now() { return nowNanoseconds(); }
    static void block(const float* single, const double* dbl, std::int32_t& index,
                      float& singleSum, double& doubleSum) {
        runIterationBlock(single, dbl, index, singleSum, doubleSum);
    }
};

template <class Calls>
double timedFloatingPoint(std::int32_t seconds, Calls& calls) {
    float* single = static_cast<float*>(calls.allocate(kElements * sizeof(float)));
    if (single == nullptr) return 0.0;
    fillSingle(single, kElements);

    double* dbl = static_cast<double*>(calls.allocate(kElements * sizeof(double)));
    if (dbl == nullptr) {
        calls.release(single);
        return 0.0;
    }
    fillDouble(dbl, kElements);

    float singleSum = 0.0f;
    double doubleSum = 0.0;
    std::int64_t operations = 0;
    std::int32_t index = 0;

    const std::int64_t start = calls.now();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000LL;
    std::int64_t now;
    do {
        calls.block(single, dbl, index, singleSum, doubleSum);
        operations += kOperationsPerIteration * kIterationsPerClockRead;
        now = calls.now();
    } while (now < deadline);

    calls.release(single);
    calls.release(dbl);

    const double elapsed = static_cast<double>(now - start) / 1000000000.0;
    const double result = static_cast<double>(operations) / elapsed / 1000000.0;

    cpuTestsSink() << singleSum << doubleSum;

    if (debugLogging) {
        std::ostringstream message;
        message << "FLOAT TEST: Time Elapsed = " << elapsed << ", Operations = " << operations
                << ", MOps = " << result;
        debugLog(message.str());
    }
    return result;
}

}  // namespace

void* FloatingPointCalls::allocate(std::size_t bytes) {
    return DirectFloatingPointCalls::allocate(bytes);
}
void FloatingPointCalls::release(void* block) { DirectFloatingPointCalls::release(block); }
std::int64_t FloatingPointCalls::now() { return DirectFloatingPointCalls::now(); }
void FloatingPointCalls::block(const float* single, const double* dbl, std::int32_t& index,
                               float& singleSum, double& doubleSum) {
    DirectFloatingPointCalls::block(single, dbl, index, singleSum, doubleSum);
}

double runFloatingPointTest(std::int32_t seconds, FloatingPointCalls& calls) {
    return timedFloatingPoint(seconds, calls);
}

}  // namespace floating_point

double FloatingPointTest(std::int32_t seconds) {
    floating_point::DirectFloatingPointCalls calls;
    return floating_point::timedFloatingPoint(seconds, calls);
}
