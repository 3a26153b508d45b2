#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

constexpr double kUntouched = -3.25;
constexpr std::int64_t kBatchBytes = 10485760;  // ten passes over 1 MiB

void markSlots(WorkerSyncArea& area, std::initializer_list<int> workers) {
    for (int w : workers) {
        for (int slot = 0; slot < 3; ++slot) area.setEncryptionResult(w, slot, kUntouched);
    }
}

std::string defaultFormat(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

// One phase's log line, split into its three numbers.
struct PhaseLine {
    bool matched = false;
    std::int64_t bytes = 0;
    double seconds = 0.0;
    std::string rateText;
};

PhaseLine parsePhase(const std::string& line, const std::string& label) {
    // label, bytes, " \ ", elapsed, " \ ", rate
    static const std::regex numbers(R"(^([0-9]+) \\ (\S+) \\ (\S+)$)");
    PhaseLine out;
    const std::string message = vxtest::messageOf(line);
    if (message.rfind(label, 0) != 0) return out;
    const std::string rest = message.substr(label.size());
    std::smatch match;
    if (!std::regex_match(rest, match, numbers)) return out;
    out.matched = true;
    out.bytes = std::stoll(match[1].str());
    out.seconds = std::stod(match[2].str());
    out.rateText = match[3].str();
    return out;
}

const std::string kLabels[3] = {
    "AES Encrypted\\Elapsed\\Bps: ",
    "SHA256 Hashed\\Elapsed\\Bps: ",
    "ECDSA verified\\Elapsed\\Bps: ",
};

TEST(EncryptionTest, ReturnsThePlainMeanOfTheThreeRatesItPosts) {
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    markSlots(area, {4, 5, 6});

    vxtest::ScopedWorkDir dir;
    vxtest::ScopedDebugLogging logging;
    const double figure = EncryptionTest(0, 5);

    const double aes = area.encryptionResult(5, 0);
    const double sha = area.encryptionResult(5, 1);
    const double ecdsa = area.encryptionResult(5, 2);
    // All three written (the ECDSA slot only when every verification passed).
    EXPECT_GT(aes, 0.0);
    EXPECT_GT(sha, 0.0);
    EXPECT_GT(ecdsa, 0.0);
    EXPECT_EQ(figure, (aes + sha + ecdsa) / 3.0);
    for (int w : {4, 6}) {
        for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(area.encryptionResult(w, slot), kUntouched);
    }

    // Duration 0: every phase runs exactly one batch, and the rate in the
    // log is the posted one in the stream's default notation.
    const std::vector<std::string> lines = vxtest::readLines("debug.log");
    ASSERT_EQ(lines.size(), 3u);
    const double rates[3] = {aes, sha, ecdsa};
    for (int phase = 0; phase < 3; ++phase) {
        const PhaseLine parsed = parsePhase(lines[phase], kLabels[phase]);
        ASSERT_TRUE(parsed.matched) << lines[phase];
        EXPECT_EQ(parsed.bytes, kBatchBytes) << lines[phase];
        EXPECT_GT(parsed.seconds, 0.0) << lines[phase];
        EXPECT_EQ(parsed.rateText, defaultFormat(rates[phase])) << lines[phase];
    }
}

TEST(EncryptionTest, EachPhaseRunsWholeBatchesForAtLeastAThirdOfTheDuration) {
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    vxtest::ScopedWorkDir dir;
    vxtest::ScopedDebugLogging logging;

    const std::int64_t start = nowNanoseconds();
    EncryptionTest(1, 0);
    const double elapsed = static_cast<double>(nowNanoseconds() - start) / 1e9;
    EXPECT_GE(elapsed, 1.0);

    const std::vector<std::string> lines = vxtest::readLines("debug.log");
    ASSERT_EQ(lines.size(), 3u);
    for (int phase = 0; phase < 3; ++phase) {
        const PhaseLine parsed = parsePhase(lines[phase], kLabels[phase]);
        ASSERT_TRUE(parsed.matched) << lines[phase];
        EXPECT_GT(parsed.bytes, 0);
        EXPECT_EQ(parsed.bytes % kBatchBytes, 0) << lines[phase];
        EXPECT_GE(parsed.seconds, 1.0 / 3.0 - 1e-6) << lines[phase];
        // rate = bytes / elapsed
        const double rate = area.encryptionResult(0, phase);
        EXPECT_NEAR(rate * parsed.seconds, static_cast<double>(parsed.bytes),
                    1e-5 * static_cast<double>(parsed.bytes))
            << lines[phase];
    }
}

// Lowers the address-space limit of this process so that only about
// slack bytes more can be mapped. Found by probing: the smallest limit at
// which a one-page mapping still succeeds is the current size.
bool limitAddressSpaceTo(std::size_t slack) {
    rlimit original{};
    if (getrlimit(RLIMIT_AS, &original) != 0) return false;
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    auto fits = [&](rlim_t limit) {
        rlimit trial = original;
        trial.rlim_cur = limit;
        if (setrlimit(RLIMIT_AS, &trial) != 0) return false;
        void* p = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) return false;
        munmap(p, page);
        return true;
    };
    rlim_t low = 0;
    rlim_t high = rlim_t{1} << 46;  // 64 TiB: always enough
    if (!fits(high)) return false;
    while (high - low > page) {
        const rlim_t middle = low + (high - low) / 2;
        if (fits(middle)) {
            high = middle;
        } else {
            low = middle;
        }
    }
    rlimit tight = original;
    tight.rlim_cur = high + slack;
    return setrlimit(RLIMIT_AS, &tight) == 0;
}

