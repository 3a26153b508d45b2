#include "platform/vm_statistics.h"

#include <unistd.h>

#include <cstdio>
#include <limits>
#include <sstream>
#include <string>

#include "platform/sysctl.h"

namespace platform {
namespace {

// The value of a "Name:   123 kB" line of /proc/meminfo, in bytes.
bool meminfoBytes(const std::string& contents, const std::string& name, std::uint64_t& bytes) {
    std::istringstream lines(contents);
    std::string line;
    const std::string label = name + ":";
    while (std::getline(lines, line)) {
        if (line.compare(0, label.size(), label) != 0) continue;
        unsigned long long value = 0;
        char unit[8] = {};
        const int fields = std::sscanf(line.c_str() + label.size(), " %llu %7s", &value, unit);
        if (fields < 1) return false;
        if (fields == 2 && std::string(unit) == "kB") {
            if (value > std::numeric_limits<std::uint64_t>::max() / 1024) return false;
            value *= 1024;
        } else if (fields == 2) {
            return false;
        }
        bytes = value;
        return true;
    }
    return false;
}

std::uint32_t pagesOf(std::uint64_t bytes, std::uint64_t pageSize) {
    const std::uint64_t pages = bytes / pageSize;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(pages > kMax ? kMax : pages);
}

}  // namespace

bool vmStatistics64(VmStatistics64& record) {
    std::string contents;
    if (!readSystemFile("/proc/meminfo", contents)) return false;
    std::uint64_t freeBytes = 0;
    std::uint64_t availableBytes = 0;
    if (!meminfoBytes(contents, "MemFree", freeBytes) ||
        !meminfoBytes(contents, "MemAvailable", availableBytes)) {
        return false;
    }
    const int pageSize = getpagesize();
    if (pageSize <= 0) return false;
    // The estimate can dip below MemFree (it holds back reserves); nothing
    // is reclaimable then.
    const std::uint64_t reclaimable = availableBytes > freeBytes ? availableBytes - freeBytes : 0;
    record.freeCount = pagesOf(freeBytes, static_cast<std::uint64_t>(pageSize));
    record.inactiveCount = pagesOf(reclaimable, static_cast<std::uint64_t>(pageSize));
    return true;
}

}  // namespace platform
