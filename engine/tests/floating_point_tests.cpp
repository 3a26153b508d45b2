#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <limits>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/floating_point_internal.h"
#include "cpu_test_support.h"
#include "state/c_rand.h"

using namespace floating_point;

namespace {

struct Data {
    std::vector<float> single = std::vector<float>(kElements);
    std::vector<double> dbl = std::vector<double>(kElements);
};

Data filledData(unsigned randSeed) {
    Data data;
    cSrand(randSeed);
    fillSingle(data.single.data(), kElements);
    fillDouble(data.dbl.data(), kElements);
    return data;
}

}  // namespace

TEST(FloatingPointData, ElementsFollowTheRandAndMinstdFormulaInOrder) {
    const Data data = filledData(4242);
    // The C library's rand() sequence the fill consumed: two draws per
    // element, the single array first, the double array continuing it.
    std::srand(4242);
    std::vector<int> r(4 * kElements);
    for (int& v : r) v = std::rand();

    // Minstd(777) draws 37,506,567 and 150,781,236 first, for both arrays.
    const float f0 = (static_cast<float>(r[0]) * 1000.0f + static_cast<float>(r[1])) +
                     37506567.0f / 10000.0f;
    const float f1 = (static_cast<float>(r[2]) * 1000.0f + static_cast<float>(r[3])) +
                     150781236.0f / 10000.0f;
    EXPECT_EQ(data.single[0], f0);
    EXPECT_EQ(data.single[1], f1);

    const std::size_t d = 2 * kElements;
    const double d0 = (static_cast<double>(r[d]) * 1000.0 + r[d + 1]) + 37506567.0 / 10000.0;
    const double d1 = (static_cast<double>(r[d + 2]) * 1000.0 + r[d + 3]) + 150781236.0 / 10000.0;
    EXPECT_EQ(data.dbl[0], d0);
    EXPECT_EQ(data.dbl[1], d1);
}

TEST(FloatingPointData, MinstdPartIsTheSameForEveryRandState) {
    const Data a = filledData(1);
    const Data b = filledData(99);
    // The fractional part of a double element is its Minstd term's, to
    // within the rounding of a value near 10^12.
    for (std::size_t k : {std::size_t{0}, std::size_t{1}, std::size_t{19999}}) {
        const double fa = a.dbl[k] - std::floor(a.dbl[k]);
        const double fb = b.dbl[k] - std::floor(b.dbl[k]);
        EXPECT_NEAR(fa, fb, 1e-3) << "element " << k;
    }
    EXPECT_NEAR(a.dbl[0] - std::floor(a.dbl[0]), 0.6567, 1e-3);
    EXPECT_NEAR(a.dbl[1] - std::floor(a.dbl[1]), 0.1236, 1e-3);
}

TEST(FloatingPointData, NoElementIsZeroOrNegative) {
    const Data data = filledData(7);
    for (std::size_t k = 0; k < kElements; ++k) {
        ASSERT_GT(data.single[k], 0.0f) << k;
        ASSERT_GT(data.dbl[k], 0.0) << k;
    }
}

TEST(FloatingPointChain, RunsTwentyOperationsInOrder) {
    // t = 1, b = 2: three rounds of (t + b - b) * b give 8, / b gives 4,
    // three more give 32, / b gives 16.
    EXPECT_EQ(doubleChain(1.0, 2.0), 16.0);
    EXPECT_EQ(singleChain(1.0f, 2.0f), 16.0f);
}

TEST(FloatingPointChain, AddThenSubtractIsNotSimplifiedAway) {
    // 1 + 10^20 rounds to 10^20, so (t + b) - b is 0 in IEEE arithmetic;
    // an optimiser that folded it to t would return a huge value.
    EXPECT_EQ(doubleChain(1.0, 1e20), 0.0);
    EXPECT_EQ(singleChain(1.0f, 1e10f), 0.0f);
}

TEST(FloatingPointChain, SinglePrecisionOverflowsToInfinityAndDoubleStaysFinite) {
    const Data data = filledData(1);
    EXPECT_EQ(singleChain(data.single[0], data.single[1]), std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isfinite(doubleChain(data.dbl[0], data.dbl[1])));

    std::int32_t index = 0;
    float singleSum = 0.0f;
    double doubleSum = 0.0;
    runIterationBlock(data.single.data(), data.dbl.data(), index, singleSum, doubleSum);
    EXPECT_EQ(singleSum, std::numeric_limits<float>::infinity());
    EXPECT_TRUE(std::isfinite(doubleSum));
    EXPECT_GT(doubleSum, 0.0);
}

