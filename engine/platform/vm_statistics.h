#pragma once

#include <cstdint>

namespace platform {

// The system's virtual-memory page counts, in pages of getpagesize() bytes.
// Counts that would exceed 32 bits read as 0xFFFFFFFF.
//   freeCount      pages nobody uses (MemFree)
//   inactiveCount  pages in use that the kernel would hand over on demand
//                  (caches and reclaimable memory): MemAvailable - MemFree,
//                  so that free + inactive is the kernel's own estimate of
//                  the memory a program could still be given
struct VmStatistics64 {
    std::uint32_t freeCount = 0;
    std::uint32_t inactiveCount = 0;
};

// Reads the current counts from /proc/meminfo below the system root (see
// setSystemRootForTesting in sysctl.h). False, with record untouched, when
// the file cannot be read or lacks MemFree or MemAvailable.
bool vmStatistics64(VmStatistics64& record);

}  // namespace platform
