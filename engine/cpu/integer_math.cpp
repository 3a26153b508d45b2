// CPU test 0, Integer Math: chains of dependent 32- and 64-bit integer
// operations in registers; Million Operations/s.

#include "cpu/integer_math.h"

#include <cstdlib>
#include <sstream>

#include "cpu/cpu_tests.h"
#include "state/clock_log.h"
#include "state/minstd.h"

namespace {

// Written by the integer math and floating-point tests; never read.
NullSink cpuSink;

constexpr std::uint32_t kMix1 = 823;
constexpr std::uint32_t kMix2 = 457;
constexpr std::uint32_t kMix3 = 673;
constexpr int kLogicIterations = 1000;
constexpr int kMultiplyIterations = 500;

// Eleven dependent operations; unsigned types give the wrap-around
// arithmetic of the lane's width.
template <typename T>
inline T mix(T x, T y, T z, T k) {
    T t = x - y;
    t = t + z;
    t = t << 8;
    t = z + t;
    t = t & z;
    t = t - y;
    t = t ^ y;
    t = t + z;
    t = ~t;
    t = t - y;
    return t | k;
}

template <typename T>
inline void logicIteration(T& a, T& b, T& c) {
    a = mix<T>(a, b, c, kMix1);
    b = mix<T>(b, a, c, kMix2);
    c = mix<T>(c, b, a, kMix3);
}

template <typename T>
inline void multiplyIteration(T a, T b, T& c) {
    const T p = c * a;
    const T q = p * b;
    const T r = q * p;
    c = signedDivide(r, a) | b;
}

}  // namespace

NullSink& cpuTestsSink() { return cpuSink; }

void fillIntegerArrays(std::uint32_t* a, std::uint64_t* b) {
    Minstd generator(777);
    for (int i = 0; i < kIntegerElements; ++i) {
        const std::uint32_t d1 = generator.next();
        const std::uint32_t d2 = generator.next();
        const std::uint32_t value = d2 + (d1 << 17);  // mod 2^32
        a[i] = value == 0 ? 1 : value;
    }
    generator.seed(777);
    for (int i = 0; i < kIntegerElements; ++i) {
        const std::uint64_t d1 = generator.next();
        const std::uint64_t d2 = generator.next();
        const std::uint64_t d3 = generator.next();
        const std::uint64_t d4 = generator.next();
        const std::uint64_t combined = ((d1 * 32768 + d2) * 32768 + d3) * 32768 + d4;  // mod 2^64
        b[i] = combined == 0 ? 1 : combined;
    }
}

int runIntegerPass(const std::uint32_t* a, const std::uint64_t* b, int i, IntegerPassLanes& lanes) {
    // Lanes live in locals (registers) for the whole pass; memory is touched
    // only by these twelve loads.
    std::uint32_t a0 = a[i], b0 = a[i + 1], c0 = a[i + 2];
    std::uint32_t a1 = a[i + 3], b1 = a[i + 4], c1 = a[i + 5];
    std::uint64_t a2 = b[i], b2 = b[i + 1], c2 = b[i + 2];
    std::uint64_t a3 = b[i + 3], b3 = b[i + 4], c3 = b[i + 5];
    if (b0 == 0) b0 = 1;
    if (b1 == 0) b1 = 1;
    if (b2 == 0) b2 = 1;
    if (b3 == 0) b3 = 1;

    for (int k = 0; k < kLogicIterations; ++k) {
        logicIteration(a0, b0, c0);
        logicIteration(a1, b1, c1);
    }
    for (int k = 0; k < kLogicIterations; ++k) {
        logicIteration(a2, b2, c2);
        logicIteration(a3, b3, c3);
    }
    for (int k = 0; k < kMultiplyIterations; ++k) {
        multiplyIteration(a0, b0, c0);
        multiplyIteration(a1, b1, c1);
    }
    for (int k = 0; k < kMultiplyIterations; ++k) {
        multiplyIteration(a2, b2, c2);
        multiplyIteration(a3, b3, c3);
    }

    lanes.narrow[0] = {a0, b0, c0};
    lanes.narrow[1] = {a1, b1, c1};
    lanes.wide[0] = {a2, b2, c2};
    lanes.wide[1] = {a3, b3, c3};
    int increment = 0;
    if (static_cast<std::int32_t>(c0 + c1) > 0) ++increment;
    if (static_cast<std::int64_t>(c2 + c3) > 0) ++increment;
    return increment;
}

namespace {

// The calls as IntegerMathTest makes them: direct, nothing virtual.
struct DirectIntegerCalls {
    static void* allocate(std::size_t bytes) { return std::malloc(bytes); }
    static void release(void* block) { std::free(block); }
    static std::int64_t now() { return nowNanoseconds(); }
    static int pass(const std::uint32_t* a, const std::uint64_t* b, int i, IntegerPassLanes& lanes) {
        return runIntegerPass(a, b, i, lanes);
    }
};

template <class Calls>
double timedIntegerMath(std::int32_t seconds, Calls& calls) {
    auto* a = static_cast<std::uint32_t*>(calls.allocate(kIntegerElements * sizeof(std::uint32_t)));
    if (a == nullptr) return 0.0;
    auto* b = static_cast<std::uint64_t*>(calls.allocate(kIntegerElements * sizeof(std::uint64_t)));
    if (b == nullptr) {
        calls.release(a);
        return 0.0;
    }
    fillIntegerArrays(a, b);

    std::int64_t operations = 0;
    std::uint64_t checksum = 0;
    int i = 0;
    IntegerPassLanes lanes;
    const std::int64_t start = calls.now();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000;
    std::int64_t now;
    do {
        checksum += static_cast<std::uint64_t>(calls.pass(a, b, i, lanes));
        i = (i + 6) % kIntegerOffsetLimit;
        operations += kIntegerOperationsPerPass;
        now = calls.now();  // once per pass of 142,000 operations
    } while (now < deadline);
    calls.release(a);
    calls.release(b);

    // Whole seconds, as the figure has always been computed; below one second
    // (never the product's duration) the exact elapsed time is used instead
    // of dividing by zero.
    double elapsed = static_cast<double>((now - start) / 1000000000);
    if (elapsed == 0.0) elapsed = static_cast<double>(now - start) / 1e9;
    const double result = static_cast<double>(operations) / elapsed / 1000000.0;

    cpuSink << checksum;
    if (debugLogging) {
        std::ostringstream line;
        line << "INTEGER TEST: Time Elapsed = " << elapsed << ", Operations = " << operations
             << ", MOps = " << result;
        debugLog(line.str());
    }
    return result;
}

}  // namespace

void* IntegerMathCalls::allocate(std::size_t bytes) { return DirectIntegerCalls::allocate(bytes); }
void IntegerMathCalls::release(void* block) { DirectIntegerCalls::release(block); }
std::int64_t IntegerMathCalls::now() { return DirectIntegerCalls::now(); }
int IntegerMathCalls::pass(const std::uint32_t* a, const std::uint64_t* b, int i,
                           IntegerPassLanes& lanes) {
    return DirectIntegerCalls::pass(a, b, i, lanes);
}

double runIntegerMathTest(std::int32_t seconds, IntegerMathCalls& calls) {
    return timedIntegerMath(seconds, calls);
}

double IntegerMathTest(std::int32_t seconds) {
    DirectIntegerCalls calls;
    return timedIntegerMath(seconds, calls);
}
