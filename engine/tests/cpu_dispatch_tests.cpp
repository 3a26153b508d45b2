// Tests 1, 2, 3, 5 and 6 through runTest with real worker processes: each
// result is the workers' own figures (read back from their debug lines)
// scaled to the display unit and summed.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cpu_test_support.h"
#include "state/baseline.h"
#include "velocitrix/engine.h"

namespace {

class CpuDispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        record_.testSeconds = 1;  // the product runs 6
        record_.numTestProcesses = 2;
        record_.numCores = 2;
        record_.numPasses = 1;
    }

    // The workers' lines that start with `prefix`.
    std::vector<std::string> workerLines(const std::string& prefix) const {
        std::vector<std::string> lines;
        for (const auto& message : log_.messages()) {
            if (message.rfind(prefix, 0) == 0) lines.push_back(message);
        }
        return lines;
    }

    Baseline record_;
    ScopedDebugLog log_;
};

}  // namespace

TEST_F(CpuDispatchTest, FloatingPointIsMillionOperationsPerSecond) {
    runTest(&record_, 1);
    const auto lines = workerLines("FLOAT TEST: ");
    ASSERT_EQ(lines.size(), 2u);
    double sum = 0.0;
    for (const auto& line : lines) sum += loggedNumber(line, "MOps = ");
    EXPECT_GT(record_.results[1], 0.0);
    EXPECT_NEAR(record_.results[1], sum, sum * 2e-5);
}

TEST_F(CpuDispatchTest, PrimesAreMillionPrimesPerSecond) {
    runTest(&record_, 2);
    const auto lines = workerLines("PRIME TEST: ");
    ASSERT_EQ(lines.size(), 2u);  // equal thread and core counts: one run
    double sum = 0.0;
    for (const auto& line : lines) {
        EXPECT_EQ(loggedNumber(line, "Primes/loop = "), 2063689.0);
        sum += 2063689.0 * loggedNumber(line, "Loops = ") / loggedNumber(line, "Time Elapsed = ");
    }
    EXPECT_GT(record_.results[2], 0.0);
    EXPECT_NEAR(record_.results[2], sum / 1e6, sum / 1e6 * 2e-5);
}

TEST_F(CpuDispatchTest, SortingIsThousandStringsPerSecond) {
    runTest(&record_, 3);
    const auto lines = workerLines("SORT TEST: ");
    ASSERT_EQ(lines.size(), 2u);
    double sum = 0.0;
    for (const auto& line : lines) sum += loggedNumber(line, "Strings/s = ");
    EXPECT_GT(record_.results[3], 0.0);
    EXPECT_NEAR(record_.results[3], sum / 1000.0, sum / 1000.0 * 2e-5);
}

TEST_F(CpuDispatchTest, CompressionIsKibibytesPerSecond) {
    runTest(&record_, 5);
    const auto lines = workerLines("NewCompressData: ");
    ASSERT_EQ(lines.size(), 2u);
    double sum = 0.0;
    for (const auto& line : lines) {
        sum += loggedNumber(line, "chars encoded = ") / loggedNumber(line, "time elapsed = ");
    }
    EXPECT_GT(record_.results[5], 0.0);
    EXPECT_NEAR(record_.results[5], sum / 1024.0, sum / 1024.0 * 2e-5);
}

TEST_F(CpuDispatchTest, SingleThreadRunsItsPhasesInOneWorker) {
    runTest(&record_, 6);
    EXPECT_EQ(workerLines("FLOAT TEST: ").size(), 1u);
    EXPECT_EQ(workerLines("SORT TEST: ").size(), 1u);
    EXPECT_EQ(workerLines("NewCompressData: ").size(), 1u);
    const auto lines = workerLines("Single Thread: ");
    ASSERT_EQ(lines.size(), 1u);
    const double score = (loggedNumber(lines[0], "ResS = ") + loggedNumber(lines[0], "ResF = ") +
                          loggedNumber(lines[0], "ResC = ")) /
                         3.212;
    EXPECT_GT(record_.results[6], 0.0);
    EXPECT_NEAR(record_.results[6], score, score * 2e-5);
}
