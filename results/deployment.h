#pragma once

#include <string>
#include <string_view>

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
    // Seconds allowed for a connection to be set up (TCP, TLS handshake and,
    // for FTP, the server's greeting and login) before a transfer is given up.
    long connectTimeoutSeconds;
    // A transfer that moves less than one byte per second for this many
    // seconds, or an FTP server that leaves a command unanswered as long, is
    // given up.
    long stallTimeoutSeconds;
};

// The deployment in force: the product's unless a test has replaced it
// (results/deployment_testing.h).
const ResultsDeployment& activeDeployment();

// The product's deployment as built.
const ResultsDeployment& productDeployment();

// The results website's home page: scheme and host, no path
// (for example https://www.velocitrix.example).
const char* resultsWebsiteHomePage();

// The 128-character key appended to the document before it is hashed for the
// results file's checksum line. Shared with the results server; never written
// to a file.
std::string_view resultsChecksumKey();
