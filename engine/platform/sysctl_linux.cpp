// Linux answers for the named system values the engine queries. Values come
// from /proc, /sys, /etc/os-release, uname and the processor itself; every
// file is read below the system root so that tests can supply their own.

#include "platform/sysctl.h"

#include <sched.h>
#include <sys/utsname.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

namespace platform {
namespace {

std::string systemRoot;  // empty: the real root
std::map<std::string, int> failingNames;  // test seam: name -> errno

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Online processors, from a list such as "0-3,8-11".
std::vector<int> onlineCpus() {
    std::vector<int> cpus;
    std::string list;
    if (!readSystemFile("/sys/devices/system/cpu/online", list)) return cpus;
    std::istringstream ranges(trim(list));
    std::string range;
    while (std::getline(ranges, range, ',')) {
        const auto dash = range.find('-');
        const int first = std::atoi(range.substr(0, dash).c_str());
        const int last = dash == std::string::npos ? first : std::atoi(range.substr(dash + 1).c_str());
        for (int cpu = first; cpu <= last; ++cpu) cpus.push_back(cpu);
    }
    return cpus;
}

// cpufreq's maximum clock of one processor, in kHz; absent without a
// frequency driver.
std::optional<std::uint64_t> maximumKilohertz(int cpu) {
    std::string text;
    const std::string path =
        "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cpufreq/cpuinfo_max_freq";
    if (!readSystemFile(path, text)) return std::nullopt;
    const unsigned long long kilohertz = std::strtoull(trim(text).c_str(), nullptr, 10);
    if (kilohertz == 0) return std::nullopt;
    return kilohertz;
}

// The online processor with the highest cpufreq maximum (the lowest-numbered
// of equals) and that maximum in kHz. Big and little cores differ in their
// maximum; processor 0 is usually a little one. Absent where no processor
// publishes a maximum.
struct FastestCpu {
    int cpu;
    std::uint64_t kilohertz;
};

std::optional<FastestCpu> fastestOnlineCpu() {
    std::optional<FastestCpu> fastest;
    for (int cpu : onlineCpus()) {
        const auto kilohertz = maximumKilohertz(cpu);
        if (kilohertz && (!fastest || *kilohertz > fastest->kilohertz)) fastest = FastestCpu{cpu, *kilohertz};
    }
    return fastest;
}

// /proc/cpuinfo as its blank-line separated sections of "key : value"
// lines: one section per processor (plus, on some kernels, a closing section
// for the whole machine).
using CpuinfoSection = std::map<std::string, std::string>;

std::vector<CpuinfoSection> cpuinfoSections() {
    std::vector<CpuinfoSection> sections;
    std::string cpuinfo;
    if (!readSystemFile("/proc/cpuinfo", cpuinfo)) return sections;
    std::istringstream lines(cpuinfo);
    std::string line;
    bool open = false;
    while (std::getline(lines, line)) {
        if (trim(line).empty()) {
            open = false;
            continue;
        }
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (!open) sections.emplace_back();
        open = true;
        sections.back().emplace(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    return sections;
}

// The value of key in the section of the fastest online processor (processors
// with two kinds of cores list each core's own implementer and part), else in
// the first section that has the key.
std::optional<std::string> cpuinfoField(const std::string& key) {
    const auto sections = cpuinfoSections();
    if (const auto fastest = fastestOnlineCpu()) {
        const std::string number = std::to_string(fastest->cpu);
        for (const auto& section : sections) {
            const auto processor = section.find("processor");
            if (processor == section.end() || processor->second != number) continue;
            if (const auto value = section.find(key); value != section.end()) return value->second;
        }
    }
    for (const auto& section : sections) {
        if (const auto value = section.find(key); value != section.end()) return value->second;
    }
    return std::nullopt;
}

// Value of "key:" in /proc/meminfo, in kB.
std::optional<std::uint64_t> meminfoKilobytes(const std::string& key) {
    std::string meminfo;
    if (!readSystemFile("/proc/meminfo", meminfo)) return std::nullopt;
    std::istringstream lines(meminfo);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size() + 1, key + ":") != 0) continue;
        char* end = nullptr;
        const char* digits = line.c_str() + key.size() + 1;
        const unsigned long long value = std::strtoull(digits, &end, 10);
        if (end == digits) return std::nullopt;
        return value;
    }
    return std::nullopt;
}

std::optional<long> topologyValue(int cpu, const char* item) {
    std::string text;
    const std::string path = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/" + item;
    if (!readSystemFile(path, text)) return std::nullopt;
    text = trim(text);
    if (text.empty()) return std::nullopt;
    return std::strtol(text.c_str(), nullptr, 10);
}

std::optional<std::int32_t> physicalCoreCount() {
    std::set<std::pair<long, long>> cores;
    for (int cpu : onlineCpus()) {
        const auto package = topologyValue(cpu, "physical_package_id");
        const auto core = topologyValue(cpu, "core_id");
        if (!package || !core) return std::nullopt;
        cores.insert({*package, *core});
    }
    if (cores.empty()) return std::nullopt;
    return static_cast<std::int32_t>(cores.size());
}

std::optional<std::int32_t> packageCount() {
    std::set<long> packages;
    for (int cpu : onlineCpus()) {
        const auto package = topologyValue(cpu, "physical_package_id");
        if (!package) return std::nullopt;
        packages.insert(*package);
    }
    if (packages.empty()) return std::nullopt;
    return static_cast<std::int32_t>(packages.size());
}

// ARM processors identify themselves by implementer and part codes; these
// are the names they are known by.
struct ArmPart {
    unsigned implementer;
    unsigned part;
    const char* name;
};
constexpr ArmPart kArmParts[] = {
    {0x41, 0xd03, "Cortex-A53"},  {0x41, 0xd04, "Cortex-A35"},   {0x41, 0xd05, "Cortex-A55"},
    {0x41, 0xd07, "Cortex-A57"},  {0x41, 0xd08, "Cortex-A72"},   {0x41, 0xd09, "Cortex-A73"},
    {0x41, 0xd0a, "Cortex-A75"},  {0x41, 0xd0b, "Cortex-A76"},   {0x41, 0xd0c, "Neoverse-N1"},
    {0x41, 0xd0d, "Cortex-A77"},  {0x41, 0xd40, "Neoverse-V1"},  {0x41, 0xd41, "Cortex-A78"},
    {0x41, 0xd44, "Cortex-X1"},   {0x41, 0xd46, "Cortex-A510"},  {0x41, 0xd47, "Cortex-A710"},
    {0x41, 0xd48, "Cortex-X2"},   {0x41, 0xd49, "Neoverse-N2"},  {0x41, 0xd4b, "Cortex-A78C"},
    {0x41, 0xd4d, "Cortex-A715"}, {0x41, 0xd4e, "Cortex-X3"},    {0x41, 0xd4f, "Neoverse-V2"},
    {0x41, 0xd80, "Cortex-A520"}, {0x41, 0xd81, "Cortex-A720"},  {0x41, 0xd82, "Cortex-X4"},
    {0x41, 0xd8e, "Neoverse-N3"}, {0x61, 0x022, "Icestorm-M1"},  {0x61, 0x023, "Firestorm-M1"},
    {0x61, 0x024, "Icestorm-M1-Pro"}, {0x61, 0x025, "Firestorm-M1-Pro"},
    {0x61, 0x028, "Icestorm-M1-Max"}, {0x61, 0x029, "Firestorm-M1-Max"},
    {0x61, 0x032, "Blizzard-M2"}, {0x61, 0x033, "Avalanche-M2"}, {0xc0, 0xac3, "Ampere-1"},
    {0xc0, 0xac4, "Ampere-1a"},   {0x51, 0x001, "Oryon"},        {0x51, 0x800, "Kryo-2XX-Gold"},
    {0x51, 0x801, "Kryo-2XX-Silver"}, {0x51, 0x804, "Kryo-4XX-Gold"}, {0x51, 0x805, "Kryo-4XX-Silver"},
    {0x46, 0x001, "A64FX"},       {0x48, 0xd01, "TaiShan-v110"},
};

struct ArmImplementer {
    unsigned code;
    const char* name;
};
constexpr ArmImplementer kArmImplementers[] = {
    {0x41, "ARM"},      {0x42, "Broadcom"}, {0x43, "Cavium"}, {0x46, "Fujitsu"},
    {0x48, "HiSilicon"}, {0x4e, "NVIDIA"},  {0x50, "APM"},    {0x51, "Qualcomm"},
    {0x53, "Samsung"},  {0x56, "Marvell"},  {0x61, "Apple"},  {0x69, "Intel"},
    {0x6d, "Microsoft"}, {0xc0, "Ampere"},
};

std::optional<unsigned> cpuinfoCode(const char* key) {
    const auto text = cpuinfoField(key);
    if (!text || text->empty()) return std::nullopt;
    return static_cast<unsigned>(std::strtoul(text->c_str(), nullptr, 0));
}

std::optional<std::string> armVendor() {
    const auto implementer = cpuinfoCode("CPU implementer");
    if (!implementer) return std::nullopt;
    for (const auto& known : kArmImplementers) {
        if (known.code == *implementer) return std::string(known.name);
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%02x", *implementer);
    return std::string(text);
}

std::optional<std::string> armModel() {
    const auto implementer = cpuinfoCode("CPU implementer");
    const auto part = cpuinfoCode("CPU part");
    if (!implementer || !part) return std::nullopt;
    for (const auto& known : kArmParts) {
        if (known.implementer == *implementer && known.part == *part) return std::string(known.name);
    }
    char text[32];
    std::snprintf(text, sizeof text, "0x%03x", *part);
    return std::string(text);
}

std::optional<std::string> brandString() {
    if (auto name = cpuinfoField("model name"); name && !name->empty()) return name;
    const auto vendor = armVendor();
    const auto model = armModel();
    if (vendor && model) return *vendor + " " + *model;
    return std::nullopt;
}

std::optional<std::string> vendorString() {
    if (auto vendor = cpuinfoField("vendor_id"); vendor && !vendor->empty()) return vendor;
    return armVendor();
}

std::optional<std::string> machineModel() {
    std::string text;
    if (readSystemFile("/sys/class/dmi/id/product_name", text)) {
        text = trim(text);
        if (!text.empty()) return text;
    }
    if (readSystemFile("/proc/device-tree/model", text)) {
        text = trim(std::string(text.c_str()));  // NUL-terminated in the tree
        if (!text.empty()) return text;
    }
    return std::nullopt;
}

std::optional<std::string> kernelFile(const char* name) {
    std::string text;
    if (!readSystemFile(std::string("/proc/sys/kernel/") + name, text)) return std::nullopt;
    text = trim(text);
    if (text.empty()) return std::nullopt;
    return text;
}

// One value of an os-release file, unquoted and unescaped as a shell would:
// inside double quotes a backslash escapes only $ ` " and \ (and is kept before
// any other character), inside single quotes nothing is special, outside
// quotes a backslash escapes any character. Absent when a quote is left open.
std::optional<std::string> osReleaseValue(const std::string& text) {
    std::string value;
    char quote = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'') {
            if (c == '\'') {
                quote = 0;
            } else {
                value += c;
            }
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < text.size() && std::strchr("$`\"\\", text[i + 1]) != nullptr) {
                value += text[++i];
            } else {
                value += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '\\' && i + 1 < text.size()) {
            value += text[++i];
        } else {
            value += c;
        }
    }
    if (quote != 0) return std::nullopt;
    return value;
}

