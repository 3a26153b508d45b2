#include <cryptopp/sha.h>
#include <yaml-cpp/yaml.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "results/deployment.h"
#include "results/results.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/detection.h"
#include "state/test_catalogue.h"

namespace {

// Every engine unit opens a sink at start-up; this one's is never written.
[[maybe_unused]] NullSink resultsSink;

// The results server tells apart the builds of each platform by this suffix
// of "vxArchitecture".
constexpr const char* kPlatformSuffix = "_linux";

// Family of the processor this build runs on, leading the "Processor" text.
#if defined(__aarch64__) || defined(__arm__)
constexpr const char* kProcessorFamily = "ARM ";
#elif defined(__x86_64__) || defined(__i386__)
constexpr const char* kProcessorFamily = "x86 ";
#else
#error "Unknown processor family: add its name for the results file"
#endif

constexpr const char* kChecksumLabel = "\nChecksum: ";

// Appended to the results file's path for the file being written; renamed
// to the path once whole.
constexpr const char* kTemporarySuffix = ".part";

// Every byte of bytes to fd, through short writes and interruptions.
bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void emitResult(YAML::Emitter& out, int id, const Baseline& baseline) {
    out << YAML::Key << kTestCatalogue[id].key << YAML::Value << baseline.results[id].load();
}

}  // namespace

YAML::Emitter& emitBaselineInfo(YAML::Emitter& out, const Baseline& baseline) {
    out << YAML::Key << "BaselineInfo" << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "WebDBID" << YAML::Value << std::int32_t{-1};
    out << YAML::Key << "TimeStamp" << YAML::Value << baseline.timeStamp;
    out << YAML::EndMap;
    return out;
}

YAML::Emitter& emitVersion(YAML::Emitter& out, const Baseline& baseline) {
    out << YAML::Key << "Version" << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "Major" << YAML::Value << baseline.majorVersion;
    out << YAML::Key << "Minor" << YAML::Value << baseline.minorVersion;
    out << YAML::Key << "Build" << YAML::Value << baseline.buildNumber;
    out << YAML::Key << "SpecialBuildName" << YAML::Value << std::string();
    out << YAML::Key << "vxArchitecture" << YAML::Value
        << baseline.architecture + kPlatformSuffix;
    out << YAML::EndMap;
    return out;
}

YAML::Emitter& emitResults(YAML::Emitter& out, const Baseline& baseline) {
    out << YAML::Key << "Results" << YAML::Value << YAML::BeginMap;
    // Written as complete whatever the results are: the server decides.
    out << YAML::Key << "Results Complete" << YAML::Value << true;
    out << YAML::Key << "NumTestProcesses" << YAML::Value << baseline.numTestProcesses;
    for (int id = 0; id < kFirstMemoryTest; ++id) emitResult(out, id, baseline);
    out << YAML::Key << "CPU_mm" << YAML::Value << baseline.matrixResults[0].load();
    out << YAML::Key << "CPU_sse" << YAML::Value << baseline.matrixResults[1].load();
    out << YAML::Key << "CPU_fma" << YAML::Value << baseline.matrixResults[2].load();
    out << YAML::Key << "CPU_avx" << YAML::Value << baseline.matrixResults[3].load();
    out << YAML::Key << "CPU_avx512" << YAML::Value << baseline.matrixResults[4].load();
    // SHA before AES, although AES is stored first: the server's order.
    out << YAML::Key << "m_CPU_enc_SHA" << YAML::Value << baseline.encryptionResults[1].load();
    out << YAML::Key << "m_CPU_enc_AES" << YAML::Value << baseline.encryptionResults[0].load();
    out << YAML::Key << "m_CPU_enc_ECDSA" << YAML::Value << baseline.encryptionResults[2].load();
    for (int id = kFirstMemoryTest; id < kTestCount; ++id) emitResult(out, id, baseline);
    out << YAML::Key << "SUMM_CPU" << YAML::Value << baseline.cpuMark.load();
    out << YAML::Key << "SUMM_ME" << YAML::Value << baseline.memoryMark.load();
    out << YAML::EndMap;
    return out;
}

