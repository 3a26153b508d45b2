#include "test_servers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>

#include "results/deployment_testing.h"

namespace vxtest {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kOpenssl = "openssl";
constexpr auto kStartTimeout = std::chrono::seconds(10);
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr auto kStopGrace = std::chrono::seconds(3);
// Above the 3 s that pyftpdlib waits before refusing a wrong password: the
// FTP login counts as part of setting up the connection.
constexpr long kLocalTimeoutSeconds = 10;

std::string loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

sockaddr_in loopbackAddress(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds a TCP socket to 127.0.0.1 on port (0: any free one); -1 on failure.
int boundSocket(int port, int* boundPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in address = loopbackAddress(port);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        close(fd);
        return -1;
    }
    *boundPort = ntohs(address.sin_port);
    return fd;
}

// True when something on port answers a fresh connection with an FTP
// greeting (a line starting with 220).
bool ftpGreets(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    timeval wait{0, 500000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in address = loopbackAddress(port);
    bool greeted = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        char reply[4] = {};
        greeted = recv(fd, reply, 3, MSG_WAITALL) == 3 && std::string(reply) == "220";
    }
    close(fd);
    return greeted;
}

// Runs argv to its end; true when it exited with status 0 in time.
bool runToEnd(const std::vector<std::string>& argv, const std::string& logPath) {
    ChildProcess process;
    return process.start(argv, logPath) &&
           process.waitForExit(std::chrono::duration<double>(kStartTimeout).count()) == 0;
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// Starts argv, which writes its port number to dir/port once it accepts
// connections; false (and the process stopped) when that does not happen in
// time.
bool startWithPortFile(ChildProcess& process, const std::vector<std::string>& argv,
                       const std::string& dir, int* port) {
    if (!process.start(argv, dir + "/server.log")) return false;
    const auto deadline = Clock::now() + kStartTimeout;
    while (Clock::now() < deadline && process.running()) {
        if (fileExists(dir + "/port")) {
            *port = std::atoi(readWholeFile(dir + "/port").c_str());
            if (*port > 0) return true;
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    process.stop();
    return false;
}

// Serves sys.argv[1] (the text file) to each connection, one byte every
// sys.argv[2] seconds; writes its port to sys.argv[3] (renamed into place).
constexpr const char* kTrickleServer = R"(
import os, socket, sys, time
text = open(sys.argv[1], "rb").read()
server = socket.socket()
server.bind(("127.0.0.1", 0))
server.listen(4)
with open(sys.argv[3] + ".tmp", "w") as port:
    port.write(str(server.getsockname()[1]))
os.rename(sys.argv[3] + ".tmp", sys.argv[3])
while True:
    client, _ = server.accept()
    try:
        for byte in text:
            client.sendall(bytes([byte]))
            time.sleep(float(sys.argv[2]))
        time.sleep(3600)
    except OSError:
        pass
    client.close()
)";

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/vx-results-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(path, ignored);
}

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool ChildProcess::start(const std::vector<std::string>& argv, const std::string& logPath) {
    stop();
    // Everything the child needs is prepared before fork: after it, only
    // async-signal-safe calls until exec.
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlive the test
        if (getppid() != parent) _exit(127);
        const int in = open("/dev/null", O_RDONLY);
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (in >= 0) dup2(in, STDIN_FILENO);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    pid_ = pid;
    return true;
}

bool ChildProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

int ChildProcess::waitForExit(double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (pid_ > 0) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(kPollInterval);
    }
    return -1;
}

void ChildProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    kill(pid_, SIGCONT);  // a paused server must run to see the signal
    const auto deadline = Clock::now() + kStopGrace;
    int status = 0;
    while (Clock::now() < deadline) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

int unusedTcpPort() {
    int port = 0;
    const int fd = boundSocket(0, &port);
    if (fd < 0) return 0;
    close(fd);
    return port;
}

FtpTestServer::FtpTestServer(std::string user, std::string password)
    : user_(std::move(user)), password_(std::move(password)) {
    // The port is free when chosen but could be taken before the server binds
    // it; a server that then exits is started again on another port.
    for (int attempt = 0; attempt < 3 && !started_; ++attempt) {
        port_ = unusedTcpPort();
        if (port_ == 0) continue;
        const std::vector<std::string> argv = {
            kPython, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(port_), "-w",
            "-d", root_.path(), "-u", user_, "-P", password_};
        if (!process_.start(argv, work_.path() + "/ftp.log")) continue;
        const auto deadline = Clock::now() + kStartTimeout;
        while (Clock::now() < deadline && process_.running()) {
            if (ftpGreets(port_)) {
                started_ = true;
                break;
            }
            std::this_thread::sleep_for(kPollInterval);
        }
        if (!started_) process_.stop();
    }
}

std::string FtpTestServer::hostAndPort() const { return loopback(port_); }

std::vector<std::string> FtpTestServer::files() const { return filesIn(root_.path()); }

std::string FtpTestServer::readFile(const std::string& name) const {
    return readWholeFile(root_.path() + "/" + name);
}

std::string FtpTestServer::log() const { return readWholeFile(work_.path() + "/ftp.log"); }

void FtpTestServer::pause() {
    if (process_.pid() > 0) kill(process_.pid(), SIGSTOP);
}

void FtpTestServer::resume() {
    if (process_.pid() > 0) kill(process_.pid(), SIGCONT);
}

HttpsTestServer::HttpsTestServer(const std::string& reply, ReplyShape shape, double seconds) {
    const std::string& dir = work_.path();
    if (dir.empty()) return;
    const std::vector<std::string> makeCertificate = {
        kOpenssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
        "-nodes", "-keyout", dir + "/key.pem", "-out", dir + "/cert.pem", "-days", "2",
        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"};
    if (!runToEnd(makeCertificate, dir + "/openssl.log")) return;
    setReply(reply);
    writeFile(dir + "/requests.log", "");

    static const char* const kShapes[] = {"whole",   "silent",  "cut-off",
                                          "stall-after-body", "trickle", "endless"};
    std::ostringstream time;
    time << seconds;
    const std::vector<std::string> argv = {
        kPython, VX_HTTPS_TEST_SERVER_SCRIPT, "--cert", dir + "/cert.pem", "--key",
        dir + "/key.pem", "--reply-file", dir + "/reply.txt", "--request-log",
        dir + "/requests.log", "--port-file", dir + "/port", "--shape",
        kShapes[static_cast<int>(shape)], "--seconds", time.str()};
    started_ = startWithPortFile(process_, argv, dir, &port_);
}

std::string HttpsTestServer::hostAndPort() const { return loopback(port_); }

std::string HttpsTestServer::caFile() const { return work_.path() + "/cert.pem"; }

void HttpsTestServer::setReply(const std::string& reply) {
    // Written aside and renamed: a request never sees half a reply.
    writeFile(work_.path() + "/reply.tmp", reply);
    std::rename((work_.path() + "/reply.tmp").c_str(), (work_.path() + "/reply.txt").c_str());
}

std::vector<std::string> HttpsTestServer::requestPaths() const {
    std::vector<std::string> paths;
    std::istringstream lines(readWholeFile(work_.path() + "/requests.log"));
    for (std::string line; std::getline(lines, line);) paths.push_back(line);
    return paths;
}

std::string HttpsTestServer::log() const { return readWholeFile(work_.path() + "/server.log"); }

TricklingTcpServer::TricklingTcpServer(const std::string& text, double intervalSeconds) {
    const std::string& dir = work_.path();
    if (dir.empty()) return;
    writeFile(dir + "/text", text);
    std::ostringstream interval;
    interval << intervalSeconds;
    started_ = startWithPortFile(
        process_, {kPython, "-c", kTrickleServer, dir + "/text", interval.str(), dir + "/port"},
        dir, &port_);
}

std::string TricklingTcpServer::hostAndPort() const { return loopback(port_); }

std::string TricklingTcpServer::log() const { return readWholeFile(work_.path() + "/server.log"); }

SilentTcpServer::SilentTcpServer() {
    socket_ = boundSocket(0, &port_);
    if (socket_ >= 0 && listen(socket_, 16) != 0) {
        close(socket_);
        socket_ = -1;
        port_ = 0;
    }
}

SilentTcpServer::~SilentTcpServer() {
    if (socket_ >= 0) close(socket_);
}

std::string SilentTcpServer::hostAndPort() const { return loopback(port_); }

ResultsDeployment localDeployment(const FtpTestServer& ftp, const HttpsTestServer& https) {
    return ResultsDeployment{ftp.hostAndPort(), https.hostAndPort(), ftp.user(),
                             ftp.password(),    https.caFile(),      kLocalTimeoutSeconds,
                             kLocalTimeoutSeconds, kLocalTimeoutSeconds};
}

ScopedTestDeployment::ScopedTestDeployment(ResultsDeployment deployment)
    : deployment_(std::move(deployment)) {
    setDeploymentForTesting(&deployment_);
}

ScopedTestDeployment::~ScopedTestDeployment() { setDeploymentForTesting(nullptr); }

}  // namespace vxtest
