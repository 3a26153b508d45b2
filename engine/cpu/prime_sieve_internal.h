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

}  // namespace prime_sieve
