#include "cpu/matrix_multiply.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "cpu/cpu_tests.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "state/minstd.h"
#include "state/worker_sync_area.h"
#include "cpu_test_support.h"
#include "platform/sysctl.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

// Every call the harness makes besides its arithmetic, logged: M matrix
// filled, A allocated, V vectors filled, N clock read, K kernel called (a
// run of calls as K<count>), R released.
CallLog gLog;

// What the harness handed to the kernel on its first call.
struct Capture {
    Matrix4f matrix;
    std::vector<Vec4f> inputs;
    std::vector<Vec4f> outputs;
};
Capture gCapture;

void captureKernel(const Matrix4f& matrix, const Vec4f* in, Vec4f* out, std::int32_t count) {
    gLog.work('K', true);
    EXPECT_EQ(count, 100);
    if (gCapture.inputs.empty()) {
        gCapture.matrix = Matrix4f(matrix, false);
        gCapture.inputs.assign(in, in + count);
        gCapture.outputs.assign(out, out + count);
    }
    TransformVectorsScalar(matrix, in, out, count);
}

void resetCapture() {
    gCapture.inputs.clear();
    gCapture.outputs.clear();
}

std::string sixDigits(float a, float b, float c, float d) {
    std::ostringstream text;
    text << a << ' ' << b << ' ' << c << ' ' << d;
    return text.str();
}

std::string fixedSix(double value) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(6) << value;
    return text.str();
}

std::vector<Vec4f> zeros(std::size_t n) { return std::vector<Vec4f>(n, Vec4f(0, 0, 0, 0)); }

void expectSameVectors(const std::vector<Vec4f>& a, const std::vector<Vec4f>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t k = 0; k < a.size(); ++k) {
        EXPECT_EQ(a[k].x, b[k].x) << "vector " << k;
        EXPECT_EQ(a[k].y, b[k].y) << "vector " << k;
        EXPECT_EQ(a[k].z, b[k].z) << "vector " << k;
        EXPECT_EQ(a[k].w, b[k].w) << "vector " << k;
    }
}

TEST(MatrixHarness, FillsTheFixedMatrixAndInputVectors) {
    resetCapture();
    RunMatrixKernel(captureKernel, -1.0);
    ASSERT_EQ(gCapture.inputs.size(), 100u);
    const auto& m = gCapture.matrix.m;
    EXPECT_EQ(sixDigits(m[0][0], m[0][1], m[0][2], m[0][3]), "0.248748 0.320955 0.261164 0.539429");
    const Vec4f& first = gCapture.inputs[0];
    EXPECT_EQ(sixDigits(first.x, first.y, first.z, first.w), "9.34538 0.375684 0.514312 0.400412");
    for (const Vec4f& v : gCapture.outputs) {
        EXPECT_EQ(sixDigits(v.x, v.y, v.z, v.w), "0 0 0 0");
    }
}

class MatrixCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        gLog = CallLog{};
        resetCapture();
        scalarCalls = 0;
        simdCalls = 0;
        matrixCalls.clock = [] { return gLog.now(); };
        matrixCalls.allocate = [](void** block, std::size_t alignment, std::size_t bytes) {
            void* made = gLog.allocate<void>([&] {
                return posix_memalign(block, alignment, bytes) == 0 ? *block : nullptr;
            });
            return made == nullptr ? ENOMEM : 0;
        };
        matrixCalls.release = [](void* block) {
            gLog.release(block);
            std::free(block);
        };
        matrixCalls.fillMatrix = [](Matrix4f& matrix) {
            gLog.events += 'M';
            FillHarnessMatrix(matrix);
        };
        matrixCalls.fillVectors = [](Vec4f* in, Vec4f* out) {
            gLog.events += 'V';
            FillHarnessVectors(in, out);
        };
        matrixCalls.scalar = [](const Matrix4f& m, const Vec4f* in, Vec4f* out, std::int32_t n) {
            gLog.work('K', true);
            ++scalarCalls;
            TransformVectorsScalar(m, in, out, n);
        };
        matrixCalls.simd = [](const Matrix4f& m, const Vec4f* in, Vec4f* out, std::int32_t n) {
            gLog.work('K', true);
            ++simdCalls;
            TransformVectorsSimd(m, in, out, n);
        };
    }
    void TearDown() override {
        matrixCalls = defaultMatrixCalls();
        platform::failNameForTesting("hw.optional.neon", 0);
    }

    static inline std::int64_t scalarCalls = 0;
    static inline std::int64_t simdCalls = 0;
};

