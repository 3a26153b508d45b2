// CPU test 8, "Extended Instructions (NEON)": million 4x4 matrix by vector
// transforms per second, first with scalar code as a one-second baseline,
// then with the four-lane NEON kernel for half of the test's share.
//
// The NEON kernel is the same source on every machine: aarch64 compiles the
// intrinsics natively, x86-64 takes them from SIMDe, which maps each one to
// its SSE counterpart (vmulq_f32 to mulps, vaddq_f32 to addps). The build
// keeps -ffp-contract=off, so neither kernel has a multiply fused into an add
// and both round every operation the same way.

#include "cpu/matrix_multiply.h"

#include <cstdlib>
#include <iomanip>
#include <new>
#include <sstream>

#if defined(__aarch64__)
#include <arm_neon.h>
#else
#define SIMDE_ENABLE_NATIVE_ALIASES
#include <simde/arm/neon.h>
#endif

#include "cpu/cpu_tests.h"
#include "platform/sysctl.h"
#include "state/clock_log.h"
#include "state/minstd.h"
#include "state/worker_sync_area.h"

namespace {

// 100 vectors in and 100 out (3,200 bytes) stay in the first-level cache, so
// the test measures arithmetic rather than memory.
constexpr std::int32_t kVectorCount = 100;
constexpr std::size_t kArrayBytes = kVectorCount * sizeof(Vec4f);  // 1600
// The clock is read after every 500th kernel call (50,000 vectors), so its
// cost stays out of the figure.
constexpr std::int64_t kCallsPerClockRead = 500;
constexpr std::uint32_t kMatrixSeed = 777;
constexpr std::uint32_t kVectorSeed = 384050870;

constexpr int kScalarSlot = 0;  // sub-result slot of the scalar baseline
constexpr int kSimdSlot = 1;    // sub-result slot of the NEON score

// The unit's state, one copy per worker process. The harness refills the
// matrix on every run, always with the same values, so every kernel sees the
// same matrix and the same vectors.
Matrix4f gMatrix;
Vec4f* gInputs = nullptr;
Vec4f* gOutputs = nullptr;

// Receives output values of every run so that the kernel work is kept.
NullSink gMatrixSink;

}  // namespace

void FillHarnessMatrix(Matrix4f& matrix) {
    Minstd rng(kMatrixSeed);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const float d1 = static_cast<float>(rng.next());
            const float d2 = static_cast<float>(rng.next());
            matrix.m[r][c] = d1 / d2;
        }
    }
}

void FillHarnessVectors(Vec4f* inputs, Vec4f* outputs) {
    Minstd rng(kVectorSeed);
    for (std::int32_t k = 0; k < kVectorCount; ++k) {
        float d[8];
        for (float& v : d) v = static_cast<float>(rng.next());
        new (&inputs[k]) Vec4f(d[0] / d[1], d[2] / d[3], d[4] / d[5], d[6] / d[7]);
        new (&outputs[k]) Vec4f(0.0f, 0.0f, 0.0f, 0.0f);
    }
}

MatrixCalls defaultMatrixCalls() {
    return {nowNanoseconds,    posix_memalign,     std::free,           FillHarnessMatrix,
            FillHarnessVectors, TransformVectorsScalar, TransformVectorsSimd};
}

MatrixCalls matrixCalls = defaultMatrixCalls();

Matrix4f::Matrix4f(const Matrix4f& source, bool transpose) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            m[r][c] = transpose ? source.m[c][r] : source.m[r][c];
        }
    }
}

const char* CpuFeatureSystemValue(CpuFeature feature) {
    switch (feature) {
        case kCpuFeatureNeon: return "hw.optional.neon";
        case kCpuFeatureSse: return "hw.optional.sse";
        case kCpuFeatureAvx: return "hw.optional.avx1_0";
        case kCpuFeatureFma: return "hw.optional.fma";
        case kCpuFeatureAvx512f: return "hw.optional.avx512f";
        case kCpuFeatureNone: break;
    }
    return nullptr;
}

bool HasCpuFeature(CpuFeature feature) {
    std::int32_t value = 0;
    std::size_t size = sizeof(value);
    if (const char* name = CpuFeatureSystemValue(feature)) {
        // A failed query leaves value at 0: unknown reads as absent.
        platform::sysctlbyname(name, &value, &size, nullptr, 0);
    }
    return value != 0;
}

void TransformVectorsScalar(const Matrix4f& matrix, const Vec4f* in, Vec4f* out,
                            std::int32_t count) {
    const auto& m = matrix.m;
    for (std::int32_t k = 0; k < count; ++k) {
        const Vec4f v = in[k];
        out[k] = Vec4f(((m[0][0] * v.x + m[0][1] * v.y) + m[0][2] * v.z) + m[0][3] * v.w,
                       ((m[1][0] * v.x + m[1][1] * v.y) + m[1][2] * v.z) + m[1][3] * v.w,
                       ((m[2][0] * v.x + m[2][1] * v.y) + m[2][2] * v.z) + m[2][3] * v.w,
                       ((m[3][0] * v.x + m[3][1] * v.y) + m[3][2] * v.z) + m[3][3] * v.w);
    }
}

