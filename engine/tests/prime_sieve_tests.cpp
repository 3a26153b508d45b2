#include <gtest/gtest.h>

#include <cstdint>

#include "cpu/cpu_tests.h"
#include "cpu/prime_sieve_internal.h"
#include "cpu_test_support.h"

using namespace prime_sieve;

namespace {

bool isPrimeByTrialDivision(std::int64_t n) {
    if (n < 2) return false;
    for (std::int64_t d = 2; d * d <= n; ++d) {
        if (n % d == 0) return false;
    }
    return true;
}

constexpr std::int64_t kPrimesUpTo2Pow25 = 2063689;

}  // namespace

TEST(PrimeSieve, OnePassLeavesExactlyThePrimesUpTo2Pow25) {
    SieveWords sieve = makeSieve();
    sievePass(sieve);
    EXPECT_EQ(countSetBits(sieve), kPrimesUpTo2Pow25);
    EXPECT_FALSE(sieveBit(sieve, 0));
    EXPECT_FALSE(sieveBit(sieve, 1));
    EXPECT_FALSE(sieveBit(sieve, 33554432));  // 2^25 itself
    for (std::int64_t n = 0; n < 20000; ++n) {
        ASSERT_EQ(sieveBit(sieve, n), isPrimeByTrialDivision(n)) << n;
    }
    for (std::int64_t n = 33554432 - 2000; n <= 33554432; ++n) {
        ASSERT_EQ(sieveBit(sieve, n), isPrimeByTrialDivision(n)) << n;
    }
}

TEST(PrimeSieve, EveryPassStartsFromAClearedSieve) {
    SieveWords sieve = makeSieve();
    sievePass(sieve);
    sievePass(sieve);
    EXPECT_EQ(countSetBits(sieve), kPrimesUpTo2Pow25);
    sievePass(sieve);
    EXPECT_EQ(countSetBits(sieve), kPrimesUpTo2Pow25);
}

TEST(PrimeSieve, RateFormsTheProductInSixtyFourBits) {
    // 1,041 passes of 2,063,689 primes pass 2^31 - 1.
    EXPECT_EQ(primesPerSecond(kPrimesUpTo2Pow25, 1041, 1.0), 2148300249.0);
    EXPECT_EQ(primesPerSecond(kPrimesUpTo2Pow25, 1041, 2.0), 1074150124.5);
}

TEST(PrimeTest, PastDeadlineStillRunsOnePass) {
    ScopedDebugLog log;
    const double result = PrimeTest(0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("PRIME TEST: Time Elapsed = ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(", Loops = 1, Primes/loop = 2063689"), std::string::npos) << lines[0];
    const double elapsed = loggedNumber(lines[0], "Time Elapsed = ");
    ASSERT_GT(elapsed, 0.0);
    EXPECT_NEAR(result, 2063689.0 / elapsed, result * 1e-5);
}

TEST(PrimeTest, OneSecondRunCountsWholePasses) {
    ScopedDebugLog log;
    const double result = PrimeTest(1);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    const double elapsed = loggedNumber(lines[0], "Time Elapsed = ");
    const double loops = loggedNumber(lines[0], "Loops = ");
    EXPECT_GE(elapsed, 1.0);
    EXPECT_GE(loops, 2.0);
    EXPECT_EQ(loggedNumber(lines[0], "Primes/loop = "), 2063689.0);
    EXPECT_NEAR(result, 2063689.0 * loops / elapsed, result * 1e-5);
}
