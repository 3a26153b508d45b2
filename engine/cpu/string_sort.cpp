// CPU test 3, "Sorting": qsort of half a million 24-letter records, again
// and again from the same unsorted copy. Returns strings sorted per second;
// the runner shows Thousand Strings/s. Also the second phase of the
// single-thread test.

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>

#include "cpu/cpu_tests.h"
#include "cpu/string_sort_internal.h"
#include "state/clock_log.h"
#include "state/minstd.h"

int CompareSortStrings(const void* first, const void* second) {
    const unsigned char* p = static_cast<const unsigned char*>(first);
    const unsigned char* q = static_cast<const unsigned char*>(second);
    int d;
    for (std::size_t k = 0;; ++k) {
        d = static_cast<int>(q[k]) - static_cast<int>(p[k]);
        if (d != 0 || p[k] == 0) break;
    }
    return (d < 0) ? -1 : (d > 0 ? 1 : 0);
}

namespace string_sort {

namespace {

constexpr std::uint32_t kDataSeed = 777;
// A three-letter alphabet makes neighbouring records share long prefixes,
// so comparisons run over many bytes.
constexpr std::uint32_t kAlphabetSize = 3;

}  // namespace

void fillRecords(char* buffer, std::size_t records) {
    Minstd minstd(kDataSeed);
    for (std::size_t r = 0; r < records; ++r) {
        char* record = buffer + r * kRecordBytes;
        for (std::size_t k = 0; k < kLettersPerRecord; ++k) {
            record[k] = static_cast<char>('A' + minstd.next() % kAlphabetSize);
        }
        record[kLettersPerRecord] = '\0';
    }
}

void sortPass(const char* source, char* work, std::size_t records) {
    std::memcpy(work, source, records * kRecordBytes);
    std::qsort(work, records, kRecordBytes, CompareSortStrings);
}

}  // namespace string_sort

double StringSortTest(std::int32_t seconds) {
    using namespace string_sort;

    // Without either 12.5 MB buffer the test scores 0.0, like the integer and
    // floating-point tests, instead of ending the worker with an exception.
    std::unique_ptr<char[]> source(new (std::nothrow) char[kBufferBytes]);
    std::unique_ptr<char[]> work(new (std::nothrow) char[kBufferBytes]);
    if (!source || !work) return 0.0;

    fillRecords(source.get(), kRecordsPerPass);

    const std::int64_t start = nowNanoseconds();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000LL;
    std::int64_t passes = 0;
    std::int64_t now;
    do {
        sortPass(source.get(), work.get(), kRecordsPerPass);
        ++passes;
        now = nowNanoseconds();
    } while (now <= deadline);

    source.reset();
    work.reset();

    const double elapsed = static_cast<double>(now - start) / 1000000000.0;
    const double result =
        static_cast<double>(passes) * static_cast<double>(kRecordsPerPass) / elapsed;

    if (debugLogging) {
        std::ostringstream message;
        message << "SORT TEST: Time Elapsed = " << elapsed << ", Loops = " << passes
                << ", Strings/s = " << result;
        debugLog(message.str());
    }
    return result;
}
