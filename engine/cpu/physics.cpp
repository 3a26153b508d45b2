#include <bit>
#include <cstdint>
#include <sstream>
#include <string>

#include "benchmark_demo.h"
#include "cpu/cpu_tests.h"
#include "cpu/physics_test.h"
#include "state/clock_log.h"

namespace {

// Receives the steady-state rates, which nothing reads: they keep the
// bookkeeping from being optimised away and stay out of the result.
NullSink physicsSink;

// 1/60 s rounded to single precision, the scene's time step.
constexpr float kFrameTimeStep = 1.0f / 60.0f;
static_assert(std::bit_cast<std::uint32_t>(kFrameTimeStep) == 0x3C888889u);

// Each instance lives this many frames, so every measured frame comes from a
// scene in the first 100 frames of its simulation.
constexpr std::int32_t kFramesPerInstance = 100;
// Frames before this run-wide index are the settling phase and are left out
// of the steady-state diagnostics.
constexpr std::int32_t kFirstSteadyFrame = 29;
constexpr std::int32_t kTenFrameBlock = 10;
constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// The one scene option the benchmark selects: the box grid.
constexpr std::int32_t kBoxGridScene = 1;

CommonExampleInterface* newBuiltScene(PhysicsSceneFactory factory, const DemoOptions& options,
                                      PhysicsRunFigures& figures)
{
    CommonExampleInterface* scene = factory(options);
    ++figures.instances;
    scene->buildWorld();
    return scene;
}

} // namespace

void preparePhysicsTest()
{
    // The scene's bodies and motion states take their default transforms
    // from Bullet's identity transform and matrix, function-local statics of
    // its headers made on first use.
    (void)btTransform::getIdentity();
    (void)btMatrix3x3::getIdentity();
}

PhysicsRunFigures runPhysicsTest(double testSeconds, PhysicsSceneFactory factory, PhysicsClock clock)
{
    DemoOptions options;
    options.guiHelper = nullptr;
    options.option = kBoxGridScene;
    options.reserved1 = 0;
    options.reserved2 = 0;
    options.reserved3 = 0;
    options.reservedFlag = 0;

    PhysicsRunFigures figures;
    CommonExampleInterface* scene = newBuiltScene(factory, options, figures);

    const std::int64_t start = clock();
    const auto deadline = static_cast<std::int64_t>(testSeconds * 1000000000.0 + static_cast<double>(start));

    std::int32_t steadyFrames = 0;
    std::int64_t steadyNanoseconds = 0;
    float runningRate = 0.0f;
    float tenFrameRate = 0.0f;

    for (;;) {
        bool pastDeadline = false;
        for (std::int32_t frame = 0; frame < kFramesPerInstance; ++frame) {
            const std::int64_t t1 = clock();
            scene->stepFrame(kFrameTimeStep);
            const std::int64_t t2 = clock();
            const std::int64_t stepTime = t2 - t1;
            figures.stepNanoseconds += stepTime;

            if (figures.frames + frame >= kFirstSteadyFrame) {
                steadyNanoseconds += stepTime;
                ++steadyFrames;
                // Whole seconds on purpose: these rates are diagnostics for
                // the sink only (a zero divisor gives infinity).
                runningRate = static_cast<float>(steadyFrames) /
                              static_cast<float>(figures.stepNanoseconds / kNanosecondsPerSecond);
                if (steadyFrames % kTenFrameBlock == 0) {
                    tenFrameRate = static_cast<float>(kTenFrameBlock) /
                                   static_cast<float>(steadyNanoseconds / kNanosecondsPerSecond);
                    steadyNanoseconds = 0;
                }
            }

            if (t2 > deadline) {
                figures.frames += frame + 1;
                pastDeadline = true;
                break;
            }
        }
        if (!pastDeadline) {
            figures.frames += kFramesPerInstance;
        }
        delete scene;
        if (pastDeadline) {
            break;
        }
        scene = newBuiltScene(factory, options, figures);
    }

    physicsSink << static_cast<double>(runningRate) << static_cast<double>(tenFrameRate);

    figures.framesPerSecond =
        static_cast<double>(figures.frames) / (static_cast<double>(figures.stepNanoseconds) / 1000000000.0);

    if (debugLogging) {
        std::ostringstream message;
        message << "Physics Test: Frames per second = " << std::to_string(figures.framesPerSecond);
        debugLog(message.str());
    }
    return figures;
}

double PhysicsTest(double seconds)
{
    return runPhysicsTest(seconds, createBenchmarkDemo, nowNanoseconds).framesPerSecond;
}