TEST(FloatingPointChain, PairIndexAdvancesByTwoAndWrapsAfter19998) {
    const Data data = filledData(1);
    float singleSum = 0.0f;
    double doubleSum = 0.0;

    std::int32_t index = 0;
    runIterationBlock(data.single.data(), data.dbl.data(), index, singleSum, doubleSum);
    EXPECT_EQ(index, 2 * kIterationsPerClockRead);

    // 19,998 is used once, then the index starts again at 0.
    index = 19998;
    runIterationBlock(data.single.data(), data.dbl.data(), index, singleSum, doubleSum);
    EXPECT_EQ(index, 2 * (kIterationsPerClockRead - 1));
}

TEST(FloatingPointTest, PastDeadlineStillRunsOneBlockOf300Iterations) {
    expectOnePastDeadline(FloatingPointTest, "FLOAT TEST: Time Elapsed = ", ", Operations = 12000, MOps = ",
                          12000.0, 1e-6);
}

namespace {

// The floating-point loop with every call logged (B block of 300
// iterations) and the real blocks; the rand() sequence seeded with 31.
struct WatchedFloatingPoint : LoggedCalls<FloatingPointCalls, void> {
    WatchedFloatingPoint() : LoggedCalls({kElements * sizeof(float), kElements * sizeof(double)}) {
        cSrand(31);
    }

    std::vector<std::int32_t> indices;

    void expectDataMade() override {
        const Data expected = filledData(31);
        EXPECT_EQ(std::memcmp(blocks.at(0), expected.single.data(), kElements * sizeof(float)), 0);
        EXPECT_EQ(std::memcmp(blocks.at(1), expected.dbl.data(), kElements * sizeof(double)), 0);
    }
    void block(const float* single, const double* dbl, std::int32_t& index, float& singleSum,
               double& doubleSum) override {
        work('B');
        EXPECT_EQ(single, blocks.at(0));
        EXPECT_EQ(dbl, blocks.at(1));
        indices.push_back(index);
        FloatingPointCalls::block(single, dbl, index, singleSum, doubleSum);
    }
};

}  // namespace

TEST(FloatingPointLoop, EachClockReadingFollowsOneBlockOf12000OperationsOverFractionalSeconds) {
    const struct {
        std::int32_t seconds;
        std::vector<std::int64_t> readings;  // the start, then one after each block
        int blocks;
        double result;
        const char* line;
    } cases[] = {
        {1, {5000000000, 5500000000, 6000000000}, 2, 24000.0 / 1.0 / 1e6,  // the deadline ends it
         "FLOAT TEST: Time Elapsed = 1, Operations = 24000, MOps = 0.024"},
        {1, {5000000000, 5600000000, 6250000000}, 2, 24000.0 / 1.25 / 1e6,
         "FLOAT TEST: Time Elapsed = 1.25, Operations = 24000, MOps = 0.0192"},
        {0, {5000000000, 5400000000}, 1, 12000.0 / 0.4 / 1e6,
         "FLOAT TEST: Time Elapsed = 0.4, Operations = 12000, MOps = 0.03"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedDebugLog log;
        WatchedFloatingPoint calls;
        calls.readings = c.readings;
        EXPECT_EQ(runFloatingPointTest(c.seconds, calls), c.result);
        std::string expected = "AAN";
        for (int k = 0; k < c.blocks; ++k) expected += "BN";
        EXPECT_EQ(calls.events, expected + "RR");
        std::vector<std::int32_t> indices;
        for (int k = 0; k < c.blocks; ++k) indices.push_back(2 * kIterationsPerClockRead * k);
        EXPECT_EQ(calls.indices, indices);
        EXPECT_EQ(calls.released, calls.blocks);
        EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    }
}

TEST(FloatingPointLoop, MissingArrayScoresZeroWithoutStartingTheClock) {
    expectZeroWithoutEachBlock<WatchedFloatingPoint>(runFloatingPointTest, {"A", "AAR"});
}
