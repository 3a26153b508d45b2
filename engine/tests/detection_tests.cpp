// System detection through the platform layer, fed from a system root of the
// test's own making so that every answer and every failure can be arranged.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sysctl.h"
#include "state/baseline.h"
#include "state/detection.h"
#include "test_support.h"

namespace {

using vxtest::writeFile;

class DetectionTest : public ::testing::Test {
protected:
    void SetUp() override { platform::setSystemRootForTesting(root_.path().string()); }
    void TearDown() override {
        platform::setSystemRootForTesting("");
        platform::failNameForTesting("sysctl.proc_translated", 0);
        platform::failNameForTesting("hw.machine", 0);
    }
    void file(const std::string& path, const std::string& text) { writeFile(root_.path().string() + path, text); }
    void maximumClock(int cpu, int kilohertz) {
        file("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/cpuinfo_max_freq",
             std::to_string(kilohertz) + "\n");
    }

    // Processors 0..n-1 online, with the given package and core ids.
    void topology(const std::vector<std::pair<int, int>>& packageAndCore) {
        file("/sys/devices/system/cpu/online", "0-" + std::to_string(packageAndCore.size() - 1) + "\n");
        for (std::size_t cpu = 0; cpu < packageAndCore.size(); ++cpu) {
            const std::string dir = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
            file(dir + "physical_package_id", std::to_string(packageAndCore[cpu].first) + "\n");
            file(dir + "core_id", std::to_string(packageAndCore[cpu].second) + "\n");
        }
    }

    vxtest::ScopedWorkDir root_;
};

// Restricts the calling thread to its first n usable processors (fewer where
// it has fewer) for the scope.
class ScopedAffinity {
public:
    explicit ScopedAffinity(int n) {
        sched_getaffinity(0, sizeof previous_, &previous_);
        cpu_set_t some;
        CPU_ZERO(&some);
        for (int cpu = 0; cpu < CPU_SETSIZE && count_ < n; ++cpu) {
            if (CPU_ISSET(cpu, &previous_)) {
                CPU_SET(cpu, &some);
                ++count_;
            }
        }
        sched_setaffinity(0, sizeof some, &some);
    }
    ~ScopedAffinity() { sched_setaffinity(0, sizeof previous_, &previous_); }
    int count() const { return count_; }

private:
    cpu_set_t previous_;
    int count_ = 0;
};

const char* kX86Cpuinfo =
    "processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Example(R) CPU 9000 @ 3.10GHz\n"
    "cpu MHz\t\t: 2599.998\n\nprocessor\t: 1\nvendor_id\t: GenuineIntel\n"
    "model name\t: Example(R) CPU 9000 @ 3.10GHz\ncpu MHz\t\t: 1200.000\n";

const char* kArmCpuinfo =
    "processor\t: 0\nBogoMIPS\t: 50.00\nFeatures\t: fp asimd evtstrm\nCPU implementer\t: 0x41\n"
    "CPU architecture: 8\nCPU variant\t: 0x3\nCPU part\t: 0xd0c\nCPU revision\t: 1\n";

}  // namespace

TEST_F(DetectionTest, X86ProcessorNameAndVendorComeFromCpuinfo) {
    file("/proc/cpuinfo", kX86Cpuinfo);
    EXPECT_EQ(detectCpuName(), "Example(R) CPU 9000 @ 3.10GHz");
    EXPECT_EQ(detectManufacturer(), "GenuineIntel");
}

TEST_F(DetectionTest, ArmProcessorIsNamedByImplementerAndPart) {
    file("/proc/cpuinfo", kArmCpuinfo);
    EXPECT_EQ(detectCpuName(), "ARM Neoverse-N1");
    EXPECT_EQ(detectManufacturer(), "ARM");
    file("/proc/cpuinfo", "CPU implementer\t: 0x61\nCPU part\t: 0x999\n");
    EXPECT_EQ(detectCpuName(), "Apple 0x999");  // unknown part: its code
}

TEST_F(DetectionTest, FailedQueriesGiveTheDefaults) {
    // An empty root: no /proc, /sys or /etc at all.
    EXPECT_EQ(detectModel(), "");
    EXPECT_EQ(detectCpuName(), "");
    EXPECT_EQ(detectManufacturer(), "Apple");
    EXPECT_EQ(detectMemory(), 0u);
    EXPECT_EQ(detectCpuCores(), 1);
    EXPECT_EQ(detectCpuSockets(), 1);
    EXPECT_EQ(detectOS(), "");
    EXPECT_EQ(detectKernel(), "");
    EXPECT_EQ(detectCpuFrequency(), 0);
    EXPECT_EQ(isTranslated(), 0);
}

