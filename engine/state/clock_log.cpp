#include "state/clock_log.h"

#include <time.h>

#include <cstdio>

std::uint8_t debugLogging = 0;

std::int64_t nowNanoseconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void debugLog(const std::string& message) {
    const double seconds = static_cast<double>(nowNanoseconds()) / 1000000000.0;
    // Append mode and a single write per line, so that concurrent workers
    // appending to the same file do not interleave within a line.
    std::FILE* file = std::fopen("./debug.log", "a");
    if (file == nullptr) return;
    char stamp[64];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%.6f: ", seconds);
    std::string line;
    line.reserve(static_cast<std::size_t>(stampLength) + message.size() + 1);
    line.append(stamp, static_cast<std::size_t>(stampLength));
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}
