// The results document, its checksum line and the writer's failures.

#include <cryptopp/sha.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "results/deployment.h"
#include "results/results.h"
#include "state/baseline.h"
#include "state/detection.h"
#include "test_servers.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

#if defined(__aarch64__) || defined(__arm__)
const std::string kFamily = "ARM ";
#else
const std::string kFamily = "x86 ";
#endif

const std::string kChecksumLabel = "\nChecksum: ";

// Every field that the document takes holds a value of its own, so that a
// field written from the wrong source shows; the version is not the
// default, and the ids of the last upload are set (the file holds neither).
void fillBaseline(Baseline& b) {
    const double results[kTestCount] = {
        0.1,  2.5, 300.0, 4000.25, 17.75, 5.5e-5, 123456789.123, 60.125,
        7.0,  1e-3, 1e6, 0.30000000000000004, 2048.0, 65.4321, 3.0e4, 9.75};
    for (int i = 0; i < kTestCount; ++i) b.results[i] = results[i];
    const double matrix[kMatrixSubResults] = {11.5, 22.75, 33.25, 44.5, 55.125};
    for (int i = 0; i < kMatrixSubResults; ++i) b.matrixResults[i] = matrix[i];
    b.encryptionResults[0] = 1.25;    // AES
    b.encryptionResults[1] = 2.375;   // SHA
    b.encryptionResults[2] = 3.0625;  // ECDSA
    b.cpuMark = 12345.678;
    b.primesCrossPlatform = 4242.0;  // never written
    b.memoryMark = 1e20;
    b.numSockets = 2;
    b.numCores = 6;
    b.numLogicals = 12;
    b.numTestProcesses = 11;
    b.cpuFrequency = 3187;
    b.memory = 4294983680;  // above 32 bits
    b.device = "Box: model 7";
    b.cpuName = "Intel(R) Xeon(R) CPU @ 2.20GHz";
    b.architecture = "x86_64";
    b.osName = "Debian GNU/Linux 12 (bookworm)";
    b.kernel = "Linux 6.1.0-18-amd64";
    b.manufacturer = "GenuineIntel";
    b.timeStamp = 20240229235959;
    b.majorVersion = 13;
    b.minorVersion = 7;
    b.buildNumber = 1042;
    b.dbId = 4321;
    b.filenameSalt = 5678;
}

std::string expectedDocument() {
    return "BaselineInfo:\n"
           "  WebDBID: -1\n"
           "  TimeStamp: 20240229235959\n"
           "Version:\n"
           "  Major: 13\n"
           "  Minor: 7\n"
           "  Build: 1042\n"
           "  SpecialBuildName: \"\"\n"
           "  vxArchitecture: x86_64_linux\n"
           "Results:\n"
           "  Results Complete: true\n"
           "  NumTestProcesses: 11\n"
           "  CPU_INTEGER_MATH: 0.10000000000000001\n"
           "  CPU_FLOATINGPOINT_MATH: 2.5\n"
           "  CPU_PRIME: 300\n"
           "  CPU_SORTING: 4000.25\n"
           "  CPU_ENCRYPTION: 17.75\n"
           "  CPU_COMPRESSION: 5.5000000000000002e-05\n"
           "  CPU_SINGLETHREAD: 123456789.123\n"
           "  CPU_PHYSICS: 60.125\n"
           "  CPU_MATRIX_MULT_SSE: 7\n"
           "  CPU_mm: 11.5\n"
           "  CPU_sse: 22.75\n"
           "  CPU_fma: 33.25\n"
           "  CPU_avx: 44.5\n"
           "  CPU_avx512: 55.125\n"
           "  m_CPU_enc_SHA: 2.375\n"
           "  m_CPU_enc_AES: 1.25\n"
           "  m_CPU_enc_ECDSA: 3.0625\n"
           "  ME_ALLOC_S: 0.001\n"
           "  ME_READ_S: 1000000\n"
           "  ME_READ_L: 0.30000000000000004\n"
           "  ME_WRITE: 2048\n"
           "  ME_LARGE: 65.432100000000005\n"
           "  ME_LATENCY: 30000\n"
           "  ME_THREADED: 9.75\n"
           "  SUMM_CPU: 12345.678\n"
           "  SUMM_ME: 1e+20\n"
           "SystemInformation:\n"
           "  OSName: Debian GNU/Linux 12 (bookworm)\n"
           "  Kernel: Linux 6.1.0-18-amd64\n"
           "  Device: \"Box: model 7\"\n"
           "  Processor: " + kFamily + "Intel(R) Xeon(R) CPU @ 2.20GHz 6 Core 3187 MHz\n"
           "  NumSockets: 2\n"
           "  Manufacturer: GenuineIntel\n"
           "  NumCores: 6\n"
           "  NumLogicals: 12\n"
           "  CPUFrequency: 3187\n"
           "  Memory: 4294983680";
}

