#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "cpu/compression_internal.h"
#include "cpu/cpu_tests.h"
#include "cpu_test_support.h"

using namespace compression;

TEST(CompressionText, BeginsWithTheFirstDrawsOfSeed777) {
    std::vector<unsigned char> text(16, 0);
    fillText(text.data(), text.size());
    EXPECT_EQ(std::string(text.begin(), text.begin() + 8), "cfsvylbl");
}

TEST(CompressionText, HoldsBlanksAndLettersInEqualShares) {
    std::vector<unsigned char> text(kTextBytes, 0);
    fillText(text.data(), text.size());
    std::array<std::size_t, 27> counts{};
    for (unsigned char c : text) {
        if (c == ' ') {
            ++counts[0];
        } else {
            ASSERT_TRUE(c >= 'a' && c <= 'z') << int(c);
            ++counts[c - 96];
        }
    }
    const double expected = static_cast<double>(kTextBytes) / 27.0;  // about 155,345
    for (std::size_t r = 0; r < counts.size(); ++r) {
        EXPECT_NEAR(static_cast<double>(counts[r]), expected, 2000.0) << "symbol " << r;
    }
    // Every pass regenerates the same text.
    std::vector<unsigned char> again(kTextBytes, 0);
    fillText(again.data(), again.size());
    EXPECT_EQ(again, text);
}

TEST(NewCompressData, PastDeadlineStillRunsTwoPasses) {
    ScopedDebugLog log;
    const double result = NewCompressData(0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("NewCompressData: chars encoded = 8.38861e+06, time elapsed = ", 0), 0u)
        << lines[0];
    const double elapsed = loggedNumber(lines[0], "time elapsed = ");
    ASSERT_GT(elapsed, 0.0);
    EXPECT_NEAR(result, 8388608.0 / elapsed, result * 1e-5);
    // 27 equally likely symbols need about 4.75 bits each: the output is
    // well below the input but far from empty.
    const double totalSize = loggedNumber(lines[0], "total size = ");
    EXPECT_GT(totalSize, 0.5 * 8388608.0);
    EXPECT_LT(totalSize, 0.75 * 8388608.0);
}

TEST(NewCompressData, OneSecondRunCountsPairsOfPasses) {
    ScopedDebugLog log;
    const double result = NewCompressData(1);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    const double chars = loggedNumber(lines[0], "chars encoded = ");
    const double elapsed = loggedNumber(lines[0], "time elapsed = ");
    EXPECT_GE(elapsed, 1.0);
    EXPECT_GE(chars, 8388608.0);
    EXPECT_NEAR(result, chars / elapsed, result * 1e-5);
}

TEST(NewCompressData, ReturnsZeroWhenItsTextBufferCannotBeHad) {
    const int code = exitCodeWithoutMemory(NewCompressData, kTextBytes);
    if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";
    EXPECT_EQ(code, 0);
}
