// The integer math test: its data, one pass of its lanes, and its figure.

#include <gtest/gtest.h>

#include <climits>
#include <regex>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/integer_math.h"
#include "test_support.h"

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

TEST(IntegerMathPass, SignedDivisionTruncatesAndNeverTraps) {
    EXPECT_EQ(signedDivide<std::uint32_t>(0x80000000u, 0xFFFFFFFFu), 0x80000000u);
    EXPECT_EQ(signedDivide<std::uint64_t>(0x8000000000000000ull, ~0ull), 0x8000000000000000ull);
    EXPECT_EQ(static_cast<std::int32_t>(signedDivide<std::uint32_t>(static_cast<std::uint32_t>(-7), 2u)), -3);
    EXPECT_EQ(static_cast<std::int64_t>(signedDivide<std::uint64_t>(7, static_cast<std::uint64_t>(-2))), -3);
}

namespace {

struct IntegerLogLine {
    double elapsed;
    long long operations;
    double mops;
};

IntegerLogLine parseIntegerLine(const std::string& message) {
    static const std::regex shape(
        R"(^INTEGER TEST: Time Elapsed = ([0-9.e+-]+), Operations = ([0-9]+), MOps = ([0-9.e+-]+)$)");
    std::smatch match;
    EXPECT_TRUE(std::regex_match(message, match, shape)) << message;
    if (match.empty()) return {0, 0, 0};
    return {std::stod(match[1]), std::stoll(match[2]), std::stod(match[3])};
}

}  // namespace

TEST(IntegerMathTestRun, DeadlineAlreadyPastStillRunsOneFullPass) {
    vxtest::ScopedWorkDir dir;
    vxtest::ScopedDebugLogging logging;
    const double result = IntegerMathTest(0);
    EXPECT_GT(result, 0.0);
    const auto messages = vxtest::debugMessages();
    ASSERT_EQ(messages.size(), 1u);
    const auto line = parseIntegerLine(messages[0]);
    EXPECT_EQ(line.operations, 142000);
}

TEST(IntegerMathTestRun, FigureIsOperationsPerWholeSecondInMillions) {
    vxtest::ScopedWorkDir dir;
    vxtest::ScopedDebugLogging logging;
    const double result = IntegerMathTest(1);
    const auto messages = vxtest::debugMessages();
    ASSERT_EQ(messages.size(), 1u);
    const auto line = parseIntegerLine(messages[0]);
    EXPECT_EQ(messages[0].rfind("INTEGER TEST: Time Elapsed = 1, ", 0), 0u);  // default notation
    EXPECT_EQ(line.elapsed, 1.0);
    EXPECT_EQ(line.operations % 142000, 0);
    EXPECT_GT(line.operations, 142000 * 10);
    EXPECT_DOUBLE_EQ(result, static_cast<double>(line.operations) / 1.0 / 1000000.0);
}