// The entries of one section of expectedDocument, as a YAML reader gives
// them (the two quoted values unquoted).
Entries expectedEntries(const std::string& section) {
    Entries entries;
    std::istringstream lines(expectedDocument());
    bool inSection = false;
    for (std::string line; std::getline(lines, line);) {
        if (line[0] != ' ') {
            inSection = line == section + ":";
            continue;
        }
        if (!inSection) continue;
        const std::size_t colon = line.find(": ");
        std::string value = line.substr(colon + 2);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        entries.emplace_back(line.substr(2, colon - 2), value);
    }
    return entries;
}

// Independent of the writer: SHA-1 over text + key, as upper-case hex.
std::string sha1Hex(const std::string& text) {
    CryptoPP::SHA1 hash;
    const std::string keyed = text + std::string(resultsChecksumKey());
    hash.Update(reinterpret_cast<const CryptoPP::byte*>(keyed.data()), keyed.size());
    CryptoPP::byte digest[CryptoPP::SHA1::DIGESTSIZE];
    hash.Final(digest);
    std::string hex;
    for (CryptoPP::byte b : digest) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned>(b));
        hex += pair;
    }
    return hex;
}

struct SavedFile {
    std::string document;
    std::string checksum;
};

// Splits a results file into document and checksum, checking the frame:
// one "\nChecksum: " line of 40 upper-case hex digits and nothing after it.
SavedFile splitResultsFile(const std::string& bytes) {
    const std::size_t label = bytes.rfind(kChecksumLabel);
    EXPECT_NE(label, std::string::npos);
    if (label == std::string::npos) return {};
    SavedFile file{bytes.substr(0, label), bytes.substr(label + kChecksumLabel.size())};
    EXPECT_EQ(file.checksum.size(), 40u);
    EXPECT_EQ(file.checksum.find_first_not_of("0123456789ABCDEF"), std::string::npos)
        << file.checksum;
    EXPECT_NE(file.document.back(), '\n');
    return file;
}

Entries entriesOf(const YAML::Node& map) {
    Entries entries;
    for (const auto& entry : map)
        entries.emplace_back(entry.first.as<std::string>(), entry.second.Scalar());
    return entries;
}

class ResultsFileTest : public ::testing::Test {
protected:
    std::string pathOf(const std::string& name) const { return dir_.path() + "/" + name; }
    vxtest::TempDir dir_;
};

TEST(ResultsDocument, MatchesTheFileLayoutByteForByte) {
    Baseline b;
    fillBaseline(b);
    EXPECT_EQ(makeBaselineDocument(b), expectedDocument());
}

TEST(ResultsDocument, ChecksumIsSha1OverDocumentAndKey) {
    ASSERT_EQ(resultsChecksumKey().size(), 128u);
    for (char c : resultsChecksumKey()) EXPECT_TRUE(c >= ' ' && c <= '~');
    EXPECT_EQ(baselineChecksum("abc"), sha1Hex("abc"));
    EXPECT_NE(baselineChecksum("abc"), baselineChecksum("abd"));
}

