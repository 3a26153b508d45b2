#pragma once

// A virtual clock for the memory tests' timed loops: time moves only by the
// work the loops hand to their kernels, at fixed costs per word or load, and
// by the available-RAM test's pauses. Figures and deadlines are then exact
// whatever else the machine is doing, and a log shows every step the timed
// part took. Each thread has its own clock and log (the threaded test's
// threads measure their own time).

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "memory/memory_internal.h"

namespace vxtest {

// Costs in picoseconds, and where every thread's clock starts.
struct VirtualCosts {
    std::int64_t readCached = 1000;  // a word, in buffers up to 8 MiB
    std::int64_t readUncached = 2000;
    std::int64_t write = 3000;
    std::int64_t chase[3] = {5000, 7000, 12000};  // a load, in a thread's 1st, 2nd, 3rd+ cycle
    std::int64_t startNanoseconds = 1000000000;
    bool realLoops = true;  // false: the loop seams only count, touching no buffer
};
inline VirtualCosts virtualCosts;

inline thread_local std::int64_t threadPicos = 0;
inline thread_local int threadCycles = 0;
inline thread_local std::vector<std::pair<std::string, int>> threadLog;

// Appends step to the log; a repeat of the last step raises its count.
inline void note(const std::string& step) {
    if (!threadLog.empty() && threadLog.back().first == step) {
        ++threadLog.back().second;
    } else {
        threadLog.emplace_back(step, 1);
    }
}

// The log as "clock", "read 8192 x16385", ...
inline std::vector<std::string> virtualLog() {
    std::vector<std::string> lines;
    for (const auto& [step, count] : threadLog) {
        lines.push_back(count == 1 ? step : step + " x" + std::to_string(count));
    }
    return lines;
}

inline std::int64_t virtualClock() {
    note("clock");
    return virtualCosts.startNanoseconds + threadPicos / 1000;
}

inline void virtualRead(const std::uint64_t* words, std::uint64_t count) {
    if (virtualCosts.realLoops) readQwords(words, count);
    note("read " + std::to_string(count));
    const bool cached = count * 8 <= 8u * 1024 * 1024;
    threadPicos += static_cast<std::int64_t>(count) *
                   (cached ? virtualCosts.readCached : virtualCosts.readUncached);
}

inline void virtualWrite(std::uint64_t* words, std::uint64_t count) {
    if (virtualCosts.realLoops) writeQwords(words, count);
    note("write " + std::to_string(count));
    threadPicos += static_cast<std::int64_t>(count) * virtualCosts.write;
}

inline LatencyNode* virtualChase(LatencyNode* start, std::uint64_t count) {
    LatencyNode* reached = virtualCosts.realLoops ? chasePointers(start, count) : start;
    note("chase " + std::to_string(count));
    threadPicos += static_cast<std::int64_t>(count) * virtualCosts.chase[std::clamp(threadCycles, 1, 3) - 1];
    return reached;
}

inline void virtualPause(unsigned microseconds) {
    note("pause " + std::to_string(microseconds));
    threadPicos += static_cast<std::int64_t>(microseconds) * 1000000;
}

inline void virtualFilled(const std::uint8_t*, std::size_t bytes) {
    note("fill " + std::to_string(bytes));
}

inline void virtualLinked(const LatencyNode*, std::uint64_t count) {
    note("link " + std::to_string(count));
    ++threadCycles;
}

// Installs the virtual clock and loops for its scope, with the calling
// thread's clock at clockStartNanoseconds and an empty log.
class ScopedVirtualClock {
public:
    ScopedVirtualClock() {
        threadPicos = 0;
        threadCycles = 0;
        threadLog.clear();
        setMemoryTestSeamsForTesting({.clock = virtualClock, .readLoop = virtualRead, .writeLoop = virtualWrite,
                                      .chase = virtualChase, .pause = virtualPause, .filled = virtualFilled,
                                      .linked = virtualLinked});
    }
    ~ScopedVirtualClock() {
        setMemoryTestSeamsForTesting({});
        virtualCosts = {};
    }
    ScopedVirtualClock(const ScopedVirtualClock&) = delete;
    ScopedVirtualClock& operator=(const ScopedVirtualClock&) = delete;
};

}  // namespace vxtest
