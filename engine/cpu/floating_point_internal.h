#pragma once

#include <cstddef>
#include <cstdint>

// Pieces of the floating-point test shared with its unit tests.

namespace floating_point {

inline constexpr std::size_t kElements = 20000;
// The clock is read once per this many iterations, so that clock reads are
// a negligible share of the timed work.
inline constexpr int kIterationsPerClockRead = 300;
// Twenty operations per chain, one chain in each precision per iteration.
inline constexpr std::int64_t kOperationsPerIteration = 40;

// Fills the arrays as the test does: each element is
// (rand() * 1000 + rand()) + minstd / 10000 in the array's precision, the
// Minstd generator seeded with 777 for each array, the C library's rand()
// sequence (cRand) continued from whatever state the process has (first all
// of `single`, then all of `dbl`). 0.0 would be stored as 1.0.
void fillSingle(float* single, std::size_t count);
void fillDouble(double* dbl, std::size_t count);

// The twenty-operation chain on (a, b) in one precision; every step a
// separate IEEE operation in the written order.
float singleChain(float a, float b);
double doubleChain(double a, double b);

// Runs kIterationsPerClockRead iterations starting at pair index `index`
// (advanced and wrapped as the test does) and adds each chain's value to
// the sum of its precision.
void runIterationBlock(const float* single, const double* dbl, std::int32_t& index,
                       float& singleSum, double& doubleSum);

// Every call FloatingPointTest makes for its arrays, its clock and its
// iterations; each default does what the test does. FloatingPointTest itself
// runs the same loop with direct calls, so the product pays no virtual call
// for this; a unit test derives from it to watch (or fail) each call in order.
class FloatingPointCalls {
public:
    virtual ~FloatingPointCalls() = default;
    // malloc and free.
    virtual void* allocate(std::size_t bytes);
    virtual void release(void* block);
    // nowNanoseconds.
    virtual std::int64_t now();
    // runIterationBlock.
    virtual void block(const float* single, const double* dbl, std::int32_t& index,
                       float& singleSum, double& doubleSum);
};

// FloatingPointTest's loop with every call made through `calls`.
double runFloatingPointTest(std::int32_t seconds, FloatingPointCalls& calls);

}  // namespace floating_point
