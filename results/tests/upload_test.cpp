// Save, FTP upload and HTTPS registration against real servers on 127.0.0.1.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
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

void expectIdsUnchanged(const Baseline& b) {
    EXPECT_EQ(b.dbId, kOldDbId);
    EXPECT_EQ(b.filenameSalt, kOldSalt);
}

// The one file a save left in dir.
std::string onlyFileIn(const std::string& dir) {
    const std::vector<std::string> names = vxtest::filesIn(dir);
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

// Each failure answers false with the ids unchanged and says why; what it
// left: files in the directory, on the FTP server, registrations.
TEST(UploadFailure, EachFailureStoresNoIdsAndLeavesOnlyWhatWasDone) {
    using Setup = std::function<void(ResultsDeployment&, vxtest::HttpsTestServer&)>;
    const struct {
        const char* what;
        Setup setup;
        const char* subdirectory;
        std::string error;
        std::size_t local, uploaded, registered;
    } cases[] = {
        {"FTP server down",
         [](ResultsDeployment& d, auto&) { d.ftpHost = "127.0.0.1:" + std::to_string(vxtest::unusedTcpPort()); },
         "", "Couldn't connect to server", 1, 0, 0},
        {"login refused", [](ResultsDeployment& d, auto&) { d.ftpPassword = "not-the-password-000"; }, "",
         "Login denied", 1, 0, 0},
        {"HTTPS server down", [](auto&, vxtest::HttpsTestServer& https) { https.stop(); }, "",
         "Couldn't connect to server", 1, 1, 0},
        {"reply without acceptance",
         [](auto&, vxtest::HttpsTestServer& https) { https.setReply("Success: false\nDBId: 5\nfilenameSalt: 6\n"); },
         "", "", 1, 1, 1},
        {"malformed id in an accepted reply",
         [](auto&, vxtest::HttpsTestServer& https) { https.setReply("Success: true DBId: 5 filenameSalt: 99999999999"); },
         "", "", 1, 1, 1},
        // Without the test CA file libcurl verifies against the system's
        // store, which does not hold the test certificate.
        {"untrusted certificate", [](ResultsDeployment& d, auto&) { d.caFile.clear(); }, "",
         "SSL peer certificate or SSH remote key was not OK", 1, 1, 0},
        {"unwritable directory", [](auto&, auto&) {}, "/missing", "Failed to open baseline file\n", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        vxtest::FtpTestServer ftp;
        vxtest::HttpsTestServer https(kReply);
        ASSERT_TRUE(ftp.started() && https.started()) << ftp.log() << https.log();
        vxtest::ScopedTestDeployment seam(vxtest::localDeployment(ftp, https));
        vxtest::TempDir home;
        Baseline b;
        fillResults(b);
        c.setup(seam.deployment(), https);
        testing::internal::CaptureStderr();
        EXPECT_FALSE(saveAndUploadBaseline(b, home.path() + c.subdirectory));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
        expectIdsUnchanged(b);
        EXPECT_EQ(b.timeStamp != 20240102030405u, c.local == 1);  // refreshed by a write
        EXPECT_EQ(vxtest::filesIn(home.path()).size(), c.local);
        EXPECT_EQ(ftp.files().size(), c.uploaded);
        EXPECT_EQ(https.requestPaths().size(), c.registered);
    }
}

TEST_F(UploadTest, FileThatCannotBeReadIsNotUploaded) {
    // A missing file fails its status; a socket has a status but cannot be
    // opened (for root as well).
    const std::string missing = home_.path() + "/BL_none.vx";
    const std::string socketPath = home_.path() + "/BL_socket.vx";
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::pair<std::string, std::string> cases[] = {
        {missing, "Couldn't open '" + missing + "': No such file or directory\n"},
        {socketPath, "Couldn't read '" + socketPath + "': No such device or address\n"}};
    for (const auto& [path, message] : cases) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(uploadBaselineFtp(baseline_, path));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), message);
    }
    close(fd);
    EXPECT_TRUE(ftp_.files().empty());
}

