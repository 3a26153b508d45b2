// The flat function interface: texts, questions, and the bookkeeping of
// runTest around a test.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "cpu/cpu_runner.h"
#include "platform/sysctl.h"
#include "state/baseline.h"
#include "state/test_catalogue.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

std::string take(char* text) {
    std::string copy = text;
    std::free(text);
    return copy;
}

std::string resultText(Baseline& record, int id, double value) {
    if (isValidTestId(id)) record.results[id] = value;
    return take(getResultText(&record, id));
}

}  // namespace

TEST(ResultTextTest, OneDecimalBelowOneHundredNoneFromOneHundredOn) {
    Baseline record;
    EXPECT_EQ(resultText(record, 0, 99.94), "99.9 Million Operations/s");
    EXPECT_EQ(resultText(record, 0, 99.96), "100.0 Million Operations/s");  // tested unrounded
    EXPECT_EQ(resultText(record, 0, 100.0), "100 Million Operations/s");
    EXPECT_EQ(resultText(record, 0, 1234.4), "1234 Million Operations/s");
    EXPECT_EQ(resultText(record, 0, 0.0), "0.0 Million Operations/s");
}

TEST(ResultTextTest, RamAndLatencyAlwaysUseWholeNumbers) {
    Baseline record;
    EXPECT_EQ(resultText(record, 13, 2048.6), "2049 Megabytes");
    EXPECT_EQ(resultText(record, 14, 0.0), "0 Nanoseconds");
    EXPECT_EQ(resultText(record, 14, 12.3), "12 Nanoseconds");
}

TEST(ResultTextTest, EveryIdCarriesItsUnit) {
    Baseline record;
    const char* expected[kTestCount] = {
        "1.5 Million Operations/s", "1.5 Million Operations/s", "1.5 Million Primes/s",
        "1.5 Thousand Strings/s",   "1.5 MB/s",                 "1.5 KB/s",
        "1.5 Million Operations/s", "1.5 Frames/s",             "1.5 Million Matrices/s",
        "1.5 Thousand Operations/s", "1.5 MB/s",                "1.5 MB/s",
        "1.5 MB/s",                 "2 Megabytes",              "2 Nanoseconds",
        "1.5 MB/s"};
    for (int id = 0; id < kTestCount; ++id) EXPECT_EQ(resultText(record, id, 1.5), expected[id]) << id;
}

TEST(ResultTextTest, NotANumberUsesTheWholeNumberForm) {
    Baseline record;
    EXPECT_EQ(resultText(record, 10, std::numeric_limits<double>::quiet_NaN()), "nan MB/s");
}

TEST(ResultTextTest, IdsOutsideTheTableGiveAnEmptyText) {
    Baseline record;
    EXPECT_EQ(resultText(record, 16, 1.0), "");
    EXPECT_EQ(resultText(record, -1, 1.0), "");
}

TEST(ResultTextTest, EachCallReturnsAnIndependentCopy) {
    Baseline record;
    record.results[3] = 42.0;
    char* first = getResultText(&record, 3);
    char* second = getResultText(&record, 3);
    ASSERT_NE(first, second);
    std::free(first);
    EXPECT_STREQ(second, "42.0 Thousand Strings/s");
    std::free(second);
}

TEST(MarkTextTest, NewRecordShowsZeroPointZero) {
    Baseline record;
    EXPECT_EQ(take(getCpuMarkText(&record)), "0.0");
    EXPECT_EQ(take(getMemoryMarkText(&record)), "0.0");
    record.cpuMark = 99.95;
    EXPECT_EQ(take(getCpuMarkText(&record)), "100.0");
    record.memoryMark = 2500.5;
    EXPECT_EQ(take(getMemoryMarkText(&record)), "2500");  // round half to even
}

TEST(QuestionsTest, MarksCountOnlyAboveZero) {
    Baseline record;
    record.cpuMark = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(hasCpuMark(&record));
    record.cpuMark = 0.1;
    EXPECT_TRUE(hasCpuMark(&record));
    record.memoryMark = -1.0;
    EXPECT_FALSE(hasMemoryMark(&record));
}

TEST(QuestionsTest, SupportedSystemNeedsANameAndNativeExecution) {
    Baseline record;
    EXPECT_FALSE(isSupportedSystem(&record));
    record.cpuName = "Example CPU";
    EXPECT_TRUE(isSupportedSystem(&record));
    record.translated = 1;
    EXPECT_FALSE(isSupportedSystem(&record));
}

TEST(SystemInfoTest, ThreeLinesWithPhysicalCoresAndSinglePrecisionGibibytes) {
    Baseline record;
    record.device = "Example Box";
    record.cpuName = "Example CPU";
    record.architecture = "x86_64";
    record.numCores = 8;
    record.numLogicals = 16;
    record.cpuFrequency = 3200;
    record.memory = 24064;
    EXPECT_EQ(take(getSystemInfoText(&record)),
              "Model: Example Box\nCPU: Example CPU (x86_64) 8 cores @ 3200 MHz\nMemory: 23.5 GiB RAM");
    record.memory = 0;
    const std::string text = take(getSystemInfoText(&record));
    EXPECT_EQ(text.substr(text.rfind('\n') + 1), "Memory: 0.0 GiB RAM");
}

