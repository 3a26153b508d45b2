// Naming of the results file, the registration reply rules and the page
// address: no network.

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "results/deployment.h"
#include "results/results.h"
#include "state/baseline.h"
#include "test_servers.h"

namespace {

std::istringstream randomBytes(const std::vector<std::uint32_t>& draws) {
    std::string bytes(reinterpret_cast<const char*>(draws.data()), draws.size() * 4);
    return std::istringstream(bytes);
}

TEST(ResultsFileName, DrawsAreCutToTenBitsAndValuesAbove999Rejected) {
    auto in = randomBytes({1000, 1023, 0xFFFFFFFFu, 0xABCD03E7u});  // ... low bits 999
    EXPECT_EQ(drawFileNumber(in), 999);
    auto exact = randomBytes({0x12345C05u});
    EXPECT_EQ(drawFileNumber(exact), 5);
    for (std::uint32_t rejected = 1000; rejected <= 1023; ++rejected) {
        auto only = randomBytes({rejected, rejected + 0x400u});
        EXPECT_EQ(drawFileNumber(only), -1) << rejected;
    }
    std::istringstream shortRead(std::string("\x01\x02", 2));
    EXPECT_EQ(drawFileNumber(shortRead), -1);
}

TEST(ResultsFileName, NamesJoinPrefixTimeStampNumberAndSuffix) {
    EXPECT_EQ(baselineFileName(20210615093007u, 0), "/BL_202106150930070.vx");
    EXPECT_EQ(baselineFileName(20210615093007u, 42), "/BL_2021061509300742.vx");
    EXPECT_EQ(baselineFileName(20210615093007u, 999), "/BL_20210615093007999.vx");
}

TEST(ResultsFileName, FileNameIsThePathAfterItsLastSlash) {
    EXPECT_EQ(fileNameOf("/home/u/BL_1.vx"), "BL_1.vx");
    EXPECT_EQ(fileNameOf("/home/u//BL_1.vx"), "BL_1.vx");
    EXPECT_EQ(fileNameOf("BL_1.vx"), "BL_1.vx");
    EXPECT_EQ(fileNameOf("dir/"), "");
}

struct ReplyCase {
    const char* reply;
    bool accepted;
    std::int32_t dbId;
    std::int32_t salt;
};

TEST(RegistrationReply, AcceptanceAndLabelRules) {
    // Starting ids 11 and 22 show which fields a reply changed.
    const ReplyCase cases[] = {
        {"Success: true", true, 11, 22},
        {"Success:true DBId: 5 filenameSalt: 6", false, 11, 22},
        {"success: true DBId: 5 filenameSalt: 6", false, 11, 22},
        {"Success: tru", false, 11, 22},
        {"", false, 11, 22},
        {"Success: false DBId: 5 filenameSalt: 6", false, 11, 22},
        {"Success: true\nDBId: 1234\nfilenameSalt: 42\n", true, 1234, 42},
        {"filenameSalt: 42 DBId: 1234 Success: true", true, 1234, 42},
        {"xxSuccess: truexx DBId:\t7", true, 7, 22},
        {"Success: true DBId: 1 DBId: 2 filenameSalt: 3 filenameSalt: 4", true, 2, 4},
        {"Success: true DBId:5 filenameSalt:6", true, 11, 22},
        {"Success: true filenameSalt: 9", true, 11, 9},
        {"Success: true DBId:\n  -17 filenameSalt: +8", true, -17, 8},
        {"Success: true DBId: 2147483647 filenameSalt: -2147483648", true, INT32_MAX, INT32_MIN},
        {"Success: true DBId: 77abc filenameSalt: 3", true, 77, 3},
        // A label followed by no number, or by one out of range, makes the
        // reply malformed: refused, nothing stored.
        {"Success: true DBId: abc filenameSalt: 3", false, 11, 22},
        {"Success: true filenameSalt: 3 DBId: 2147483648", false, 11, 22},
        {"Success: true DBId: 5 filenameSalt: -2147483649", false, 11, 22},
        {"Success: true DBId: 5 filenameSalt:", false, 11, 22},
    };
    for (const ReplyCase& c : cases) {
        const RegistrationReply parsed = parseRegistrationReply(c.reply, 11, 22);
        EXPECT_EQ(parsed.accepted, c.accepted) << c.reply;
        EXPECT_EQ(parsed.dbId, c.dbId) << c.reply;
        EXPECT_EQ(parsed.filenameSalt, c.salt) << c.reply;
    }
}

TEST(RegistrationReply, WriteCallbackAppendsEveryBlockUpToItsLimit) {
    ReplyBuffer reply{std::string(), 14};
    char first[] = "Success: ";
    char second[] = "true";
    EXPECT_EQ(curlWriteToString(first, 1, 9, &reply), 9u);
    EXPECT_EQ(curlWriteToString(second, 2, 2, &reply), 4u);
    EXPECT_EQ(curlWriteToString(second, 1, 0, &reply), 0u);
    EXPECT_EQ(reply.text, "Success: true");
    // One byte more fits the limit, two do not: refused whole, text kept.
    EXPECT_EQ(curlWriteToString(second, 1, 2, &reply), 0u);
    EXPECT_EQ(reply.text, "Success: true");
    EXPECT_EQ(curlWriteToString(second, 1, 1, &reply), 1u);
    EXPECT_EQ(reply.text, "Success: truet");
    EXPECT_EQ(curlWriteToString(second, 1, 1, &reply), 0u);
    ReplyBuffer tiny{std::string(), 3};
    EXPECT_EQ(curlWriteToString(first, 1, 9, &tiny), 0u);  // larger than the limit itself
    EXPECT_EQ(tiny.text, "");
}

TEST(ResultsPageAddress, IdFollowedBySaltPaddedToFiveDigits) {
    vxtest::ScopedTestDeployment seam(
        ResultsDeployment{"ftp.test", "results.test:8443", "u", "p", "", 1, 1});
    Baseline b;
    b.dbId = 1234;
    b.filenameSalt = 42;
    EXPECT_EQ(makeDisplayUrl(b), "https://results.test:8443/baselines/V10/display.php?id=123400042");
    b.filenameSalt = 7;
    EXPECT_EQ(makeDisplayUrl(b), "https://results.test:8443/baselines/V10/display.php?id=123400007");
    b.dbId = 5;
    b.filenameSalt = 123456;
    EXPECT_EQ(makeDisplayUrl(b), "https://results.test:8443/baselines/V10/display.php?id=5123456");
}

TEST(ResultsPageAddress, ProductDeploymentIsFixedAtBuildTime) {
    const ResultsDeployment& product = productDeployment();
    EXPECT_EQ(product.ftpUser, "orvelle_vx9");
    EXPECT_EQ(product.ftpPassword.size(), 20u);
    EXPECT_TRUE(product.caFile.empty());
    EXPECT_EQ(product.connectTimeoutSeconds, 30);
    EXPECT_EQ(product.stallTimeoutSeconds, 60);
    EXPECT_EQ(product.transferTimeoutSeconds, 120);
    EXPECT_EQ(product.replyLimitBytes, 1048576u);
    EXPECT_TRUE(product.useEnvironmentProxy);
    const std::string home = resultsWebsiteHomePage();
    EXPECT_EQ(home.rfind("https://", 0), 0u);
    EXPECT_EQ(home.find('/', 8), std::string::npos);  // scheme and host only
    // In a process that never set a test deployment the product's is in
    // force (a fresh process: earlier cases of this one set the seam).
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            Baseline b;
            b.dbId = 1;
            b.filenameSalt = 2;
            const bool productInForce =
                activeDeployment().ftpHost == product.ftpHost &&
                makeDisplayUrl(b) ==
                    "https://" + product.resultsHost + "/baselines/V10/display.php?id=100002";
            std::_Exit(productInForce ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

}  // namespace