// A clock that advances 0.4 s per reading makes a one-second run leave after
// the reading that follows call 1001 (0.4, 0.8, 1.2 s); the fresh end reading
// is 1.6 s after the start. 1001 x 100 vectors in 1.6 s = 0.0625625 million
// per second. A deadline already past leaves after call 1 (0.8 s). Without either
// array the score is 0, and the input array had is released.
TEST_F(MatrixCallsTest, HarnessTimesOnlyTheKernelCallsItCounts) {
    struct Case {
        double seconds;
        int failingAllocation;
        const char* steps;
        double score;
    };
    const Case cases[] = {
        {1.0, -1, "MAAVNKNK500NK500NNRR", 1001 * 100 / 1.6 / 1e6},
        {-1.0, -1, "MAAVNKNNRR", 100 / 0.8 / 1e6},
        {1.0, 0, "MA", 0.0},
        {1.0, 1, "MAAR", 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        SetUp();
        gLog.step = 400000000;
        gLog.failingAllocation = c.failingAllocation;
        EXPECT_DOUBLE_EQ(RunMatrixKernel(captureKernel, c.seconds), c.score);
        EXPECT_EQ(gLog.events, c.steps);
        EXPECT_EQ(gLog.released, gLog.blocks);
    }
}

TEST(MatrixKernels, ScalarAndSimdAgreeExactlyWithMixedSignsAndMagnitudes) {
    // Terms of very different size and sign: any change in the order of the
    // additions or a fused multiply-add changes the rounded result.
    Minstd rng(4242);
    auto draw = [&rng] {
        const float unit = static_cast<float>(rng.next()) / 2147483647.0f - 0.5f;
        const int exponent = static_cast<int>(rng.next() % 41) - 20;
        return std::ldexp(unit, exponent);
    };
    Matrix4f matrix;
    for (auto& row : matrix.m) {
        for (float& v : row) v = draw();
    }
    std::vector<Vec4f> in;
    for (int k = 0; k < 1000; ++k) in.emplace_back(draw(), draw(), draw(), draw());
    std::vector<Vec4f> scalar = zeros(in.size()), simd = zeros(in.size());
    TransformVectorsScalar(matrix, in.data(), scalar.data(), static_cast<std::int32_t>(in.size()));
    TransformVectorsSimd(matrix, in.data(), simd.data(), static_cast<std::int32_t>(in.size()));
    expectSameVectors(scalar, simd);

    // Each row is ((m0*x + m1*y) + m2*z) + m3*w, computed here in double and
    // rounded after every step, which is what single precision does.
    auto single = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    for (std::size_t k = 0; k < in.size(); ++k) {
        const Vec4f& v = in[k];
        for (int j = 0; j < 4; ++j) {
            const auto& r = matrix.m[j];
            double sum = single(double(r[0]) * v.x);
            sum = single(sum + single(double(r[1]) * v.y));
            sum = single(sum + single(double(r[2]) * v.z));
            sum = single(sum + single(double(r[3]) * v.w));
            const float lanes[4] = {scalar[k].x, scalar[k].y, scalar[k].z, scalar[k].w};
            ASSERT_EQ(lanes[j], static_cast<float>(sum)) << "vector " << k << " row " << j;
        }
    }
}

TEST(MatrixKernels, NeitherKernelFusesAMultiplyIntoAnAdd) {
    // Row 0: (-1 - 2^-11) * 1 + (1 + 2^-12)^2. The square is 1 + 2^-11 +
    // 2^-24, which rounds (to even) to 1 + 2^-11, so separate operations give
    // exactly 0; a fused multiply-add would keep the 2^-24.
    Matrix4f matrix;
    for (auto& row : matrix.m) {
        for (float& v : row) v = 0.0f;
    }
    const float a = 1.0f + std::ldexp(1.0f, -12);
    matrix.m[0][0] = -(1.0f + std::ldexp(1.0f, -11));
    matrix.m[0][1] = a;
    const std::vector<Vec4f> in = {Vec4f(1.0f, a, 0.0f, 0.0f)};
    std::vector<Vec4f> scalar = zeros(1), simd = zeros(1);
    TransformVectorsScalar(matrix, in.data(), scalar.data(), 1);
    TransformVectorsSimd(matrix, in.data(), simd.data(), 1);
    EXPECT_EQ(scalar[0].x, 0.0f);
    EXPECT_EQ(simd[0].x, 0.0f);
}

TEST(MatrixKernels, CountBelowOneWritesNothing) {
    Matrix4f matrix;
    for (auto& row : matrix.m) {
        for (float& v : row) v = 2.0f;
    }
    const std::vector<Vec4f> in(4, Vec4f(1, 2, 3, 4));
    for (std::int32_t count : {0, -3}) {
        std::vector<Vec4f> scalar(4, Vec4f(7, 7, 7, 7)), simd(4, Vec4f(7, 7, 7, 7));
        TransformVectorsScalar(matrix, in.data(), scalar.data(), count);
        TransformVectorsSimd(matrix, in.data(), simd.data(), count);
        expectSameVectors(scalar, std::vector<Vec4f>(4, Vec4f(7, 7, 7, 7)));
        expectSameVectors(simd, std::vector<Vec4f>(4, Vec4f(7, 7, 7, 7)));
    }
}

TEST(MatrixTypes, TransposingCopySwapsRowsAndColumns) {
    Matrix4f source;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) source.m[r][c] = static_cast<float>(10 * r + c);
    }
    const Matrix4f copy(source, false);
    const Matrix4f transposed(source, true);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(copy.m[r][c], source.m[r][c]);
            EXPECT_EQ(transposed.m[r][c], source.m[c][r]);
        }
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&source.m[1][0]) % 16, 0u);
}