TEST(CreateBaselineTest, LogsNothingUnlessLoggingWasOnBeforehand) {
    vxtest::ScopedWorkDir dir;
    setDebugLogging(false);
    Baseline* quiet = createBaseline();
    EXPECT_FALSE(std::filesystem::exists("debug.log"));
    setDebugLogging(true);
    Baseline* loud = createBaseline();
    setDebugLogging(false);
    const auto messages = vxtest::debugMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), "Velocitrix Version: 10.2.1000");
    EXPECT_NE(quiet, loud);
    EXPECT_EQ(loud->numTestProcesses, platform::hardwareThreads());
    EXPECT_EQ(loud->numLogicals, loud->numTestProcesses);
    delete quiet;
    delete loud;
}

TEST(CreateBaselineTest, DetectsThisMachine) {
    std::unique_ptr<Baseline> record(createBaseline());
    EXPECT_FALSE(record->cpuName.empty());
    EXPECT_FALSE(record->architecture.empty());
    EXPECT_FALSE(record->osName.empty());
    EXPECT_FALSE(record->kernel.empty());
    EXPECT_GT(record->memory, 0);
    EXPECT_GT(record->cpuFrequency, 0);  // Linux publishes the clock here
    EXPECT_TRUE(isSupportedSystem(record.get()));
}

TEST(RunTestTest, IdsOutsideTheTableChangeNothing) {
    Baseline record;
    record.results[0] = 7.0;
    record.cpuMark = 3.0;
    runTest(&record, 16);
    runTest(&record, -1);
    EXPECT_EQ(record.results[0], 7.0);
    EXPECT_EQ(record.cpuMark, 3.0);
}

// runTest around real worker processes whose figures the test chooses.
class RunTestBookkeeping : public ::testing::Test {
protected:
    void SetUp() override {
        record_.testSeconds = 1;
        record_.numTestProcesses = 4;
        record_.numCores = 4;
        setWorkerDispatchForTesting([](int id, std::int32_t, int worker) {
            WorkerSyncArea area = currentWorkerSyncArea();
            for (int slot = 0; slot < 5; ++slot) area.setMatrixResult(worker, slot, 1.0 + slot);
            for (int slot = 0; slot < 3; ++slot) area.setEncryptionResult(worker, slot, 10.0 * (slot + 1));
            return id == 2 ? 3.0 : 1.0;
        });
    }
    void TearDown() override { setWorkerDispatchForTesting(nullptr); }
    Baseline record_;
};

TEST_F(RunTestBookkeeping, PrimesClearTheExtraResultWhichIsNotDivided) {
    record_.primesCrossPlatform = 5.0;
    record_.numPasses = 2;
    runTest(&record_, 2);
    EXPECT_EQ(record_.results[2], 4 * 3.0 / 2);
    EXPECT_EQ(record_.primesCrossPlatform, 0.0);  // cleared; equal counts: no second run
    record_.numCores = 2;
    runTest(&record_, 2);
    EXPECT_EQ(record_.primesCrossPlatform, 2 * 3.0);  // not divided by the passes
}

TEST_F(RunTestBookkeeping, SubResultsAreClearedSummedAndDivided) {
    record_.numPasses = 2;
    record_.matrixResults[0] = 100.0;
    record_.encryptionResults[2] = 100.0;
    runTest(&record_, 8);
    for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(record_.matrixResults[slot], 4 * (1.0 + slot) / 2);
    EXPECT_EQ(record_.encryptionResults[2], 100.0);  // only test 4 touches these
    runTest(&record_, 4);
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(record_.encryptionResults[slot], 4 * 10.0 * (slot + 1) / 2);
    EXPECT_EQ(record_.results[4], 4 * 1.0 / 2);
}

TEST_F(RunTestBookkeeping, MemoryIdsDivideOnlyTheirResult) {
    record_.numPasses = 2;
    record_.matrixResults[1] = 8.0;
    record_.encryptionResults[0] = 6.0;
    record_.primesCrossPlatform = 4.0;
    record_.results[9] = 50.0;
    runTest(&record_, 9);
    EXPECT_EQ(record_.matrixResults[1], 8.0);
    EXPECT_EQ(record_.encryptionResults[0], 6.0);
    EXPECT_EQ(record_.primesCrossPlatform, 4.0);
    EXPECT_NE(record_.results[9], 50.0);  // cleared before the run
}

TEST_F(RunTestBookkeeping, CpuMarkFollowsEveryCpuRun) {
    for (int id = 0; id < 9; ++id) record_.results[id] = 1000.0;
    runTest(&record_, 6);
    EXPECT_EQ(record_.results[6], 1.0);
    EXPECT_GT(record_.cpuMark, 0.0);  // recomputed with the new figure
}
