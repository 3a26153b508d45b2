#include "raycast_bar.h"

#include "benchmark_demo.h"
#include "gui_helper.h"

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

void btRaycastBar2::castRayBatch(btCollisionWorld* /*world*/, bool /*useParallelLoop*/) {}

void btRaycastBar2::drawRayBatch() {}

btRaycastBar2::CastRaysLoopBody::CastRaysLoopBody(btCollisionWorld* world, btRaycastBar2* batch)
    : world_(world), batch_(batch)
{
}

void btRaycastBar2::CastRaysLoopBody::forLoop(int /*begin*/, int /*end*/) const {}

void BenchmarkDemo::setupRayBatch() {}
