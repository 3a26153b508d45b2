#include "state/baseline.h"

#include <sys/mman.h>

#include <sstream>

#include "platform/sysctl.h"
#include "state/clock_log.h"
#include "state/detection.h"
#include "state/worker_sync_area.h"
#include "velocitrix/engine.h"

namespace {

// The area of the newest Baseline. Areas are never unmapped: a runner of an
// older record simply uses the newest one.
std::uint8_t* currentArea = nullptr;

}  // namespace

WorkerSyncArea mapWorkerSyncArea() {
    void* mapping = mmap(nullptr, WorkerSyncArea::kBytes, PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return WorkerSyncArea(nullptr);
    currentArea = static_cast<std::uint8_t*>(mapping);
    return WorkerSyncArea(currentArea);
}

WorkerSyncArea currentWorkerSyncArea() { return WorkerSyncArea(currentArea); }

Baseline::Baseline() {
    // Strings, results, marks and run settings take their member defaults.
    mapWorkerSyncArea();
}

void initBaseline(Baseline* baseline) {
    if (debugLogging) {
        // Constants of the line, equal to the version fields.
        std::ostringstream line;
        line << "Velocitrix Version: " << 10 << "." << 2 << "." << 1000;
        debugLog(line.str());
    }
    baseline->translated = isTranslated() != 0 ? 1 : 0;
    baseline->device = detectModel();
    baseline->cpuName = detectCpuName();
    baseline->manufacturer = detectManufacturer();
    baseline->osName = detectOS();
    baseline->kernel = detectKernel();
    baseline->architecture = detectArchitecture();
    baseline->memory = static_cast<std::int64_t>(detectMemory());
    baseline->cpuFrequency = detectCpuFrequency();
    baseline->numSockets = detectCpuSockets();
    baseline->numCores = detectCpuCores();
    // One worker per processor this process may run on (its affinity mask),
    // so a CPU set or container limit gets one worker per usable processor.
    baseline->numLogicals = platform::hardwareThreads();
    baseline->numTestProcesses = baseline->numLogicals;
    baseline->timeStamp = getTimeStamp();
}

extern "C" bool allResultsComplete(const Baseline* baseline) {
    for (int id = 0; id < kTestCount; ++id) {
        if (baseline->results[id] <= 0.0) return false;  // NaN counts as present
    }
    return true;
}
