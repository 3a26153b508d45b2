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

// One timed pass: copies `records` records from source to work and sorts
// the work buffer with qsort and CompareSortStrings.
void sortPass(const char* source, char* work, std::size_t records);

}  // namespace string_sort

// qsort comparator over two records, in reverse byte order: returns -1 when
// `first` holds the greater letters (so it sorts first), +1 when `second`
// does, 0 for equal records. A record that is a proper prefix of the other
// compares as the smaller.
int CompareSortStrings(const void* first, const void* second);