TEST_F(ResultsFileTest, ParsesBackWithEveryKeyValueAndOrder) {
    Baseline b;
    fillBaseline(b);
    ASSERT_TRUE(writeBaselineFile(b, pathOf("parsed.vx")));
    const SavedFile file = splitResultsFile(vxtest::readWholeFile(pathOf("parsed.vx")));
    const YAML::Node root = YAML::Load(file.document);

    std::vector<std::string> sections;
    for (const auto& entry : root) sections.push_back(entry.first.as<std::string>());
    const std::vector<std::string> expected = {"BaselineInfo", "Version", "Results",
                                               "SystemInformation"};
    ASSERT_EQ(sections, expected);
    // The write refreshed the time stamp; everything else is the fixture's.
    Entries info = expectedEntries("BaselineInfo");
    ASSERT_EQ(info.size(), 2u);
    info[1].second = std::to_string(b.timeStamp);
    EXPECT_EQ(entriesOf(root["BaselineInfo"]), info);
    for (std::size_t i = 1; i < expected.size(); ++i)
        EXPECT_EQ(entriesOf(root[expected[i]]), expectedEntries(expected[i])) << expected[i];
    EXPECT_EQ(expectedEntries("Results").size(), 28u);
    // The parsed values read back as the numbers that were saved.
    EXPECT_DOUBLE_EQ(root["Results"]["CPU_INTEGER_MATH"].as<double>(), 0.1);
    EXPECT_DOUBLE_EQ(root["Results"]["SUMM_CPU"].as<double>(), 12345.678);
    EXPECT_EQ(root["SystemInformation"]["Memory"].as<std::int64_t>(), 4294983680);
    EXPECT_TRUE(root["Results"]["Results Complete"].as<bool>());
}

TEST_F(ResultsFileTest, FileIsDocumentThenChecksumLineWithoutFinalLineBreak) {
    Baseline b;
    fillBaseline(b);
    ASSERT_TRUE(writeBaselineFile(b, pathOf("framed.vx")));
    const std::string bytes = vxtest::readWholeFile(pathOf("framed.vx"));
    const SavedFile file = splitResultsFile(bytes);

    // The document is the one for the record as it stands after the write
    // (time stamp refreshed), and the checksum is recomputed from the bytes.
    EXPECT_EQ(file.document, makeBaselineDocument(b));
    EXPECT_EQ(file.checksum, sha1Hex(file.document));
    EXPECT_EQ(bytes, file.document + "\nChecksum: " + file.checksum);
    EXPECT_NE(bytes.back(), '\n');
    EXPECT_EQ(file.document.find("\n\nChecksum"), std::string::npos);
}

TEST_F(ResultsFileTest, WriteRefreshesTheTimeStamp) {
    Baseline b;
    fillBaseline(b);
    const std::uint64_t before = getTimeStamp();
    ASSERT_TRUE(writeBaselineFile(b, pathOf("stamp.vx")));
    const std::uint64_t after = getTimeStamp();
    EXPECT_GE(b.timeStamp, before);
    EXPECT_LE(b.timeStamp, after);
    const YAML::Node root =
        YAML::Load(splitResultsFile(vxtest::readWholeFile(pathOf("stamp.vx"))).document);
    EXPECT_EQ(root["BaselineInfo"]["TimeStamp"].as<std::uint64_t>(), b.timeStamp);
}

TEST_F(ResultsFileTest, NeverRunTestsAreZeroAndResultsStillComplete) {
    Baseline fresh;
    ASSERT_TRUE(writeBaselineFile(fresh, pathOf("fresh.vx")));
    const SavedFile file = splitResultsFile(vxtest::readWholeFile(pathOf("fresh.vx")));
    const YAML::Node results = YAML::Load(file.document)["Results"];
    EXPECT_EQ(results["Results Complete"].Scalar(), "true");
    for (const char* key : {"CPU_INTEGER_MATH", "CPU_PHYSICS", "ME_ALLOC_S", "ME_THREADED",
                            "CPU_mm", "m_CPU_enc_AES", "SUMM_CPU", "SUMM_ME"})
        EXPECT_EQ(results[key].Scalar(), "0") << key;
    EXPECT_NE(file.document.find("\n  CPU_INTEGER_MATH: 0\n"), std::string::npos);
    EXPECT_NE(file.document.find("\n  Major: 10\n  Minor: 2\n  Build: 1000\n"),
              std::string::npos);
    EXPECT_EQ(file.checksum, sha1Hex(file.document));
}