YAML::Emitter& emitSystemInformation(YAML::Emitter& out, const Baseline& baseline) {
    const std::string processor = kProcessorFamily + baseline.cpuName + " " +
                                  std::to_string(baseline.numCores) + " Core " +
                                  std::to_string(baseline.cpuFrequency) + " MHz";
    out << YAML::Key << "SystemInformation" << YAML::Value << YAML::BeginMap;
    out << YAML::Key << "OSName" << YAML::Value << baseline.osName;
    out << YAML::Key << "Kernel" << YAML::Value << baseline.kernel;
    out << YAML::Key << "Device" << YAML::Value << baseline.device;
    out << YAML::Key << "Processor" << YAML::Value << processor;
    out << YAML::Key << "NumSockets" << YAML::Value << baseline.numSockets;
    out << YAML::Key << "Manufacturer" << YAML::Value << baseline.manufacturer;
    out << YAML::Key << "NumCores" << YAML::Value << baseline.numCores;
    out << YAML::Key << "NumLogicals" << YAML::Value << baseline.numLogicals;
    out << YAML::Key << "CPUFrequency" << YAML::Value << baseline.cpuFrequency;
    out << YAML::Key << "Memory" << YAML::Value << baseline.memory;
    out << YAML::EndMap;
    return out;
}

std::string makeBaselineDocument(const Baseline& baseline) {
    // Default emitter settings: block style, indentation 2, doubles with 17
    // significant digits, NaN and infinities as .nan, .inf and -.inf.
    YAML::Emitter out;
    out << YAML::BeginMap;
    emitBaselineInfo(out, baseline);
    emitVersion(out, baseline);
    emitResults(out, baseline);
    emitSystemInformation(out, baseline);
    out << YAML::EndMap;
    return std::string(out.c_str(), out.size());
}

std::string baselineChecksum(const std::string& document) {
    // Plain SHA-1 over document + key (not an HMAC): the server checks it so.
    CryptoPP::SHA1 hash;
    hash.Update(reinterpret_cast<const CryptoPP::byte*>(document.data()), document.size());
    const std::string_view key = resultsChecksumKey();
    hash.Update(reinterpret_cast<const CryptoPP::byte*>(key.data()), key.size());
    CryptoPP::byte digest[CryptoPP::SHA1::DIGESTSIZE];
    hash.Final(digest);

    std::string hex;
    hex.reserve(2 * sizeof digest);
    char pair[3];
    for (CryptoPP::byte b : digest) {
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(b));
        hex += pair;
    }
    return hex;
}

bool writeBaselineFile(Baseline& baseline, const std::string& path) {
    // Written to a temporary file beside the target and renamed over it only
    // once every byte is on the disk (fsync): a failed write (a full disk, a
    // file-size limit) or a crash leaves no cut-off file that the upload
    // could send as whole, and a file that was there before under the same
    // name stays as it was. A replaced file keeps its permission bits.
    // Anything but a regular file at path (a directory, a device) is refused
    // rather than replaced.
    struct stat existing {};
    const bool replacing = stat(path.c_str(), &existing) == 0;
    if (replacing && !S_ISREG(existing.st_mode)) {
        std::cerr << "Failed to open baseline file\n";
        return false;
    }
    const std::string temporary = path + kTemporarySuffix;
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        std::cerr << "Failed to open baseline file\n";
        return false;
    }

    baseline.timeStamp = getTimeStamp();
    bool written = !replacing || fchmod(fd, existing.st_mode & 07777) == 0;
    try {
        const std::string document = makeBaselineDocument(baseline);
        written = written && writeAll(fd, document + kChecksumLabel + baselineChecksum(document));
    } catch (const std::exception&) {
        written = false;
    }
    written = written && fsync(fd) == 0;
    written = close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        std::cerr << "Failed to write baseline file\n";
        return false;
    }
    return true;
}