// PRETTY_NAME of one os-release file (the last assignment counts, as when the
// file is sourced); absent when the file is missing or names none.
std::optional<std::string> prettyNameIn(const std::string& path) {
    std::string release;
    if (!readSystemFile(path, release)) return std::nullopt;
    std::optional<std::string> prettyName;
    std::istringstream lines(release);
    std::string line;
    while (std::getline(lines, line)) {
        line = trim(line);
        if (line.compare(0, 12, "PRETTY_NAME=") != 0) continue;  // other keys, comments
        prettyName = osReleaseValue(line.substr(12));
    }
    if (prettyName && prettyName->empty()) return std::nullopt;
    return prettyName;
}

// The distribution's name: /etc/os-release, and where that is missing or
// names none, the vendor copy in /usr/lib.
std::optional<std::string> osPrettyName() {
    if (auto name = prettyNameIn("/etc/os-release")) return name;
    return prettyNameIn("/usr/lib/os-release");
}

std::optional<std::string> unameMachine() {
    utsname names;
    if (uname(&names) != 0) return std::nullopt;
    return std::string(names.machine);
}

// The machine's maximum clock in Hz: the highest cpufreq maximum over the
// online processors where the kernel has a frequency driver, else the clock
// /proc/cpuinfo reports.
std::optional<std::uint64_t> maximumFrequencyHz() {
    if (const auto fastest = fastestOnlineCpu()) return fastest->kilohertz * 1000ULL;
    if (auto mhz = cpuinfoField("cpu MHz")) {
        const double megahertz = std::strtod(mhz->c_str(), nullptr);
        if (megahertz > 0.0) return static_cast<std::uint64_t>(megahertz * 1e6 + 0.5);
    }
    return std::nullopt;
}