TEST_F(ResultsFileTest, NanAndInfinitiesAreWrittenAsYamlSpecialsAndChecksummed) {
    Baseline b;
    fillBaseline(b);
    b.results[0] = std::numeric_limits<double>::quiet_NaN();
    b.results[1] = std::numeric_limits<double>::infinity();
    b.results[2] = -std::numeric_limits<double>::infinity();
    ASSERT_TRUE(writeBaselineFile(b, pathOf("special.vx")));
    const SavedFile file = splitResultsFile(vxtest::readWholeFile(pathOf("special.vx")));
    EXPECT_NE(file.document.find("\n  CPU_INTEGER_MATH: .nan\n"), std::string::npos);
    EXPECT_NE(file.document.find("\n  CPU_FLOATINGPOINT_MATH: .inf\n"), std::string::npos);
    EXPECT_NE(file.document.find("\n  CPU_PRIME: -.inf\n"), std::string::npos);
    EXPECT_EQ(file.checksum, sha1Hex(file.document));
    EXPECT_EQ(YAML::Load(file.document)["Results"]["CPU_PRIME"].as<double>(),
              -std::numeric_limits<double>::infinity());
}

TEST_F(ResultsFileTest, SpecialBuildNameIsAnEmptyQuotedString) {
    Baseline b;
    ASSERT_TRUE(writeBaselineFile(b, pathOf("empty.vx")));
    const std::string bytes = vxtest::readWholeFile(pathOf("empty.vx"));
    EXPECT_NE(bytes.find("\n  SpecialBuildName: \"\"\n"), std::string::npos);
}

TEST_F(ResultsFileTest, ProcessorTextStartsWithTheFamilyAndEndsWithCoresAndMhz) {
    Baseline b;
    b.cpuName = "Some CPU";
    b.numCores = 16;
    b.cpuFrequency = 0;
    b.architecture = "aarch64";
    ASSERT_TRUE(writeBaselineFile(b, pathOf("processor.vx")));
    const YAML::Node root =
        YAML::Load(splitResultsFile(vxtest::readWholeFile(pathOf("processor.vx"))).document);
    EXPECT_EQ(root["SystemInformation"]["Processor"].Scalar(), kFamily + "Some CPU 16 Core 0 MHz");
    EXPECT_EQ(root["Version"]["vxArchitecture"].Scalar(), "aarch64_linux");
    b.cpuFrequency = 3200;
    EXPECT_NE(makeBaselineDocument(b).find("  Processor: " + kFamily + "Some CPU 16 Core 3200 MHz\n"),
              std::string::npos);
}

TEST_F(ResultsFileTest, SavesASecondApartDifferInTimeStampAndChecksum) {
    Baseline b;
    fillBaseline(b);
    ASSERT_TRUE(writeBaselineFile(b, pathOf("first.vx")));
    const std::uint64_t first = b.timeStamp;
    while (getTimeStamp() == first) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(writeBaselineFile(b, pathOf("second.vx")));
    EXPECT_GT(b.timeStamp, first);

    const SavedFile one = splitResultsFile(vxtest::readWholeFile(pathOf("first.vx")));
    const SavedFile two = splitResultsFile(vxtest::readWholeFile(pathOf("second.vx")));
    EXPECT_NE(one.checksum, two.checksum);
    EXPECT_NE(one.document, two.document);
    // Only the time stamp line differs.
    const std::string stampLine = "  TimeStamp: ";
    std::string oneWithoutStamp = one.document, twoWithoutStamp = two.document;
    oneWithoutStamp.replace(one.document.find(stampLine), stampLine.size() + 14, "");
    twoWithoutStamp.replace(two.document.find(stampLine), stampLine.size() + 14, "");
    EXPECT_EQ(oneWithoutStamp, twoWithoutStamp);
}

