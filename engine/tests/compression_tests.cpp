#include <gtest/gtest.h>

#include <cryptopp/filters.h>
#include <cryptopp/gzip.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <sstream>
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

// Every call the test makes through the seam, logged: G compressor made,
// N clock read, F text filled, P pass compressed.
CallLog gLog;

class CompressionCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = CallLog{};
        gLog.runaway = 50;
        failing = false;
        auto& calls = compressionCalls;
        calls.clock = [] { return gLog.now(); };
        calls.makeCompressor = [](std::string& output) {
            gLog.events += 'G';
            auto made = defaultCompressionCalls().makeCompressor(output);
            const auto* gzip = dynamic_cast<const CryptoPP::Gzip*>(made.get());
            EXPECT_TRUE(gzip != nullptr && gzip->GetDeflateLevel() == 6 && gzip->GetLog2WindowSize() == 15);
            gLog.blocks.push_back(made.get());
            return made;
        };
        calls.fill = [](unsigned char* buffer, std::size_t bytes) {
            gLog.work('F');
            EXPECT_EQ(bytes, kTextBytes);
            if (gLog.blocks.size() < 2) gLog.blocks.push_back(buffer);
            EXPECT_EQ(buffer, gLog.blocks.at(1));
            std::fill(buffer, buffer + bytes, 0);  // the fill must write every byte
            fillText(buffer, bytes);
        };
        calls.compress = [](CryptoPP::BufferedTransformation& gzip, const unsigned char* buffer,
                            std::size_t bytes) {
            gLog.events += 'P';
            EXPECT_EQ(buffer, gLog.blocks.at(1));
            EXPECT_EQ(bytes, kTextBytes);
            EXPECT_EQ(&gzip, gLog.blocks.at(0));  // one compressor for the whole call
            if (failing) throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "planted failure");
            gzip.Put2(buffer, bytes, 0, true);
        };
    }
    void TearDown() override { compressionCalls = defaultCompressionCalls(); }

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
        {1, 600000000, "GNFPFPNFPFPN", 4, 1.2},
        {0, 250000000, "GNFPFPN", 2, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        SetUp();
        gLog.step = c.step;
        ScopedDebugLog log;
        const double result = NewCompressData(c.seconds);
        const double chars = 4194304.0 * c.passes;
        EXPECT_EQ(gLog.events, c.steps);
        EXPECT_DOUBLE_EQ(result, chars / c.elapsed);
        const std::vector<std::string> expected = {
            compressLine(chars, c.elapsed, outputOfPasses(c.passes))};
        EXPECT_EQ(log.messages(), expected);
    }
}

TEST_F(CompressionCallsTest, LibraryExceptionIsReportedAndScoresZero) {
    failing = true;
    gLog.step = 600000000;
    ScopedDebugLog log;
    ::testing::internal::CaptureStderr();
    const double result = NewCompressData(1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Debug: [CompressData] Exception: planted failure\n");
    EXPECT_EQ(result, 0.0);
    EXPECT_EQ(gLog.events, "GNFP");
    EXPECT_TRUE(log.messages().empty());
}

TEST(NewCompressData, ReturnsZeroWhenItsTextBufferCannotBeHad) {
    EXPECT_ZERO_WITHOUT_MEMORY(NewCompressData, kTextBytes);
}
