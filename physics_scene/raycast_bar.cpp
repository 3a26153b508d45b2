#include "raycast_bar.h"

#include <cstdio>

#include "benchmark_demo.h"
#include "gui_helper.h"

namespace {

// Casts per timing report: the 51st cast since the last report prints one.
constexpr int kCastsPerReport = 51;
constexpr float kPi = 3.1415927f;
// Two full turns over the batch, so ray i + 250 repeats the direction of
// ray i. The step is rounded to float before it is multiplied.
constexpr float kAngleStep = (4.0f * kPi) / static_cast<float>(btRaycastBar2::kRayCount);
constexpr float kRayEndHeight = -1000.0f;

constexpr float kRayColour[4] = {1.0f, 0.4f, 0.4f, 1.0f};
constexpr float kRayLineWidth = 1.0f;

} // namespace

btRaycastBar2::btRaycastBar2()
{
    const btVector3 zero(0.0f, 0.0f, 0.0f);
    for (int i = 0; i < kRayCount; ++i) {
        rayFrom[i] = zero;
        rayTo[i] = zero;
        hitPoint[i] = zero;
        hitNormal[i] = zero;
    }
}

btRaycastBar2::btRaycastBar2(float rayLength, float startHeight, float startZ, GuiHelper* helper)
    : guiHelper(helper)
{
    const btVector3 up(0.0f, 1.0f, 0.0f);
    const btVector3 start(0.0f, startHeight, startZ);
    for (int i = 0; i < kRayCount; ++i) {
        const float angle = static_cast<float>(i) * kAngleStep;
        const btQuaternion turn(up, angle);
        const btVector3 direction = quatRotate(turn, btVector3(1.0f, 0.0f, 0.0f)) * rayLength;
        rayFrom[i] = start;
        rayTo[i] = start + direction;
        rayTo[i].setY(kRayEndHeight);
        // Until the first cast a ray counts as one that hit nothing.
        hitPoint[i] = rayTo[i];
        hitNormal[i] = btVector3(1.0f, 0.0f, 0.0f);
    }
}

void btRaycastBar2::castRay(btCollisionWorld* world, int ray)
{
    // Closest hit, hit fraction 1, filter group 1 and every mask bit, no
    // ray-test flags: the callback's defaults.
    btCollisionWorld::ClosestRayResultCallback callback(rayFrom[ray], rayTo[ray]);
    {
        BT_PROFILE("cw->rayTest");
        world->rayTest(rayFrom[ray], rayTo[ray], callback);
    }
    if (callback.hasHit()) {
        hitPoint[ray] = callback.m_hitPointWorld;
        hitNormal[ray] = callback.m_hitNormalWorld / callback.m_hitNormalWorld.length();
    } else {
        hitPoint[ray] = rayTo[ray];
        hitNormal[ray] = btVector3(1.0f, 0.0f, 0.0f);
    }
}

void btRaycastBar2::castRayBatch(btCollisionWorld* world, bool useParallelLoop)
{
    BT_PROFILE("cast");
    frameTimer.reset();
    if (useParallelLoop) {
        CastRaysLoopBody body(world, this);
        btParallelFor(0, kRayCount, 20, body);
    } else {
        for (int ray = 0; ray < kRayCount; ++ray) {
            castRay(world, ray);
        }
    }
    blockMilliseconds += static_cast<std::int32_t>(frameTimer.getTimeMilliseconds());
    ++frameCount;

    if (frameCount >= kCastsPerReport) {
        if (blockMilliseconds < minBlockMilliseconds) {
            minBlockMilliseconds = blockMilliseconds;
        }
        if (blockMilliseconds > maxBlockMilliseconds) {
            maxBlockMilliseconds = blockMilliseconds;
        }
        sumBlockMilliseconds += blockMilliseconds;
        ++blockSamples;
        const float mean = static_cast<float>(sumBlockMilliseconds) / static_cast<float>(blockSamples);
        std::printf("%d rays in %d ms %d %d %f\n", kRayCount * frameCount, blockMilliseconds,
                    minBlockMilliseconds, maxBlockMilliseconds, static_cast<double>(mean));
        frameCount = 0;
        blockMilliseconds = 0;
    }
}

void btRaycastBar2::drawRayBatch()
{
    if (guiHelper == nullptr) {
        return;
    }
    // One segment per ray, from its start to its hit (or its end).
    btAlignedObjectArray<btVector3> points;
    btAlignedObjectArray<int> indices;
    points.resize(2 * kRayCount);
    indices.resize(2 * kRayCount);
    for (int ray = 0; ray < kRayCount; ++ray) {
        points[2 * ray] = rayFrom[ray];
        points[2 * ray + 1] = hitPoint[ray];
    }
    for (int i = 0; i < 2 * kRayCount; ++i) {
        indices[i] = i;
    }
    if (GuiRenderer* renderer = guiHelper->renderer()) {
        renderer->drawLines(points[0].m_floats, kRayColour, points.size(), static_cast<int>(sizeof(btVector3)),
                            &indices[0], indices.size(), kRayLineWidth);
    }
}

btRaycastBar2::CastRaysLoopBody::CastRaysLoopBody(btCollisionWorld* world, btRaycastBar2* batch)
    : world_(world), batch_(batch)
{
}

void btRaycastBar2::CastRaysLoopBody::forLoop(int begin, int end) const
{
    for (int ray = begin; ray < end; ++ray) {
        batch_->castRay(world_, ray);
    }
}

void BenchmarkDemo::setupRayBatch()
{
    // Copied member by member, the clock's state by value: rayBatch keeps
    // its own clock object and the fresh batch's clock ends here.
    rayBatch = btRaycastBar2(2500.0f, 50.0f, 0.0f, guiHelper);
}
