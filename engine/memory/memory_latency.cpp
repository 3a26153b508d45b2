// Memory latency: the time of one dependent load, following a cycle of
// 64-byte nodes that is random within blocks and sequential from block to
// block. Every node is loaded once per pass over the whole 512 MiB, so a
// block has long left the nearer caches when it comes round again; the block
// size sets how widely consecutive loads scatter (over 4 pages for 16 KiB
// blocks, 2048 for 8 MiB), and with it how often address translation misses.

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "memory/memory_internal.h"
#include "state/c_rand.h"
#include "state/clock_log.h"

namespace {

// The single-precision value of 1e-9 widened to double: the divisor that
// turns seconds per load into nanoseconds per load. Figures stay comparable
// with those already published only with exactly this divisor.
constexpr double kNanosecondDivisor = 9.999999717180685e-10;

constexpr std::uint32_t kNodesPerKiB = 1024 / sizeof(LatencyNode);  // 16

}  // namespace

void linkLatencyCycle(LatencyNode* nodes, std::uint64_t count, std::uint64_t blockNodes) {
    for (std::uint64_t i = 0; i < count; ++i) nodes[i].number = i;

    // A fixed seed gives the same cycle on every run. The exchange partner
    // is drawn from the whole block on every step (not a Fisher-Yates
    // shuffle): that is the order the figures were first measured with.
    cSrand(37);
    for (std::uint64_t b = 0; b < count; b += blockNodes) {
        const std::uint64_t len = std::min(blockNodes, count - b);
        for (std::uint64_t j = 0; j < len; ++j) {
            const std::uint64_t k = static_cast<std::uint64_t>(cRand()) % len;
            std::swap(nodes[b + j].number, nodes[b + k].number);
        }
    }

    for (std::uint64_t i = 0; i + 1 < count; ++i) {
        nodes[nodes[i].number].next = &nodes[nodes[i + 1].number];
    }
    nodes[nodes[count - 1].number].next = &nodes[nodes[0].number];
    if (memoryTestSeams().linked != nullptr) memoryTestSeams().linked(nodes, count);
}

// Each load's address is the previous load's value, so the loads cannot
// overlap; the assembly keeps the compiler from unrolling, reordering or
// dropping them (callers ignore the node reached). The loop starts on a
// 64-byte boundary (VX_ALIGNED_LOOP_START).
#if defined(__x86_64__)

LatencyNode* chasePointers(LatencyNode* start, std::uint64_t count) {
    asm volatile(
        VX_ALIGNED_LOOP_START
        "movq (%[p]), %[p]\n\t"
        "decq %[n]\n\t"
        "jnz 1b"
        : [p] "+r"(start), [n] "+r"(count)
        :
        : "cc", "memory");
    return start;
}

#elif defined(__aarch64__)

LatencyNode* chasePointers(LatencyNode* start, std::uint64_t count) {
    asm volatile(
        VX_ALIGNED_LOOP_START
        "ldr %x[p], [%x[p]]\n\t"
        "subs %x[n], %x[n], #1\n\t"
        "b.ne 1b"
        : [p] "+r"(start), [n] "+r"(count)
        :
        : "cc", "memory");
    return start;
}

#else
#error "chasePointers is written for x86-64 and aarch64 only"
#endif

LatencyRun runLatency(std::int32_t seconds, std::int32_t blockKiB) {
    LatencyRun run;
    // A block of no nodes would never advance through the buffer.
    const std::uint32_t askedBlockNodes = static_cast<std::uint32_t>(blockKiB) * kNodesPerKiB;
    if (askedBlockNodes == 0) return run;

    void* memory = allocateTestBuffer(kLatencyBufferBytes);
    if (memory != nullptr) {
        run.nodes = kLatencyBufferBytes / sizeof(LatencyNode);
        run.blockNodes = askedBlockNodes;
    } else {
        // Without 512 MiB every block size asked gets 64 KiB blocks.
        memory = allocateTestBuffer(kLatencyFallbackBufferBytes);
        if (memory == nullptr) return LatencyRun{};
        run.nodes = kLatencyFallbackBufferBytes / sizeof(LatencyNode);
        run.blockNodes = kLatencyFallbackBlockNodes;
    }
    auto* nodes = static_cast<LatencyNode*>(memory);

    linkLatencyCycle(nodes, run.nodes, run.blockNodes);

    auto* const chase =
        memoryTestSeams().chase != nullptr ? memoryTestSeams().chase : chasePointers;

    const std::int64_t start = memoryTestClock();
    const std::int64_t deadline = start + static_cast<std::int64_t>(seconds) * 1000000000;
    std::int32_t passes = 0;
    std::int64_t t;
    do {
        chase(&nodes[0], run.nodes);
        ++passes;
        t = memoryTestClock();
    } while (t < deadline);

    run.passes = passes;
    run.latency = (static_cast<double>(t - start) / 1e9) /
                  (static_cast<double>(run.nodes) * static_cast<double>(passes)) /
                  kNanosecondDivisor;
    std::free(memory);
    return run;
}

double measureLatency(std::int32_t seconds, std::int32_t blockKiB) {
    return runLatency(seconds, blockKiB).latency;
}