// Processor features for the matrix test's probe. The NEON kernel runs
// natively on aarch64 with Advanced SIMD, and on x86-64 as the same
// intrinsics compiled to SSE2, which every x86-64 processor has.
#if defined(__x86_64__) || defined(__i386__)
// The register state the operating system saves (XCR0); call only when
// OSXSAVE is set.
std::uint64_t enabledRegisterState() {
    std::uint32_t low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<std::uint64_t>(high) << 32) | low;
}
#endif

std::optional<std::int32_t> optionalFeature(const std::string& name) {
#if defined(__x86_64__) || defined(__i386__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return std::nullopt;
    const std::uint64_t saved = (ecx & bit_OSXSAVE) != 0 ? enabledRegisterState() : 0;
    const bool osSavesAvx = (saved & 0x6) == 0x6;  // XMM and YMM state
    if (name == "hw.optional.neon") return (edx & bit_SSE2) ? 1 : 0;
    if (name == "hw.optional.sse") return (edx & bit_SSE) ? 1 : 0;
    if (name == "hw.optional.avx1_0") return ((ecx & bit_AVX) && osSavesAvx) ? 1 : 0;
    if (name == "hw.optional.fma") return ((ecx & bit_FMA) && osSavesAvx) ? 1 : 0;
    if (name == "hw.optional.avx512f") {
        unsigned a7 = 0, b7 = 0, c7 = 0, d7 = 0;
        if (!__get_cpuid_count(7, 0, &a7, &b7, &c7, &d7)) return 0;
        const bool osSavesAvx512 = (saved & 0xe6) == 0xe6;  // plus opmask and ZMM state
        return ((b7 & bit_AVX512F) && osSavesAvx512) ? 1 : 0;
    }
    return std::nullopt;
#elif defined(__aarch64__)
    if (name == "hw.optional.neon") return (getauxval(AT_HWCAP) & HWCAP_ASIMD) ? 1 : 0;
    return std::nullopt;
#else
    (void)name;
    return std::nullopt;
#endif
}

