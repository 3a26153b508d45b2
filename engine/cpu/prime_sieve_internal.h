#pragma once

#include <cstdint>
#include <vector>

// Pieces of the prime test shared with its unit tests.

namespace prime_sieve {

// Bit n of the sieve stands for the integer n, 0 <= n <= 2^25.
inline constexpr std::int64_t kSieveLimit = 33554433;  // 2^25 + 1
inline constexpr std::int64_t kCoordinateBound = 5792;  // floor(sqrt(2^25))

using SieveWords = std::vector<std::uint64_t>;

// A sieve of kSieveLimit bits, all 0.
SieveWords makeSieve();

// One full pass of the Sieve of Atkin: clears the sieve, then leaves exactly
// the primes up to 2^25 set.
void sievePass(SieveWords& sieve);

bool sieveBit(const SieveWords& sieve, std::int64_t n);

// Number of set bits among bits 0 .. 2^25.
std::int64_t countSetBits(const SieveWords& sieve);

// Primes per second: count x passes formed as a 64-bit integer (it passes
// 2^31 - 1 after 1,041 passes), then divided by the elapsed seconds.
double primesPerSecond(std::int64_t count, std::int32_t passes, double elapsedSeconds);

// Every call PrimeTest makes for its sieve, its clock and its passes; each
// default does what the test does. PrimeTest itself runs the same loop with
// direct calls, so the product pays no virtual call for this; a unit test
// derives from it to watch (or fail) each call in order.
class PrimeCalls {
public:
    virtual ~PrimeCalls() = default;
    // makeSieve: std::bad_alloc when the sieve cannot be had.
    virtual SieveWords makeSieve();
    // nowNanoseconds.
    virtual std::int64_t now();
    // sievePass.
    virtual void pass(SieveWords& sieve);
};

// PrimeTest's loop with every call made through `calls`.
double runPrimeTest(std::int32_t seconds, PrimeCalls& calls);

}  // namespace prime_sieve
