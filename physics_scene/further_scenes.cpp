#include "benchmark_demo.h"

// Scenes 2 to 8 and their shared builders. The benchmark itself builds only
// scene 1; these are filled in for hosts that pick another scene.

void BenchmarkDemo::buildStackScene() {}

void BenchmarkDemo::buildRagDollScene() {}

void BenchmarkDemo::buildConvexHullStacks() {}

void BenchmarkDemo::buildRandomShapes() {}

void BenchmarkDemo::buildMeshScene() {}

void BenchmarkDemo::buildPointCloudHulls() {}

void BenchmarkDemo::buildWall(const btVector3& /*offset*/, std::int32_t /*size*/,
                              const btVector3& /*halfExtents*/)
{
}

void BenchmarkDemo::buildPyramid(const btVector3& /*offset*/, std::int32_t /*size*/,
                                 const btVector3& /*halfExtents*/)
{
}

void BenchmarkDemo::buildTower(const btVector3& /*offset*/, std::int32_t /*levels*/,
                               std::int32_t /*ringCount*/, const btVector3& /*halfExtents*/)
{
}

void BenchmarkDemo::addTriangleMeshBodies() {}
