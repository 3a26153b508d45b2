#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Limits of the product's transfers. A results file is about 2 KB and the
// registration reply a line or two; a working results server, even over a
// slow line, stays far inside every one of these.
//
// Seconds allowed for a connection to be set up (TCP, TLS handshake and, for
// FTP, the server's greeting and login). libcurl's own default is 300 s.
inline constexpr long kConnectTimeLimitSeconds = 30;
// A transfer that moves less than one byte per second for this many seconds,
// or an FTP server that leaves a command unanswered as long, is given up
// (libcurl sets no limit of its own on a stalled transfer).
inline constexpr long kStallTimeLimitSeconds = 60;
// Whole transfer, from the start of the connection to the last byte: a server
// that trickles a byte now and then cannot hold the caller longer.
inline constexpr long kTransferTimeLimitSeconds = 120;
// Bytes of registration reply kept; a server that sends more (or streams
// without end) has its transfer ended as failed, so that it cannot grow the
// process's memory.
inline constexpr std::size_t kReplySizeLimitBytes = std::size_t{1} << 20;

// Where results go and how the transfers behave. The product's values are
// fixed when the program is built (CMake cache variables, see
// results/CMakeLists.txt); nothing is read from a file at run time.
struct ResultsDeployment {
    std::string ftpHost;      // results FTP server: host, or host:port
    std::string resultsHost;  // results server (HTTPS): host, or host:port
    std::string ftpUser;      // FTP login
    std::string ftpPassword;  // 20 printable ASCII characters in the product
    // PEM file of the certificate authorities to trust for the results
    // server. Empty in the product: libcurl then verifies against the
    // system's store compiled into it.
    std::string caFile;
    long connectTimeoutSeconds = kConnectTimeLimitSeconds;
    long stallTimeoutSeconds = kStallTimeLimitSeconds;
    long transferTimeoutSeconds = kTransferTimeLimitSeconds;
    std::size_t replyLimitBytes = kReplySizeLimitBytes;
    // Whether libcurl may take a proxy from the environment (http_proxy,
    // https_proxy, ftp_proxy, all_proxy ...). Only the product's deployment
    // does; a test deployment always talks to its hosts directly.
    bool useEnvironmentProxy = false;
};

// A copy of the deployment in force: the product's unless a test has
// replaced it (results/deployment_testing.h). Each upload takes one copy when
// it starts and uses it for all its transfers. Safe to call from any thread.
ResultsDeployment activeDeployment();

// The product's deployment as built.
const ResultsDeployment& productDeployment();

// The results website's home page: scheme and host, no path
// (for example https://www.velocitrix.example).
const char* resultsWebsiteHomePage();

// The 128-character key appended to the document before it is hashed for the
// results file's checksum line. Shared with the results server; never written
// to a file.
std::string_view resultsChecksumKey();