TEST_F(DetectionTest, ModelFromFirmwareTableOrDeviceTree) {
    file("/proc/device-tree/model", std::string("Example Board Rev 1.2\0", 22));
    EXPECT_EQ(detectModel(), "Example Board Rev 1.2");
    file("/sys/class/dmi/id/product_name", "Example Workstation 7\n");
    EXPECT_EQ(detectModel(), "Example Workstation 7");  // firmware table first
}

TEST_F(DetectionTest, StringLongerThanTheBufferFailsTheQuery) {
    file("/sys/class/dmi/id/product_name", std::string(255, 'x'));
    EXPECT_EQ(detectModel(), std::string(255, 'x'));  // 255 + NUL fits
    file("/sys/class/dmi/id/product_name", std::string(256, 'x'));
    EXPECT_EQ(detectModel(), "");
}

TEST_F(DetectionTest, MemoryIsWholeMebibytesRoundedDown) {
    file("/proc/meminfo", "MemTotal:       16777216 kB\nMemFree:         1000 kB\n");
    EXPECT_EQ(detectMemory(), 16384u);  // 17,179,869,184 bytes
    file("/proc/meminfo", "MemTotal:       16777215 kB\n");
    EXPECT_EQ(detectMemory(), 16383u);
}

TEST_F(DetectionTest, CoresAreDistinctPackageCorePairsAndSocketsDistinctPackages) {
    topology({{0, 0}, {0, 0}, {0, 1}, {0, 1}, {1, 0}, {1, 0}, {1, 1}, {1, 1}});
    EXPECT_EQ(detectCpuCores(), 4);
    EXPECT_EQ(detectCpuSockets(), 2);
    topology({{0, 0}, {0, 1}, {0, 2}});
    EXPECT_EQ(detectCpuCores(), 3);
    EXPECT_EQ(detectCpuSockets(), 1);
}

TEST_F(DetectionTest, FrequencyWithoutAFrequencyDriverIsTheFirstRoundedCpuMhz) {
    file("/proc/cpuinfo", kX86Cpuinfo);
    EXPECT_EQ(detectCpuFrequency(), 2600);
}

TEST_F(DetectionTest, MixedCoresReportTheFastestOnlineCoresNameAndClock) {
    // Four little cores first, as such machines number them, then three
    // middle cores and one big core.
    std::string cpuinfo;
    const struct { const char* part; int kilohertz; } cores[] = {
        {"0xd05", 1800000}, {"0xd05", 1800000}, {"0xd05", 1800000}, {"0xd05", 1800000},
        {"0xd41", 2400000}, {"0xd41", 2400000}, {"0xd41", 2400000}, {"0xd44", 3000000}};
    for (int cpu = 0; cpu < 8; ++cpu) {
        cpuinfo += "processor\t: " + std::to_string(cpu) +
                   "\nBogoMIPS\t: 48.00\nFeatures\t: fp asimd\nCPU implementer\t: 0x41\n"
                   "CPU architecture: 8\nCPU variant\t: 0x1\nCPU part\t: " + cores[cpu].part +
                   "\nCPU revision\t: 0\n\n";
        maximumClock(cpu, cores[cpu].kilohertz);
    }
    file("/proc/cpuinfo", cpuinfo);
    file("/sys/devices/system/cpu/online", "0-7\n");
    EXPECT_EQ(detectCpuName(), "ARM Cortex-X1");
    EXPECT_EQ(detectCpuFrequency(), 3000);
    file("/sys/devices/system/cpu/online", "0-6\n");  // the big core taken offline
    EXPECT_EQ(detectCpuName(), "ARM Cortex-A78");
    EXPECT_EQ(detectCpuFrequency(), 2400);
    file("/sys/devices/system/cpu/online", "0-3\n");
    EXPECT_EQ(detectCpuName(), "ARM Cortex-A55");
    EXPECT_EQ(detectCpuFrequency(), 1800);
}

