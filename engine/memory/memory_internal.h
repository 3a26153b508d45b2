#pragma once

// The memory tests' own functions, shared between their source files and
// their unit tests. The engine reaches them only through runMemoryTest
// (memory_tests.h).
//
// Every bandwidth figure is mebibytes (2^20 bytes) per second, shown as
// "MB/s"; latency is nanoseconds per dependent load; available RAM is whole
// mebibytes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// ---- test allocation ----------------------------------------------------

// malloc for the tests' big buffers (bandwidth, latency, database data).
// Answers nullptr when the test seam below refuses the size.
void* allocateTestBuffer(std::size_t bytes);

// Test seam: asked before every allocateTestBuffer with the byte count;
// returning false makes that allocation fail as if memory were exhausted.
// Forked workers inherit it. Empty: never refuses.
void setAllocationHookForTesting(std::function<bool(std::size_t bytes)> allow);

// ---- test seams of the timed loops --------------------------------------

struct LatencyNode;

// What the bandwidth, latency, available-RAM and threaded read tests call for
// their clock, their hand-written loops, their pause and around their
// preparations. The product sets none: a null member means nowNanoseconds,
// readQwords, writeQwords, chasePointers, usleep, or nothing. Each loop
// calls exactly what its timed part does through these, so a test that
// replaces them sees (and can stand in for) every clock reading and every
// pass of the kernel.
struct MemoryTestSeams {
    std::int64_t (*clock)() = nullptr;
    void (*readLoop)(const std::uint64_t* words, std::uint64_t count) = nullptr;
    void (*writeLoop)(std::uint64_t* words, std::uint64_t count) = nullptr;
    LatencyNode* (*chase)(LatencyNode* start, std::uint64_t count) = nullptr;
    void (*pause)(unsigned microseconds) = nullptr;
    // After a test buffer is filled, and after a latency cycle is linked.
    void (*filled)(const std::uint8_t* buffer, std::size_t bytes) = nullptr;
    void (*linked)(const LatencyNode* nodes, std::uint64_t count) = nullptr;
    // Before the threaded read test creates the thread of worker index.
    void (*beforeThreadStart)(std::int32_t worker) = nullptr;
};

void setMemoryTestSeamsForTesting(const MemoryTestSeams& seams);
const MemoryTestSeams& memoryTestSeams();

// The seam's clock, or nowNanoseconds.
std::int64_t memoryTestClock();

// ---- placement of the hand-written loops -------------------------------

// Assembler text that starts a hand-written loop at local label 1: aligned
// to 64 bytes, so that the loop body (under 16 bytes) lies inside one
// 64-byte block whatever code precedes it or wherever the linker puts the
// function (a loop across a block boundary can halve a bandwidth figure).
// The padding before the label runs once per call. The label's address is
// also recorded in the section velocitrix_loop_starts, one pointer per loop,
// where a test checks every loop's placement; the test also builds the
// loops once with VX_LOOP_PROBE_PAD set to code that ends 16 bytes past a
// boundary, which only the alignment can undo.
#ifndef VX_LOOP_PROBE_PAD
#define VX_LOOP_PROBE_PAD ""
#endif
#define VX_ALIGNED_LOOP_START                                   \
    VX_LOOP_PROBE_PAD                                           \
    ".p2align 6\n"                                              \
    "1:\n\t"                                                    \
    ".pushsection velocitrix_loop_starts, \"aw\"\n\t"           \
    ".balign 8\n\t"                                             \
    ".8byte 1b\n\t"                                             \
    ".popsection\n\t"

// ---- waiting for workers ------------------------------------------------

// How long a test waits for its threads or worker processes to become ready,
// and again for their results: ten seconds for every second of test
// duration, and never less than ten seconds (a 0-second run still needs
// time to prepare its data). Nanoseconds.
std::int64_t workerWaitBoundNanoseconds(std::int32_t seconds);

// ---- dispatcher ---------------------------------------------------------

// Database worker processes for the processor counts: half the logical
// processors when they outnumber the cores (one per core on a machine with
// two hardware threads per core), never more than numTestProcesses or 32.
int databaseWorkerCount(std::int32_t numLogicals, std::int32_t numCores,
                        std::int32_t numTestProcesses);

// Thread counts the threaded read test tries: numLogicals, then halved
// (integer halving) down to 1. Empty when numLogicals < 1.
std::vector<int> threadedReadCounts(std::int32_t numLogicals);

// ---- bandwidth ----------------------------------------------------------

