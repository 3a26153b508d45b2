// Memory bandwidth: the fill generator, the hand-written read and write
// loops, the measuring kernel and the cached read, uncached read and write
// tests. Figures are MiB/s (2^20 bytes per second), computed in single
// precision.

#include <cstdlib>

#include "memory/memory_internal.h"
#include "state/clock_log.h"
#include "state/worker_sync_area.h"

namespace {

constexpr std::int32_t kKiB = 1024;
constexpr std::int32_t kMiB = 1024 * 1024;
constexpr std::int32_t kLargeBufferBytes = 512 * kMiB;
constexpr std::int32_t kCachedSizes[] = {16 * kKiB,  32 * kKiB,  64 * kKiB, 128 * kKiB,
                                         256 * kKiB, 512 * kKiB, 1 * kMiB,  2 * kMiB,
                                         4 * kMiB,   8 * kMiB};
constexpr int kCachedSizeCount = sizeof(kCachedSizes) / sizeof(kCachedSizes[0]);

// The word writeQwords stores; any fixed value would do.
constexpr std::uint64_t kWriteWord = 0x5A5A5A5A5A5A5A5AULL;

}  // namespace

void seedMinstd(std::uint32_t* state) { *state = 17; }

// x' = 48271 x mod (2^31 - 1) by Schrage's method, in unsigned arithmetic:
// when a < b the difference wraps and adding the modulus brings it back.
std::uint32_t nextMinstd(std::uint32_t* state) {
    const std::uint32_t x = *state;
    const std::uint32_t a = (x % 44488u) * 48271u;
    const std::uint32_t b = (x / 44488u) * 3399u;
    std::uint32_t next = a - b;
    if (a < b) next += 2147483647u;
    *state = next;
    return next;
}

void fillTestBuffer(std::uint8_t* buffer, std::size_t bytes) {
    std::uint32_t state;
    seedMinstd(&state);
    for (std::size_t i = 0; i < bytes; ++i) {
        buffer[i] = static_cast<std::uint8_t>(nextMinstd(&state));
    }
    if (memoryTestSeams().filled != nullptr) memoryTestSeams().filled(buffer, bytes);
}

// The loops are written in assembly so that the measured instruction
// pattern is fixed whatever the compiler and its options: the compiler may
// neither drop the discarded loads or the never-read stores, nor merge,
// unroll or vectorise them. The "memory" clobber makes it finish every
// store to the buffer (the fill) before the loop runs. Each pass of a
// loop loads or stores the word at p, advances p by 8 and counts n down.
// The loop starts on a 64-byte boundary (VX_ALIGNED_LOOP_START).
#if defined(__x86_64__)
#define VX_QWORD_LOOP(access) VX_ALIGNED_LOOP_START access "\n\taddq $8, %[p]\n\tdecq %[n]\n\tjnz 1b"
#define VX_LOAD "movq (%[p]), %[t]"
#define VX_STORE "movq %[v], (%[p])"
#elif defined(__aarch64__)
#define VX_QWORD_LOOP(access) VX_ALIGNED_LOOP_START access "\n\tadd %x[p], %x[p], #8\n\tsubs %x[n], %x[n], #1\n\tb.ne 1b"
#define VX_LOAD "ldr %x[t], [%x[p]]"
#define VX_STORE "str %x[v], [%x[p]]"
#else
#error "readQwords and writeQwords are written for x86-64 and aarch64 only"
#endif

void readQwords(const std::uint64_t* words, std::uint64_t count) {
    std::uint64_t scratch;
    asm volatile(VX_QWORD_LOOP(VX_LOAD)
                 : [p] "+r"(words), [n] "+r"(count), [t] "=&r"(scratch)
                 :
                 : "cc", "memory");
}

void writeQwords(std::uint64_t* words, std::uint64_t count) {
    asm volatile(VX_QWORD_LOOP(VX_STORE)
                 : [p] "+r"(words), [n] "+r"(count)
                 : [v] "r"(kWriteWord)
                 : "cc", "memory");
}

std::int32_t passesPerCheck(std::int32_t size) { return (1 << 30) / size + 1; }

BandwidthRun runBandwidth(std::int32_t size, bool write, bool wait, std::int32_t index,
                          float seconds) {
    BandwidthRun run;

    void* memory = allocateTestBuffer(static_cast<std::size_t>(size));
    if (memory == nullptr) {
        size /= 2;
        memory = allocateTestBuffer(static_cast<std::size_t>(size));
        if (memory == nullptr) return run;
    }
    const std::uint64_t words = static_cast<std::uint64_t>(size) / 8;
    const std::int32_t perCheck = passesPerCheck(size);
    fillTestBuffer(static_cast<std::uint8_t*>(memory), static_cast<std::size_t>(size));
    auto* buffer = static_cast<std::uint64_t*>(memory);

    // Chosen before the clock starts, so the timed loop makes one plain
    // call per pass.
    const MemoryTestSeams& seams = memoryTestSeams();
    auto* const readLoop = seams.readLoop != nullptr ? seams.readLoop : readQwords;
    auto* const writeLoop = seams.writeLoop != nullptr ? seams.writeLoop : writeQwords;

    if (wait) {
        WorkerSyncArea area = currentWorkerSyncArea();
        if (!area.valid()) {
            std::free(memory);
            return run;
        }
        area.setReady(index, true);
        while (!area.go() && !area.abort()) {
        }
        // The abort flag means the run was given up before it started:
        // measure nothing.
        if (area.abort()) {
            std::free(memory);
            return run;
        }
    }

    const std::int64_t start = memoryTestClock();
    // The deadline is deliberately formed in single precision; its
    // resolution is that of a float at the clock's magnitude, which does not
    // matter because the rate uses the measured time.
    const std::int64_t deadline =
        static_cast<std::int64_t>(static_cast<float>(start) + seconds * 1000000000.0f);

    std::int64_t totalPasses = 0;
    std::int64_t end;
    do {
        if (write) {
            for (std::int32_t pass = 0; pass < perCheck; ++pass) writeLoop(buffer, words);
        } else {
            for (std::int32_t pass = 0; pass < perCheck; ++pass) readLoop(buffer, words);
        }
        totalPasses += perCheck;
        end = memoryTestClock();
    } while (end < deadline);

    const double elapsed = static_cast<double>(end - start) / 1e9;
    std::free(memory);

    const float megabytes =
        static_cast<float>(totalPasses) * static_cast<float>(size) / 1048576.0f;
    const float rate = static_cast<float>(static_cast<double>(megabytes) / elapsed);

    run.bufferBytes = size;
    run.passesPerCheck = perCheck;
    run.totalPasses = totalPasses;
    run.elapsedSeconds = elapsed;
    run.rate = static_cast<double>(rate);
    return run;
}

double measureBandwidth(std::int32_t size, bool write, bool wait, std::int32_t index,
                        float seconds) {
    return runBandwidth(size, write, wait, index, seconds).rate;
}

double testReadCached(std::int32_t seconds) {
    const float share = static_cast<float>(seconds) / 10.0f;
    double sum = 0.0;
    for (int i = 0; i < kCachedSizeCount; ++i) {
        sum += measureBandwidth(kCachedSizes[i], false, false, 0, share);
    }
    return sum / 10.0;
}

double testReadUncached(std::int32_t seconds) {
    return measureBandwidth(kLargeBufferBytes, false, false, 0, static_cast<float>(seconds));
}

double testWrite(std::int32_t seconds) {
    return measureBandwidth(kLargeBufferBytes, true, false, 0, static_cast<float>(seconds));
}
