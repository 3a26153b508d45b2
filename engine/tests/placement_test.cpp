// Where the timed code sits, in a program linked as vx-bench and the window
// are (the engine's static libraries after the program's own objects): each
// hand-written memory loop and each function of the units compiled with
// 64-byte function alignment starts on a 64-byte boundary, so that no
// figure depends on where the linker happened to put it.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "cpu/cpu_tests.h"
#include "cpu/floating_point_internal.h"
#include "cpu/integer_math.h"
#include "cpu/matrix_multiply.h"
#include "cpu/prime_sieve_internal.h"
#include "cpu/string_sort_internal.h"
#include "memory/memory_internal.h"

// The linker's bounds of the section VX_ALIGNED_LOOP_START records each
// loop's first instruction in.
extern "C" const std::uintptr_t __start_velocitrix_loop_starts[];
extern "C" const std::uintptr_t __stop_velocitrix_loop_starts[];

namespace {

constexpr std::uintptr_t kBlock = 64;

template <typename Function>
std::uintptr_t addressOf(Function* function) {
    return reinterpret_cast<std::uintptr_t>(function);
}

TEST(Placement, EveryHandWrittenLoopStartsOnABlockInsideItsFunction) {
    const struct {
        const char* name;
        std::uintptr_t entry;
    } functions[] = {
        {"readQwords", addressOf(readQwords)},
        {"writeQwords", addressOf(writeQwords)},
        {"chasePointers", addressOf(chasePointers)},
    };
    const std::uintptr_t* const first = __start_velocitrix_loop_starts;
    ASSERT_EQ(__stop_velocitrix_loop_starts - first, 3);
    int loopsOf[3] = {};
    for (const std::uintptr_t* start = first; start != __stop_velocitrix_loop_starts; ++start) {
        EXPECT_EQ(*start % kBlock, 0u) << "a loop at 0x" << std::hex << *start;
        // The loop's function is the nearest one at or below it; the code
        // and padding before a loop stay under three blocks.
        int owner = -1;
        for (int f = 0; f < 3; ++f) {
            const std::uintptr_t entry = functions[f].entry;
            if (entry <= *start && *start - entry < 3 * kBlock &&
                (owner < 0 || entry > functions[owner].entry)) {
                owner = f;
            }
        }
        if (owner >= 0) ++loopsOf[owner];
    }
    for (int f = 0; f < 3; ++f) EXPECT_EQ(loopsOf[f], 1) << functions[f].name;
}

TEST(Placement, EveryTimedFunctionOfThePinnedUnitsStartsOnABlock) {
    const struct {
        const char* name;
        std::uintptr_t entry;
    } functions[] = {
        {"runIntegerPass", addressOf(runIntegerPass)},
        {"IntegerMathTest", addressOf(IntegerMathTest)},
        {"fillIntegerArrays", addressOf(fillIntegerArrays)},
        {"runIterationBlock", addressOf(floating_point::runIterationBlock)},
        {"FloatingPointTest", addressOf(FloatingPointTest)},
        {"singleChain", addressOf(floating_point::singleChain)},
        {"sievePass", addressOf(prime_sieve::sievePass)},
        {"PrimeTest", addressOf(PrimeTest)},
        {"countSetBits", addressOf(prime_sieve::countSetBits)},
        {"CompareSortStrings", addressOf(CompareSortStrings)},
        {"StringSortTest", addressOf(StringSortTest)},
        {"fillRecords", addressOf(string_sort::fillRecords)},
        {"TransformVectorsScalar", addressOf(TransformVectorsScalar)},
        {"TransformVectorsSimd", addressOf(TransformVectorsSimd)},
        {"RunMatrixKernel", addressOf(RunMatrixKernel)},
    };
    for (const auto& function : functions) {
        EXPECT_EQ(function.entry % kBlock, 0u)
            << function.name << " at 0x" << std::hex << function.entry;
    }
}

}  // namespace