// The fill generator: one step of Minstd in unsigned 32-bit arithmetic.
void seedMinstd(std::uint32_t* state);       // state = 17
std::uint32_t nextMinstd(std::uint32_t* state);

// Sets byte i of buffer to the low 8 bits of the i-th generator value after
// seedMinstd, so every test buffer starts 127, 3, 176, 92, ...
void fillTestBuffer(std::uint8_t* buffer, std::size_t bytes);

// The hand-written memory loops. Per step: one 8-byte load (discarded) or
// store at ascending addresses, one pointer increment, one count decrement,
// one conditional branch. count >= 1 (the count is tested after the first
// access).
void readQwords(const std::uint64_t* words, std::uint64_t count);
void writeQwords(std::uint64_t* words, std::uint64_t count);

// Passes of the loop between two clock readings for a buffer of size bytes:
// a little more than 1 GiB of traffic (2^30 / size + 1).
std::int32_t passesPerCheck(std::int32_t size);

// One bandwidth measurement in detail.
struct BandwidthRun {
    std::int32_t bufferBytes = 0;     // size measured (half when halved), 0 without buffer
    std::int32_t passesPerCheck = 0;
    std::int64_t totalPasses = 0;
    double elapsedSeconds = 0.0;
    double rate = 0.0;                // MiB/s, a single-precision value; 0 without buffer
};

// measureBandwidth with its bookkeeping exposed (see measureBandwidth).
BandwidthRun runBandwidth(std::int32_t size, bool write, bool wait, std::int32_t index,
                          float seconds);

// Allocates size bytes (once more at half the size when that fails), fills
// them, optionally reports ready as worker index of the current
// WorkerSyncArea and waits for its go flag, then reads or writes the buffer
// for seconds and returns MiB/s. 0 when no buffer could be had (no ready
// flag is set then) and, when waiting, when the abort flag ended the wait.
double measureBandwidth(std::int32_t size, bool write, bool wait, std::int32_t index,
                        float seconds);

// Mean MiB/s over ten buffers of 16 KiB .. 8 MiB, each for seconds / 10.
double testReadCached(std::int32_t seconds);
// MiB/s reading, or writing, one 512 MiB buffer for seconds.
double testReadUncached(std::int32_t seconds);
double testWrite(std::int32_t seconds);

// ---- latency ------------------------------------------------------------

// One node of the latency chase: 64 bytes, so every node has its own line.
struct LatencyNode {
    LatencyNode* next;         // the following node of the cycle
    std::uint64_t number;      // after the shuffle: the node visited in this position
    std::uint64_t unused[6];   // never written or read
};
static_assert(sizeof(LatencyNode) == 64);

constexpr std::size_t kLatencyBufferBytes = 536870912;          // 512 MiB
constexpr std::size_t kLatencyFallbackBufferBytes = 134217728;  // 128 MiB
constexpr std::uint64_t kLatencyFallbackBlockNodes = 1024;      // 64 KiB

// Numbers the nodes, shuffles the numbers within blocks of blockNodes with
// the C library's rand() sequence after srand(37) (cRand; one draw per node,
// exchanging with any position of the block) and links the nodes into one
// cycle in that order: all of block 0 shuffled, then block 1, ..., then back
// to the start.
void linkLatencyCycle(LatencyNode* nodes, std::uint64_t count, std::uint64_t blockNodes);

// The hand-written chase: count dependent loads, each loading the next
// node's address from the node at hand. count >= 1. Returns the node reached.
LatencyNode* chasePointers(LatencyNode* start, std::uint64_t count);

struct LatencyRun {
    std::uint64_t nodes = 0;       // 0 without buffer
    std::uint64_t blockNodes = 0;
    std::int32_t passes = 0;
    double latency = 0.0;          // nanoseconds per load
};

LatencyRun runLatency(std::int32_t seconds, std::int32_t blockKiB);

// Nanoseconds per dependent load over blocks of blockKiB; 0 without buffer.
double measureLatency(std::int32_t seconds, std::int32_t blockKiB);

// ---- available RAM ------------------------------------------------------

// Mean of the samples (bytes) each truncated to whole MiB; 0 when empty.
double meanWholeMebibytes(const std::vector<std::uint64_t>& samples);

// Mean free plus inactive memory in MiB, sampled every half second for
// seconds (at least one sample); 0 when no sample could be taken.
double testAvailableRam(std::int32_t seconds);

// ---- threaded read ------------------------------------------------------