TEST_F(DetectionTest, AppleM1KeepsItsFixedFrequency) {
    file("/proc/cpuinfo", "model name\t: Apple M1\n");
    file("/sys/devices/system/cpu/online", "0\n");
    maximumClock(0, 2064000);
    EXPECT_EQ(detectCpuFrequency(), 3200);
    file("/proc/cpuinfo", "model name\t: Apple M1 Pro\n");
    EXPECT_EQ(detectCpuFrequency(), 2064);  // only the exact name is fixed
}

TEST_F(DetectionTest, OperatingSystemIsThePrettyNameOfEtcElseUsrLibUnquoted) {
    const struct {
        const char* etc;     // /etc/os-release, null: missing
        const char* usrLib;  // /usr/lib/os-release, null: missing
        const char* expected;
    } cases[] = {
        {"NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n",
         "PRETTY_NAME=\"Vendor Copy\"\n", "Debian GNU/Linux 12 (bookworm)"},
        {nullptr, "ID=example\nPRETTY_NAME=\"Vendor Copy 1\"\n", "Vendor Copy 1"},
        {"NAME=Example\n# PRETTY_NAME=\"Commented Out\"\n", "PRETTY_NAME='Vendor Copy 2'\n", "Vendor Copy 2"},
        {"PRETTY_NAME=\"\"\n", "PRETTY_NAME=Vendor3\n", "Vendor3"},
        {"PRETTY_NAME=\"Open quote\n", "PRETTY_NAME=\"Vendor 4\"\n", "Vendor 4"},
        {"PRETTY_NAME=\"Escaped \\\"x\\\" 2\"\n", nullptr, "Escaped \"x\" 2"},
        {"PRETTY_NAME=\"Dollar \\$x, tick \\`, slash \\\\, other \\n\"\n", nullptr,
         "Dollar $x, tick `, slash \\, other \\n"},
        {"PRETTY_NAME='Single \\\"raw\\\" $x'\n", nullptr, "Single \\\"raw\\\" $x"},
        {"PRETTY_NAME=Unquoted\\ name\\\"s\n", nullptr, "Unquoted name\"s"},
        {"PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n", nullptr, "Second"},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(root_.path() / "etc/os-release");
        std::filesystem::remove(root_.path() / "usr/lib/os-release");
        if (c.etc != nullptr) file("/etc/os-release", c.etc);
        if (c.usrLib != nullptr) file("/usr/lib/os-release", c.usrLib);
        EXPECT_EQ(detectOS(), c.expected) << (c.etc != nullptr ? c.etc : "(no /etc/os-release)");
    }
}

