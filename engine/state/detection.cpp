#include "state/detection.h"

#include <cerrno>
#include <ctime>
#include <string>

#include "platform/sysctl.h"
#include "state/clock_log.h"

namespace {

// Every string query offers the whole buffer; a longer value fails.
constexpr std::size_t kStringBufferBytes = 256;

void logLine(const std::string& text) {
    if (debugLogging) debugLog(text);
}

bool queryString(const char* name, std::string& value) {
    char buffer[kStringBufferBytes] = {};
    std::size_t length = sizeof buffer;
    if (platform::sysctlbyname(name, buffer, &length, nullptr, 0) != 0) return false;
    buffer[kStringBufferBytes - 1] = '\0';
    value = buffer;
    return true;
}

template <typename T>
bool queryNumber(const char* name, T& value) {
    T read = 0;
    std::size_t length = sizeof read;
    if (platform::sysctlbyname(name, &read, &length, nullptr, 0) != 0) return false;
    value = read;
    return true;
}

// Label line, query with default, value line.
std::string detectString(const char* label, const char* name, const char* fallback) {
    logLine(label);
    std::string value = fallback;
    queryString(name, value);
    logLine(value);
    return value;
}

std::int32_t detectInt32(const char* label, const char* name, std::int32_t fallback) {
    logLine(label);
    std::int32_t value = fallback;
    queryNumber(name, value);
    logLine(std::to_string(value));
    return value;
}

}  // namespace

std::string detectModel() { return detectString("Detect Model", "hw.model", ""); }

std::string detectCpuName() {
    return detectString("Detect CPU Name", "machdep.cpu.brand_string", "");
}

std::string detectManufacturer() {
    return detectString("Detect Manufacturer", "machdep.cpu.vendor", "Apple");
}

std::string detectArchitecture() {
    return detectString("Detect Architecture", "hw.machine", "");
}

std::uint64_t detectMemory() {
    logLine("Detect Memory");
    std::uint64_t bytes = 0;
    queryNumber("hw.memsize", bytes);
    logLine(std::to_string(bytes));
    return bytes >> 20;  // whole MiB, rounded down
}

std::int32_t detectCpuFrequency() {
    logLine("Detect CPU Frequency");
    std::int32_t megahertz = 0;
    if (detectCpuName() == "Apple M1") {
        megahertz = 3200;
    } else {
        // Linux publishes the clock: the processor's maximum, in MHz.
        std::uint64_t hertz = 0;
        if (queryNumber("hw.cpufrequency_max", hertz)) {
            megahertz = static_cast<std::int32_t>((hertz + 500000) / 1000000);
        }
    }
    logLine(std::to_string(megahertz));
    return megahertz;
}

std::int32_t detectCpuCores() { return detectInt32("Detect cpu cores", "hw.physicalcpu", 1); }

std::int32_t detectCpuSockets() { return detectInt32("Detect cpu sockets", "hw.packages", 1); }

std::string detectOS() {
    // The distribution's own name and version, e.g. "Debian GNU/Linux 12 (bookworm)".
    return detectString("Detect OS", "kern.osproductversion", "");
}

std::string detectKernel() {
    logLine("Detect Kernel");
    std::string kernel;
    std::string part;
    if (queryString("kern.ostype", part)) kernel += part;
    if (queryString("kern.osrelease", part)) kernel += " " + part;
    logLine(kernel);
    return kernel;
}

std::uint64_t timeStampOf(int yearsSince1900, int monthFrom0, int day, int hour, int minute,
                          int second) {
    std::int64_t stamp = yearsSince1900;
    stamp = stamp * 100 + monthFrom0;
    stamp = stamp * 100 + day;
    stamp = stamp * 100 + hour;
    stamp = stamp * 100 + minute;
    stamp = stamp * 100 + second;
    // Adds 1900 to the year and 1 to the month in the decimal digits.
    return static_cast<std::uint64_t>(stamp + 19000100000000LL);
}

std::uint64_t getTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    return timeStampOf(utc.tm_year, utc.tm_mon, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
}

std::int32_t isTranslated() {
    std::int32_t value = 0;
    std::size_t length = sizeof value;
    if (platform::sysctlbyname("sysctl.proc_translated", &value, &length, nullptr, 0) == -1) {
        return errno == ENOENT ? 0 : -1;
    }
    return value;
}
