#include <gtest/gtest.h>

#include "cpu/cpu_tests.h"
#include "cpu/single_thread_internal.h"
#include "cpu_test_support.h"

using namespace single_thread;

TEST(SingleThreadScore, WeighsThePhasesAndDividesBy3212) {
    const Terms terms = weighTerms(1000.0, 1000000.0, 1024000.0);
    EXPECT_NEAR(terms.floatingPoint, 560.0, 1e-9);
    EXPECT_NEAR(terms.sorting, 340.0, 1e-9);
    EXPECT_NEAR(terms.compression, 190.0, 1e-9);
    const double score = combineTerms(terms);
    EXPECT_NEAR(score, 339.352, 0.0005);
    EXPECT_DOUBLE_EQ(score, 1090.0 / 3.212);
}

TEST(SingleThreadScore, FailedPhaseCountsAsZero) {
    EXPECT_NEAR(combineTerms(weighTerms(0.0, 1000000.0, 1024000.0)), 530.0 / 3.212, 1e-9);
    EXPECT_NEAR(combineTerms(weighTerms(1000.0, 1000000.0, 0.0)), 900.0 / 3.212, 1e-9);
}

TEST(SingleThreadTest, TwoSecondsRunEveryPhaseAtItsMinimum) {
    ScopedDebugLog log;
    const double score = SingleThreadTest(2);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].find("FLOAT TEST: "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(", Operations = 12000, "), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("SORT TEST: "), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(", Loops = 1, "), std::string::npos) << lines[1];
    EXPECT_EQ(lines[2].rfind("NewCompressData: chars encoded = 8.38861e+06, ", 0), 0u) << lines[2];
    ASSERT_EQ(lines[3].rfind("Single Thread: ResF = ", 0), 0u) << lines[3];

    // The logged terms come from the phases' own figures.
    const double floatMops = loggedNumber(lines[0], "MOps = ");
    const double strings = loggedNumber(lines[1], "Strings/s = ");
    const double bytes = 8388608.0 / loggedNumber(lines[2], "time elapsed = ");
    const double resF = loggedNumber(lines[3], "ResF = ");
    const double resS = loggedNumber(lines[3], "ResS = ");
    const double resC = loggedNumber(lines[3], "ResC = ");
    EXPECT_NEAR(resF, floatMops * 0.56, resF * 1e-5);
    EXPECT_NEAR(resS, strings / 1000.0 * 0.34, resS * 1e-5);
    EXPECT_NEAR(resC, bytes / 1024.0 * 0.19, resC * 1e-5);
    EXPECT_NEAR(score, (resS + resF + resC) / 3.212, score * 1e-5);
}