TEST_F(DetectionTest, KernelJoinsTypeAndReleaseWhereEachAnswers) {
    file("/proc/sys/kernel/ostype", "Linux\n");
    file("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    EXPECT_EQ(detectKernel(), "Linux 6.1.0-18-amd64");
    std::filesystem::remove(root_.path() / "proc/sys/kernel/ostype");
    EXPECT_EQ(detectKernel(), " 6.1.0-18-amd64");
    file("/proc/sys/kernel/ostype", "Linux\n");
    std::filesystem::remove(root_.path() / "proc/sys/kernel/osrelease");
    EXPECT_EQ(detectKernel(), "Linux");
}

TEST_F(DetectionTest, TranslationQueryMissingMeansNativeOtherErrorsMeanTranslated) {
    EXPECT_EQ(isTranslated(), 0);
    platform::failNameForTesting("sysctl.proc_translated", EPERM);
    EXPECT_EQ(isTranslated(), -1);
    Baseline record;
    initBaseline(&record);
    EXPECT_EQ(record.translated, 1);
}

TEST_F(DetectionTest, InitialisationFillsEachFieldFromItsOwnDetectionAndLogsThemInOrder) {
    // Every count, figure and string differs from every other and from the
    // record's defaults, so a field filled from the wrong source shows.
    file("/sys/class/dmi/id/product_name", "Example Workstation 7\n");
    file("/proc/cpuinfo", "processor\t: 0\nvendor_id\t: GenuineExample\nmodel name\t: Example(R) CPU 9000\n");
    file("/etc/os-release", "PRETTY_NAME=\"Example Linux 3 (test)\"\n");
    file("/proc/sys/kernel/ostype", "Linux\n");
    file("/proc/sys/kernel/osrelease", "6.1.0-18-amd64\n");
    file("/proc/meminfo", "MemTotal:       25165824 kB\n");  // 24576 MiB
    std::vector<std::pair<int, int>> cpus;  // 4 packages x 2 cores x 2 threads
    for (int cpu = 0; cpu < 16; ++cpu) {
        cpus.push_back({cpu / 4, cpu / 2 % 2});
        maximumClock(cpu, cpu == 5 ? 3700000 : 2200000);
    }
    topology(cpus);
    ScopedAffinity threeProcessors(3);  // logical processors: the usable ones, not the topology's
    utsname names;
    ASSERT_EQ(uname(&names), 0);
    vxtest::ScopedWorkDir logDir;
    vxtest::ScopedDebugLogging logging;
    Baseline record;
    const std::uint64_t before = getTimeStamp();
    initBaseline(&record);
    EXPECT_GE(record.timeStamp, before);
    EXPECT_LE(record.timeStamp, getTimeStamp());

    const std::vector<std::string> expected = {
        "Velocitrix Version: 10.2.1000",
        "Detect Model", "Example Workstation 7",
        "Detect CPU Name", "Example(R) CPU 9000",
        "Detect Manufacturer", "GenuineExample",
        "Detect OS", "Example Linux 3 (test)",
        "Detect Kernel", "Linux 6.1.0-18-amd64",
        "Detect Architecture", names.machine,
        "Detect Memory", "25769803776",
        "Detect CPU Frequency", "Detect CPU Name", "Example(R) CPU 9000", "3700",
        "Detect cpu sockets", "4",
        "Detect cpu cores", "8",
    };
    EXPECT_EQ(vxtest::debugMessages(), expected);
    EXPECT_EQ(record.device, "Example Workstation 7");
    EXPECT_EQ(record.cpuName, "Example(R) CPU 9000");
    EXPECT_EQ(record.architecture, names.machine);
    EXPECT_EQ(record.osName, "Example Linux 3 (test)");
    EXPECT_EQ(record.kernel, "Linux 6.1.0-18-amd64");
    EXPECT_EQ(record.manufacturer, "GenuineExample");
    EXPECT_EQ(record.memory, 24576);
    EXPECT_EQ(record.cpuFrequency, 3700);
    EXPECT_EQ(record.numSockets, 4);
    EXPECT_EQ(record.numCores, 8);
    EXPECT_EQ(record.numLogicals, threeProcessors.count());
    EXPECT_EQ(record.numTestProcesses, threeProcessors.count());
    EXPECT_EQ(record.translated, 0);
}

TEST(TimeStampTest, DecimalDigitsReadAsUtcDateAndTime) {
    EXPECT_EQ(timeStampOf(121, 5, 15, 9, 30, 7), 20210615093007u);
    EXPECT_EQ(timeStampOf(121, 11, 31, 23, 59, 59), 20211231235959u);
    EXPECT_EQ(timeStampOf(122, 0, 1, 0, 0, 0), 20220101000000u);
}

TEST(TimeStampTest, NowMatchesTheCalendarClock) {
    const std::time_t before = std::time(nullptr);
    const std::uint64_t stamp = getTimeStamp();
    const std::time_t after = std::time(nullptr);
    auto stampOf = [](std::time_t t) {
        std::tm utc{};
        gmtime_r(&t, &utc);
        return timeStampOf(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    };
    EXPECT_GE(stamp, stampOf(before));
    EXPECT_LE(stamp, stampOf(after));
}

TEST(PlatformTest, QueryShapeReportsSizesAndErrors) {
    std::int32_t value = 0;
    std::size_t length = 2;  // too small for a 32-bit value
    errno = 0;
    EXPECT_EQ(platform::sysctlbyname("hw.optional.neon", &value, &length, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOMEM);
    length = sizeof value;
    EXPECT_EQ(platform::sysctlbyname("no.such.name", &value, &length, nullptr, 0), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(platform::sysctlbyname("hw.optional.neon", &value, &length, &value, sizeof value), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(platform::sysctlbyname("hw.optional.neon", &value, &length, nullptr, 4), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(platform::sysctlbyname(nullptr, &value, &length, nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(platform::sysctlbyname("hw.optional.neon", &value, nullptr, nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
    std::size_t needed = 0;
    ASSERT_EQ(platform::sysctlbyname("hw.machine", nullptr, &needed, nullptr, 0), 0);
    utsname names;
    uname(&names);
    EXPECT_EQ(needed, std::strlen(names.machine) + 1);
}
