#include <curl/curl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "results/deployment.h"
#include "results/results.h"
#include "state/baseline.h"

namespace {

constexpr const char* kRandomDevice = "/dev/urandom";
constexpr const char* kRegistrationPath = "/baselines/V10/upload-linux.php?userFile=";
constexpr const char* kDisplayPath = "/baselines/V10/display.php?id=";
constexpr const char* kAcceptance = "Success: true";
constexpr std::size_t kShortestAcceptance = 13;  // the length of kAcceptance

// The random part of the file name: 0 to 999, from the low 10 bits of a draw.
constexpr std::uint32_t kFileNumberMask = 0x3FF;
constexpr std::uint32_t kLargestFileNumber = 999;

struct EasyHandleCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using EasyHandle = std::unique_ptr<CURL, EasyHandleCleanup>;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Keeps a dead, silent, stalled or trickling server from holding the
// caller's thread; the upload otherwise runs on libcurl's defaults. NOSIGNAL:
// the time limits must not be carried out with signals in a program with
// several threads.
void limitTransfer(CURL* handle, const ResultsDeployment& deployment) {
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, deployment.connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, deployment.stallTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, deployment.transferTimeoutSeconds);
    // An empty proxy overrides http_proxy, https_proxy, ftp_proxy, all_proxy
    // and the like: a test talks only to the servers it started.
    if (!deployment.useEnvironmentProxy) curl_easy_setopt(handle, CURLOPT_PROXY, "");
}

// libcurl's error texts go out without a line feed: a following message on
// standard error continues the line.
void reportTransferError(CURLcode code) { std::cerr << curl_easy_strerror(code); }

}  // namespace

int drawFileNumber(std::istream& randomDevice) {
    std::uint32_t draw = 0;
    while (randomDevice.read(reinterpret_cast<char*>(&draw), sizeof draw)) {
        draw &= kFileNumberMask;
        if (draw <= kLargestFileNumber) return static_cast<int>(draw);
    }
    return -1;
}

std::string baselineFileName(std::uint64_t timeStamp, int number) {
    return "/BL_" + std::to_string(timeStamp) + std::to_string(number) + ".vx";
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t curlWriteToString(char* data, std::size_t size, std::size_t count, void* reply) {
    const std::size_t bytes = size * count;
    ReplyBuffer& buffer = *static_cast<ReplyBuffer*>(reply);
    if (bytes > buffer.limit || buffer.text.size() > buffer.limit - bytes) return 0;
    try {
        buffer.text.append(data, bytes);
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }
    return bytes;
}

RegistrationReply parseRegistrationReply(const std::string& reply, std::int32_t dbId,
                                         std::int32_t filenameSalt) {
    RegistrationReply parsed{false, dbId, filenameSalt};
    if (reply.size() < kShortestAcceptance || reply.find(kAcceptance) == std::string::npos)
        return parsed;

    // Labels are whole white-space separated tokens; the number after one is
    // read as formatted input reads an int (white space skipped, optional
    // sign). A label followed by no number or by one outside the 32-bit range
    // makes the reply malformed: it is refused rather than storing the 0 or
    // the limit that formatted input leaves behind.
    std::istringstream in(reply);
    std::string token;
    while (in >> token) {
        std::int32_t* field = nullptr;
        if (token == "DBId:")
            field = &parsed.dbId;
        else if (token == "filenameSalt:")
            field = &parsed.filenameSalt;
        if (field == nullptr) continue;
        std::int32_t value = 0;
        if (!(in >> value)) return RegistrationReply{false, dbId, filenameSalt};
        *field = value;
    }
    parsed.accepted = true;
    return parsed;
}

bool uploadBaselineFtp(Baseline& baseline, const std::string& path) {
    return uploadBaselineFtp(baseline, path, activeDeployment());
}

bool uploadBaselineFtp(Baseline& /*baseline*/, const std::string& path,
                       const ResultsDeployment& deployment) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        std::cerr << "Couldn't open '" << path << "': " << std::strerror(errno) << "\n";
        return false;
    }
    const curl_off_t fileSize = static_cast<curl_off_t>(status.st_size);
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        std::cerr << "Couldn't read '" << path << "': " << std::strerror(errno) << "\n";
        return false;
    }

    // Global set-up and clean-up around the one transfer: no other libcurl
    // transfer may run in the process meanwhile.
    curl_global_init(CURL_GLOBAL_ALL);
    const std::string url = "ftp://" + deployment.ftpHost + "/" + fileNameOf(path);
    bool uploaded = false;
    if (EasyHandle handle{curl_easy_init()}) {
        CURL* h = handle.get();
        curl_easy_setopt(h, CURLOPT_USERNAME, deployment.ftpUser.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, deployment.ftpPassword.c_str());
        curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_READDATA, file.get());
        curl_easy_setopt(h, CURLOPT_INFILESIZE_LARGE, fileSize);
        limitTransfer(h, deployment);
        // An FTP server that stops answering commands is given up as soon as
        // one that stops sending data.
        curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, deployment.stallTimeoutSeconds);
        const CURLcode code = curl_easy_perform(h);
        if (code != CURLE_OK)
            reportTransferError(code);
        else
            uploaded = true;
    }
    file.reset();
    curl_global_cleanup();
    return uploaded;
}

