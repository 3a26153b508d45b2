#pragma once

#include <cstddef>
#include <cstdint>

// The pieces of the matrix multiply test (CPU test 8): a 4x4 single-precision
// matrix, four-float vectors, the two transform kernels and the timing
// harness that drives one of them. MatrixMultiplyTest itself is declared in
// cpu/cpu_tests.h.

// Sixteen floats m[r][c], row-major, each row one 16-byte aligned four-lane
// vector. Default construction leaves the floats as they are (a static
// instance therefore starts as zeros).
class Matrix4f {
public:
    Matrix4f() {}
    // Copies source; with transpose, m[r][c] = source.m[c][r].
    Matrix4f(const Matrix4f& source, bool transpose);
    virtual ~Matrix4f() {}

    alignas(16) float m[4][4];
};

// Four floats, 16 bytes; the unit the kernels transform.
struct alignas(16) Vec4f {
    Vec4f(float x_, float y_, float z_, float w_) : x(x_), y(y_), z(z_), w(w_) {}

    float x, y, z, w;
};
static_assert(sizeof(Vec4f) == 16);

// A processor feature, named by its index; each but kCpuFeatureNone is
// reported by one system value (see CpuFeatureSystemValue).
enum CpuFeature : std::int32_t {
    kCpuFeatureNeon = 0,     // "hw.optional.neon"
    kCpuFeatureNone = 1,     // never probed, always absent
    kCpuFeatureSse = 2,      // "hw.optional.sse"
    kCpuFeatureAvx = 3,      // "hw.optional.avx1_0"
    kCpuFeatureFma = 4,      // "hw.optional.fma"
    kCpuFeatureAvx512f = 5,  // "hw.optional.avx512f"
};

// The system value that reports feature, or nullptr for index 1 and for any
// index outside 0-5 (those read as absent without asking the system).
const char* CpuFeatureSystemValue(CpuFeature feature);

// True when the feature's system value exists and is non-zero. A value the
// platform does not know reads as absent.
bool HasCpuFeature(CpuFeature feature);

// out[k] = matrix * in[k] for k < count; a count below 1 does nothing.
using MatrixKernel = void (*)(const Matrix4f& matrix, const Vec4f* in, Vec4f* out,
                              std::int32_t count);

// Plain single-precision code: row j of the result is
// ((m[j][0]*x + m[j][1]*y) + m[j][2]*z) + m[j][3]*w, every product and sum a
// separate rounded operation.
void TransformVectorsScalar(const Matrix4f& matrix, const Vec4f* in, Vec4f* out,
                            std::int32_t count);

// Four-lane NEON code (native on aarch64, SIMDe's translation to SSE on
// x86-64): the accumulator starts at zero and receives column j of the matrix
// times lane j of the vector for j = 0..3, one separate multiply and one
// separate add each, so it rounds exactly as the scalar kernel does.
void TransformVectorsSimd(const Matrix4f& matrix, const Vec4f* in, Vec4f* out,
                          std::int32_t count);

// The harness's data: the matrix from Minstd seeded with 777 (m[r][c] = d1 /
// d2 in single precision, 32 draws), the 100 input vectors from seed
// 384,050,870 (eight draws each) and the 100 output vectors zeroed.
void FillHarnessMatrix(Matrix4f& matrix);
void FillHarnessVectors(Vec4f* inputs, Vec4f* outputs);

// Everything the harness and the test call besides their own arithmetic, as
// pointers so that a test can count the work, feed the clock or fail an
// allocation. The product never changes them; each holds the real thing.
// The timed loop loads the clock pointer once, so reading it costs what a
// direct call costs.
struct MatrixCalls {
    std::int64_t (*clock)();  // nowNanoseconds
    int (*allocate)(void** block, std::size_t alignment, std::size_t bytes);  // posix_memalign
    void (*release)(void* block);                                           // std::free
    void (*fillMatrix)(Matrix4f& matrix);
    void (*fillVectors)(Vec4f* inputs, Vec4f* outputs);
    MatrixKernel scalar;  // the baseline run's kernel
    MatrixKernel simd;    // the NEON run's kernel
};
extern MatrixCalls matrixCalls;
MatrixCalls defaultMatrixCalls();

// Fills the unit's matrix and 100 input vectors from fixed seeds, calls
// kernel on the 100 vectors until seconds have passed (the clock is read
// after the 1st, 501st, 1001st ... call, so at least one call is made) and
// returns million vector transforms per second, or 0.0 when the vector
// arrays cannot be allocated. Not reentrant: it uses the unit's globals.
double RunMatrixKernel(MatrixKernel kernel, double seconds);
