#include "results/deployment.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>

#include "deployment_config.h"
#include "results/deployment_testing.h"

namespace {

// The user name of the results FTP login is the same for every deployment.
constexpr const char* kFtpUser = "orvelle_vx9";

constexpr std::string_view kChecksumKey = VX_RESULTS_CHECKSUM_KEY;
static_assert(kChecksumKey.size() == 128, "the checksum key has 128 characters");
static_assert(std::string_view(VX_RESULTS_FTP_PASSWORD).size() == 20,
              "the FTP password has 20 characters");

// Used only when no port could be reserved (no sockets at all): the TCP port
// multiplexer's port, which nothing serves on a desktop machine.
constexpr int kFallbackClosedPort = 1;

std::mutex seamMutex;
const ResultsDeployment* testDeployment = nullptr;
bool testDeploymentWasSet = false;

// A port on 127.0.0.1 that refuses every connection for the life of the
// process: a socket bound to it and never listening holds it, so no other
// server can take it meanwhile.
int closedLoopbackPort() {
    static const int port = [] {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return kFallbackClosedPort;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            close(fd);
            return kFallbackClosedPort;
        }
        return static_cast<int>(ntohs(address.sin_port));  // fd stays open
    }();
    return port;
}

ResultsDeployment closedDeployment() {
    const std::string host = "127.0.0.1:" + std::to_string(closedLoopbackPort());
    ResultsDeployment closed{host, host, "closed", "closed", std::string()};
    closed.connectTimeoutSeconds = 1;
    closed.stallTimeoutSeconds = 1;
    closed.transferTimeoutSeconds = 2;
    return closed;
}

}  // namespace

const ResultsDeployment& productDeployment() {
    static const ResultsDeployment product = [] {
        ResultsDeployment values{VX_RESULTS_FTP_HOST, VX_RESULTS_SERVER_HOST, kFtpUser,
                                 VX_RESULTS_FTP_PASSWORD, std::string()};
        values.useEnvironmentProxy = true;
        return values;
    }();
    return product;
}

ResultsDeployment activeDeployment() {
    const std::lock_guard<std::mutex> lock(seamMutex);
    if (testDeployment != nullptr) {
        ResultsDeployment copy = *testDeployment;
        copy.useEnvironmentProxy = false;
        return copy;
    }
    return testDeploymentWasSet ? closedDeployment() : productDeployment();
}

void setDeploymentForTesting(const ResultsDeployment* deployment) {
    if (deployment != nullptr) closedLoopbackPort();  // reserved before any clearing
    const std::lock_guard<std::mutex> lock(seamMutex);
    testDeployment = deployment;
    if (deployment != nullptr) testDeploymentWasSet = true;
}

const char* resultsWebsiteHomePage() { return VX_WEBSITE_HOME_PAGE; }

std::string_view resultsChecksumKey() { return kChecksumKey; }