int fail(int error) {
    errno = error;
    return -1;
}

int answerString(const std::optional<std::string>& value, void* out, std::size_t* length) {
    if (!value) return fail(ENOENT);
    const std::size_t needed = value->size() + 1;
    if (out == nullptr) {
        *length = needed;
        return 0;
    }
    if (*length < needed) return fail(ENOMEM);
    std::memcpy(out, value->c_str(), needed);
    *length = needed;
    return 0;
}

template <typename T>
int answerNumber(const std::optional<T>& value, void* out, std::size_t* length) {
    if (!value) return fail(ENOENT);
    if (out == nullptr) {
        *length = sizeof(T);
        return 0;
    }
    if (*length < sizeof(T)) return fail(ENOMEM);
    const T number = *value;
    std::memcpy(out, &number, sizeof(T));
    *length = sizeof(T);
    return 0;
}

}  // namespace

bool readSystemFile(const std::string& path, std::string& contents) {
    std::ifstream file(systemRoot + path, std::ios::in | std::ios::binary);
    if (!file) return false;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return false;
    contents = text.str();
    return true;
}

void setSystemRootForTesting(const std::string& root) { systemRoot = root; }

void failNameForTesting(const std::string& name, int error) {
    if (error == 0) {
        failingNames.erase(name);
    } else {
        failingNames[name] = error;
    }
}

int hardwareThreads() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof mask, &mask) == 0) {
        const int usable = CPU_COUNT(&mask);
        if (usable > 0) return usable;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

int sysctlbyname(const char* name, void* old_value, std::size_t* old_length,
                 const void* new_value, std::size_t new_length) {
    if (name == nullptr || old_length == nullptr) return fail(EINVAL);
    if (new_value != nullptr || new_length != 0) return fail(EPERM);
    const std::string key(name);
    if (const auto failing = failingNames.find(key); failing != failingNames.end()) {
        return fail(failing->second);
    }

    if (key == "hw.model") return answerString(machineModel(), old_value, old_length);
    if (key == "machdep.cpu.brand_string") return answerString(brandString(), old_value, old_length);
    if (key == "machdep.cpu.vendor") return answerString(vendorString(), old_value, old_length);
    if (key == "hw.machine") return answerString(unameMachine(), old_value, old_length);
    if (key == "kern.ostype") return answerString(kernelFile("ostype"), old_value, old_length);
    if (key == "kern.osrelease") return answerString(kernelFile("osrelease"), old_value, old_length);
    if (key == "kern.osproductversion") return answerString(osPrettyName(), old_value, old_length);
    if (key == "hw.physicalcpu") return answerNumber(physicalCoreCount(), old_value, old_length);
    if (key == "hw.packages") return answerNumber(packageCount(), old_value, old_length);
    if (key == "hw.memsize") {
        const auto kilobytes = meminfoKilobytes("MemTotal");
        std::optional<std::uint64_t> bytes;
        if (kilobytes) bytes = *kilobytes * 1024ULL;
        return answerNumber(bytes, old_value, old_length);
    }
    if (key == "hw.cpufrequency_max") return answerNumber(maximumFrequencyHz(), old_value, old_length);
    if (key.compare(0, 12, "hw.optional.") == 0) {
        return answerNumber(optionalFeature(key), old_value, old_length);
    }
    // Everything else, "sysctl.proc_translated" among it: there is no
    // binary translation layer to ask on Linux.
    return fail(ENOENT);
}

}  // namespace platform
