#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
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

// Comparisons of the sort in progress: the comparator handed to qsort, wrapped.
int (*wrappedCompare)(const void*, const void*) = nullptr;
std::int64_t comparisons = 0;
int countingCompare(const void* first, const void* second) {
    ++comparisons;
    return wrappedCompare(first, second);
}

// The sorting loop with every call watched: a fed clock, the real copy and
// qsort, and checks of what each call is handed. events spells the calls in
// order: A allocate, R release, N clock reading, C copy, S sort.
class WatchedSort : public SortCalls {
public:
    explicit WatchedSort(std::vector<std::int64_t> readings, int failingAllocation = -1)
        : readings_(std::move(readings)), failingAllocation_(failingAllocation) {}

    std::string events;
    std::vector<std::int64_t> comparisonsPerSort;
    std::vector<bool> sortedTheUnsortedSource;
    std::int64_t recordsSorted = 0;
    std::vector<char*> blocks;
    std::vector<char*> released;

    char* allocate(std::size_t bytes) override {
        events += 'A';
        EXPECT_EQ(bytes, kBufferBytes);
        if (allocations_++ == failingAllocation_) return nullptr;
        blocks.push_back(SortCalls::allocate(bytes));
        return blocks.back();
    }
    void release(char* block) override {
        events += 'R';
        released.push_back(block);
        SortCalls::release(block);
    }
    std::int64_t now() override {
        events += 'N';
        if (reads_ == 0) {
            // The data are made before the clock starts.
            std::vector<char> expected(kBufferBytes);
            fillRecords(expected.data(), kRecordsPerPass);
            EXPECT_EQ(std::memcmp(blocks.at(0), expected.data(), kBufferBytes), 0);
        }
        return readings_.at(reads_++);
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
        events += 'S';
        // A loop that ran on without its clock would never end: stop it.
        if (++passes_ > readings_.size()) throw std::length_error("more passes than clock readings");
        EXPECT_EQ(work, blocks.at(1));
        EXPECT_EQ(records, kRecordsPerPass);
        EXPECT_EQ(recordBytes, kRecordBytes);
        EXPECT_EQ(compare, &CompareSortStrings);
        sortedTheUnsortedSource.push_back(std::memcmp(work, blocks.at(0), kBufferBytes) == 0);
        wrappedCompare = compare;
        comparisons = 0;
        SortCalls::sort(work, records, recordBytes, countingCompare);
        comparisonsPerSort.push_back(comparisons);
        recordsSorted += static_cast<std::int64_t>(records);
        // Descending: 'C...' records first, 'A...' records last.
        for (std::size_t r = 1; r < records; ++r) {
            ASSERT_GE(std::strcmp(work + (r - 1) * kRecordBytes, work + r * kRecordBytes), 0) << r;
        }
    }

private:
    std::vector<std::int64_t> readings_;
    std::size_t reads_ = 0;
    std::size_t passes_ = 0;
    int failingAllocation_;
    int allocations_ = 0;
};

}  // namespace

TEST(StringSortLoop, EveryPassCopiesThenSortsTheUnsortedSourceAndIsCounted) {
    ScopedDebugLog log;
    // Deadline 6.0 s: the reading equal to it still lets a pass follow.
    WatchedSort calls({5000000000, 6000000000, 6500000000});
    const double result = runStringSortTest(1, calls);

    EXPECT_EQ(calls.events, "AANCSNCSNRR");
    EXPECT_EQ(calls.sortedTheUnsortedSource, (std::vector<bool>{true, true}));
    ASSERT_EQ(calls.comparisonsPerSort.size(), 2u);
    EXPECT_GT(calls.comparisonsPerSort[0], static_cast<std::int64_t>(kRecordsPerPass));
    EXPECT_EQ(calls.comparisonsPerSort[1], calls.comparisonsPerSort[0]);  // the same work each pass
    EXPECT_EQ(calls.recordsSorted, 1000000);
    EXPECT_EQ(calls.released, calls.blocks);
    EXPECT_EQ(result, 1000000.0 / 1.5);
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"SORT TEST: Time Elapsed = 1.5, Loops = 2, Strings/s = 666667"});
}

TEST(StringSortLoop, MissingBufferScoresZeroWithoutStartingTheClock) {
    for (int failing : {0, 1}) {
        ScopedDebugLog log;
        WatchedSort calls({5000000000}, failing);
        EXPECT_EQ(runStringSortTest(6, calls), 0.0) << failing;
        EXPECT_EQ(calls.events, "AAR") << failing;
        EXPECT_EQ(calls.released, calls.blocks) << failing;  // the buffer that was had
        EXPECT_TRUE(log.messages().empty()) << failing;
    }
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

TEST(StringSortTest, ReturnsZeroWhenItsBuffersCannotBeHad) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "shrinks the data segment, which the address sanitizer needs";
#endif
    const int code = exitCodeWithoutMemory(StringSortTest, kBufferBytes);
    if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";
    EXPECT_EQ(code, 0);
}
