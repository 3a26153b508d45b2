#pragma once

#include <cstddef>
#include <string>

// Our stand-in for the BSD named system values on Linux. Same calling shape:
// the value is copied into old_value (old_length holds the buffer size on
// entry and the value's size on return); returns 0 on success, -1 with errno
// set on failure (ENOENT: unknown name or not available here; ENOMEM: buffer
// too small). Setting values (new_value) is not supported (EPERM).
//
// Names answered:
//   string: "hw.model", "machdep.cpu.brand_string", "machdep.cpu.vendor",
//           "hw.machine", "kern.ostype", "kern.osrelease",
//           "kern.osproductversion" (the distribution's PRETTY_NAME, from
//           /etc/os-release or else /usr/lib/os-release)
//           On processors with two kinds of cores the processor's name and
//           vendor are those of the online processor with the highest
//           maximum clock.
//   int32:  "hw.physicalcpu", "hw.packages", "hw.optional.neon",
//           "hw.optional.sse", "hw.optional.avx1_0", "hw.optional.fma",
//           "hw.optional.avx512f"
//   uint64: "hw.cpufrequency_max" (the highest maximum clock of the online
//           processors, Hz)
//   uint64: "hw.memsize" (bytes)
//   "sysctl.proc_translated" never exists here (ENOENT).
namespace platform {

int sysctlbyname(const char* name, void* old_value, std::size_t* old_length,
                 const void* new_value, std::size_t new_length);

// Processors this process may run on (its CPU affinity, what nproc prints).
int hardwareThreads();

// Reads a whole file below the system root ("/" unless a test moved it).
bool readSystemFile(const std::string& path, std::string& contents);

// Test seam: answer every file-based query from a copy of /proc, /sys and
// /etc below root. An empty root restores the real system.
void setSystemRootForTesting(const std::string& root);

// Test seam: make queries of name fail with error (0 removes the failure).
void failNameForTesting(const std::string& name, int error);

}  // namespace platform
