#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

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

namespace {

// The prime loop with every call logged (S sieve made, P pass) and a
// stand-in pass that leaves firstBits + k bits set after its k-th call, so
// the logged count shows which pass it was taken after.
struct WatchedPrimes : PrimeCalls, CallLog {
    std::int64_t firstBits = 100;

    SieveWords makeSieve() override {
        events += 'S';
        if (failingAllocation == 0) throw std::bad_alloc();
        SieveWords sieve = PrimeCalls::makeSieve();
        blocks.push_back(sieve.data());
        return sieve;
    }
    void pass(SieveWords& sieve) override {
        work('P');
        EXPECT_EQ(sieve.data(), blocks.at(0));  // the one sieve of the call, made before the clock
        const std::int64_t bits = firstBits + units;
        std::fill(sieve.begin(), sieve.end(), 0);
        std::fill(sieve.begin(), sieve.begin() + bits / 64, ~std::uint64_t{0});
        sieve[bits / 64] = (std::uint64_t{1} << (bits % 64)) - 1;
    }
    std::int64_t now() override { return CallLog::now(); }
};

}  // namespace

TEST(PrimeLoop, EachClockReadingFollowsOnePassAndTheCountIsTakenAfterTheLast) {
    std::vector<std::int64_t> longRun(1041, 5000000000);
    longRun.push_back(6000000000);
    const struct {
        std::int32_t seconds;
        std::vector<std::int64_t> readings;  // the start, then one after each pass
        std::int64_t firstBits;
        int passes;
        double result;
        const char* line;
    } cases[] = {
        {2, {5000000000, 5900000000, 6800000000, 7000000000}, 100, 3, 103.0 * 3 / 2.0,
         "PRIME TEST: Time Elapsed = 2, Loops = 3, Primes/loop = 103"},  // the deadline ends it
        {0, {5000000000, 5500000000}, 100, 1, 101.0 / 0.5,
         "PRIME TEST: Time Elapsed = 0.5, Loops = 1, Primes/loop = 101"},
        // 1,041 passes of 2,063,689 primes: the product passes 2^31 - 1.
        {1, longRun, kPrimesUpTo2Pow25 - 1041, 1041, 2148300249.0,
         "PRIME TEST: Time Elapsed = 1, Loops = 1041, Primes/loop = 2063689"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScopedDebugLog log;
        WatchedPrimes calls;
        calls.readings = c.readings;
        calls.firstBits = c.firstBits;
        EXPECT_EQ(runPrimeTest(c.seconds, calls), c.result);
        std::string expected = "SN";
        for (int k = 0; k < c.passes; ++k) expected += "PN";
        EXPECT_EQ(calls.events, expected);
        EXPECT_EQ(log.messages(), std::vector<std::string>{c.line});
    }
}

TEST(PrimeLoop, MissingSieveScoresZeroWithoutStartingTheClock) {
    ScopedDebugLog log;
    WatchedPrimes calls;
    calls.failingAllocation = 0;
    EXPECT_EQ(runPrimeTest(6, calls), 0.0);
    EXPECT_EQ(calls.events, "S");
    EXPECT_TRUE(log.messages().empty());
}

TEST(PrimeTest, PastDeadlineStillRunsOnePass) {
    expectOnePastDeadline(PrimeTest, "PRIME TEST: Time Elapsed = ", ", Loops = 1, Primes/loop = 2063689",
                          2063689.0);
}

TEST(PrimeTest, ReturnsZeroWhenItsSieveCannotBeHad) {
    EXPECT_ZERO_WITHOUT_MEMORY(PrimeTest, (kSieveLimit + 63) / 64 * 8);
}