// Bytes per thread when n threads read together: 512 MiB in all up to 31
// threads, 1 GiB up to 64, 2 GiB from 65 on.
std::int32_t threadedShareBytes(std::int32_t n);

// Runs in each test thread: measureBandwidth(share, read, wait, worker,
// seconds) into the worker's result slot.
void threadedReadWorker(std::int32_t share, float seconds, std::int32_t worker);

// Test seam: the function the test threads run instead of
// threadedReadWorker. Empty: the real worker.
void setThreadedReadWorkerForTesting(
    std::function<void(std::int32_t share, float seconds, std::int32_t worker)> worker);

struct ThreadedReadRun {
    // False when a thread could not be created: the run, and with it the
    // whole threaded read test, has failed (the reason is on stderr).
    bool threadsStarted = true;
    double total = 0.0;  // MiB/s
};

// Sum of the MiB/s of n threads (capped at the area's 256 slots) reading
// together; 0 when n < 1, no area is mapped, a thread could not be started
// (written to stderr) or prepared, or the threads were not all ready within
// workerWaitBoundNanoseconds. Every thread started has been joined when this
// returns.
ThreadedReadRun runThreadedRead(std::int32_t seconds, std::int32_t n);
double testThreadedRead(std::int32_t seconds, std::int32_t n);

// ---- database -----------------------------------------------------------

struct sqlite3;

constexpr std::int32_t kDatabaseMaxWorkers = 32;
constexpr std::uint64_t kNameRecords = 655360;
constexpr std::size_t kNameRecordBytes = 50;  // 49 letters A..O and a zero byte
constexpr std::uint64_t kRowsPerPass = 121135;
constexpr std::size_t kBlobBytes = 1000;
// What each successful select adds to the selected-row count, whatever it
// returned: the counts are fixed so that every machine does the same work
// per counted operation.
constexpr std::uint64_t kSelect1Rows = 32152;
constexpr std::uint64_t kSelect2Rows = 32558;
constexpr std::uint64_t kSelect3Rows = 32606;

// A worker's test data, generated before it reports ready.
struct DatabaseData {
    DatabaseData() = default;
    DatabaseData(const DatabaseData&) = delete;
    DatabaseData& operator=(const DatabaseData&) = delete;
    ~DatabaseData();

    char* names = nullptr;            // kNameRecords records of kNameRecordBytes
    std::int64_t* numbers = nullptr;  // kNameRecords numbers (bytes of cRand() after cSrand(353))
    std::uint8_t blob[kBlobBytes] = {};  // the first 1000 bytes of names
};

// Fills data (srand(777) for the names, srand(353) for the numbers); false
// when a buffer cannot be had.
bool generateDatabaseData(DatabaseData& data);

// What one worker's passes counted.
struct DatabaseTally {
    bool completed = false;        // false: open or a required statement failed
    std::uint64_t inserted = 0;
    std::uint64_t selected = 0;
    std::uint64_t rowsSeen = 0;    // rows the callback saw in the last pass
    std::int64_t start = 0;        // nanoseconds
    std::int64_t end = 0;          // the last clock reading of the passes
    double rate = 0.0;             // thousand operations per second
};

// Opens a private in-memory database and runs passes (create, insert
// kRowsPerPass rows in one transaction, three selects, drop) for seconds.
DatabaseTally runDatabasePasses(const DatabaseData& data, std::int32_t seconds);

// sqlite3_exec row callback: counts the row in *counter (a std::uint64_t).
int countRowCallback(void* counter, int columns, char** values, char** names);

// Inside worker process `worker`: generates its data, reports ready, waits
// for go (ends on abort), runs its passes and posts its rate. Posts 0.0 when
// its data cannot be had; posts nothing when its database work fails.
void databaseWorker(std::int32_t seconds, std::int32_t worker);

// Test seam: the function worker processes run instead of databaseWorker.
// Empty: the real worker.
void setDatabaseWorkerForTesting(std::function<void(std::int32_t seconds, std::int32_t worker)> worker);

// Test seam: called with every connection runDatabasePasses opens, before
// its clock starts (a test traces the statements with it). Empty: none.
void setDatabaseConnectionHookForTesting(std::function<void(sqlite3* db)> hook);

// Sum of n worker processes' rates (thousand operations per second); n is
// capped at 32. 0 when a fork failed, no area is mapped, or a worker ended
// without result or was not ready, or had not posted, within
// workerWaitBoundNanoseconds. Every worker is ended and reaped before this
// returns; none outlives the calling thread (WorkerGroup).
double runDatabaseTest(std::int32_t seconds, std::int32_t n);
