#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "memory/memory_internal.h"
#include "memory_test_seams.h"
#include "platform/sysctl.h"
#include "platform/vm_statistics.h"
#include "test_support.h"

namespace {

// A system root holding only /proc/meminfo with the given text.
class AvailableRamTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setSystemRootForTesting(root_.path().string()); }
    void TearDown() override { platform::setSystemRootForTesting(""); }
    void writeMeminfo(const std::string& text) { vxtest::writeFile(root_.path() / "proc" / "meminfo", text); }
    static std::uint64_t pageSize() { return static_cast<std::uint64_t>(getpagesize()); }

    vxtest::ScopedWorkDir root_;
};

TEST_F(AvailableRamTest, SamplesAreTruncatedToWholeMebibytesBeforeAveraging) {
    EXPECT_EQ(meanWholeMebibytes({1032192, 3145728}), 1.5);
    EXPECT_EQ(meanWholeMebibytes({1048575}), 0.0);
    EXPECT_EQ(meanWholeMebibytes({}), 0.0);
}

TEST_F(AvailableRamTest, FreeIsMemFreeAndInactiveIsTheRestOfMemAvailable) {
    writeMeminfo(
        "MemTotal:       24000000 kB\n"
        "MemFree:         4096000 kB\n"
        "MemAvailable:   10240000 kB\n"
        "Buffers:           10000 kB\n");
    platform::VmStatistics64 record;
    ASSERT_TRUE(platform::vmStatistics64(record));
    EXPECT_EQ(record.freeCount, 4096000ULL * 1024 / pageSize());
    EXPECT_EQ(record.inactiveCount, (10240000ULL - 4096000ULL) * 1024 / pageSize());
    // Available below free: nothing inactive.
    writeMeminfo("MemFree: 8192 kB\nMemAvailable: 4096 kB\n");
    ASSERT_TRUE(platform::vmStatistics64(record));
    EXPECT_EQ(record.freeCount, 8192ULL * 1024 / pageSize());
    EXPECT_EQ(record.inactiveCount, 0u);
}

TEST_F(AvailableRamTest, UnreadableCountsAreAFailedQuery) {
    platform::VmStatistics64 record;
    record.freeCount = 11;
    EXPECT_FALSE(platform::vmStatistics64(record));  // no file
    for (const char* text : {
             "MemTotal: 1000 kB\nMemFree: 500 kB\n",          // no MemAvailable
             "MemFree: 500 kB\nMemAvailable: 900 MB\n",       // not kB
             "MemFree: many kB\nMemAvailable: 900 kB\n",      // no number
             "MemFree: 500 kB\nMemAvailable: 18014398509481984 kB\n",  // 2^64 bytes
         }) {
        writeMeminfo(text);
        EXPECT_FALSE(platform::vmStatistics64(record)) << text;
    }
    EXPECT_EQ(record.freeCount, 11u);
}

// Each half-second pause moves the virtual clock and changes what the next
// query reads: after pause k, k + 1 GiB free and 1 MiB more available.
int pauses = 0;
std::filesystem::path meminfoPath;
void pauseAndChangeMeminfo(unsigned microseconds) {
    ++pauses;
    vxtest::writeFile(meminfoPath, "MemFree: " + std::to_string((pauses + 1) * 1048576) +
                                       " kB\nMemAvailable: " +
                                       std::to_string((pauses + 1) * 1048576 + 1024) + " kB\n");
    vxtest::virtualPause(microseconds);
}

TEST_F(AvailableRamTest, SamplesEveryHalfSecondFromTheStartUntilTheDeadline) {
    vxtest::ScopedVirtualClock clock;
    MemoryTestSeams seams = memoryTestSeams();
    seams.pause = pauseAndChangeMeminfo;
    setMemoryTestSeamsForTesting(seams);
    meminfoPath = root_.path() / "proc" / "meminfo";
    pauses = 0;
    writeMeminfo("MemFree: 1048576 kB\nMemAvailable: 1049600 kB\n");
    // At 0, 0.5, 1.0 and 1.5 s: 1025, 2049, 3073 and 4097 MiB.
    EXPECT_EQ(testAvailableRam(2), 2561.0);
    EXPECT_EQ(vxtest::virtualLog(),
              (std::vector<std::string>{"clock", "pause 500000", "clock", "pause 500000", "clock",
                                        "pause 500000", "clock", "pause 500000", "clock"}));
}

TEST_F(AvailableRamTest, CountsNearThe32BitLimitDoNotWrap) {
    vxtest::ScopedVirtualClock clock;
    // Both counts saturate at 2^32 - 1 pages; their sum needs 33 bits.
    const std::uint64_t kib = 0x100000000ULL * pageSize() / 1024;
    writeMeminfo("MemFree: " + std::to_string(kib) + " kB\nMemAvailable: " +
                 std::to_string(3 * kib) + " kB\n");
    platform::VmStatistics64 record;
    ASSERT_TRUE(platform::vmStatistics64(record));
    EXPECT_EQ(record.freeCount, 0xFFFFFFFFu);
    EXPECT_EQ(record.inactiveCount, 0xFFFFFFFFu);
    const std::uint64_t bytes = 2ULL * 0xFFFFFFFFULL * pageSize();
    EXPECT_EQ(testAvailableRam(0), static_cast<double>(bytes >> 20));
}

TEST_F(AvailableRamTest, EveryQueryFailingGivesZero) {
    vxtest::ScopedVirtualClock clock;
    EXPECT_EQ(testAvailableRam(1), 0.0);
    // The loop still runs its duration: two queries, two pauses.
    EXPECT_EQ(vxtest::virtualLog(), (std::vector<std::string>{"clock", "pause 500000", "clock",
                                                               "pause 500000", "clock"}));
}

TEST(AvailableRamSystemTest, TheRealSystemHasMemoryAvailable) {
    EXPECT_GT(testAvailableRam(0), 0.0);
}

}  // namespace
