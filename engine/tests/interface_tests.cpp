// The flat function interface: texts, questions, and the bookkeeping of
// runTest around a test.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>

#include "cpu/cpu_runner.h"
#include "marks.h"
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

TEST(ResultTextTest, EachIdHasItsOwnNameKeyUnitAndSlot) {
    // Every slot holds its own figure at once, so a text read from another
    // slot, or with another id's unit or form, shows.
    const struct {
        const char* name;
        const char* key;
        const char* unit;
        double value;
        const char* text;
    } table[kTestCount] = {
        {"Integer Math", "CPU_INTEGER_MATH", "Million Operations/s", 11.1, "11.1 Million Operations/s"},
        {"Floating Point Math", "CPU_FLOATINGPOINT_MATH", "Million Operations/s", 222.4, "222 Million Operations/s"},
        {"Prime Numbers", "CPU_PRIME", "Million Primes/s", 3.3, "3.3 Million Primes/s"},
        {"Sorting", "CPU_SORTING", "Thousand Strings/s", 4444.6, "4445 Thousand Strings/s"},
        {"Encryption", "CPU_ENCRYPTION", "MB/s", 55.5, "55.5 MB/s"},
        {"Compression", "CPU_COMPRESSION", "KB/s", 6666.0, "6666 KB/s"},
        {"CPU Single Thread", "CPU_SINGLETHREAD", "Million Operations/s", 77.7, "77.7 Million Operations/s"},
        {"Physics", "CPU_PHYSICS", "Frames/s", 888.8, "889 Frames/s"},
        {"Extended Instructions (NEON)", "CPU_MATRIX_MULT_SSE", "Million Matrices/s", 9.9, "9.9 Million Matrices/s"},
        {"Database Operations", "ME_ALLOC_S", "Thousand Operations/s", 1010.1, "1010 Thousand Operations/s"},
        {"Memory Read Cached", "ME_READ_S", "MB/s", 11011.4, "11011 MB/s"},
        {"Memory Read Uncached", "ME_READ_L", "MB/s", 12.12, "12.1 MB/s"},
        {"Memory Write", "ME_WRITE", "MB/s", 1313.3, "1313 MB/s"},
        {"Available RAM", "ME_LARGE", "Megabytes", 14.6, "15 Megabytes"},
        {"Memory Latency", "ME_LATENCY", "Nanoseconds", 16.4, "16 Nanoseconds"},
        {"Memory Threaded", "ME_THREADED", "MB/s", 17.17, "17.2 MB/s"},
    };
    Baseline record;
    for (int id = 0; id < kTestCount; ++id) record.results[id] = table[id].value;
    for (int id = 0; id < kTestCount; ++id) {
        EXPECT_STREQ(kTestCatalogue[id].name, table[id].name) << id;
        EXPECT_STREQ(kTestCatalogue[id].key, table[id].key) << id;
        EXPECT_STREQ(kTestCatalogue[id].unit, table[id].unit) << id;
        EXPECT_EQ(kTestCatalogue[id].wholeNumberOnly, id == 13 || id == 14) << id;
        EXPECT_EQ(take(getResultText(&record, id)), table[id].text) << id;
    }
}

TEST(ResultTextTest, NotANumberUsesTheWholeNumberForm) {
    Baseline record;
    EXPECT_EQ(resultText(record, 10, std::numeric_limits<double>::quiet_NaN()), "nan MB/s");
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
    record.memoryMark = 2500.5;
    EXPECT_EQ(take(getCpuMarkText(&record)), "100.0");     // tested unrounded
    EXPECT_EQ(take(getMemoryMarkText(&record)), "2500");  // round half to even
    record.cpuMark = 1650.4;
    record.memoryMark = 42.26;
    EXPECT_EQ(take(getCpuMarkText(&record)), "1650");
    EXPECT_EQ(take(getMemoryMarkText(&record)), "42.3");
}

