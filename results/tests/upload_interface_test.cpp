// saveAndUploadResults and getResultsUrl through the engine's function
// interface, against real servers on 127.0.0.1.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "state/baseline.h"
#include "test_servers.h"
#include "velocitrix/engine.h"

namespace {

std::string takeText(char* text) {
    std::string copy = text != nullptr ? text : "";
    std::free(text);
    return copy;
}

class UploadInterfaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ftp_.started()) << ftp_.log();
        ASSERT_TRUE(https_.started()) << https_.log();
        baseline_ = createBaseline();
        for (int id = 0; id < kTestCount; ++id) baseline_->results[id] = 10.0 * (id + 1);
        baseline_->cpuMark = 1234.5;
        baseline_->memoryMark = 2345.5;
        ASSERT_TRUE(allResultsComplete(baseline_));
    }

    vxtest::FtpTestServer ftp_;
    vxtest::HttpsTestServer https_{"Success: true DBId: 8765 filenameSalt: 7\n"};
    vxtest::ScopedTestDeployment seam_{vxtest::localDeployment(ftp_, https_)};
    vxtest::TempDir home_;
    Baseline* baseline_ = nullptr;  // never freed, as in the product
};

TEST_F(UploadInterfaceTest, FullSetOfResultsIsSavedUploadedRegisteredAndAddressed) {
    ASSERT_TRUE(saveAndUploadResults(baseline_, home_.path().c_str()));
    EXPECT_EQ(baseline_->uploaded, 1);

    const std::vector<std::string> uploaded = ftp_.files();
    ASSERT_EQ(uploaded.size(), 1u);
    EXPECT_EQ(ftp_.readFile(uploaded[0]), vxtest::readWholeFile(home_.path() + "/" + uploaded[0]));
    EXPECT_EQ(https_.requestPaths(), std::vector<std::string>{
                                         "/baselines/V10/upload-linux.php?userFile=" + uploaded[0]});
    EXPECT_EQ(takeText(getResultsUrl(baseline_)),
              "https://" + https_.hostAndPort() + "/baselines/V10/display.php?id=876500007");
}

TEST_F(UploadInterfaceTest, FailedUploadAnswersFalseAndClearsUploaded) {
    ASSERT_TRUE(saveAndUploadResults(baseline_, home_.path().c_str()));
    ASSERT_EQ(baseline_->uploaded, 1);
    const std::string pageBefore = takeText(getResultsUrl(baseline_));

    https_.setReply("Success: false");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(saveAndUploadResults(baseline_, home_.path().c_str()));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(baseline_->uploaded, 0);
    EXPECT_EQ(takeText(getResultsUrl(baseline_)), pageBefore);

    EXPECT_FALSE(saveAndUploadResults(baseline_, nullptr));
    EXPECT_EQ(baseline_->uploaded, 0);
}

}  // namespace
