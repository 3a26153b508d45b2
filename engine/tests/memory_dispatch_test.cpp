#include <gtest/gtest.h>

#include "memory/memory_tests.h"
#include "state/baseline.h"

namespace {

TEST(MemoryDispatchTest, IdsOutsideTheMemorySuiteAddNothing) {
    Baseline baseline;
    baseline.testSeconds = 0;
    for (int id = 0; id < kTestCount; ++id) baseline.results[id] = 2.0;
    for (int id : {-1, 0, 3, 8, 16, 99}) runMemoryTest(id, &baseline);
    for (int id = 0; id < kTestCount; ++id) EXPECT_EQ(baseline.results[id].load(), 2.0) << id;
}

TEST(MemoryDispatchTest, FigureIsAddedToTheSlot) {
    Baseline baseline;
    baseline.testSeconds = 0;
    baseline.results[10] = 1.0;
    runMemoryTest(10, &baseline);
    // Ten 16 KiB .. 8 MiB reads, one group of passes each.
    EXPECT_GT(baseline.results[10].load(), 1.0);
}

}  // namespace