TEST(QuestionsTest, MarksCountOnlyAboveZero) {
    Baseline record;
    record.cpuMark = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(hasCpuMark(&record));
    record.cpuMark = 0.1;
    EXPECT_TRUE(hasCpuMark(&record));
    record.memoryMark = -1.0;
    EXPECT_FALSE(hasMemoryMark(&record));
    record.memoryMark = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(hasMemoryMark(&record));
    record.memoryMark = 0.2;
    EXPECT_TRUE(hasMemoryMark(&record));
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
    // Every count and string differs, so one shown from the wrong field shows.
    Baseline record;
    record.device = "Example Box";
    record.cpuName = "Example CPU";
    record.architecture = "x86_64";
    record.osName = "Example OS 3";
    record.kernel = "Example Kernel 6.1";
    record.manufacturer = "Example Vendor";
    record.numSockets = 2;
    record.numCores = 8;
    record.numLogicals = 16;
    record.numTestProcesses = 12;
    record.cpuFrequency = 3200;
    record.memory = 24064;
    EXPECT_EQ(take(getSystemInfoText(&record)),
              "Model: Example Box\nCPU: Example CPU (x86_64) 8 cores @ 3200 MHz\nMemory: 23.5 GiB RAM");
    auto memoryLine = [&](std::int64_t mebibytes) {
        record.memory = mebibytes;
        const std::string text = take(getSystemInfoText(&record));
        return text.substr(text.rfind('\n') + 1);
    };
    EXPECT_EQ(memoryLine(0), "Memory: 0.0 GiB RAM");
    EXPECT_EQ(memoryLine(134217780), "Memory: 131072.0 GiB RAM");  // 131072.1 in double precision
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

TEST(RunTestTest, IdsOutsideTheTableChangeNothingAndHaveNoText) {
    Baseline record;
    record.uploaded = 1;
    std::vector<SharedDouble*> figures = {&record.cpuMark, &record.primesCrossPlatform, &record.memoryMark};
    for (auto& figure : record.results) figures.push_back(&figure);
    for (auto& figure : record.matrixResults) figures.push_back(&figure);
    for (auto& figure : record.encryptionResults) figures.push_back(&figure);
    for (std::size_t i = 0; i < figures.size(); ++i) *figures[i] = 100.0 + i;
    for (TestId id : {16, -1, 17, -16, std::numeric_limits<TestId>::min(), std::numeric_limits<TestId>::max()}) {
        runTest(&record, id);
        EXPECT_EQ(take(getResultText(&record, id)), "") << id;
    }
    for (std::size_t i = 0; i < figures.size(); ++i) EXPECT_EQ(*figures[i], 100.0 + i) << i;
    EXPECT_EQ(record.uploaded, 1);
}

// runTest around real worker processes whose figures the test chooses: each
// id, result slot and sub-result slot its own figure.
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
            return 0.5 + id;
        });
    }
    void TearDown() override { setWorkerDispatchForTesting(nullptr); }
    Baseline record_;
};

TEST_F(RunTestBookkeeping, PrimesClearTheExtraResultWhichIsNotDivided) {
    record_.primesCrossPlatform = 5.0;
    record_.numPasses = 2;
    runTest(&record_, 2);
    EXPECT_EQ(record_.results[2], 4 * 2.5 / 2);
    EXPECT_EQ(record_.primesCrossPlatform, 0.0);  // cleared; equal counts: no second run
    record_.numCores = 3;
    runTest(&record_, 2);
    EXPECT_EQ(record_.results[2], 4 * 2.5 / 2);
    EXPECT_EQ(record_.primesCrossPlatform, 3 * 2.5);  // one worker per core, not divided
}

TEST_F(RunTestBookkeeping, SubResultsAreClearedSummedAndDivided) {
    record_.numPasses = 2;
    record_.matrixResults[0] = 100.0;
    record_.encryptionResults[2] = 100.0;
    runTest(&record_, 8);
    EXPECT_EQ(record_.results[8], 4 * 8.5 / 2);
    for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(record_.matrixResults[slot], 4 * (1.0 + slot) / 2);
    EXPECT_EQ(record_.encryptionResults[2], 100.0);  // only test 4 touches these
    runTest(&record_, 4);
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(record_.encryptionResults[slot], 4 * 10.0 * (slot + 1) / 2);
    EXPECT_EQ(record_.results[4], 4 * 4.5 / 2);
    for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(record_.matrixResults[slot], 4 * (1.0 + slot) / 2);
}

TEST_F(RunTestBookkeeping, MemoryIdsDivideOnlyTheirResultAndRecomputeOnlyTheMemoryMark) {
    record_.numPasses = 2;
    for (int id = 0; id < kTestCount; ++id) record_.results[id] = 50.0 + id;
    record_.matrixResults[1] = 8.0;
    record_.encryptionResults[0] = 6.0;
    record_.primesCrossPlatform = 4.0;
    record_.cpuMark = 3.0;
    record_.memoryMark = 2.0;
    runTest(&record_, 9);
    EXPECT_EQ(record_.matrixResults[1], 8.0);
    EXPECT_EQ(record_.encryptionResults[0], 6.0);
    EXPECT_EQ(record_.primesCrossPlatform, 4.0);
    EXPECT_EQ(record_.cpuMark, 3.0);
    EXPECT_NE(record_.results[9], 59.0);  // cleared before the run
    for (int id = 0; id < kTestCount; ++id) {
        EXPECT_EQ(record_.results[id], id == 9 ? record_.results[9].load() : 50.0 + id) << id;
    }
    Baseline expected;
    for (int id = 0; id < kTestCount; ++id) expected.results[id] = record_.results[id].load();
    expected.memoryMark = 2.0;
    computeMemoryMark(&expected);
    EXPECT_EQ(record_.memoryMark, expected.memoryMark);
}

TEST_F(RunTestBookkeeping, CpuMarkFollowsEveryCpuRunAndTheMemoryMarkStays) {
    for (int id = 0; id < kTestCount; ++id) record_.results[id] = 1000.0 + id;
    record_.memoryMark = 2.0;
    runTest(&record_, 6);
    EXPECT_EQ(record_.results[6], 6.5);  // one worker
    Baseline expected;
    for (int id = 0; id < kTestCount; ++id) expected.results[id] = record_.results[id].load();
    computeCpuMark(&expected);
    EXPECT_GT(expected.cpuMark, 0.0);
    EXPECT_EQ(record_.cpuMark, expected.cpuMark);
    EXPECT_EQ(record_.memoryMark, 2.0);
}
