#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Internals of the integer math test, exposed for its tests.

constexpr int kIntegerElements = 20000;  // values in each of the arrays A and B
constexpr int kIntegerOffsetLimit = 19994;  // pass offset wraps here (reads stay below 19,998)
constexpr std::int64_t kIntegerOperationsPerPass = 142000;

// Fills A (32-bit) and B (64-bit) from Minstd seeded with 777 (once for each
// array); no element is 0.
void fillIntegerArrays(std::uint32_t* a, std::uint64_t* b);

template <typename T>
struct IntegerLane {
    T a, b, c;
};

// The four lanes of one pass.
struct IntegerPassLanes {
    IntegerLane<std::uint32_t> narrow[2];
    IntegerLane<std::uint64_t> wide[2];
};

// The four blocks of one pass on lanes loaded from offset i (logic blocks of
// 1000 iterations, multiply/divide blocks of 500). Returns the checksum
// increment of the pass (0, 1 or 2); the final lanes are left in lanes.
int runIntegerPass(const std::uint32_t* a, const std::uint64_t* b, int i, IntegerPassLanes& lanes);

// Every call IntegerMathTest makes for its arrays, its clock and its passes;
// each default does what the test does. IntegerMathTest itself runs the same
// loop with direct calls, so the product pays no virtual call for this; a
// unit test derives from it to watch (or fail) each call in order.
class IntegerMathCalls {
public:
    virtual ~IntegerMathCalls() = default;
    // malloc and free.
    virtual void* allocate(std::size_t bytes);
    virtual void release(void* block);
    // nowNanoseconds.
    virtual std::int64_t now();
    // runIntegerPass.
    virtual int pass(const std::uint32_t* a, const std::uint64_t* b, int i, IntegerPassLanes& lanes);
};

// IntegerMathTest's loop with every call made through `calls`.
double runIntegerMathTest(std::int32_t seconds, IntegerMathCalls& calls);

// Signed division truncating toward zero in the lane's width (T is the
// unsigned lane type); the most negative value divided by -1 is the most
// negative value, with no trap. Inline: it sits in the timed chain.
template <typename T>
inline T signedDivide(T dividend, T divisor) {
    using Signed = std::make_signed_t<T>;
    const Signed d = static_cast<Signed>(divisor);
    if (d == -1) return T(0) - dividend;
    return static_cast<T>(static_cast<Signed>(dividend) / d);
}
