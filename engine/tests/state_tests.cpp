// The state record, its shared worker area, the clock, the debug log and the
// data generator.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <regex>

#include "state/baseline.h"
#include "state/c_rand.h"
#include "state/clock_log.h"
#include "state/minstd.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

using vxtest::ScopedDebugLogging;
using vxtest::ScopedWorkDir;

TEST(MinstdTest, SeedSevenSevenSevenDrawsTheKnownSequence) {
    Minstd generator(777);
    EXPECT_EQ(generator.next(), 37506567u);
    EXPECT_EQ(generator.next(), 150781236u);
    generator.seed(777);
    EXPECT_EQ(generator.next(), 37506567u);
}

// The engine's copy of rand() draws what the C library's draws: unseeded as
// after srand(1), and after each seed the tests use.
TEST(CRandTest, DrawsTheCLibrarySequenceSeedForSeed) {
    std::srand(1);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(cRand(), std::rand()) << "unseeded, draw " << i;
    for (const unsigned seed : {37u, 353u, 777u, 0u}) {
        cSrand(seed);
        std::srand(seed);
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(cRand(), std::rand()) << "seed " << seed << ", draw " << i;
    }
}

TEST(MinstdTest, MatchesDirectModularProductOverManyDraws) {
    // Schrage's method must equal x * 48271 mod (2^31 - 1) computed in 64 bits.
    Minstd generator(17);
    std::uint64_t x = 17;
    for (int i = 0; i < 100000; ++i) {
        x = x * 48271 % 2147483647;
        ASSERT_EQ(generator.next(), x) << "draw " << i;
    }
}

TEST(BaselineTest, NewRecordHoldsTheConstructionDefaults) {
    Baseline record;
    EXPECT_EQ(record.uploaded, 0);
    for (int id = 0; id < kTestCount; ++id) EXPECT_EQ(record.results[id], 0.0);
    for (const auto& slot : record.matrixResults) EXPECT_EQ(slot, 0.0);
    for (const auto& slot : record.encryptionResults) EXPECT_EQ(slot, 0.0);
    EXPECT_EQ(record.cpuMark, 0.0);
    EXPECT_EQ(record.memoryMark, 0.0);
    EXPECT_EQ(record.primesCrossPlatform, 0.0);
    EXPECT_EQ(record.numCores, 1);
    EXPECT_EQ(record.numTestProcesses, 1);
    EXPECT_EQ(record.cpuFrequency, 0);
    EXPECT_EQ(record.memory, 0);
    EXPECT_TRUE(record.device.empty() && record.cpuName.empty() && record.architecture.empty() &&
                record.osName.empty() && record.kernel.empty() && record.manufacturer.empty());
    EXPECT_EQ(record.testSeconds, 6);
    EXPECT_EQ(record.numPasses, 1);
    EXPECT_EQ(record.majorVersion, 10);
    EXPECT_EQ(record.minorVersion, 2);
    EXPECT_EQ(record.buildNumber, 1000);
    EXPECT_FALSE(allResultsComplete(&record));
}

TEST(BaselineTest, AllResultsCompleteNeedsEveryResultAboveZero) {
    Baseline record;
    for (int id = 0; id < kTestCount - 1; ++id) record.results[id] = 1.0;
    EXPECT_FALSE(allResultsComplete(&record));  // results[15] still 0.0
    record.results[15] = -2.0;
    EXPECT_FALSE(allResultsComplete(&record));  // negative counts as missing
    record.results[15] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(allResultsComplete(&record));   // NaN is not <= 0.0
    record.results[15] = 0.001;
    EXPECT_TRUE(allResultsComplete(&record));
    record.results[0] = 0.0;
    EXPECT_FALSE(allResultsComplete(&record));
}

TEST(WorkerSyncAreaTest, NewAreaReadsAsZeros) {
    Baseline record;
    const WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    for (std::size_t i = 0; i < WorkerSyncArea::kBytes; ++i) ASSERT_EQ(area.data()[i], 0) << i;
}

