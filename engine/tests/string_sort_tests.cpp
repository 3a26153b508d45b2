#include <gtest/gtest.h>

#include <cstdint>
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

namespace {

// The sorting loop with every call logged (C copy, S sort), the real copy
// and qsort, and checks of what each call is handed.
struct WatchedSort : LoggedCalls<SortCalls, char> {
    WatchedSort() : LoggedCalls({kBufferBytes, kBufferBytes}) {}

    void expectDataMade() override {
        std::vector<char> expected(kBufferBytes);
        fillRecords(expected.data(), kRecordsPerPass);
        EXPECT_EQ(std::memcmp(blocks.at(0), expected.data(), kBufferBytes), 0);
    }
    void copy(char* work, const char* source, std::size_t bytes) override {
        events += 'C';
        EXPECT_EQ(work, blocks.at(1));
        EXPECT_EQ(source, blocks.at(0));
        EXPECT_EQ(bytes, kBufferBytes);
        SortCalls::copy(work, source, bytes);
    }
    void sort(char* work, std::size_t records, std::size_t recordBytes,
              int (*compare)(const void*, const void*)) override {
        CallLog::work('S');
        EXPECT_EQ(work, blocks.at(1));
        EXPECT_EQ(records, kRecordsPerPass);
        EXPECT_EQ(recordBytes, kRecordBytes);
        EXPECT_EQ(compare, &CompareSortStrings);
        EXPECT_EQ(std::memcmp(work, blocks.at(0), kBufferBytes), 0);  // the unsorted source, copied
        SortCalls::sort(work, records, recordBytes, compare);
        // Descending: 'C...' records first, 'A...' records last.
        for (std::size_t r = 1; r < records; ++r) {
            ASSERT_GE(std::strcmp(work + (r - 1) * kRecordBytes, work + r * kRecordBytes), 0) << r;
        }
    }
};

}  // namespace

TEST(StringSortLoop, EveryPassCopiesThenSortsTheUnsortedSourceAndIsCounted) {
    ScopedDebugLog log;
    // Deadline 6.0 s: the reading equal to it still lets a pass follow.
    WatchedSort calls;
    calls.readings = {5000000000, 6000000000, 6500000000};
    const double result = runStringSortTest(1, calls);

    EXPECT_EQ(calls.events, "AANCSNCSNRR");
    EXPECT_EQ(calls.released, calls.blocks);
    EXPECT_EQ(result, 1000000.0 / 1.5);
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"SORT TEST: Time Elapsed = 1.5, Loops = 2, Strings/s = 666667"});
}

TEST(StringSortLoop, MissingBufferScoresZeroWithoutStartingTheClock) {
    expectZeroWithoutEachBlock<WatchedSort>(runStringSortTest, {"AAR", "AAR"});
}

TEST(StringSortTest, PastDeadlineStillRunsOneSort) {
    expectOnePastDeadline(StringSortTest, "SORT TEST: Time Elapsed = ", ", Loops = 1, Strings/s = ", 500000.0);
}

TEST(StringSortTest, ReturnsZeroWhenItsBuffersCannotBeHad) {
    EXPECT_ZERO_WITHOUT_MEMORY(StringSortTest, kBufferBytes);
}
