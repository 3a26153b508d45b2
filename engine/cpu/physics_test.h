#pragma once

#include <cstdint>

class CommonExampleInterface;
struct DemoOptions;

// Makes one scene instance from the options; the caller owns and deletes it.
using PhysicsSceneFactory = CommonExampleInterface* (*)(const DemoOptions& options);
// The driver's clock in nanoseconds: nowNanoseconds, or a test's own.
using PhysicsClock = std::int64_t (*)();

// What one run of the physics test measured.
struct PhysicsRunFigures {
    std::int32_t frames = 0;               // frames stepped over all instances
    std::int64_t stepNanoseconds = 0;      // time inside the step calls only
    std::int32_t instances = 0;            // scene instances created
    double framesPerSecond = 0.0;          // frames / step seconds
};

// The physics test with its scene factory and clock as parameters:
// PhysicsTest runs it with createBenchmarkDemo and nowNanoseconds; tests hand
// in a factory that wraps or replaces the scene to watch what the driver
// does, and a clock that only the stand-in scene advances. Writes the
// steady-state diagnostics to the driver's sink and, with debugLogging set,
// the result line to the debug log.
PhysicsRunFigures runPhysicsTest(double testSeconds, PhysicsSceneFactory factory,
                                 PhysicsClock clock);
