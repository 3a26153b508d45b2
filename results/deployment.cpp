#include "results/deployment.h"

#include "deployment_config.h"
#include "results/deployment_testing.h"

namespace {

// The user name of the results FTP login is the same for every deployment.
constexpr const char* kFtpUser = "orvelle_vx9";

// Generous for a 2 KB file on a slow line; short enough that a dead or silent
// server does not hold the upload for minutes (libcurl's own defaults are
// 300 s to connect and no limit at all on a stalled transfer).
constexpr long kConnectTimeoutSeconds = 30;
constexpr long kStallTimeoutSeconds = 60;

constexpr std::string_view kChecksumKey = VX_RESULTS_CHECKSUM_KEY;
static_assert(kChecksumKey.size() == 128, "the checksum key has 128 characters");
static_assert(std::string_view(VX_RESULTS_FTP_PASSWORD).size() == 20,
              "the FTP password has 20 characters");

const ResultsDeployment* testDeployment = nullptr;

}  // namespace

const ResultsDeployment& productDeployment() {
    static const ResultsDeployment product{
        VX_RESULTS_FTP_HOST, VX_RESULTS_SERVER_HOST, kFtpUser, VX_RESULTS_FTP_PASSWORD,
        std::string(), kConnectTimeoutSeconds, kStallTimeoutSeconds};
    return product;
}

const ResultsDeployment& activeDeployment() {
    return testDeployment != nullptr ? *testDeployment : productDeployment();
}

void setDeploymentForTesting(const ResultsDeployment* deployment) {
    testDeployment = deployment;
}

const char* resultsWebsiteHomePage() { return VX_WEBSITE_HOME_PAGE; }

std::string_view resultsChecksumKey() { return kChecksumKey; }
