#pragma once

// Building a scene by option and reading its bodies, for the scene tests.

#include <cstdint>
#include <memory>

#include "benchmark_demo.h"

namespace scenetest {

constexpr float kTimeStep = 1.0f / 60.0f;

// A scene of the given option with its world built; host may be null.
inline std::unique_ptr<BenchmarkDemo> builtScene(std::int32_t option, GuiHelper* host = nullptr)
{
    DemoOptions options;
    options.guiHelper = host;
    options.option = option;
    std::unique_ptr<BenchmarkDemo> scene(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
    scene->buildWorld();
    return scene;
}

inline btRigidBody* bodyAt(const BenchmarkDemo& scene, int index)
{
    return btRigidBody::upcast(scene.dynamicsWorld->getCollisionObjectArray()[index]);
}

inline btVector3 originOf(const BenchmarkDemo& scene, int index)
{
    return bodyAt(scene, index)->getWorldTransform().getOrigin();
}

} // namespace scenetest
