#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/single_thread_internal.h"
#include "cpu_test_support.h"

using namespace single_thread;

// The phases as the test calls them: each records its name and duration
// and returns the figure fed to it.
std::string gCalls;
double gFigures[3];

class SingleThreadPhasesTest : public ::testing::Test {
protected:
    void SetUp() override {
        gCalls.clear();
        phases.floatingPoint = [](std::int32_t s) { return called("F", s, 0); };
        phases.sorting = [](std::int32_t s) { return called("S", s, 1); };
        phases.compression = [](std::int32_t s) { return called("C", s, 2); };
    }
    void TearDown() override { phases = defaultPhases(); }

    static double called(const char* name, std::int32_t seconds, int index) {
        gCalls += std::string(gCalls.empty() ? "" : " ") + name + std::to_string(seconds);
        return gFigures[index];
    }
};

// F in Million Operations/s, S in strings/s, C in bytes/s: 1000, 1,000,000
// and 1,024,000 weigh 560, 340 and 190 and score 1090 / 3.212 = 339.352. A
// phase that failed (0.0) adds nothing; each phase gets a third of the
// duration in whole seconds.
TEST_F(SingleThreadPhasesTest, WeighsThePhaseFiguresIntoOneScore) {
    struct Case {
        std::int32_t seconds;
        double figures[3];
        const char* calls;
        const char* line;
        double score;
    };
    const Case cases[] = {
        {6, {1000.0, 1000000.0, 1024000.0}, "F2 S2 C2",
         "Single Thread: ResF = 560, ResS = 340, ResC = 190", 1090.0 / 3.212},
        {8, {0.0, 2000000.0, 512000.0}, "F2 S2 C2",
         "Single Thread: ResF = 0, ResS = 680, ResC = 95", 775.0 / 3.212},
        {5, {250.0, 0.0, 10240.0}, "F1 S1 C1",
         "Single Thread: ResF = 140, ResS = 0, ResC = 1.9", 141.9 / 3.212},
        {2, {100.0, 3000.0, 0.0}, "F0 S0 C0",
         "Single Thread: ResF = 56, ResS = 1.02, ResC = 0", 57.02 / 3.212},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        std::copy(std::begin(c.figures), std::end(c.figures), gFigures);
        gCalls.clear();
        ScopedDebugLog log;
        const double score = SingleThreadTest(c.seconds);
        EXPECT_EQ(gCalls, c.calls);
        EXPECT_NEAR(score, c.score, 1e-12 * c.score);
        EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    }
}

// The product's own phases, in order, each at its minimum.
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

    // The arithmetic of the terms is held by the table above; here the real
    // phases must give a score.
    EXPECT_GT(score, 0.0);
}
