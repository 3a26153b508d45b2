// CPU test 2, "Prime Numbers": the Sieve of Atkin up to 2^25 over a packed
// bit array, pass after pass. Returns primes found per second; the runner
// shows Million Primes/s.

#include <algorithm>
#include <bit>
#include <new>
#include <sstream>

#include "cpu/cpu_tests.h"
#include "cpu/prime_sieve_internal.h"
#include "state/clock_log.h"

namespace prime_sieve {

namespace {

constexpr std::size_t kWordCount = static_cast<std::size_t>((kSieveLimit + 63) / 64);

// Inverting or clearing a bit is a read-modify-write of its 64-bit word.
inline void flipBit(std::uint64_t* words, std::int64_t n) {
    words[n >> 6] ^= std::uint64_t{1} << (n & 63);
}

inline void clearBit(std::uint64_t* words, std::int64_t n) {
    words[n >> 6] &= ~(std::uint64_t{1} << (n & 63));
}

inline void setBit(std::uint64_t* words, std::int64_t n) {
    words[n >> 6] |= std::uint64_t{1} << (n & 63);
}

inline bool testBit(const std::uint64_t* words, std::int64_t n) {
    return (words[n >> 6] >> (n & 63)) & 1u;
}

}  // namespace

SieveWords makeSieve() { return SieveWords(kWordCount, 0); }

bool sieveBit(const SieveWords& sieve, std::int64_t n) { return testBit(sieve.data(), n); }

void sievePass(SieveWords& sieve) {
    std::uint64_t* words = sieve.data();
    std::fill(sieve.begin(), sieve.end(), std::uint64_t{0});

    // Both coordinates descend and the three quadratic forms come in this
    // order: the access pattern is part of the measured work.
    for (std::int64_t x = kCoordinateBound; x >= 1; --x) {
        const std::int64_t xx = x * x;
        for (std::int64_t y = kCoordinateBound; y >= 1; --y) {
            const std::int64_t yy = y * y;
            std::int64_t n = 4 * xx + yy;
            if (n < kSieveLimit && (n % 12 == 1 || n % 12 == 5)) flipBit(words, n);
            n = 3 * xx + yy;
            if (n < kSieveLimit && n % 12 == 7) flipBit(words, n);
            if (x > y) {
                n = 3 * xx - yy;
                if (n < kSieveLimit && n % 12 == 11) flipBit(words, n);
            }
        }
    }

    // Remove the multiples of squares of the primes found.
    for (std::int64_t r = 5; r <= kCoordinateBound; ++r) {
        if (testBit(words, r)) {
            const std::int64_t square = r * r;
            for (std::int64_t k = square; k < kSieveLimit; k += square) clearBit(words, k);
        }
    }

    // 2 and 3 are the primes that no quadratic form reaches.
    setBit(words, 2);
    setBit(words, 3);
}

std::int64_t countSetBits(const SieveWords& sieve) {
    // Bits past 2^25 in the last word are never set, so whole words count.
    std::int64_t count = 0;
    for (std::uint64_t w : sieve) count += std::popcount(w);
    return count;
}

double primesPerSecond(std::int64_t count, std::int32_t passes, double elapsedSeconds) {
    const std::int64_t primes = count * static_cast<std::int64_t>(passes);
    return static_cast<double>(primes) / elapsedSeconds;
}

namespace {

// The calls as PrimeTest makes them: direct, nothing virtual.
struct DirectPrimeCalls {
    static SieveWords makeSieve() { return prime_sieve::makeSieve(); }
    static std::int64_t now() { return nowNanoseconds(); }
    static void pass(SieveWords& sieve) { sievePass(sieve); }
};

template <class Calls>
double timedPrimes(std::int32_t seconds, Calls& calls) {
    // Without its 4 MiB sieve the test scores 0.0, as the integer and
    // floating-point tests do without their arrays, instead of ending the
    // worker with an exception.
    SieveWords sieve;
    try {
        sieve = calls.makeSieve();
    } catch (const std::bad_alloc&) {
        return 0.0;
    }
    const std::int64_t start = calls.now();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000LL;
    std::int32_t passes = 0;
    std::int64_t now;
    do {
        calls.pass(sieve);
        ++passes;
        now = calls.now();
    } while (now < deadline);

    const std::int64_t count = countSetBits(sieve);
    const double elapsed = static_cast<double>(now - start) / 1000000000.0;

    if (debugLogging) {
        std::ostringstream message;
        message << "PRIME TEST: Time Elapsed = " << elapsed << ", Loops = " << passes
                << ", Primes/loop = " << count;
        debugLog(message.str());
    }

    return primesPerSecond(count, passes, elapsed);
}

}  // namespace

SieveWords PrimeCalls::makeSieve() { return DirectPrimeCalls::makeSieve(); }
std::int64_t PrimeCalls::now() { return DirectPrimeCalls::now(); }
void PrimeCalls::pass(SieveWords& sieve) { DirectPrimeCalls::pass(sieve); }

double runPrimeTest(std::int32_t seconds, PrimeCalls& calls) {
    return timedPrimes(seconds, calls);
}

}  // namespace prime_sieve

double PrimeTest(std::int32_t seconds) {
    prime_sieve::DirectPrimeCalls calls;
    return prime_sieve::timedPrimes(seconds, calls);
}
