#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/string_sort_internal.h"
#include "cpu_test_support.h"

using namespace string_sort;

namespace {

std::string recordText(const char* buffer, std::size_t index) {
    return std::string(buffer + index * kRecordBytes);
}

}  // namespace

TEST(SortRecords, FirstRecordsFromSeed777) {
    std::vector<char> buffer(3 * kRecordBytes, 'x');
    fillRecords(buffer.data(), 3);
    EXPECT_EQ(recordText(buffer.data(), 0), "AABBBACAACAABBACABACBCBA");
    EXPECT_EQ(recordText(buffer.data(), 1).substr(0, 7), "CACABAC");
    for (std::size_t r = 0; r < 3; ++r) {
        EXPECT_EQ(recordText(buffer.data(), r).size(), kLettersPerRecord);
        EXPECT_EQ(buffer[r * kRecordBytes + kLettersPerRecord], '\0');
    }
}

TEST(SortComparator, OrdersRecordsInReverse) {
    const char equalA[] = "ABCABC";
    const char equalB[] = "ABCABC";
    EXPECT_EQ(CompareSortStrings(equalA, equalB), 0);
    EXPECT_EQ(CompareSortStrings("BAAA", "ABBB"), -1);  // the B record sorts first
    EXPECT_EQ(CompareSortStrings("ABBB", "BAAA"), 1);
    EXPECT_EQ(CompareSortStrings("AACB", "AACC"), 1);  // decided by the last letter
    // A proper prefix sorts after the longer record.
    EXPECT_EQ(CompareSortStrings("AB", "ABC"), 1);
    EXPECT_EQ(CompareSortStrings("ABC", "AB"), -1);
}

TEST(SortRecords, PassLeavesTheSourceDataInDescendingOrder) {
    constexpr std::size_t kRecords = 20000;
    std::vector<char> source(kRecords * kRecordBytes);
    std::vector<char> work(kRecords * kRecordBytes);
    fillRecords(source.data(), kRecords);
    const std::vector<char> untouched = source;

    sortPass(source.data(), work.data(), kRecords);

    EXPECT_EQ(source, untouched);
    std::vector<std::string> expected;
    for (std::size_t r = 0; r < kRecords; ++r) expected.push_back(recordText(source.data(), r));
    std::sort(expected.begin(), expected.end(), std::greater<>());
    for (std::size_t r = 0; r < kRecords; ++r) {
        ASSERT_EQ(recordText(work.data(), r), expected[r]) << r;
    }
    EXPECT_EQ(work.front(), 'C');
    EXPECT_EQ(work[(kRecords - 1) * kRecordBytes], 'A');
}

TEST(StringSortTest, PastDeadlineStillRunsOneSort) {
    ScopedDebugLog log;
    const double result = StringSortTest(0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("SORT TEST: Time Elapsed = ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(", Loops = 1, Strings/s = "), std::string::npos) << lines[0];
    const double elapsed = loggedNumber(lines[0], "Time Elapsed = ");
    ASSERT_GT(elapsed, 0.0);
    EXPECT_NEAR(result, 500000.0 / elapsed, result * 1e-5);
    EXPECT_NEAR(loggedNumber(lines[0], "Strings/s = "), result, result * 1e-5);
}

TEST(StringSortTest, OneSecondRunCountsWholeSorts) {
    ScopedDebugLog log;
    const double result = StringSortTest(1);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    const double elapsed = loggedNumber(lines[0], "Time Elapsed = ");
    const double loops = loggedNumber(lines[0], "Loops = ");
    EXPECT_GE(elapsed, 1.0);
    EXPECT_GE(loops, 2.0);
    EXPECT_NEAR(result, loops * 500000.0 / elapsed, result * 1e-5);
}

TEST(StringSortTest, ReturnsZeroWhenItsBuffersCannotBeHad) {
    const int code = exitCodeWithoutMemory(StringSortTest, kBufferBytes);
    if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";
    EXPECT_EQ(code, 0);
}
