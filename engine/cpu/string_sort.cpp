// CPU test 3, "Sorting": qsort of half a million 24-letter records, again
// and again from the same unsorted copy. Returns strings sorted per second;
// the runner shows Thousand Strings/s. Also the second phase of the
// single-thread test.

#include <cstdlib>
#include <cstring>
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

namespace {

// The calls as StringSortTest makes them: direct, nothing virtual.
struct DirectSortCalls {
    static char* allocate(std::size_t bytes) { return new (std::nothrow) char[bytes]; }
    static void release(char* block) { delete[] block; }
    static std::int64_t now() { return nowNanoseconds(); }
    static void copy(char* work, const char* source, std::size_t bytes) {
        std::memcpy(work, source, bytes);
    }
    static void sort(char* work, std::size_t records, std::size_t recordBytes,
                     int (*compare)(const void*, const void*)) {
        std::qsort(work, records, recordBytes, compare);
    }
};

// One 12.5 MB buffer, given back through the calls that made it.
template <class Calls>
class Buffer {
public:
    Buffer(Calls& calls, std::size_t bytes) : calls_(calls), block_(calls.allocate(bytes)) {}
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { reset(); }
    void reset() {
        if (block_ != nullptr) calls_.release(block_);
        block_ = nullptr;
    }
    char* get() const { return block_; }

private:
    Calls& calls_;
    char* block_;
};

template <class Calls>
double timedStringSort(std::int32_t seconds, Calls& calls) {
    // Without either 12.5 MB buffer the test scores 0.0, like the integer and
    // floating-point tests, instead of ending the worker with an exception.
    Buffer<Calls> source(calls, kBufferBytes);
    Buffer<Calls> work(calls, kBufferBytes);
    if (source.get() == nullptr || work.get() == nullptr) return 0.0;

    fillRecords(source.get(), kRecordsPerPass);

    const std::int64_t start = calls.now();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000LL;
    std::int64_t passes = 0;
    std::int64_t now;
    do {
        // The copy is timed with the sort: every pass sorts the same
        // unsorted data.
        calls.copy(work.get(), source.get(), kBufferBytes);
        calls.sort(work.get(), kRecordsPerPass, kRecordBytes, CompareSortStrings);
        ++passes;
        now = calls.now();
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

}  // namespace

char* SortCalls::allocate(std::size_t bytes) { return DirectSortCalls::allocate(bytes); }
void SortCalls::release(char* block) { DirectSortCalls::release(block); }
std::int64_t SortCalls::now() { return DirectSortCalls::now(); }
void SortCalls::copy(char* work, const char* source, std::size_t bytes) {
    DirectSortCalls::copy(work, source, bytes);
}
void SortCalls::sort(char* work, std::size_t records, std::size_t recordBytes,
                     int (*compare)(const void*, const void*)) {
    DirectSortCalls::sort(work, records, recordBytes, compare);
}

double runStringSortTest(std::int32_t seconds, SortCalls& calls) {
    return timedStringSort(seconds, calls);
}

}  // namespace string_sort

double StringSortTest(std::int32_t seconds) {
    string_sort::DirectSortCalls calls;
    return string_sort::timedStringSort(seconds, calls);
}