bool registerBaselineUpload(Baseline& baseline, const std::string& path) {
    return registerBaselineUpload(baseline, path, activeDeployment());
}

bool registerBaselineUpload(Baseline& baseline, const std::string& path,
                            const ResultsDeployment& deployment) {
    const std::string url =
        "https://" + deployment.resultsHost + kRegistrationPath + fileNameOf(path);
    ReplyBuffer reply{std::string(), deployment.replyLimitBytes};
    if (EasyHandle handle{curl_easy_init()}) {
        CURL* h = handle.get();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, curlWriteToString);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply);
        limitTransfer(h, deployment);
        // Only a test deployment names a CA file; the product verifies the
        // server against libcurl's built-in store.
        if (!deployment.caFile.empty())
            curl_easy_setopt(h, CURLOPT_CAINFO, deployment.caFile.c_str());
        const CURLcode code = curl_easy_perform(h);
        if (code != CURLE_OK) {
            // Whatever part of the reply arrived is not the server's answer:
            // a cut-off reply could carry a wrong id.
            reportTransferError(code);
            return false;
        }
    }

    const RegistrationReply parsed =
        parseRegistrationReply(reply.text, baseline.dbId, baseline.filenameSalt);
    if (!parsed.accepted) return false;
    baseline.dbId = parsed.dbId;
    baseline.filenameSalt = parsed.filenameSalt;
    return true;
}

bool saveAndUploadBaseline(Baseline& baseline, const std::string& directory) {
    try {
        std::ifstream randomDevice(kRandomDevice, std::ios::in | std::ios::binary);
        const int number = randomDevice ? drawFileNumber(randomDevice) : -1;
        if (number < 0) {
            std::cerr << "Couldn't read '" << kRandomDevice << "'\n";
            return false;
        }
        // Named after the time stamp as it stands before the write refreshes it.
        const std::string path = directory + baselineFileName(baseline.timeStamp, number);
        // One copy for both transfers: a test that clears its deployment
        // meanwhile changes nothing for this upload.
        const ResultsDeployment deployment = activeDeployment();
        if (!writeBaselineFile(baseline, path)) return false;
        if (!uploadBaselineFtp(baseline, path, deployment)) return false;
        return registerBaselineUpload(baseline, path, deployment);
    } catch (const std::exception& error) {
        std::cerr << "Results upload failed: " << error.what() << "\n";
        return false;
    }
}

std::string makeDisplayUrl(const Baseline& baseline) {
    char salt[16];
    std::snprintf(salt, sizeof salt, "%05d", static_cast<int>(baseline.filenameSalt));
    return "https://" + activeDeployment().resultsHost + kDisplayPath +
           std::to_string(baseline.dbId) + salt;
}
