#pragma once

#include <cstdint>
#include <string>

#include "state/shared_double.h"

// Number of tests: ids 0-8 are the CPU suite, 9-15 the memory suite.
constexpr int kTestCount = 16;
constexpr int kFirstMemoryTest = 9;
constexpr int kMatrixSubResults = 5;      // scalar rate, SIMD rate, three unused
constexpr int kEncryptionSubResults = 3;  // AES, SHA, ECDSA (bytes/s summed, then MB/s)

// The engine's one state record. Created by createBaseline on the window's
// main thread, held by the front end as an opaque pointer for the life of
// the process and never freed. Field order is part of the contract with the
// results writer.
struct Baseline {
    Baseline();  // defaults below, and maps a new WorkerSyncArea

    std::uint8_t uploaded = 0;  // 1 after a successful saveAndUploadResults

    // Written by runTest (through the CPU runner or the memory dispatcher),
    // read by the window at any time. Display units, indexed by test id.
    SharedDouble results[kTestCount];
    SharedDouble matrixResults[kMatrixSubResults];          // sums over workers
    SharedDouble encryptionResults[kEncryptionSubResults];  // sums over workers
    SharedDouble cpuMark;
    SharedDouble primesCrossPlatform;  // test 2 again, one worker per core; not shown
    SharedDouble memoryMark;

    // System profile, filled once by initBaseline.
    std::int32_t numSockets = 1;
    std::int32_t numCores = 1;
    std::int32_t numLogicals = 1;
    std::int32_t numTestProcesses = 1;  // workers of a multi-process CPU test
    std::int32_t cpuFrequency = 0;      // MHz
    std::int64_t memory = 0;            // MiB
    std::string device;
    std::string cpuName;
    std::string architecture;
    std::string osName;
    std::string kernel;
    std::string manufacturer;

    // Run settings.
    std::int32_t testSeconds = 6;  // duration handed to every test
    std::int32_t numPasses = 1;    // divisor applied after each run

    std::uint8_t translated = 0;   // 1 when running under binary translation
    std::uint64_t timeStamp = 0;   // UTC as decimal YYYYMMDDhhmmss

    std::int32_t majorVersion = 10;
    std::int32_t minorVersion = 2;
    std::int32_t buildNumber = 1000;

    // From the results server's reply to the last successful registration.
    std::int32_t dbId = 0;
    std::int32_t filenameSalt = 0;
};

// Fills the record from the machine (detection, hardware threads, time).
void initBaseline(Baseline* baseline);

// createBaseline and allResultsComplete are part of the public interface
// (velocitrix/engine.h).
