#pragma once

#include <cstdint>

#include "common_rigid_body_base.h"

class GuiHelper;
class RagDoll;

// Fixed settings of the benchmark scenes; nothing writes them.
extern const std::int32_t boxCountX;   // boxes per row of the grid along z
extern const std::int32_t boxCountZ;   // boxes per row along x
extern const std::int32_t boxLayers;   // layers of the grid
extern const std::int32_t gravityChoice;
extern const std::int32_t frictionChoice;
extern const float gravityTable[3];    // m/s^2 along y
extern const float frictionTable[3];
// boxCountX * boxCountZ * boxLayers, computed once at start-up (4000).
extern const std::int32_t totalBoxCount;

// What a caller hands to createBenchmarkDemo. Only guiHelper and option are
// read; the reserved fields are kept zero.
struct DemoOptions {
    GuiHelper* guiHelper = nullptr;
    std::int32_t option = 0;
    std::uintptr_t reserved1 = 0;
    std::uintptr_t reserved2 = 0;
    std::uintptr_t reserved3 = 0;
    std::uint8_t reservedFlag = 0;
};

// The benchmark scene. sceneOption picks what buildWorld puts on the world:
//   1 box grid (the measured load), 2 stacks, walls and a tower, 3 ragdolls,
//   4 stacked convex hulls (all four on a static ground box whose top face is
//   y = 0); 5 random boxes, spheres and capsules, 6 hulls, 7 hulls with a ray
//   batch (these three over a triangle-mesh terrain); 8 a cube in convex
//   fragments on a plane; 0 or less the ground alone; 9 or more nothing.
class BenchmarkDemo : public CommonRigidBodyBase {
public:
    BenchmarkDemo(GuiHelper* helper, std::int32_t option);
    // Deletes the ragdolls and tears the world down.
    ~BenchmarkDemo() override;

    void buildWorld() override;
    // Deletes the ragdolls, then the base teardown.
    void tearDownWorld() override;
    void updateGraphics() override;
    void stepFrame(float deltaTime) override;
    void resetView() override;

    void buildBoxGrid();
    void buildStackScene();
    void buildRagDollScene();
    void buildConvexHullStacks();
    void buildRandomShapes();
    void buildMeshScene();
    void buildPointCloudHulls();
    void buildWall(const btVector3& offset, std::int32_t size, const btVector3& halfExtents);
    void buildPyramid(const btVector3& offset, std::int32_t size, const btVector3& halfExtents);
    void buildTower(const btVector3& offset, std::int32_t levels, std::int32_t ringCount,
                    const btVector3& halfExtents);
    void addTriangleMeshBodies();
    // Refills the global rayBatch for this scene (scene 7).
    void setupRayBatch();

    btAlignedObjectArray<RagDoll*> ragDolls; // owned; null entries are skipped
    std::int32_t sceneOption;
    // The terrain's mesh interfaces (scenes 5 to 7), owned; released with the
    // world after the mesh shapes that use them.
    btAlignedObjectArray<btStridingMeshInterface*> terrainMeshes;
    // The pair cache that buildWorld made for its sweep-and-prune
    // broadphase, which uses it but does not own it; owned, null while there
    // is none. A default world's broadphase owns its cache itself.
    btOverlappingPairCache* broadphasePairCache = nullptr;

private:
    // The whole teardown of both tearDownWorld and the destructor.
    void endWorld();
    void deleteRagDolls();
};

// A new scene owned by the caller (delete it through the returned pointer),
// with the options' guiHelper and option; it has no world until buildWorld.
CommonExampleInterface* createBenchmarkDemo(const DemoOptions& options);
