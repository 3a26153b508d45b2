// The flat function interface and the bookkeeping runTest does around a test.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cpu/cpu_runner.h"
#include "interface_internal.h"
#include "marks.h"
#include "memory/memory_tests.h"
#include "results/results.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/test_catalogue.h"
#include "velocitrix/engine.h"

namespace {

char* newText(const std::string& text) { return strdup(text.c_str()); }

std::string formatted(const char* format, double value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// One decimal below 100.0, none from 100.0 on (and for NaN).
std::string formatMark(double mark) { return formatted(mark < 100.0 ? "%.1lf" : "%0.lf", mark); }

}  // namespace

void resetResult(int id, Baseline* baseline) {
    baseline->results[id] = 0.0;
    if (id == 8) {
        for (auto& slot : baseline->matrixResults) slot = 0.0;
    }
    if (id == 4) {
        for (auto& slot : baseline->encryptionResults) slot = 0.0;
    }
    if (id == 2) baseline->primesCrossPlatform = 0.0;
}

void normaliseResult(int id, Baseline* baseline) {
    const double passes = static_cast<double>(baseline->numPasses);
    baseline->results[id] /= passes;
    if (id == 8) {
        for (auto& slot : baseline->matrixResults) slot /= passes;
    }
    if (id == 4) {
        for (auto& slot : baseline->encryptionResults) slot /= passes;
    }
    // primesCrossPlatform is deliberately not divided.
}

std::string formatResult(int id, const Baseline* baseline) {
    if (!isValidTestId(id)) return std::string();
    const TestInfo& test = kTestCatalogue[id];
    const double value = baseline->results[id];
    const bool oneDecimal = !test.wholeNumberOnly && value < 100.0;
    const std::string format = std::string(oneDecimal ? "%.1lf " : "%0.lf ") + test.unit;
    return formatted(format.c_str(), value);
}

extern "C" {

void setDebugLogging(bool on) { debugLogging = on ? 1 : 0; }

Baseline* createBaseline(void) {
    Baseline* baseline = new Baseline();
    initBaseline(baseline);
    return baseline;
}

char* getSystemInfoText(Baseline* baseline) {
    std::string text = "Model: " + baseline->device + "\n";
    text += "CPU: " + baseline->cpuName + " (" + baseline->architecture + ") " +
            std::to_string(baseline->numCores) + " cores @ " +
            std::to_string(baseline->cpuFrequency) + " MHz\nMemory: ";
    // Single-precision GiB figure, as the window has always shown it.
    const float gibibytes = static_cast<float>(baseline->memory) * 0.0009765625f;
    text += formatted("%0.1f GiB RAM", static_cast<double>(gibibytes));
    return newText(text);
}

void runTest(Baseline* baseline, TestId id) {
    if (!isValidTestId(id)) return;
    resetResult(id, baseline);
    if (isCpuTest(id)) {
        runCpuTest(id, baseline);
        normaliseResult(id, baseline);
        computeCpuMark(baseline);
    } else {
        runMemoryTest(id, baseline);
        normaliseResult(id, baseline);
        computeMemoryMark(baseline);
    }
}

char* getResultText(Baseline* baseline, TestId id) { return newText(formatResult(id, baseline)); }

char* getCpuMarkText(Baseline* baseline) { return newText(formatMark(baseline->cpuMark)); }

char* getMemoryMarkText(Baseline* baseline) { return newText(formatMark(baseline->memoryMark)); }

bool hasCpuMark(Baseline* baseline) { return baseline->cpuMark > 0.0; }

bool hasMemoryMark(Baseline* baseline) { return baseline->memoryMark > 0.0; }

bool isSupportedSystem(Baseline* baseline) {
    return !baseline->cpuName.empty() && baseline->translated == 0;
}

bool saveAndUploadResults(Baseline* baseline, const char* directory) {
    // A null directory names no place to save: a failed upload, not a crash.
    const bool uploaded =
        directory != nullptr && saveAndUploadBaseline(*baseline, std::string(directory));
    baseline->uploaded = uploaded ? 1 : 0;
    return baseline->uploaded != 0;
}

char* getResultsUrl(Baseline* baseline) { return newText(makeDisplayUrl(*baseline)); }

}  // extern "C"
