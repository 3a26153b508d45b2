#include "marks.h"

#include "state/baseline.h"

namespace {

// Weights that bring each result to a common scale. All but the physics
// weight are single-precision constants widened to double; the literals are
// kept as floats so that the doubles are exactly those values.
constexpr double kCpuWeights[9] = {
    static_cast<double>(0.14900199f),   // integer math
    static_cast<double>(0.271312f),     // floating point
    static_cast<double>(296.1871f),     // primes
    static_cast<double>(0.3923107f),    // sorting
    static_cast<double>(0.8766779f),    // encryption
    static_cast<double>(0.034970332f),  // compression
    static_cast<double>(4.908772f),     // single thread
    17.81818182,                        // physics (a double constant)
    static_cast<double>(0.7584847f),    // matrix multiply
};
constexpr double kCpuMarkFactor = 1.65;

constexpr double kDatabaseWeight = 2.5;
constexpr double kReadCachedWeight = static_cast<double>(0.07781762f);
constexpr double kReadUncachedWeight = static_cast<double>(0.17157659f);
constexpr double kWriteWeight = static_cast<double>(0.28205436f);
constexpr double kAvailableRamWeight = static_cast<double>(0.44326615f);
constexpr double kLatencyWeight = static_cast<double>(48454.33f);
constexpr double kThreadedWeight = static_cast<double>(0.12614945f);

}  // namespace

void computeCpuMark(Baseline* baseline) {
    for (int id = 0; id < 9; ++id) {
        if (baseline->results[id] <= 0.0) return;  // keep the previous mark
    }
    double sum = 0.0;
    for (int id = 0; id < 9; ++id) sum = sum + 1.0 / (baseline->results[id] * kCpuWeights[id]);
    baseline->cpuMark = sum != 0.0 ? (1.0 / (sum / 9.0)) * kCpuMarkFactor : 0.0;
}

void computeMemoryMark(Baseline* baseline) {
    // The threaded result (15) is not guarded: a 0.0 there makes its term
    // infinite and the mark 0.0.
    for (int id = 9; id <= 14; ++id) {
        if (baseline->results[id] <= 0.0) return;
    }
    const auto& r = baseline->results;
    double sum = 0.0;
    sum = sum + 1.0 / (r[9] * kDatabaseWeight);
    sum = sum + 1.0 / (r[10] * kReadCachedWeight);
    sum = sum + 1.0 / (r[11] * kReadUncachedWeight);
    sum = sum + 1.0 / (r[12] * kWriteWeight);
    sum = sum + 1.0 / (r[13] * kAvailableRamWeight);
    sum = sum + 1.0 / ((1.0 / r[14]) * kLatencyWeight);  // latency: lower is better
    sum = 1.0 / (r[15] * kThreadedWeight) + sum;
    baseline->memoryMark = sum != 0.0 ? 1.0 / (sum / 7.0) : 0.0;
}
