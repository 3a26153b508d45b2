#include <cryptopp/cryptlib.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "cpu/encryption_internal.h"
#include "cpu_test_support.h"
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

const std::string kLabels[3] = {
    "AES Encrypted\\Elapsed\\Bps: ",
    "SHA256 Hashed\\Elapsed\\Bps: ",
    "ECDSA verified\\Elapsed\\Bps: ",
};

// Every call the phases make through the seam, logged: N clock read, k a
// 16-byte draw (key or IV), D a 1 MiB draw, M cipher made, S signed, and
// runs of E (encrypt), H (hash) and V (verify) with their length, "E10".
CallLog gLog;
const CryptoPP::byte* gSignature = nullptr;
std::size_t gSignatureBytes = 0;
int gVerifications = 0;
// A failure planted in one kind of call: throw or (verify) answer false.
char gFailing = 0;
enum class Failure { kNone, kLibrary, kOther, kInvalid } gFailure = Failure::kNone;

// One call of a phase (S the signing): logged, checked to be one pass over
// the whole block the phase drew last, and failed when planted.
void operation(char kind, const CryptoPP::byte* data, std::size_t bytes) {
    kind == 'S' ? void(gLog.events += kind) : gLog.work(kind, true);
    EXPECT_EQ(data, gLog.blocks.back());
    EXPECT_EQ(bytes, 1048576u);
    if (gFailing == kind && gFailure == Failure::kLibrary) {
        throw CryptoPP::Exception(CryptoPP::Exception::OTHER_ERROR, "planted failure");
    }
    if (gFailing == kind && gFailure == Failure::kOther) throw 7;
}

// Each operation is checked to be one whole-buffer pass over the drawn data
// (in place for the cipher, against the signature made for the message).
class EncryptionCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = CallLog{};
        gLog.step = 1;
        gLog.runaway = 1000;
        gSignature = nullptr;
        gFailing = 0;
        gFailure = Failure::kNone;
        gVerifications = 0;
        auto& calls = encryption::encryptionCalls;
        calls.clock = [] { return gLog.now(); };
        calls.draw = [](CryptoPP::RandomNumberGenerator& pool, CryptoPP::byte* block, std::size_t n) {
            gLog.events += n == 16 ? 'k' : n == kBufferBytes ? 'D' : '?';
            pool.GenerateBlock(block, n);
            if (n == kBufferBytes) gLog.blocks.push_back(block);
        };
        calls.makeCipher = [](const CryptoPP::byte* key, std::size_t keyBytes, const CryptoPP::byte* iv) {
            gLog.events += 'M';
            EXPECT_EQ(keyBytes, 16u);
            return encryption::defaultEncryptionCalls().makeCipher(key, keyBytes, iv);
        };
        calls.encrypt = [](CryptoPP::StreamTransformation& cipher, CryptoPP::byte* buffer, std::size_t n) {
            operation('E', buffer, n);
            cipher.ProcessData(buffer, buffer, n);
            gLog.step = kAesStep;
        };
        calls.hash = [](CryptoPP::HashTransformation& hash, const CryptoPP::byte* buffer, std::size_t n) {
            operation('H', buffer, n);
            hash.Update(buffer, n);
            gLog.step = kShaStep;
        };
        calls.sign = [](const CryptoPP::PK_Signer& signer, CryptoPP::RandomNumberGenerator& rng,
                        const CryptoPP::byte* message, std::size_t n, CryptoPP::byte* signature) {
            operation('S', message, n);
            gSignature = signature;
            gSignatureBytes = signer.SignMessage(rng, message, n, signature);
            return gSignatureBytes;
        };
        calls.verify = [](const CryptoPP::PK_Verifier& verifier, const CryptoPP::byte* message,
                          std::size_t n, const CryptoPP::byte* signature, std::size_t signatureBytes) {
            EXPECT_EQ(signature, gSignature);
            EXPECT_EQ(signatureBytes, gSignatureBytes);
            operation('V', message, n);
            const bool valid = verifier.VerifyMessage(message, n, signature, signatureBytes);
            gLog.step = kEcdsaStep;
            // The planted invalid signature fails the third verification only.
            const bool planted = gFailure == Failure::kInvalid && ++gVerifications == 3;
            return valid && !(gFailing == 'V' && planted);
        };
    }
    void TearDown() override { encryption::encryptionCalls = encryption::defaultEncryptionCalls(); }

    static constexpr std::size_t kBufferBytes = 1048576;
    // The fed clock's step after each phase's operations: distinct, so that
    // every phase makes its own number of batches and has its own rate.
    static constexpr std::int64_t kAesStep = 400000000;
    static constexpr std::int64_t kShaStep = 300000000;
    static constexpr std::int64_t kEcdsaStep = 600000000;
};

std::string batches(char kind, int count) {
    std::string text = "N";
    for (int i = 0; i < count; ++i) text += kind + std::string("10N");
    return text;
}

