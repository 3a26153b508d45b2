#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "platform/sysctl.h"
#include "platform/vm_statistics.h"
#include "state/baseline.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A system root holding only /proc/meminfo with the given text.
class AvailableRamTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("vx-ram-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(root_ / "proc");
        platform::setSystemRootForTesting(root_.string());
    }
    void TearDown() override {
        platform::setSystemRootForTesting("");
        fs::remove_all(root_);
    }
    void writeMeminfo(const std::string& text) { vxtest::writeFile(root_ / "proc" / "meminfo", text); }
    static std::uint64_t pageSize() { return static_cast<std::uint64_t>(getpagesize()); }

    fs::path root_;
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
}

TEST_F(AvailableRamTest, AvailableBelowFreeMeansNothingInactive) {
    writeMeminfo("MemFree: 8192 kB\nMemAvailable: 4096 kB\n");
    platform::VmStatistics64 record;
    ASSERT_TRUE(platform::vmStatistics64(record));
    EXPECT_EQ(record.freeCount, 8192ULL * 1024 / pageSize());
    EXPECT_EQ(record.inactiveCount, 0u);
}

TEST_F(AvailableRamTest, MissingFileOrFieldIsAFailedQuery) {
    platform::VmStatistics64 record;
    record.freeCount = 11;
    EXPECT_FALSE(platform::vmStatistics64(record));
    writeMeminfo("MemTotal: 1000 kB\nMemFree: 500 kB\n");
    EXPECT_FALSE(platform::vmStatistics64(record));
    EXPECT_EQ(record.freeCount, 11u);
}

TEST_F(AvailableRamTest, OneSampleWhenTheDeadlineHasPassed) {
    // 3 GiB free and 1 GiB more available: 4096 MiB in all.
    writeMeminfo("MemFree: 3145728 kB\nMemAvailable: 4194304 kB\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(testAvailableRam(0), 4096.0);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 0.5);  // the pause follows the sample
    EXPECT_LT(elapsed, 1.0);
}

TEST_F(AvailableRamTest, CountsNearThe32BitLimitDoNotWrap) {
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
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(testAvailableRam(1), 0.0);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(elapsed, 1.0);  // two pauses: the loop still runs its duration
}

TEST_F(AvailableRamTest, DispatcherAddsTheMeanToItsSlot) {
    writeMeminfo("MemFree: 1048576 kB\nMemAvailable: 2097152 kB\n");
    Baseline baseline;
    baseline.testSeconds = 0;
    baseline.results[13] = 0.0;
    runMemoryTest(13, &baseline);
    EXPECT_EQ(baseline.results[13].load(), 2048.0);
}

TEST(AvailableRamSystemTest, TheRealSystemHasMemoryAvailable) {
    EXPECT_GT(testAvailableRam(0), 0.0);
}

}  // namespace
