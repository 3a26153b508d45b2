#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "memory/memory_internal.h"
#include "memory_test_seams.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"

namespace {

constexpr std::int32_t kKiB = 1024;
constexpr std::int32_t kMiB = 1024 * 1024;

class BandwidthTest : public ::testing::Test {
protected:
    void TearDown() override { setAllocationHookForTesting({}); }
};

TEST_F(BandwidthTest, FillGeneratorStartsFromSeventeen) {
    std::uint32_t state = 0;
    seedMinstd(&state);
    EXPECT_EQ(state, 17u);
    EXPECT_EQ(nextMinstd(&state), 820607u);
    EXPECT_EQ(nextMinstd(&state), 956814851u);
    EXPECT_EQ(nextMinstd(&state), 478876592u);
    EXPECT_EQ(nextMinstd(&state), 337996124u);
    EXPECT_EQ(state, 337996124u);
}

TEST_F(BandwidthTest, GeneratorStaysBelowModulusWhenTheDifferenceWraps) {
    // x = 44488 gives a = 0 < b = 3399: the unsigned difference wraps and
    // adding the modulus must repair it.
    std::uint32_t state = 44488;
    EXPECT_EQ(nextMinstd(&state), static_cast<std::uint32_t>(
                                      (44488ULL * 48271ULL) % 2147483647ULL));
}

TEST_F(BandwidthTest, EveryBufferStartsWithTheSameBytes) {
    std::vector<std::uint8_t> first(4096), second(4096);
    fillTestBuffer(first.data(), first.size());
    fillTestBuffer(second.data(), second.size());
    EXPECT_EQ(first[0], 127);
    EXPECT_EQ(first[1], 3);
    EXPECT_EQ(first[2], 176);
    EXPECT_EQ(first[3], 92);
    EXPECT_EQ(first, second);
}

TEST_F(BandwidthTest, PassesPerCheckMoveAlittleMoreThanOneGibibyte) {
    const struct {
        std::int32_t size;
        std::int32_t passes;
    } table[] = {
        {16 * kKiB, 65537},  {32 * kKiB, 32769},  {64 * kKiB, 16385}, {128 * kKiB, 8193},
        {256 * kKiB, 4097},  {512 * kKiB, 2049},  {1 * kMiB, 1025},   {2 * kMiB, 513},
        {4 * kMiB, 257},     {8 * kMiB, 129},     {512 * kMiB, 3},    {256 * kMiB, 5},
        {33038209, 33},
    };
    for (const auto& row : table) {
        EXPECT_EQ(passesPerCheck(row.size), row.passes) << row.size;
    }
}

TEST_F(BandwidthTest, WriteLoopStoresExactlyCountWords) {
    std::vector<std::uint64_t> words(66, 7);
    writeQwords(words.data() + 1, 64);
    EXPECT_EQ(words.front(), 7u);
    EXPECT_EQ(words.back(), 7u);
    for (int i = 1; i <= 64; ++i) {
        EXPECT_EQ(words[i], words[1]) << i;
        EXPECT_NE(words[i], 7u) << i;
    }
    writeQwords(words.data() + 65, 1);  // one word: the count is tested after the store
    EXPECT_EQ(words[65], words[1]);
    EXPECT_EQ(words[0], 7u);
}

TEST_F(BandwidthTest, ReadLoopLeavesTheBufferAlone) {
    std::vector<std::uint64_t> words(64);
    for (std::size_t i = 0; i < words.size(); ++i) words[i] = i * 3;
    readQwords(words.data(), words.size());
    readQwords(words.data(), 1);
    for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(words[i], i * 3);
}

TEST_F(BandwidthTest, DeadlineIsFormedInSinglePrecisionFromTheClock) {
    // Two weeks after boot a float of the clock is a multiple of 2^27 ns:
    // 1,209,600,000,000,000 becomes 1,209,599,961,071,616, and adding 0.3 s
    // gives the deadline 1,209,600,229,507,072, 229.5 ms after the start.
    // A group of 16,385 passes over 8,192 cached words lasts 134.2 ms, so
    // the run ends after two groups (three with a deadline of start + 0.3 s).
    vxtest::ScopedVirtualClock clock;
    vxtest::virtualCosts.startNanoseconds = 1209600000000000;
    const BandwidthRun run = runBandwidth(64 * kKiB, false, false, 0, 0.3f);
    // Filled before the clock starts; nothing but the passes between readings.
    EXPECT_EQ(vxtest::virtualLog(),
              (std::vector<std::string>{"fill 65536", "clock", "read 8192 x16385", "clock",
                                        "read 8192 x16385", "clock"}));
    EXPECT_EQ(run.totalPasses, 2 * 16385);
    EXPECT_EQ(run.elapsedSeconds, 2 * 16385 * 8192 / 1e9);
    // 8 bytes a nanosecond, counted in MiB.
    EXPECT_EQ(run.rate, 7629.39453125);
}

TEST_F(BandwidthTest, CachedReadGivesEachOfTenSizesATenthOfTheDuration) {
    vxtest::ScopedVirtualClock clock;
    vxtest::virtualCosts.realLoops = false;
    // 0.3 s a size: three groups of a little over 1 GiB at 1 ns a word.
    const double mean = testReadCached(3);
    std::vector<std::string> expected;
    for (std::int32_t size = 16 * kKiB; size <= 8 * kMiB; size *= 2) {
        const std::string group =
            "read " + std::to_string(size / 8) + " x" + std::to_string((1 << 30) / size + 1);
        expected.insert(expected.end(), {"fill " + std::to_string(size), "clock", group, "clock",
                                         group, "clock", group, "clock"});
    }
    EXPECT_EQ(vxtest::virtualLog(), expected);
    EXPECT_EQ(mean, 7629.39453125);
}

TEST_F(BandwidthTest, BufferThatCannotBeHadIsHalvedOnce) {
    std::vector<std::size_t> asked;
    setAllocationHookForTesting([&asked](std::size_t bytes) {
        asked.push_back(bytes);
        return bytes <= static_cast<std::size_t>(32 * kKiB);
    });
    const BandwidthRun run = runBandwidth(64 * kKiB, false, false, 0, -1.0f);
    EXPECT_EQ(asked, (std::vector<std::size_t>{65536, 32768}));
    EXPECT_EQ(run.bufferBytes, 32 * kKiB);
    EXPECT_EQ(run.passesPerCheck, 32769);
    EXPECT_EQ(run.totalPasses, 32769);
    EXPECT_GT(run.rate, 0.0);
}

TEST_F(BandwidthTest, NoBufferGivesZeroAndNoReadyFlag) {
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    area.setReady(3, false);
    setAllocationHookForTesting([](std::size_t) { return false; });
    const BandwidthRun run = runBandwidth(64 * kKiB, false, true, 3, 0.1f);
    EXPECT_EQ(run.rate, 0.0);
    EXPECT_EQ(run.bufferBytes, 0);
    EXPECT_FALSE(area.ready(3));
}

TEST_F(BandwidthTest, WaitingRunStartsOnGoAndGivesUpOnAbort) {
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());

    area.setGo(false);
    area.setAbort(false);
    area.setReady(5, false);
    BandwidthRun started;
    std::thread worker([&started] { started = runBandwidth(16 * kKiB, false, true, 5, 0.05f); });
    while (!area.ready(5)) {
    }
    area.setGo(true);
    worker.join();
    EXPECT_GT(started.rate, 0.0);
    EXPECT_GE(started.totalPasses, 65537);

    area.setGo(false);
    area.setReady(5, false);
    BandwidthRun aborted;
    std::thread quitter([&aborted] { aborted = runBandwidth(16 * kKiB, false, true, 5, 5.0f); });
    while (!area.ready(5)) {
    }
    area.setAbort(true);
    quitter.join();
    area.setAbort(false);
    EXPECT_EQ(aborted.rate, 0.0);
    EXPECT_EQ(aborted.totalPasses, 0);
}

}  // namespace