// The old content goes, its permission bits stay; a new file has the
// creation mode less the umask.
TEST_F(ResultsFileTest, SavingOverAnExistingFileReplacesItEntirely) {
    const std::string path = pathOf("existing.vx");
    {
        std::FILE* old = std::fopen(path.c_str(), "wb");
        ASSERT_NE(old, nullptr);
        const std::string junk(64 * 1024, 'x');
        std::fwrite(junk.data(), 1, junk.size(), old);
        std::fclose(old);
    }
    ASSERT_EQ(chmod(path.c_str(), 0440), 0);
    const mode_t umaskBefore = umask(022);
    Baseline b;
    fillBaseline(b);
    ASSERT_TRUE(writeBaselineFile(b, path));
    ASSERT_TRUE(writeBaselineFile(b, pathOf("fresh.vx")));
    umask(umaskBefore);
    const std::string bytes = vxtest::readWholeFile(path);
    EXPECT_EQ(bytes.find('x' + std::string(8, 'x')), std::string::npos);
    EXPECT_EQ(bytes, makeBaselineDocument(b) + "\nChecksum: " + splitResultsFile(bytes).checksum);
    EXPECT_EQ(vxtest::filesIn(dir_.path()), (std::vector<std::string>{"existing.vx", "fresh.vx"}));
    const auto permissions = [&](const char* name) {
        struct stat status {};
        stat(pathOf(name).c_str(), &status);
        return status.st_mode & 07777;
    };
    EXPECT_EQ(permissions("existing.vx"), 0440u);
    EXPECT_EQ(permissions("fresh.vx"), 0644u);
}

TEST_F(ResultsFileTest, UnopenablePathFailsWithoutTouchingTheRecord) {
    Baseline b;
    fillBaseline(b);
    // A missing directory, a regular file used as a directory (fails for
    // root as well), and a directory in the file's place.
    ASSERT_TRUE(writeBaselineFile(b, pathOf("plain")));
    ASSERT_TRUE(std::filesystem::create_directory(pathOf("BL_2.vx")));
    b.timeStamp = 20240229235959;
    for (const std::string& path :
         {pathOf("missing/BL_1.vx"), pathOf("plain/BL_1.vx"), pathOf("BL_2.vx")}) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(writeBaselineFile(b, path));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to open baseline file\n");
        EXPECT_EQ(b.timeStamp, 20240229235959u);
    }
    EXPECT_EQ(vxtest::filesIn(dir_.path()), (std::vector<std::string>{"BL_2.vx", "plain"}));
    EXPECT_TRUE(std::filesystem::is_directory(pathOf("BL_2.vx")));
}

// Makes fsync and fdatasync fail with EIO in this process from now on, as
// on a disk that reports a write error.
void failEveryFsync() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fsync, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_fdatasync, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EIO & SECCOMP_RET_DATA)),
    };
    const sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::_Exit(3);
    }
}

// Real write failures, each set in a child process so that it stays there:
// a file-size limit below the file's size (SIGXFSZ ignored, so the write
// fails with EFBIG), and a disk whose fsync fails once every byte is
// written. A new file and a rewrite each fail; the old file stays as it was.
TEST_F(ResultsFileTest, FailedWriteLeavesNoFileAndKeepsTheOldOne) {
    const std::string earlier = "Checksum: of an earlier save";
    const std::string fresh = pathOf("BL_new.vx");
    const std::string rewritten = pathOf("BL_old.vx");
    const std::pair<const char*, void (*)()> failures[] = {
        {"file-size limit",
         [] {
             std::signal(SIGXFSZ, SIG_IGN);
             const rlimit limit{512, 512};
             setrlimit(RLIMIT_FSIZE, &limit);
         }},
        {"fsync fails", failEveryFsync},
    };
    for (const auto& [name, fail] : failures) {
        SCOPED_TRACE(name);
        {
            std::FILE* old = std::fopen(rewritten.c_str(), "wb");
            ASSERT_NE(old, nullptr);
            std::fwrite(earlier.data(), 1, earlier.size(), old);
            std::fclose(old);
        }
        const auto writeFailing = [&, fail = fail] {
            fail();
            Baseline b;
            fillBaseline(b);
            const bool any = writeBaselineFile(b, fresh) || writeBaselineFile(b, rewritten);
            // The file could be opened, so the time stamp was refreshed.
            std::_Exit(any ? 1 : b.timeStamp == 20240229235959u ? 2 : 0);
        };
        EXPECT_EXIT(writeFailing(), testing::ExitedWithCode(0),
                    testing::Eq("Failed to write baseline file\nFailed to write baseline file\n"));
        EXPECT_EQ(vxtest::filesIn(dir_.path()), std::vector<std::string>{"BL_old.vx"});
        EXPECT_EQ(vxtest::readWholeFile(rewritten), earlier);
    }
}

}  // namespace