void TransformVectorsSimd(const Matrix4f& matrix, const Vec4f* in, Vec4f* out,
                          std::int32_t count) {
    // Row j of the transpose is column j of the matrix: the factor of lane j
    // of the input vector.
    const Matrix4f transposed(matrix, true);
    const float32x4_t col0 = vld1q_f32(transposed.m[0]);
    const float32x4_t col1 = vld1q_f32(transposed.m[1]);
    const float32x4_t col2 = vld1q_f32(transposed.m[2]);
    const float32x4_t col3 = vld1q_f32(transposed.m[3]);
    for (std::int32_t k = 0; k < count; ++k) {
        const float32x4_t v = vld1q_f32(&in[k].x);
        float32x4_t acc = vdupq_n_f32(0.0f);
        acc = vaddq_f32(acc, vmulq_f32(col0, vdupq_laneq_f32(v, 0)));
        acc = vaddq_f32(acc, vmulq_f32(col1, vdupq_laneq_f32(v, 1)));
        acc = vaddq_f32(acc, vmulq_f32(col2, vdupq_laneq_f32(v, 2)));
        acc = vaddq_f32(acc, vmulq_f32(col3, vdupq_laneq_f32(v, 3)));
        vst1q_f32(&out[k].x, acc);
    }
}

double RunMatrixKernel(MatrixKernel kernel, double seconds) {
    const MatrixCalls calls = matrixCalls;
    calls.fillMatrix(gMatrix);

    void* inputs = nullptr;
    void* outputs = nullptr;
    if (calls.allocate(&inputs, 16, kArrayBytes) != 0) return 0.0;
    if (calls.allocate(&outputs, 16, kArrayBytes) != 0) {
        calls.release(inputs);
        return 0.0;
    }
    gInputs = static_cast<Vec4f*>(inputs);
    gOutputs = static_cast<Vec4f*>(outputs);
    calls.fillVectors(gInputs, gOutputs);

    const std::int64_t start = calls.clock();
    const std::int64_t deadline =
        static_cast<std::int64_t>(seconds * 1000000000.0 + static_cast<double>(start));
    std::int64_t kernelCalls = 0;
    for (;;) {
        kernel(gMatrix, gInputs, gOutputs, kVectorCount);
        ++kernelCalls;
        if ((kernelCalls - 1) % kCallsPerClockRead == 0 && calls.clock() > deadline) break;
    }
    const std::int64_t end = calls.clock();

    gMatrixSink << gOutputs[0].y << gOutputs[1].y << gOutputs[2].y << gOutputs[3].y
                << gOutputs[kVectorCount - 1].y;

    calls.release(gInputs);
    calls.release(gOutputs);
    gInputs = nullptr;
    gOutputs = nullptr;

    const double elapsedSeconds = static_cast<double>(end - start) / 1000000000.0;
    return static_cast<double>(kernelCalls) * kVectorCount / elapsedSeconds / 1000000.0;
}

double MatrixMultiplyTest(std::int32_t workerIndex, double seconds) {
    WorkerSyncArea area = currentWorkerSyncArea();

    if (debugLogging) debugLog("Begin MM Test");

    // The scalar baseline always runs for exactly one second.
    const double base = RunMatrixKernel(matrixCalls.scalar, 1.0);
    if (area.valid()) area.setMatrixResult(workerIndex, kScalarSlot, base);
    if (debugLogging) {
        std::ostringstream line;
        line << "Base MM test score = " << std::fixed << std::setprecision(6) << base;
        debugLog(line.str());
    }

    // SIMD variants this processor offers; index 1 names none, so the count
    // is 1 with NEON and 0 without.
    const int variants = (HasCpuFeature(kCpuFeatureNeon) ? 1 : 0) +
                         (HasCpuFeature(kCpuFeatureNone) ? 1 : 0);
    double perVariant = seconds;
    if (variants > 0) {
        perVariant = seconds / variants;
        if (perVariant < 1.0) perVariant = 1.0;
    }

    double simdTotal = 0.0;
    if (HasCpuFeature(kCpuFeatureNeon)) {
        if (debugLogging) debugLog("Begin NEON/SSE Test");
        // Half of the share: with the 6-second duration a 3-second NEON run.
        const double simd = RunMatrixKernel(matrixCalls.simd, perVariant * 0.5);
        if (area.valid()) area.setMatrixResult(workerIndex, kSimdSlot, simd);
        simdTotal = simd;
        if (debugLogging) {
            std::ostringstream line;
            line << "NEON test score = " << std::fixed << std::setprecision(6) << simd;
            debugLog(line.str());
        }
    }

    if (variants > 0) return simdTotal / variants;
    return base;
}
