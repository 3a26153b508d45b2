// The CPU dispatch table: every id 0-8 reaches its own test function, with
// the worker index where the test takes one, and scales that test's own
// figure (read back from its debug lines) to the display unit.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cpu/cpu_runner.h"
#include "cpu/matrix_multiply.h"
#include "cpu_test_support.h"
#include "state/baseline.h"
#include "state/worker_sync_area.h"

namespace {

using Lines = std::vector<std::string>;

// The label of a debug message: the text before its first ':' or " = ".
Lines labelsOf(const Lines& messages) {
    Lines labels;
    for (const auto& message : messages) {
        labels.push_back(message.substr(0, std::min(message.find(':'), message.find(" = "))));
    }
    return labels;
}

const std::string* lineLabelled(const Lines& messages, const std::string& label) {
    for (const auto& message : messages) {
        if (message.rfind(label, 0) == 0) return &message;
    }
    ADD_FAILURE() << "no line \"" << label << "\"";
    return nullptr;
}

double numberAfter(const Lines& messages, const std::string& label, const std::string& field) {
    const std::string* line = lineLabelled(messages, label);
    return line == nullptr ? 0.0 : loggedNumber(*line, field);
}

// The rate of an encryption phase line: "<label>: bytes \ elapsed \ rate".
double phaseRate(const Lines& messages, const std::string& label) {
    const std::string* line = lineLabelled(messages, label);
    return line == nullptr ? 0.0 : std::strtod(line->c_str() + line->rfind("\\ ") + 2, nullptr);
}

struct DispatchCase {
    int id;
    Lines labels;                              // the debug lines the test writes, in order
    std::function<double(const Lines&)> raw;   // the test's own figure, from its lines
    double scale;                              // display unit per unit of the test's figure
};

class CpuDispatchTest : public ::testing::Test {
protected:
    Baseline record_;  // maps the area that tests 4 and 8 post into
    ScopedDebugLog log_;
};

}  // namespace

TEST_F(CpuDispatchTest, EveryIdReachesItsOwnTestAndScalesItsFigure) {
    const bool simd = HasCpuFeature(kCpuFeatureNeon);
    Lines matrixLabels = {"Begin MM Test", "Base MM test score"};
    if (simd) matrixLabels.insert(matrixLabels.end(), {"Begin NEON/SSE Test", "NEON test score"});

    const std::vector<DispatchCase> cases = {
        {0, {"INTEGER TEST"}, [](const Lines& l) { return numberAfter(l, "INTEGER TEST", "MOps = "); }, 1.0},
        {1, {"FLOAT TEST"}, [](const Lines& l) { return numberAfter(l, "FLOAT TEST", "MOps = "); }, 1.0},
        {2, {"PRIME TEST"},
         [](const Lines& l) {
             return numberAfter(l, "PRIME TEST", "Primes/loop = ") * numberAfter(l, "PRIME TEST", "Loops = ") /
                    numberAfter(l, "PRIME TEST", "Time Elapsed = ");
         },
         1e-6},
        {3, {"SORT TEST"}, [](const Lines& l) { return numberAfter(l, "SORT TEST", "Strings/s = "); }, 1e-3},
        {4, {"AES Encrypted\\Elapsed\\Bps", "SHA256 Hashed\\Elapsed\\Bps", "ECDSA verified\\Elapsed\\Bps"},
         [](const Lines& l) { return (phaseRate(l, "AES") + phaseRate(l, "SHA256") + phaseRate(l, "ECDSA")) / 3.0; },
         1.0 / 1048576.0},
        {5, {"NewCompressData"},
         [](const Lines& l) {
             return numberAfter(l, "NewCompressData", "chars encoded = ") /
                    numberAfter(l, "NewCompressData", "time elapsed = ");
         },
         1.0 / 1024.0},
        {6, {"FLOAT TEST", "SORT TEST", "NewCompressData", "Single Thread"},
         [](const Lines& l) {
             return (numberAfter(l, "Single Thread", "ResS = ") + numberAfter(l, "Single Thread", "ResF = ") +
                     numberAfter(l, "Single Thread", "ResC = ")) /
                    3.212;
         },
         1.0},
        {7, {"Physics Test"}, [](const Lines& l) { return numberAfter(l, "Physics Test", "Frames per second = "); }, 1.0},
        {8, matrixLabels,
         [simd](const Lines& l) {
             return simd ? numberAfter(l, "NEON test score", "= ") : numberAfter(l, "Base MM test score", "= ");
         },
         1.0},
    };

    // Distinct worker indexes show that tests 4 and 8 post into the slots
    // of the worker they were given.
    const int worker = 7;
    WorkerSyncArea area = currentWorkerSyncArea();
    for (const auto& c : cases) {
        SCOPED_TRACE("id " + std::to_string(c.id));
        std::filesystem::remove("debug.log");
        const double figure = dispatchCpuTest(c.id, 0, worker);
        const Lines lines = log_.messages();
        EXPECT_EQ(labelsOf(lines), c.labels);
        const double expected = c.raw(lines) * c.scale;
        EXPECT_GT(figure, 0.0);
        EXPECT_NEAR(figure, expected, expected * 2e-5);
    }
    for (int slot = 0; slot < 3; ++slot) {
        EXPECT_GT(area.encryptionResult(worker, slot), 0.0) << slot;
        EXPECT_EQ(area.encryptionResult(0, slot), 0.0) << slot;
    }
    EXPECT_GT(area.matrixResult(worker, 0), 0.0);
    EXPECT_EQ(area.matrixResult(0, 0), 0.0);
}