// With 3 seconds each phase has 1 s: a clock stepping 0.4 s ends the AES
// phase at the reading after batch 3 (1.2 s), 0.3 s ends SHA after batch 4
// (1.2 s) and 0.6 s ends ECDSA after batch 2 (1.2 s). With 0 seconds every
// phase runs one batch. Each batch is ten 1 MiB operations.
TEST_F(EncryptionCallsTest, PhasesTimeOnlyTheOperationsTheyCount) {
    struct Case {
        std::int32_t seconds;
        int batches[3];
        double elapsed[3];
    };
    const Case cases[] = {
        {3, {3, 4, 2}, {1.2, 1.2, 1.2}},
        {0, {1, 1, 1}, {0.4, 0.3, 0.6}},
    };
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.seconds);
        SetUp();
        markSlots(area, {4, 5, 6});
        vxtest::ScopedWorkDir dir;
        vxtest::ScopedDebugLogging logging;
        const double figure = EncryptionTest(c.seconds, 5);

        EXPECT_EQ(gLog.events, "kkDM" + batches('E', c.batches[0]) + "D" + batches('H', c.batches[1]) +
                                   "DS" + batches('V', c.batches[2]));
        double rates[3];
        for (int phase = 0; phase < 3; ++phase) {
            const std::int64_t bytes = c.batches[phase] * kBatchBytes;
            rates[phase] = static_cast<double>(bytes) / c.elapsed[phase];
            EXPECT_DOUBLE_EQ(area.encryptionResult(5, phase), rates[phase]) << phase;
        }
        EXPECT_DOUBLE_EQ(figure, (rates[0] + rates[1] + rates[2]) / 3.0);
        for (int w : {4, 6}) {
            for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(area.encryptionResult(w, slot), kUntouched);
        }
        std::vector<std::string> expected;
        for (int phase = 0; phase < 3; ++phase) {
            expected.push_back(kLabels[phase] + std::to_string(c.batches[phase] * kBatchBytes) +
                               " \\ " + defaultFormat(c.elapsed[phase]) + " \\ " +
                               defaultFormat(rates[phase]));
        }
        EXPECT_EQ(vxtest::debugMessages(), expected);
    }

    // A worker index outside the area's 256 slots writes no slot (neither
    // past the mapping nor into the neighbouring matrix slots) and the
    // figure is still the mean of the rates.
    for (const std::int32_t worker : {-1, 256}) {
        SetUp();
        markSlots(area, {255});
        for (int slot = 2; slot < 5; ++slot) area.setMatrixResult(255, slot, kUntouched);
        const double figure = EncryptionTest(0, worker);
        EXPECT_DOUBLE_EQ(figure, (kBatchBytes / 0.4 + kBatchBytes / 0.3 + kBatchBytes / 0.6) / 3.0);
        for (int slot = 0; slot < 3; ++slot) EXPECT_EQ(area.encryptionResult(255, slot), kUntouched);
        for (int slot = 2; slot < 5; ++slot) EXPECT_EQ(area.matrixResult(255, slot), kUntouched);
    }
}

// A library exception or any other exception in a phase is reported on
// standard error and costs that phase only; a signature that fails to verify
// once costs the ECDSA phase without a message. The phase's slot keeps its
// earlier content and its log line is missing.
TEST_F(EncryptionCallsTest, FailedPhaseCountsAsZeroAndKeepsItsSlot) {
    struct Case {
        char failing;
        Failure failure;
        int phase;
        const char* message;
    };
    const Case cases[] = {
        {'E', Failure::kLibrary, 0, "DEBUG: [AES] Exception: planted failure\n"},
        {'H', Failure::kOther, 1, "DEBUG: [SHA] Exception: Unknown\n"},
        {'V', Failure::kLibrary, 2, "DEBUG: [ECDSA] Exception: planted failure\n"},
        {'V', Failure::kOther, 2, "DEBUG: [ECDSA] Exception: Unknown\n"},
        {'V', Failure::kInvalid, 2, ""},
    };
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    const double rates[3] = {kBatchBytes / 0.4, kBatchBytes / 0.3, kBatchBytes / 0.6};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SetUp();
        gFailing = c.failing;
        gFailure = c.failure;
        markSlots(area, {3});
        vxtest::ScopedWorkDir dir;
        vxtest::ScopedDebugLogging logging;
        ::testing::internal::CaptureStderr();
        const double figure = EncryptionTest(0, 3);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);

        double sum = 0.0;
        for (int phase = 0; phase < 3; ++phase) {
            if (phase == c.phase) {
                EXPECT_EQ(area.encryptionResult(3, phase), kUntouched);
            } else {
                EXPECT_DOUBLE_EQ(area.encryptionResult(3, phase), rates[phase]) << phase;
                sum += rates[phase];
            }
        }
        EXPECT_DOUBLE_EQ(figure, sum / 3.0);
        const std::vector<std::string> lines = vxtest::debugMessages();
        ASSERT_EQ(lines.size(), 2u);
        for (const std::string& line : lines) EXPECT_EQ(line.find(kLabels[c.phase]), std::string::npos);
    }
}

TEST(EncryptionTest, AllocationFailureInEveryPhaseIsReportedAndTheWorkerStillReturns) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer needs the data segment this test takes away";
#endif
    Baseline baseline;
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    markSlots(area, {7});
    area.setResult(7, kUntouched);

    // A worker whose 1 MiB buffers cannot be had reports each phase on
    // standard error and still returns.
    const std::filesystem::path errors =
        std::filesystem::temp_directory_path() / ("vx-enc-stderr-" + std::to_string(getpid()));
    const int code = exitCodeWithoutMemory(
        [&] {
            const int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || dup2(fd, STDERR_FILENO) < 0) _exit(2);
            area.setResult(7, EncryptionTest(0, 7));
            return area.result(7);
        },
        1 << 20);
    if (code == 4) GTEST_SKIP() << "RLIMIT_DATA is not enforced here";
    EXPECT_EQ(code, 0);
    EXPECT_EQ(vxtest::readLines(errors),
              (std::vector<std::string>{"DEBUG: [AES] Exception: Unknown", "DEBUG: [SHA] Exception: Unknown",
                                        "DEBUG: [ECDSA] Exception: Unknown"}));
    std::filesystem::remove(errors);
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