TEST(EncryptionTest, AllocationFailureInEveryPhaseIsReportedAndTheWorkerStillReturns) {
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    markSlots(area, {7});
    area.setResult(7, kUntouched);

    const std::filesystem::path errors =
        std::filesystem::temp_directory_path() / ("vx-enc-stderr-" + std::to_string(getpid()));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A worker whose 1 MiB buffers cannot be had: the test must report
        // each phase on standard error and still return.
        const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(2);
        if (!limitAddressSpaceTo(512 * 1024)) _exit(3);
        // Memory this process freed earlier (the other tests' buffers) is
        // still mapped and would serve a new 1 MiB block: hold on to every
        // such block first.
        static void* held[4096];
        for (void*& block : held) {
            block = std::malloc(1 << 20);
            if (block == nullptr) break;
        }
        try {
            area.setResult(7, EncryptionTest(0, 7));
        } catch (...) {
            _exit(4);  // the failure escaped the test: the worker would have died
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "worker died, signal " << WTERMSIG(status);
    ASSERT_EQ(WEXITSTATUS(status), 0);

    std::ifstream in(errors);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::filesystem::remove(errors);
    const std::vector<std::string> expected = {
        "DEBUG: [AES] Exception: Unknown",
        "DEBUG: [SHA] Exception: Unknown",
        "DEBUG: [ECDSA] Exception: Unknown",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(area.result(7), 0.0);
    for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(area.encryptionResult(7, slot), kUntouched);
}

TEST(EncryptionTest, RunnerSumsEveryWorkersRatesIntoTheRecord) {
    Baseline baseline;
    baseline.testSeconds = 1;
    baseline.numTestProcesses = 2;
    vxtest::ScopedWorkDir dir;
    runTest(&baseline, 4);
    WorkerSyncArea area = currentWorkerSyncArea();

    // Sub-results stay in bytes per second; the figure is MB/s (2^-20).
    double sumOfMeans = 0.0;
    for (int w = 0; w < 2; ++w) {
        sumOfMeans += (area.encryptionResult(w, 0) + area.encryptionResult(w, 1) +
                       area.encryptionResult(w, 2)) / 3.0;
    }
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_GT(area.encryptionResult(0, slot), 0.0);
        EXPECT_GT(area.encryptionResult(1, slot), 0.0);
        EXPECT_DOUBLE_EQ(baseline.encryptionResults[slot],
                         area.encryptionResult(0, slot) + area.encryptionResult(1, slot));
    }
    EXPECT_GT(baseline.results[4], 0.0);
    EXPECT_NEAR(baseline.results[4], sumOfMeans / 1048576.0, 1e-9 * baseline.results[4]);
    EXPECT_TRUE(vxtest::noChildProcessesLeft());
}

}  // namespace
