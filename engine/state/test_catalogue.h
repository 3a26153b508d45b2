#pragma once

#include "state/baseline.h"

// What every part of the system knows about a test id: the window's row name,
// the results-file key and the display unit. Ids 13 and 14 are always shown
// as whole numbers; every other id with one decimal below 100.0.
struct TestInfo {
    const char* name;
    const char* key;
    const char* unit;
    bool wholeNumberOnly;
};

inline constexpr TestInfo kTestCatalogue[kTestCount] = {
    {"Integer Math", "CPU_INTEGER_MATH", "Million Operations/s", false},
    {"Floating Point Math", "CPU_FLOATINGPOINT_MATH", "Million Operations/s", false},
    {"Prime Numbers", "CPU_PRIME", "Million Primes/s", false},
    {"Sorting", "CPU_SORTING", "Thousand Strings/s", false},
    {"Encryption", "CPU_ENCRYPTION", "MB/s", false},
    {"Compression", "CPU_COMPRESSION", "KB/s", false},
    {"CPU Single Thread", "CPU_SINGLETHREAD", "Million Operations/s", false},
    {"Physics", "CPU_PHYSICS", "Frames/s", false},
    {"Extended Instructions (NEON)", "CPU_MATRIX_MULT_SSE", "Million Matrices/s", false},
    {"Database Operations", "ME_ALLOC_S", "Thousand Operations/s", false},
    {"Memory Read Cached", "ME_READ_S", "MB/s", false},
    {"Memory Read Uncached", "ME_READ_L", "MB/s", false},
    {"Memory Write", "ME_WRITE", "MB/s", false},
    {"Available RAM", "ME_LARGE", "Megabytes", true},
    {"Memory Latency", "ME_LATENCY", "Nanoseconds", true},
    {"Memory Threaded", "ME_THREADED", "MB/s", false},
};

inline bool isValidTestId(int id) { return id >= 0 && id < kTestCount; }
inline bool isCpuTest(int id) { return id >= 0 && id < kFirstMemoryTest; }
