// Available RAM: how much physical memory the system could hand to a
// program, sampled every half second for the test duration. Whole MiB.

#include <unistd.h>

#include "memory/memory_internal.h"
#include "platform/vm_statistics.h"
#include "state/clock_log.h"

double meanWholeMebibytes(const std::vector<std::uint64_t>& samples) {
    if (samples.empty()) return 0.0;
    double sum = 0.0;
    for (std::uint64_t bytes : samples) sum += static_cast<double>(bytes >> 20);
    return sum / static_cast<double>(samples.size());
}

double testAvailableRam(std::int32_t seconds) {
    const std::uint64_t pageSize = static_cast<std::uint64_t>(getpagesize());
    std::vector<std::uint64_t> samples;

    auto* const pause = memoryTestSeams().pause;
    const std::int64_t start = memoryTestClock();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000;
    std::int64_t t;
    do {
        platform::VmStatistics64 record;
        if (platform::vmStatistics64(record)) {
            // Widened before the addition: two counts near 2^32 must not wrap.
            const std::uint64_t pages = static_cast<std::uint64_t>(record.freeCount) +
                                        static_cast<std::uint64_t>(record.inactiveCount);
            samples.push_back(pages * pageSize);
        }
        if (pause != nullptr) pause(500000);
        else usleep(500000);
        t = memoryTestClock();
    } while (t < deadline);

    return meanWholeMebibytes(samples);
}
