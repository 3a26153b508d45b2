#include <gtest/gtest.h>

#include <cryptopp/filters.h>
#include <cryptopp/gzip.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <sstream>
#include <stdexcept>
#include <string>
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

// The summed output lengths of `passes` passes of the text through one
// gzip compressor (level 6, 2^15 window, uncompressible data detected) that
// is never told the message ended: what the test's debug line must report.
std::uint64_t outputOfPasses(int passes) {
    static std::vector<std::uint64_t> totals = [] {
        std::vector<unsigned char> text(kTextBytes, 0);
        fillText(text.data(), text.size());
        std::string output;
        CryptoPP::Gzip gzip(new CryptoPP::StringSink(output), 6, 15, true);
        std::vector<std::uint64_t> sums = {0};
        for (int pass = 0; pass < 4; ++pass) {
            gzip.Put2(text.data(), text.size(), 0, true);
            sums.push_back(sums.back() + output.size());
            output.clear();
        }
        return sums;
    }();
    return totals.at(static_cast<std::size_t>(passes));
}

std::string compressLine(double chars, double elapsed, std::uint64_t totalSize) {
    std::ostringstream line;
    line << "NewCompressData: chars encoded = " << chars << ", time elapsed = " << elapsed
         << ", total size = " << totalSize;
    return line.str();
}

TEST(NewCompressData, PastDeadlineStillRunsTwoPasses) {
    ScopedDebugLog log;
    const double result = NewCompressData(0);
    const auto lines = log.messages();
    ASSERT_EQ(lines.size(), 1u);
    const double elapsed = loggedNumber(lines[0], "time elapsed = ");
    ASSERT_GT(elapsed, 0.0);
    EXPECT_EQ(lines[0], compressLine(8388608.0, elapsed, outputOfPasses(2)));
    EXPECT_NEAR(result, 8388608.0 / elapsed, result * 1e-5);
}

// Every call the test makes through the seam, in order: G compressor made,
// C clock read, F text filled, P pass compressed.
class CompressionCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        steps.clear();
        text = nullptr;
        compressor = nullptr;
        failing = false;
        auto& calls = compressionCalls;
        calls.clock = [] {
            steps += 'C';
            return SteppedClock::read();
        };
        calls.makeCompressor = [](std::string& output) {
            steps += 'G';
            auto made = defaultCompressionCalls().makeCompressor(output);
            const auto* gzip = dynamic_cast<const CryptoPP::Gzip*>(made.get());
            EXPECT_NE(gzip, nullptr);
            if (gzip != nullptr) {
                EXPECT_EQ(gzip->GetDeflateLevel(), 6);
                EXPECT_EQ(gzip->GetLog2WindowSize(), 15);
            }
            return made;
        };
        calls.fill = [](unsigned char* buffer, std::size_t bytes) {
            steps += 'F';
            // A loop that never reads its clock again would run for ever.
            if (steps.size() > 100) throw std::runtime_error("runaway loop");
            EXPECT_EQ(bytes, kTextBytes);
            if (text == nullptr) text = buffer;
            EXPECT_EQ(buffer, text);
            std::fill(buffer, buffer + bytes, 0);  // the fill must write every byte
            fillText(buffer, bytes);
        };
        calls.compress = [](CryptoPP::BufferedTransformation& gzip, const unsigned char* buffer,
                            std::size_t bytes) {
            steps += 'P';
            EXPECT_EQ(buffer, text);
            EXPECT_EQ(bytes, kTextBytes);
            if (compressor == nullptr) compressor = &gzip;
            EXPECT_EQ(&gzip, compressor);  // one compressor for the whole call
            if (failing) throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "planted failure");
            gzip.Put2(buffer, bytes, 0, true);
        };
    }
    void TearDown() override {
        compressionCalls = defaultCompressionCalls();
        SteppedClock::reset(0);
    }

    static inline std::string steps;
    static inline const unsigned char* text = nullptr;
    static inline const CryptoPP::BufferedTransformation* compressor = nullptr;
    static inline bool failing = false;
};

// The clock is read at the start and after every second pass; each pass
// fills the text and compresses it inside the timed span. A clock stepping
// 0.6 s ends a one-second run at the reading after pass 4 (1.2 s); a
// deadline already past still gives two passes.
TEST_F(CompressionCallsTest, TimesTheRegenerationAndCompressionOfEveryPass) {
    struct Case {
        std::int32_t seconds;
        std::int64_t step;
        const char* steps;
        int passes;
        double elapsed;
    };
    const Case cases[] = {
        {1, 600000000, "GCFPFPCFPFPC", 4, 1.2},
        {0, 250000000, "GCFPFPC", 2, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        SetUp();
        SteppedClock::reset(c.step);
        ScopedDebugLog log;
        const double result = NewCompressData(c.seconds);
        const double chars = 4194304.0 * c.passes;
        EXPECT_EQ(steps, c.steps);
        EXPECT_DOUBLE_EQ(result, chars / c.elapsed);
        const std::vector<std::string> expected = {
            compressLine(chars, c.elapsed, outputOfPasses(c.passes))};
        EXPECT_EQ(log.messages(), expected);
    }
}

TEST_F(CompressionCallsTest, LibraryExceptionIsReportedAndScoresZero) {
    failing = true;
    SteppedClock::reset(600000000);
    ScopedDebugLog log;
    ::testing::internal::CaptureStderr();
    const double result = NewCompressData(1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Debug: [CompressData] Exception: planted failure\n");
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(steps, "GCFP");
    EXPECT_TRUE(log.messages().empty());
}

TEST(NewCompressData, ReturnsZeroWhenItsTextBufferCannotBeHad) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's own mappings need the room this test takes away";
#endif
    const int code = exitCodeWithoutMemory(NewCompressData, kTextBytes);
    if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";
    EXPECT_EQ(code, 0);
}
