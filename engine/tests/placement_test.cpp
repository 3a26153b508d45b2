// Where the timed code sits in a program linked as vx-bench and the window
// are: each hand-written memory loop, and each timed function of the units
// built with 64-byte function alignment, starts on a 64-byte boundary.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/floating_point_internal.h"
#include "cpu/integer_math.h"
#include "cpu/matrix_multiply.h"
#include "cpu/prime_sieve_internal.h"
#include "cpu/string_sort_internal.h"
#include "memory/memory_internal.h"

// Bounds of the section VX_ALIGNED_LOOP_START records each loop's start in.
extern "C" const std::uintptr_t __start_velocitrix_loop_starts[];
extern "C" const std::uintptr_t __stop_velocitrix_loop_starts[];

namespace {

struct Placed {
    const char* name;
    std::uintptr_t address;
};
#define VX_PLACED(function) Placed{#function, reinterpret_cast<std::uintptr_t>(&function)}

TEST(Placement, TheLoopsAndThePinnedFunctionsStartOnA64ByteBoundary) {
    // The loops' functions are named so that their units are linked in.
    std::vector<Placed> placed = {VX_PLACED(readQwords), VX_PLACED(writeQwords),
                                  VX_PLACED(chasePointers)};
    ASSERT_EQ(__stop_velocitrix_loop_starts - __start_velocitrix_loop_starts, 3);
    for (const std::uintptr_t* s = __start_velocitrix_loop_starts;
         s != __stop_velocitrix_loop_starts; ++s) {
        EXPECT_EQ(*s % 64, 0u) << "loop at 0x" << std::hex << *s;
    }
    placed = {VX_PLACED(runIntegerPass), VX_PLACED(IntegerMathTest),
              VX_PLACED(floating_point::runIterationBlock), VX_PLACED(FloatingPointTest),
              VX_PLACED(prime_sieve::sievePass), VX_PLACED(PrimeTest),
              VX_PLACED(CompareSortStrings), VX_PLACED(StringSortTest),
              VX_PLACED(TransformVectorsScalar), VX_PLACED(TransformVectorsSimd)};
    for (const Placed& f : placed) {
        EXPECT_EQ(f.address % 64, 0u) << f.name << " at 0x" << std::hex << f.address;
    }
}

}  // namespace
