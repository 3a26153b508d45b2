#pragma once

// Pieces of the single-thread test shared with its unit tests.

#include <cstdint>

namespace single_thread {

// The weighted terms of the three phases, from their raw figures:
// floating point in Million Operations/s, sorting in strings/s,
// compression in bytes/s (the latter two scaled like the runner scales
// tests 3 and 5: thousand strings/s and KiB/s).
struct Terms {
    double floatingPoint;  // F x 0.56
    double sorting;        // (S / 1000) x 0.34
    double compression;    // (C / 1024) x 0.19
};

Terms weighTerms(double floatingPoint, double stringsPerSecond, double bytesPerSecond);

// (sorting + (floatingPoint + compression)) / 3.212
double combineTerms(const Terms& terms);

// The three phases, called in this order, as pointers so that a test can see
// which duration each phase gets and feed their figures. The product never
// changes them; each holds the real test.
struct Phases {
    double (*floatingPoint)(std::int32_t seconds);  // FloatingPointTest
    double (*sorting)(std::int32_t seconds);        // StringSortTest
    double (*compression)(std::int32_t seconds);    // NewCompressData
};
extern Phases phases;
Phases defaultPhases();

}  // namespace single_thread