TEST(CpuFeatures, IndexOneAndIndicesOutsideTheTableAreNeverProbed) {
    for (int index : {1, 6, -1, 100}) {
        const auto feature = static_cast<CpuFeature>(index);
        EXPECT_EQ(CpuFeatureSystemValue(feature), nullptr) << index;
        EXPECT_FALSE(HasCpuFeature(feature)) << index;
    }
    EXPECT_STREQ(CpuFeatureSystemValue(kCpuFeatureNeon), "hw.optional.neon");
    EXPECT_STREQ(CpuFeatureSystemValue(kCpuFeatureAvx), "hw.optional.avx1_0");
}

TEST(CpuFeatures, NeonIsReportedWhereverTheSimdKernelRuns) {
    // x86-64 runs the NEON kernel through its SSE translation; aarch64 Linux
    // always has Advanced SIMD.
    EXPECT_TRUE(HasCpuFeature(kCpuFeatureNeon));
#if defined(__x86_64__)
    EXPECT_TRUE(HasCpuFeature(kCpuFeatureSse));  // part of every x86-64
#elif defined(__aarch64__)
    EXPECT_FALSE(HasCpuFeature(kCpuFeatureSse));
    EXPECT_FALSE(HasCpuFeature(kCpuFeatureAvx));
#endif
}

constexpr double kUntouched = -7.5;

