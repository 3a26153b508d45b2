/*
 * Velocitrix benchmark engine: the flat function interface.
 *
 * Plain C linkage and types only, so that any front end can drive the engine.
 * Every function but setDebugLogging and createBaseline takes the record that
 * createBaseline returned; none of them checks it. No function throws: a
 * failure shows as a 0.0 result, false or an empty text.
 *
 * Texts are new heap strings made with strdup; the caller owns each one and
 * releases it with free.
 *
 * Threads: runTest and saveAndUploadResults are meant for one background
 * thread at a time; the text, question and address functions may be called
 * from another thread while a run is in progress (each single result or mark
 * is read indivisibly, a group of them is not guaranteed consistent).
 */
#ifndef VELOCITRIX_ENGINE_H
#define VELOCITRIX_ENGINE_H

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The engine's one state record; opaque to callers, never freed. */
typedef struct Baseline Baseline;

/* A test id, 0 to 15: 0-8 the CPU tests, 9-15 the memory tests. */
typedef int32_t TestId;

/* Turns the debug log "./debug.log" on or off for the calls that follow. */
void setDebugLogging(bool on);

/* Creates, detects and returns the state record. Call once at start-up. */
Baseline* createBaseline(void);

/* "Model: ...\nCPU: ... cores @ ... MHz\nMemory: ... GiB RAM" */
char* getSystemInfoText(Baseline* baseline);

/* Runs one test for the record's test duration (blocking) and stores its
 * result in display units; recomputes the CPU or memory mark. Ids outside
 * 0-15 are ignored. */
void runTest(Baseline* baseline, TestId id);

/* The result of one test with its unit, e.g. "1234 Million Operations/s";
 * empty for an id outside 0-15. */
char* getResultText(Baseline* baseline, TestId id);

char* getCpuMarkText(Baseline* baseline);
char* getMemoryMarkText(Baseline* baseline);

/* True when all sixteen results are above zero. */
bool allResultsComplete(const Baseline* baseline);
bool hasCpuMark(Baseline* baseline);
bool hasMemoryMark(Baseline* baseline);

/* True when the processor was identified and the process runs natively. */
bool isSupportedSystem(Baseline* baseline);

/* Writes the results file into directory, uploads and registers it.
 * Blocking; true only when all of that succeeded. */
bool saveAndUploadResults(Baseline* baseline, const char* directory);

/* The results-page address for the last successful upload. */
char* getResultsUrl(Baseline* baseline);

#ifdef __cplusplus
}
#endif

#endif /* VELOCITRIX_ENGINE_H */
