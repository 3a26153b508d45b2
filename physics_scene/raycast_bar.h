#pragma once

#include <cstdint>

#include <LinearMath/btQuickprof.h>
#include <LinearMath/btThreads.h>
#include <btBulletDynamicsCommon.h>

class GuiHelper;

// A fan of rays cast against a world every frame (scene 7), with their
// closest hits and the casting time summed in blocks of 51 casts.
class btRaycastBar2 {
public:
    static constexpr int kRayCount = 500;

    // Empty batch: no rays set, counters zero, minimum block time 9999 ms.
    btRaycastBar2();
    // kRayCount rays fanning out over two turns about +y from (0,
    // startHeight, startZ), rayLength long horizontally and ending at
    // y = -1000; drawn through helper when it is not null.
    btRaycastBar2(float rayLength, float startHeight, float startZ, GuiHelper* helper);

    // Casts every ray against world (useParallelLoop: through btParallelFor)
    // and adds the time taken, in whole milliseconds, to the current block.
    // Every 51st call prints "<rays> rays in <block> ms <min> <max> <mean>"
    // to standard output and starts a new block.
    void castRayBatch(btCollisionWorld* world, bool useParallelLoop);
    // Hands the segments from each ray's start to its hit to the host.
    void drawRayBatch();

    // Casts rays [begin, end) of a batch; built on the caller's stack.
    class CastRaysLoopBody : public btIParallelForBody {
    public:
        CastRaysLoopBody(btCollisionWorld* world, btRaycastBar2* batch);
        void forLoop(int begin, int end) const override;

    private:
        btCollisionWorld* world_;
        btRaycastBar2* batch_;
    };

    btVector3 rayFrom[kRayCount];
    btVector3 rayTo[kRayCount];
    btVector3 hitPoint[kRayCount];
    btVector3 hitNormal[kRayCount];
    GuiHelper* guiHelper = nullptr; // not owned
    std::int32_t frameCount = 0;
    std::int32_t blockMilliseconds = 0;
    std::int32_t sumBlockMilliseconds = 0;
    std::int32_t blockSamples = 0;
    std::int32_t minBlockMilliseconds = 9999;
    std::int32_t maxBlockMilliseconds = 0;
    btClock frameTimer; // started at construction

private:
    // Casts ray `ray` against world and stores its closest hit (or, without
    // a hit, rayTo and the normal (1, 0, 0)).
    void castRay(btCollisionWorld* world, int ray);
};

// The one batch of the process, built at start-up and destroyed at exit.
extern btRaycastBar2 rayBatch;
