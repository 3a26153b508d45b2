// vx-bench: runs chosen tests through the engine's function interface and
// prints every repeat's figure, the median, the spread and the wall time.
//
//   vx-bench [-seconds N] [-repeat N] [-debug] [-info] id...
//
// N is a whole number from 1 to 3600; anything else gives the usage text.
// The spread is (max - min) / median of the repeats, in percent.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "state/baseline.h"
#include "state/test_catalogue.h"
#include "velocitrix/engine.h"

namespace {

std::string take(char* text) {
    std::string copy = text != nullptr ? text : "";
    std::free(text);
    return copy;
}

int usage() {
    std::fprintf(stderr,
                 "usage: vx-bench [-seconds N] [-repeat N] [-debug] [-info] id...\n"
                 "  -seconds N: test duration, 1-3600 whole seconds (default 6)\n"
                 "  -repeat N: runs of each test, 1-3600 (default 1)\n"
                 "  ids 0-8 CPU tests, 9-15 memory tests; 'cpu', 'memory' or 'all' for a suite\n");
    return 2;
}

bool parseInt(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < low || parsed > high) return false;
    value = static_cast<int>(parsed);
    return true;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 6;
    int repeats = 1;
    bool debug = false;
    bool info = false;
    std::vector<int> ids;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "-seconds" || arg == "-repeat") && i + 1 < argc) {
            // A test needs at least one whole second to time anything.
            int& target = arg == "-seconds" ? seconds : repeats;
            if (!parseInt(argv[++i], 1, 3600, target)) return usage();
        } else if (arg == "-debug") {
            debug = true;
        } else if (arg == "-info") {
            info = true;
        } else if (arg == "cpu" || arg == "memory" || arg == "all") {
            const int first = arg == "memory" ? kFirstMemoryTest : 0;
            const int last = arg == "cpu" ? kFirstMemoryTest : kTestCount;
            for (int id = first; id < last; ++id) ids.push_back(id);
        } else {
            int id = 0;
            if (!parseInt(argv[i], 0, kTestCount - 1, id)) return usage();
            ids.push_back(id);
        }
    }
    if (ids.empty() && !info) return usage();

    // As the window does: the log switch after the record is created.
    Baseline* baseline = createBaseline();
    if (debug) setDebugLogging(true);
    baseline->testSeconds = seconds;

    std::printf("%s\n", take(getSystemInfoText(baseline)).c_str());
    std::printf("Test processes: %d, test duration: %d s, repeats: %d\n\n",
                baseline->numTestProcesses, seconds, repeats);
    std::fflush(stdout);

    for (int id : ids) {
        std::vector<double> figures;
        std::printf("%2d %-30s", id, kTestCatalogue[id].name);
        std::fflush(stdout);
        const auto started = std::chrono::steady_clock::now();
        for (int r = 0; r < repeats; ++r) {
            runTest(baseline, id);
            figures.push_back(baseline->results[id]);
            std::printf(" %s;", take(getResultText(baseline, id)).c_str());
            std::fflush(stdout);
        }
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double mid = median(figures);
        const auto [low, high] = std::minmax_element(figures.begin(), figures.end());
        const double spread = mid != 0.0 ? (*high - *low) / mid * 100.0 : 0.0;
        std::printf("\n   median %.6g %s, spread %.2f%%, wall %.1f s\n", mid, kTestCatalogue[id].unit,
                    spread, wall);
        if (id == 4) {
            std::printf("   AES %.6g, SHA %.6g, ECDSA %.6g (bytes/s, last run)\n",
                        baseline->encryptionResults[0].load(), baseline->encryptionResults[1].load(),
                        baseline->encryptionResults[2].load());
        }
        if (id == 8) {
            std::printf("   scalar %.6g, SIMD %.6g (Million Matrices/s, last run)\n",
                        baseline->matrixResults[0].load(), baseline->matrixResults[1].load());
        }
        std::fflush(stdout);
    }

    std::printf("\nCPU Mark: %s%s\nMemory Mark: %s%s\n", take(getCpuMarkText(baseline)).c_str(),
                hasCpuMark(baseline) ? "" : " (incomplete)", take(getMemoryMarkText(baseline)).c_str(),
                hasMemoryMark(baseline) ? "" : " (incomplete)");
    return 0;
}
