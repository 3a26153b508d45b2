#pragma once

// Real servers on 127.0.0.1 for tests of the results upload, and the seam
// that points the upload at them. Link the target velocitrix_results_test_support.
//
//   vxtest::FtpTestServer ftp;             // pyftpdlib, throwaway login
//   vxtest::HttpsTestServer https("Success: true DBId: 7 filenameSalt: 3");
//   vxtest::ScopedTestDeployment seam(vxtest::localDeployment(ftp, https));
//   ... saveAndUploadResults(baseline, dir) ...
//   ftp.readFile("BL_...vx"); https.requestPaths();
//
// Every server is a child process that is stopped (SIGTERM, then SIGKILL,
// then reaped) by its destructor and dies with the test process should that
// end first; none leaves a process or a file behind.

#include <sys/types.h>

#include <string>
#include <vector>

#include "results/deployment.h"

namespace vxtest {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on
// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Whole content of a file; empty when it cannot be read.
std::string readWholeFile(const std::string& path);
bool fileExists(const std::string& path);
// Names of the entries in a directory, sorted; empty when it cannot be read.
std::vector<std::string> filesIn(const std::string& dir);

// A child process running argv[0] with arguments argv; its standard output
// and error go to logPath.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool start(const std::vector<std::string>& argv, const std::string& logPath);
    bool running();  // false once it has exited (and then it is reaped)
    // Waits up to seconds for the child to end; its exit status, or -1 when
    // it is still running or ended by a signal.
    int waitForExit(double seconds);
    void stop();
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago; nothing listens on it.
int unusedTcpPort();

// A pyftpdlib FTP server on 127.0.0.1 with one write-enabled login whose
// root is a fresh directory. started() is false when it did not come up
// within a few seconds (the log then tells why).
class FtpTestServer {
public:
    explicit FtpTestServer(std::string user = "vx_test_user",
                           std::string password = "vx-throwaway-Pw-0042");
    bool started() const { return started_; }
    int port() const { return port_; }
    std::string hostAndPort() const;  // "127.0.0.1:<port>"
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    const std::string& rootDir() const { return root_.path(); }
    // Names of the files in the login's root, sorted.
    std::vector<std::string> files() const;
    std::string readFile(const std::string& name) const;
    std::string log() const;
    void stop() { process_.stop(); }
    // Freezes the server (SIGSTOP) and lets it go on (SIGCONT): connections
    // still complete in the kernel but hear nothing meanwhile.
    void pause();
    void resume();

private:
    TempDir work_;
    TempDir root_;
    std::string user_;
    std::string password_;
    int port_ = 0;
    bool started_ = false;
    ChildProcess process_;
};

// How HttpsTestServer sends its reply; seconds is the time the shape names.
enum class ReplyShape {
    whole,           // the reply with its length, at once
    silent,          // silence for seconds, then as whole
    cutOff,          // declares 64 bytes more than the reply, sends it, closes
    stallAfterBody,  // as cutOff, but keeps silent for seconds instead
    trickle,         // the reply with its length, one byte every seconds
    endless,         // no length: the reply, then blanks until the client leaves
};

// An HTTPS server on 127.0.0.1 (results/tests/https_test_server.py) with a
// certificate for 127.0.0.1 made by the openssl command at start. Answers
// every GET with reply, in the given shape.
class HttpsTestServer {
public:
    explicit HttpsTestServer(const std::string& reply, ReplyShape shape = ReplyShape::whole,
                             double seconds = 0.0);
    bool started() const { return started_; }
    int port() const { return port_; }
    std::string hostAndPort() const;  // "127.0.0.1:<port>"
    // The server's self-signed certificate: the CA file a client must trust.
    std::string caFile() const;
    void setReply(const std::string& reply);
    // The paths (with query) of the requests received so far, in order.
    std::vector<std::string> requestPaths() const;
    std::string log() const;
    void stop() { process_.stop(); }

private:
    TempDir work_;
    int port_ = 0;
    bool started_ = false;
    ChildProcess process_;
};

// A listening socket on 127.0.0.1 that never accepts: connections complete
// in the kernel and then hear nothing, like a server that hangs.
class SilentTcpServer {
public:
    SilentTcpServer();
    ~SilentTcpServer();
    SilentTcpServer(const SilentTcpServer&) = delete;
    SilentTcpServer& operator=(const SilentTcpServer&) = delete;
    int port() const { return port_; }
    std::string hostAndPort() const;

private:
    int socket_ = -1;
    int port_ = 0;
};

// A TCP server on 127.0.0.1 that sends text to each connection it accepts,
// one byte every interval, and then keeps the connection open and silent;
// one connection at a time.
class TricklingTcpServer {
public:
    TricklingTcpServer(const std::string& text, double intervalSeconds);
    bool started() const { return started_; }
    std::string hostAndPort() const;
    std::string log() const;

private:
    TempDir work_;
    int port_ = 0;
    bool started_ = false;
    ChildProcess process_;
};

// A deployment that uploads to ftp and registers with https, trusting the
// test certificate, with time limits of a few seconds.
ResultsDeployment localDeployment(const FtpTestServer& ftp, const HttpsTestServer& https);

// Makes deployment the one the upload uses until destruction, then restores
// the product's.
class ScopedTestDeployment {
public:
    explicit ScopedTestDeployment(ResultsDeployment deployment);
    ~ScopedTestDeployment();
    ScopedTestDeployment(const ScopedTestDeployment&) = delete;
    ScopedTestDeployment& operator=(const ScopedTestDeployment&) = delete;
    ResultsDeployment& deployment() { return deployment_; }

private:
    ResultsDeployment deployment_;
};

}  // namespace vxtest
