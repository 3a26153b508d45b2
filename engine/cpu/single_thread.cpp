// CPU test 6, "CPU Single Thread": the floating-point, sorting and
// compression tests one after the other in one worker, each for a third of
// the duration, combined into one weighted score (Million Operations/s).

#include <sstream>

#include "cpu/cpu_tests.h"
#include "cpu/single_thread_internal.h"
#include "state/clock_log.h"

namespace single_thread {

namespace {

constexpr double kFloatingPointWeight = 0.56;
constexpr double kSortingWeight = 0.34;
constexpr double kCompressionWeight = 0.19;
constexpr double kDivisor = 3.212;

}  // namespace

Terms weighTerms(double floatingPoint, double stringsPerSecond, double bytesPerSecond) {
    Terms terms;
    terms.floatingPoint = floatingPoint * kFloatingPointWeight;
    terms.sorting = (stringsPerSecond / 1000.0) * kSortingWeight;
    terms.compression = (bytesPerSecond * (1.0 / 1024.0)) * kCompressionWeight;
    return terms;
}

double combineTerms(const Terms& terms) {
    return (terms.sorting + (terms.floatingPoint + terms.compression)) / kDivisor;
}

Phases defaultPhases() { return {FloatingPointTest, StringSortTest, NewCompressData}; }

Phases phases = defaultPhases();

}  // namespace single_thread

double SingleThreadTest(std::int32_t seconds) {
    using namespace single_thread;

    // Whole seconds per phase, truncated: 6 gives 2, 2 gives 0 (every phase
    // then runs its minimum).
    const std::int32_t phaseSeconds = seconds / 3;
    const double floatingPoint = phases.floatingPoint(phaseSeconds);
    const double sorting = phases.sorting(phaseSeconds);
    const double compression = phases.compression(phaseSeconds);
    const Terms terms = weighTerms(floatingPoint, sorting, compression);

    if (debugLogging) {
        std::ostringstream message;
        message << "Single Thread: ResF = " << terms.floatingPoint << ", ResS = " << terms.sorting
                << ", ResC = " << terms.compression;
        debugLog(message.str());
    }
    return combineTerms(terms);
}
