// Save, FTP upload and HTTPS registration against real servers on 127.0.0.1.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "results/deployment.h"
#include "results/results.h"
#include "state/baseline.h"
#include "test_servers.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kReply = "Success: true\nDBId: 1234\nfilenameSalt: 42\n";
constexpr const char* kRegistration = "/baselines/V10/upload-linux.php?userFile=";
constexpr std::int32_t kOldDbId = 11;
constexpr std::int32_t kOldSalt = 22;

void fillResults(Baseline& b) {
    for (int i = 0; i < kTestCount; ++i) b.results[i] = 100.0 + i;
    b.cpuMark = 5000.5;
    b.memoryMark = 2500.25;
    b.cpuName = "Test CPU";
    b.architecture = "x86_64";
    b.timeStamp = 20240102030405;
    b.dbId = kOldDbId;
    b.filenameSalt = kOldSalt;
}

// The one file a save left in dir.
std::string onlyFileIn(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? std::string() : names.front();
}

class UploadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ftp_.started()) << ftp_.log();
        ASSERT_TRUE(https_.started()) << https_.log();
        fillResults(baseline_);
    }

    void expectIdsUnchanged() {
        EXPECT_EQ(baseline_.dbId, kOldDbId);
        EXPECT_EQ(baseline_.filenameSalt, kOldSalt);
    }

    vxtest::FtpTestServer ftp_;
    vxtest::HttpsTestServer https_{kReply};
    vxtest::ScopedTestDeployment seam_{vxtest::localDeployment(ftp_, https_)};
    vxtest::TempDir home_;
    Baseline baseline_;
};

TEST_F(UploadTest, SaveUploadsTheExactFileRegistersItsNameAndStoresTheIds) {
    testing::internal::CaptureStderr();
    ASSERT_TRUE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    const std::string name = onlyFileIn(home_.path());
    // Named after the time stamp from before the save, then 0-999.
    ASSERT_EQ(name.rfind("BL_20240102030405", 0), 0u) << name;
    const std::string number = name.substr(17, name.size() - 17 - 3);
    EXPECT_EQ(name.substr(name.size() - 3), ".vx");
    ASSERT_GE(number.size(), 1u);
    ASSERT_LE(number.size(), 3u);
    EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_TRUE(number == "0" || number[0] != '0') << number;
    EXPECT_NE(baseline_.timeStamp, 20240102030405u);  // refreshed by the write

    const std::string local = vxtest::readWholeFile(home_.path() + "/" + name);
    EXPECT_EQ(ftp_.files(), std::vector<std::string>{name});
    EXPECT_EQ(ftp_.readFile(name), local);
    EXPECT_NE(local.find("\nChecksum: "), std::string::npos);

    EXPECT_EQ(https_.requestPaths(), std::vector<std::string>{kRegistration + name});
    EXPECT_EQ(baseline_.dbId, 1234);
    EXPECT_EQ(baseline_.filenameSalt, 42);
    EXPECT_EQ(makeDisplayUrl(baseline_),
              "https://" + https_.hostAndPort() + "/baselines/V10/display.php?id=123400042");
}

TEST_F(UploadTest, SecondSaveIsNamedAfterTheFirstSavesTimeStamp) {
    ASSERT_TRUE(saveAndUploadBaseline(baseline_, home_.path()));
    const std::uint64_t firstWrite = baseline_.timeStamp;
    vxtest::TempDir second;
    https_.setReply("Success: true DBId: 99 filenameSalt: 7");
    ASSERT_TRUE(saveAndUploadBaseline(baseline_, second.path()));
    const std::string name = onlyFileIn(second.path());
    EXPECT_EQ(name.rfind("BL_" + std::to_string(firstWrite), 0), 0u) << name;
    EXPECT_EQ(https_.requestPaths().size(), 2u);
    EXPECT_EQ(https_.requestPaths().back(), kRegistration + name);
    EXPECT_EQ(baseline_.dbId, 99);
    EXPECT_EQ(baseline_.filenameSalt, 7);
}

TEST_F(UploadTest, DirectoryEndingInSlashSendsTheSameName) {
    ASSERT_TRUE(saveAndUploadBaseline(baseline_, home_.path() + "/"));
    const std::string name = onlyFileIn(home_.path());
    EXPECT_EQ(ftp_.files(), std::vector<std::string>{name});
    EXPECT_EQ(https_.requestPaths(), std::vector<std::string>{kRegistration + name});
}