TEST(WorkerSyncAreaTest, FieldsSitAtTheirByteOffsets) {
    Baseline record;
    WorkerSyncArea area = currentWorkerSyncArea();
    std::uint8_t* bytes = area.data();
    area.setGo(true);
    area.setAbort(true);
    area.setReady(255, true);
    area.setDone(7, true);
    EXPECT_EQ(bytes[0], 1);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[2 + 255], 1);
    EXPECT_EQ(bytes[258 + 7], 1);
    for (int reserved = 514; reserved < 520; ++reserved) EXPECT_EQ(bytes[reserved], 0);

    auto doubleAt = [&](std::size_t offset) {
        double value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    };
    area.setResult(3, 1.25);
    area.setMatrixResult(2, 4, 2.5);
    area.setEncryptionResult(255, 2, 3.75);
    EXPECT_EQ(doubleAt(520 + 8 * 3), 1.25);
    EXPECT_EQ(doubleAt(2568 + 40 * 2 + 8 * 4), 2.5);
    EXPECT_EQ(doubleAt(12808 + 24 * 255 + 8 * 2), 3.75);  // the area's last double
    EXPECT_EQ(12808 + 24 * 255 + 8 * 2 + 8, 18952);
}

TEST(WorkerSyncAreaTest, EveryConstructionMapsANewAreaThatBecomesCurrent) {
    Baseline first;
    const WorkerSyncArea firstArea = currentWorkerSyncArea();
    Baseline second;
    const WorkerSyncArea secondArea = currentWorkerSyncArea();
    EXPECT_NE(firstArea.data(), secondArea.data());
    first.results[0] = 5.0;
    EXPECT_EQ(second.results[0], 0.0);  // independent records
}

TEST(WorkerSyncAreaTest, ForkedProcessSharesTheArea) {
    Baseline record;
    WorkerSyncArea area = currentWorkerSyncArea();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        while (!area.go()) {
        }
        area.setResult(0, 42.5);
        area.setDone(0, true);
        _exit(0);
    }
    area.setGo(true);
    while (!area.done(0)) {
    }
    EXPECT_EQ(area.result(0), 42.5);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(ClockTest, MonotonicNanosecondsFollowTheSystemClock) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const std::int64_t before = static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
    const std::int64_t now = nowNanoseconds();
    EXPECT_GE(now, before);
    EXPECT_LT(now - before, 1000000000);
    usleep(20000);
    EXPECT_GE(nowNanoseconds() - now, 20000000);
}

TEST(DebugLogTest, LinesCarryFixedSixDecimalTimeAndMessage) {
    ScopedWorkDir dir;
    debugLog("first");
    debugLog("");
    debugLog("third line");
    const auto lines = vxtest::readLines("debug.log");
    ASSERT_EQ(lines.size(), 3u);
    const std::regex shape(R"(^[0-9]+\.[0-9]{6}: (.*)$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, shape)) << lines[0];
    EXPECT_EQ(match[1], "first");
    ASSERT_TRUE(std::regex_match(lines[1], match, shape)) << lines[1];
    EXPECT_EQ(match[1], "");
    EXPECT_EQ(lines[1].substr(lines[1].size() - 2), ": ");
    ASSERT_TRUE(std::regex_match(lines[2], match, shape));
    EXPECT_EQ(match[1], "third line");
    EXPECT_LE(std::stod(lines[0]), std::stod(lines[2]));
    EXPECT_EQ(lines[0].find('e'), std::string::npos);  // never exponent form
    const std::string text = vxtest::readFile("debug.log");
    EXPECT_EQ(text.back(), '\n');
}

TEST(DebugLogTest, FollowsTheWorkingDirectoryAndAppends) {
    ScopedWorkDir first;
    debugLog("one");
    {
        ScopedWorkDir second;
        debugLog("two");
        EXPECT_EQ(vxtest::debugMessages(), std::vector<std::string>{"two"});
    }
    debugLog("three");
    EXPECT_EQ(vxtest::debugMessages(), (std::vector<std::string>{"one", "three"}));
}

TEST(DebugLogTest, UnopenableLogFileLosesTheMessageQuietly) {
    ScopedWorkDir dir;
    std::filesystem::create_directory("debug.log");  // cannot be opened for appending
    debugLog("lost");
    EXPECT_TRUE(std::filesystem::is_directory("debug.log"));
    EXPECT_TRUE(std::filesystem::is_empty("debug.log"));
}

TEST(NullSinkTest, SwallowsWritesWithoutFailing) {
    NullSink sink;
    EXPECT_TRUE(sink.is_open());
    sink << 12345u << ' ' << 1.5;
    sink.flush();
    EXPECT_TRUE(sink.good());
}
