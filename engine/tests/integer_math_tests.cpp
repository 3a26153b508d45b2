// The integer math test: its data, one pass of its lanes, and its figure.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/integer_math.h"
#include "cpu_test_support.h"

TEST(IntegerMathData, ArraysStartWithTheKnownValuesAndHoldNoZero) {
    std::vector<std::uint32_t> a(kIntegerElements);
    std::vector<std::uint64_t> b(kIntegerElements);
    fillIntegerArrays(a.data(), b.data());
    EXPECT_EQ(a[0], 2768944436u);
    EXPECT_EQ(b[0], 0x8C001F5D5ABBD719ull);
    EXPECT_EQ(b[0], 10088097651124590361ull);
    for (int i = 0; i < kIntegerElements; ++i) {
        ASSERT_NE(a[i], 0u) << i;
        ASSERT_NE(b[i], 0u) << i;
    }
}

TEST(IntegerMathPass, FirstPassEndsInTheKnownLanes) {
    std::vector<std::uint32_t> a(kIntegerElements);
    std::vector<std::uint64_t> b(kIntegerElements);
    fillIntegerArrays(a.data(), b.data());
    IntegerPassLanes lanes{};
    const int increment = runIntegerPass(a.data(), b.data(), 0, lanes);
    // a and b leave the logic block as they end the pass.
    EXPECT_EQ(lanes.narrow[0].a, 0x07D19777u);
    EXPECT_EQ(lanes.narrow[0].b, 0xC5FD35DBu);
    EXPECT_EQ(lanes.narrow[1].a, 0x09233377u);
    EXPECT_EQ(lanes.narrow[1].b, 0x73D30DDBu);
    EXPECT_EQ(lanes.narrow[0].c, 0xC5FD35DFu);
    EXPECT_EQ(lanes.narrow[1].c, 0x73D30DDBu);
    EXPECT_EQ(lanes.wide[0].c, 0xF33DF955C4FA8DDBull);
    EXPECT_EQ(lanes.wide[1].c, 0xCFABB3453EEF35DBull);
    EXPECT_EQ(increment, 1);  // 32-bit sum positive, 64-bit sum negative
}

TEST(IntegerMathPass, ALoadedBOfZeroRunsAsOne) {
    std::vector<std::uint32_t> a(kIntegerElements);
    std::vector<std::uint64_t> b(kIntegerElements);
    fillIntegerArrays(a.data(), b.data());
    IntegerPassLanes ones{};
    a[1] = a[4] = 1;
    b[1] = b[4] = 1;
    runIntegerPass(a.data(), b.data(), 0, ones);
    IntegerPassLanes zeros{};
    a[1] = a[4] = 0;
    b[1] = b[4] = 0;
    runIntegerPass(a.data(), b.data(), 0, zeros);
    EXPECT_EQ(std::memcmp(&zeros, &ones, sizeof ones), 0);
}

TEST(IntegerMathPass, SignedDivisionTruncatesAndNeverTraps) {
    EXPECT_EQ(signedDivide<std::uint32_t>(0x80000000u, 0xFFFFFFFFu), 0x80000000u);
    EXPECT_EQ(signedDivide<std::uint64_t>(0x8000000000000000ull, ~0ull), 0x8000000000000000ull);
    EXPECT_EQ(static_cast<std::int32_t>(signedDivide<std::uint32_t>(static_cast<std::uint32_t>(-7), 2u)), -3);
    EXPECT_EQ(static_cast<std::int64_t>(signedDivide<std::uint64_t>(7, static_cast<std::uint64_t>(-2))), -3);
}

namespace {

// The integer loop with every call logged (P pass) and the real passes.
struct WatchedIntegerMath : LoggedCalls<IntegerMathCalls, void> {
    WatchedIntegerMath() : LoggedCalls({80000, 160000}) {}

    std::vector<int> offsets;

    void expectDataMade() override {
        std::vector<std::uint32_t> a(kIntegerElements);
        std::vector<std::uint64_t> b(kIntegerElements);
        fillIntegerArrays(a.data(), b.data());
        EXPECT_EQ(std::memcmp(blocks.at(0), a.data(), 80000), 0);
        EXPECT_EQ(std::memcmp(blocks.at(1), b.data(), 160000), 0);
    }
    int pass(const std::uint32_t* a, const std::uint64_t* b, int i, IntegerPassLanes& lanes) override {
        work('P');
        EXPECT_EQ(a, blocks.at(0));
        EXPECT_EQ(b, blocks.at(1));
        offsets.push_back(i);
        return IntegerMathCalls::pass(a, b, i, lanes);
    }
};

}  // namespace

TEST(IntegerMathLoop, EachClockReadingFollowsOnePassOf142000OperationsOverWholeSeconds) {
    std::vector<std::int64_t> longRun(3334, 5000000000);  // the offset wraps in pass 3,334
    longRun.push_back(6000000000);
    const struct {
        std::int32_t seconds;
        std::vector<std::int64_t> readings;  // the start, then one after each pass
        int passes;
        double result;
        const char* line;
    } cases[] = {
        {2, {5000000000, 5700000000, 6400000000, 7100000000}, 3, 426000.0 / 2.0 / 1e6,  // 2.1 s counts as 2
         "INTEGER TEST: Time Elapsed = 2, Operations = 426000, MOps = 0.213"},
        {2, {5000000000, 6000000000, 7000000000}, 2, 284000.0 / 2.0 / 1e6,  // the deadline itself ends it
         "INTEGER TEST: Time Elapsed = 2, Operations = 284000, MOps = 0.142"},
        {0, {5000000000, 5250000000}, 1, 142000.0 / 0.25 / 1e6,  // below a second: exact time
         "INTEGER TEST: Time Elapsed = 0.25, Operations = 142000, MOps = 0.568"},
        {1, longRun, 3334, 473428000.0 / 1.0 / 1e6,
         "INTEGER TEST: Time Elapsed = 1, Operations = 473428000, MOps = 473.428"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedDebugLog log;
        WatchedIntegerMath calls;
        calls.readings = c.readings;
        EXPECT_EQ(runIntegerMathTest(c.seconds, calls), c.result);
        std::string expected = "AAN";
        for (int k = 0; k < c.passes; ++k) expected += "PN";
        EXPECT_EQ(calls.events, expected + "RR");
        ASSERT_EQ(calls.offsets.size(), static_cast<std::size_t>(c.passes));
        for (int k = 0; k < c.passes; ++k) ASSERT_EQ(calls.offsets[k], 6 * k % 19994) << k;
        EXPECT_EQ(calls.released, calls.blocks);
        EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    }
}

TEST(IntegerMathLoop, MissingArrayScoresZeroWithoutStartingTheClock) {
    expectZeroWithoutEachBlock<WatchedIntegerMath>(runIntegerMathTest, {"A", "AAR"});  // A given back
}

TEST(IntegerMathTestRun, DeadlineAlreadyPastStillRunsOneFullPass) {
    expectOnePastDeadline(IntegerMathTest, "INTEGER TEST: Time Elapsed = ", ", Operations = 142000, MOps = ",
                          142000.0, 1e-6);
}
