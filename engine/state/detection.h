#pragma once

#include <cstdint>
#include <string>

// System detection. Each function queries one named system value through the
// platform layer and returns it, or its fixed default when the query fails.
// With debugLogging set, the labelled ones log their label before the query
// and the value after it. None of them touches a Baseline.

std::string detectModel();            // "hw.model"; default ""
std::string detectCpuName();          // "machdep.cpu.brand_string"; default ""
std::string detectManufacturer();     // "machdep.cpu.vendor"; default "Apple"
std::string detectArchitecture();     // "hw.machine"; default ""
std::uint64_t detectMemory();         // "hw.memsize" in whole MiB; default 0
std::int32_t detectCpuFrequency();    // MHz; 0 when the clock is not published
std::int32_t detectCpuCores();        // "hw.physicalcpu"; default 1
std::int32_t detectCpuSockets();      // "hw.packages"; default 1
std::string detectOS();               // distribution name and version; default ""
std::string detectKernel();           // "<ostype> <osrelease>"; default ""
std::uint64_t getTimeStamp();         // UTC now as decimal YYYYMMDDhhmmss
std::int32_t isTranslated();          // 1 translated, 0 native, -1 query error

// The time stamp of a broken-down UTC time (struct tm fields).
std::uint64_t timeStampOf(int yearsSince1900, int monthFrom0, int day, int hour,
                          int minute, int second);