TEST_F(UploadTest, FtpServerDownFailsPromptlyAndTellsNoOne) {
    seam_.deployment().ftpHost = "127.0.0.1:" + std::to_string(vxtest::unusedTcpPort());
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Couldn't connect to server");
    expectIdsUnchanged();
    EXPECT_TRUE(https_.requestPaths().empty());
    onlyFileIn(home_.path());  // the written file stays
}

TEST_F(UploadTest, RefusedLoginFails) {
    seam_.deployment().ftpPassword = "not-the-password-000";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Login denied");
    expectIdsUnchanged();
    EXPECT_TRUE(ftp_.files().empty());
    EXPECT_TRUE(https_.requestPaths().empty());
}

TEST_F(UploadTest, HttpsServerDownFailsAfterTheUpload) {
    https_.stop();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Couldn't connect to server");
    expectIdsUnchanged();
    // The file stays both in the directory and on the FTP server.
    const std::string name = onlyFileIn(home_.path());
    EXPECT_EQ(ftp_.files(), std::vector<std::string>{name});
}

TEST_F(UploadTest, ReplyWithoutAcceptanceFails) {
    https_.setReply("Success: false\nDBId: 5\nfilenameSalt: 6\n");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    expectIdsUnchanged();
    EXPECT_EQ(https_.requestPaths().size(), 1u);
}

TEST_F(UploadTest, MalformedIdInAnAcceptedReplyFailsAndStoresNothing) {
    https_.setReply("Success: true DBId: 5 filenameSalt: 99999999999");
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    expectIdsUnchanged();
}

TEST_F(UploadTest, UnwritableDirectorySendsNothing) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path() + "/missing"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to open baseline file\n");
    EXPECT_EQ(baseline_.timeStamp, 20240102030405u);
    expectIdsUnchanged();
    EXPECT_TRUE(ftp_.files().empty());
    EXPECT_TRUE(https_.requestPaths().empty());
}

TEST_F(UploadTest, UntrustedCertificateIsRefused) {
    // Without the test CA file libcurl verifies against the system's store,
    // which does not hold the test certificate.
    seam_.deployment().caFile.clear();
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "SSL peer certificate or SSH remote key was not OK");
    expectIdsUnchanged();
    EXPECT_TRUE(https_.requestPaths().empty());
}

TEST_F(UploadTest, MissingFileIsNotUploaded) {
    const std::string path = home_.path() + "/BL_none.vx";
    testing::internal::CaptureStderr();
    EXPECT_FALSE(uploadBaselineFtp(baseline_, path));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Couldn't open '" + path + "': No such file or directory\n");
    EXPECT_TRUE(ftp_.files().empty());
}

// Servers that accept a connection and then say nothing: the caller gets
// false within the deployment's time-outs instead of waiting forever.
TEST(UploadTimeouts, SilentFtpServerIsGivenUp) {
    vxtest::SilentTcpServer silent;
    ASSERT_GT(silent.port(), 0);
    vxtest::TempDir home;
    vxtest::ScopedTestDeployment seam(ResultsDeployment{
        silent.hostAndPort(), "127.0.0.1:1", "u", "p", "", /*connect*/ 1, /*stall*/ 1});
    Baseline b;
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    EXPECT_FALSE(saveAndUploadBaseline(b, home.path()));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Timeout was reached");
    EXPECT_GE(elapsed, std::chrono::milliseconds(900));
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(UploadTimeouts, StalledRegistrationIsGivenUp) {
    vxtest::FtpTestServer ftp;
    vxtest::HttpsTestServer stalled(kReply, /*stallSeconds*/ 30);
    ASSERT_TRUE(ftp.started()) << ftp.log();
    ASSERT_TRUE(stalled.started()) << stalled.log();
    ResultsDeployment deployment = vxtest::localDeployment(ftp, stalled);
    deployment.stallTimeoutSeconds = 1;
    vxtest::ScopedTestDeployment seam(deployment);
    vxtest::TempDir home;
    Baseline b;
    fillResults(b);
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    EXPECT_FALSE(saveAndUploadBaseline(b, home.path()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Timeout was reached");
    EXPECT_EQ(b.dbId, kOldDbId);
    EXPECT_EQ(stalled.requestPaths().size(), 1u);
}

}  // namespace