// With a clock advancing 0.5 s per reading, a run of d seconds leaves after
// the first reading past d (after call 1, 501, 1001 ...) and ends 0.5 s
// later: the one-second scalar baseline makes 1001 calls in 2.0 s
// (0.05005 million vectors per second); the NEON run gets half of
// max(duration, 1) seconds: 0.5 s gives 501 calls in 1.5 s (0.0334), 3 s
// gives 3001 calls in 4.0 s (0.075025).
TEST_F(MatrixCallsTest, TestRunsTheBaselineForOneSecondAndNeonForHalfItsShare) {
    struct Case {
        double seconds;
        bool neonProbeFails;
        int failAllocation;  // 2: the NEON run's first array
        std::int64_t simdCalls;
        double simdScore;
        double result;
    };
    const double base = 1001 * 100 / 2.0 / 1e6;
    const Case cases[] = {
        {0.0, false, -1, 501, 501 * 100 / 1.5 / 1e6, 501 * 100 / 1.5 / 1e6},
        {6.0, false, -1, 3001, 3001 * 100 / 4.0 / 1e6, 3001 * 100 / 4.0 / 1e6},
        {6.0, false, 2, 0, 0.0, 0.0},
        // Without NEON the figure is the baseline and slot 1 stays as it was.
        {6.0, true, -1, 0, kUntouched, base},
    };
    Baseline baseline;  // maps a fresh area
    WorkerSyncArea area = currentWorkerSyncArea();
    ASSERT_TRUE(area.valid());
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.seconds << " s, probe fails " << c.neonProbeFails
                                          << ", allocation " << c.failAllocation);
        SetUp();
        gLog.failingAllocation = c.failAllocation;
        gLog.step = 500000000;
        platform::failNameForTesting("hw.optional.neon", c.neonProbeFails ? ENOENT : 0);
        for (int w : {1, 2, 3}) {
            for (int slot = 0; slot < 5; ++slot) area.setMatrixResult(w, slot, kUntouched);
        }

        vxtest::ScopedWorkDir dir;
        vxtest::ScopedDebugLogging logging;
        const double result = MatrixMultiplyTest(2, c.seconds);

        EXPECT_EQ(scalarCalls, 1001);
        EXPECT_EQ(simdCalls, c.simdCalls);
        EXPECT_DOUBLE_EQ(area.matrixResult(2, 0), base);
        EXPECT_DOUBLE_EQ(area.matrixResult(2, 1), c.simdScore);
        EXPECT_DOUBLE_EQ(result, c.result);
        for (int slot = 2; slot < 5; ++slot) EXPECT_EQ(area.matrixResult(2, slot), kUntouched);
        for (int w : {1, 3}) {
            for (int slot = 0; slot < 5; ++slot) EXPECT_EQ(area.matrixResult(w, slot), kUntouched);
        }

        std::vector<std::string> expected = {"Begin MM Test", "Base MM test score = 0.050050"};
        if (!c.neonProbeFails) {
            expected.push_back("Begin NEON/SSE Test");
            expected.push_back("NEON test score = " + fixedSix(c.simdScore));
        }
        EXPECT_EQ(vxtest::debugMessages(), expected);
    }
}

TEST(MatrixMultiplyTest, RunnerSumsEveryWorkersSubResultsIntoTheRecord) {
    Baseline baseline;
    baseline.testSeconds = 1;
    baseline.numTestProcesses = 2;
    vxtest::ScopedWorkDir dir;
    runTest(&baseline, 8);
    WorkerSyncArea area = currentWorkerSyncArea();

    EXPECT_GT(baseline.results[8], 0.0);
    // Each worker's figure is its NEON score, so the two sums are one sum.
    EXPECT_DOUBLE_EQ(baseline.results[8], baseline.matrixResults[1]);
    EXPECT_DOUBLE_EQ(baseline.matrixResults[0], area.matrixResult(0, 0) + area.matrixResult(1, 0));
    EXPECT_GT(area.matrixResult(0, 0), 0.0);
    EXPECT_GT(area.matrixResult(1, 0), 0.0);
    for (int slot = 2; slot < 5; ++slot) EXPECT_EQ(baseline.matrixResults[slot], 0.0);
    EXPECT_TRUE(vxtest::noChildProcessesLeft());
}

}  // namespace
