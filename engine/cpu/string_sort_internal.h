#pragma once

#include <cstddef>
#include <cstdint>

// Pieces of the sorting test shared with its unit tests.

namespace string_sort {

// A record is 24 letters from {'A', 'B', 'C'} and a terminating zero byte;
// records lie back to back.
inline constexpr std::size_t kLettersPerRecord = 24;
inline constexpr std::size_t kRecordBytes = 25;
inline constexpr std::size_t kRecordsPerPass = 500000;
inline constexpr std::size_t kBufferBytes = kRecordsPerPass * kRecordBytes;  // 12,500,000

// Writes `records` records from the Minstd generator seeded with 777.
void fillRecords(char* buffer, std::size_t records);

// Every call StringSortTest makes for its buffers, its clock and its passes;
// each default does what the test does. StringSortTest itself runs the same
// loop with direct calls, so the product pays no virtual call for this; a
// unit test derives from it to watch (or fail) each call in order.
class SortCalls {
public:
    virtual ~SortCalls() = default;
    // Array new without exceptions: nullptr when the block cannot be had.
    virtual char* allocate(std::size_t bytes);
    virtual void release(char* block);
    // nowNanoseconds.
    virtual std::int64_t now();
    // memcpy of the whole source buffer into the work buffer.
    virtual void copy(char* work, const char* source, std::size_t bytes);
    // qsort.
    virtual void sort(char* work, std::size_t records, std::size_t recordBytes,
                      int (*compare)(const void*, const void*));
};

// StringSortTest's loop with every call made through `calls`.
double runStringSortTest(std::int32_t seconds, SortCalls& calls);

}  // namespace string_sort

// qsort comparator over two records, in reverse byte order: returns -1 when
// `first` holds the greater letters (so it sorts first), +1 when `second`
// does, 0 for equal records. A record that is a proper prefix of the other
// compares as the smaller.
int CompareSortStrings(const void* first, const void* second);