// Sets an environment variable (nullptr: unsets it) until destruction.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(UploadTest, ProxyVariablesOfTheEnvironmentAreIgnored) {
    // Were the upload to take them, it would meet a refused connection (the
    // proxy too is on 127.0.0.1).
    const std::string proxy = "http://127.0.0.1:" + std::to_string(vxtest::unusedTcpPort());
    seam_.deployment().useEnvironmentProxy = true;  // a test deployment ignores it
    const char* const to = proxy.c_str();
    const ScopedVariable variables[] = {{"https_proxy", to}, {"ftp_proxy", to},
                                        {"all_proxy", to},   {"no_proxy", nullptr},
                                        {"NO_PROXY", nullptr}};
    testing::internal::CaptureStderr();
    EXPECT_TRUE(saveAndUploadBaseline(baseline_, home_.path()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(ftp_.files().size(), 1u);
    EXPECT_EQ(https_.requestPaths().size(), 1u);
}

// A test deployment cleared while an upload runs: the upload finishes
// against the servers it started with, and from then on the deployment in
// force is a closed one on 127.0.0.1, never the product's hosts.
TEST(TestDeployment, ClearingNeverFallsBackToTheProductHosts) {
    vxtest::FtpTestServer ftp;
    vxtest::HttpsTestServer https(kReply);
    ASSERT_TRUE(ftp.started()) << ftp.log();
    ASSERT_TRUE(https.started()) << https.log();
    std::optional<vxtest::ScopedTestDeployment> seam(std::in_place,
                                                     vxtest::localDeployment(ftp, https));
    vxtest::TempDir home;
    Baseline b;
    fillResults(b);
    bool uploaded = false;
    // The FTP server is frozen until the seam is cleared, after the upload
    // has begun (its file is being written) and before it can register.
    ftp.pause();
    std::thread upload([&] { uploaded = saveAndUploadBaseline(b, home.path()); });
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (std::filesystem::is_empty(home.path()) && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    seam.reset();
    ftp.resume();
    upload.join();
    EXPECT_TRUE(uploaded);
    EXPECT_EQ(b.dbId, 1234);
    EXPECT_EQ(https.requestPaths().size(), 1u);

    const ResultsDeployment closed = activeDeployment();
    const std::string loopback = "127.0.0.1:";
    EXPECT_EQ(closed.ftpHost.rfind(loopback, 0), 0u) << closed.ftpHost;
    EXPECT_EQ(closed.resultsHost, closed.ftpHost);
    EXPECT_FALSE(closed.useEnvironmentProxy);
    EXPECT_EQ(makeDisplayUrl(b).rfind("https://" + loopback, 0), 0u) << makeDisplayUrl(b);
    // Refused at once: a connection was tried, on 127.0.0.1 (a product host
    // would not even resolve here).
    testing::internal::CaptureStderr();
    const auto start = Clock::now();
    EXPECT_FALSE(saveAndUploadBaseline(b, home.path()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Couldn't connect to server");
    testing::internal::CaptureStderr();
    EXPECT_FALSE(registerBaselineUpload(b, home.path() + "/BL_1.vx"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Couldn't connect to server");
    EXPECT_EQ(b.dbId, 1234);
}

// Each transfer is given up within the one limit that applies, shortened to
// 1 s here (the others at 10 s), and a registration cut short stores nothing,
// whatever part of the reply arrived.
enum class Peer { silentFtp, tricklingFtp, https };
enum class Shortened { connect, stall, transfer, none };

struct LimitCase {
    const char* what;
    Peer peer;
    vxtest::ReplyShape shape;
    double seconds;  // of the shape
    Shortened limit;
    const char* error;
};

TEST(TransferLimits, EachTransferEndsWithinItsLimitAndACutReplyStoresNothing) {
    // Everything a refused reply would need to be accepted, padded so that a
    // trickle of it outlasts the limit.
    const std::string reply = "Success: true DBId: 5 filenameSalt: 6" + std::string(60, ' ');
    const LimitCase cases[] = {
        {"silent FTP server", Peer::silentFtp, {}, 0, Shortened::connect, "Timeout was reached"},
        // An FTP reply that does not end within the stall limit.
        {"FTP greeting without end", Peer::tricklingFtp, {}, 0.05, Shortened::stall,
         "Timeout was reached"},
        {"silent registration", Peer::https, vxtest::ReplyShape::silent, 60, Shortened::stall,
         "Timeout was reached"},
        // libcurl judges a stall by the rate over its last few seconds, so
        // after a burst of bytes the overall limit ends it first.
        {"registration stalled after the reply", Peer::https, vxtest::ReplyShape::stallAfterBody,
         60, Shortened::transfer, "Timeout was reached"},
        {"trickling registration", Peer::https, vxtest::ReplyShape::trickle, 0.05,
         Shortened::transfer, "Timeout was reached"},
        {"registration cut off", Peer::https, vxtest::ReplyShape::cutOff, 0, Shortened::none,
         "Transferred a partial file"},
        {"endless registration", Peer::https, vxtest::ReplyShape::endless, 0, Shortened::none,
         "Failed writing received data to disk/application"},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.what);
        vxtest::SilentTcpServer silent;
        std::optional<vxtest::TricklingTcpServer> trickling;
        std::optional<vxtest::HttpsTestServer> https;
        ResultsDeployment deployment{silent.hostAndPort(), silent.hostAndPort(), "u", "p", "",
                                     10, 10, 10};
        if (c.peer == Peer::tricklingFtp) {
            trickling.emplace("220-" + std::string(200, 'x'), c.seconds);
            ASSERT_TRUE(trickling->started()) << trickling->log();
            deployment.ftpHost = trickling->hostAndPort();
        } else if (c.peer == Peer::https) {
            https.emplace(reply, c.shape, c.seconds);
            ASSERT_TRUE(https->started()) << https->log();
            deployment.resultsHost = https->hostAndPort();
            deployment.caFile = https->caFile();
        }
        if (c.limit == Shortened::connect) deployment.connectTimeoutSeconds = 1;
        if (c.limit == Shortened::stall) deployment.stallTimeoutSeconds = 1;
        if (c.limit == Shortened::transfer) deployment.transferTimeoutSeconds = 1;
        EXPECT_EQ(deployment.replyLimitBytes, kReplySizeLimitBytes);

        vxtest::TempDir home;
        Baseline b;
        fillResults(b);
        ASSERT_TRUE(writeBaselineFile(b, home.path() + "/BL_1.vx"));
        testing::internal::CaptureStderr();
        const auto start = Clock::now();
        const bool done = c.peer == Peer::https
                              ? registerBaselineUpload(b, home.path() + "/BL_1.vx", deployment)
                              : uploadBaselineFtp(b, home.path() + "/BL_1.vx", deployment);
        const auto elapsed = Clock::now() - start;
        EXPECT_FALSE(done);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
        if (c.limit != Shortened::none) {
            EXPECT_GE(elapsed, std::chrono::milliseconds(900));
        }
        EXPECT_LT(elapsed, std::chrono::seconds(4));
        expectIdsUnchanged(b);
        if (https) {
            EXPECT_EQ(https->requestPaths().size(), 1u);
        }
    }
}

}  // namespace
