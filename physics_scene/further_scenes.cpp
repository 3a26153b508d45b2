#include "benchmark_demo.h"

#include <cstdlib>

#include "gui_helper.h"
#include "rag_doll.h"
#include "scene_tables.h"

// Scenes 2 to 8 and the builders they share. The benchmark itself builds
// only scene 1; these are other loads for a caller that picks another scene.
// All arithmetic is single precision in the order written, so that a build
// places every body at the same float position on every machine.

namespace {

constexpr float kPi = 3.1415927f;
constexpr float kHullMass = 1.0f;
constexpr float kBoxMass = 1.0f;

btTransform translation(const btVector3& origin)
{
    btTransform transform;
    transform.setIdentity();
    transform.setOrigin(origin);
    return transform;
}

// The grid of scenes 5 to 7: 10 layers of 10 x 10 points, spread wider and
// higher layer by layer, each layer shifted back by 0.45 of its gap. Grid
// point (x, y, z) lies at (5x, y + 25, 5z) in the world; place is called
// once per point, layer by layer, rows along z, columns along x.
template <typename Place>
void forEachTerrainGridPoint(Place place)
{
    float gap = 2.0f;
    float start = -25.0f;
    float y = 20.0f;
    for (int layer = 0; layer < 10; ++layer) {
        const float step = gap + 3.0f;
        for (int i = 0; i < 10; ++i) {
            const float z = start + step * static_cast<float>(i);
            for (int j = 0; j < 10; ++j) {
                const float x = start + step * static_cast<float>(j);
                place(btVector3(5.0f * x, y + 25.0f, 5.0f * z));
            }
        }
        start = start + (gap * -0.05f) * 9.0f;
        gap = gap * 1.1f;
        y = y + (gap + 3.0f);
    }
}

// Appends the barrel outline to a hull in stored order, bounds recalculated
// after each point.
void addBarrelOutline(btConvexHullShape* hull)
{
    for (const float* point : hullPointTable) {
        hull->addPoint(btVector3(point[0], point[1], point[2]), true);
    }
}

} // namespace

void BenchmarkDemo::buildWall(const btVector3& offset, std::int32_t size, const btVector3& halfExtents)
{
    btBoxShape* shape = new btBoxShape(halfExtents);
    collisionShapes.push_back(shape);

    const float stepZ = halfExtents.z() + halfExtents.z();
    const float stepY = halfExtents.y() + halfExtents.y();
    float z0 = (stepZ * static_cast<float>(-size)) * 0.5f;
    float y = halfExtents.y();
    for (std::int32_t rowLength = size; rowLength > 0; --rowLength) {
        for (std::int32_t i = 0; i < rowLength; ++i) {
            const btVector3 local(0.0f, y, z0 + static_cast<float>(i) * stepZ);
            spawnRigidBody(kBoxMass, translation(offset + local), shape);
        }
        z0 = z0 + halfExtents.z();
        y = y + stepY;
    }
}

void BenchmarkDemo::buildPyramid(const btVector3& offset, std::int32_t size, const btVector3& halfExtents)
{
    btBoxShape* shape = new btBoxShape(halfExtents);
    collisionShapes.push_back(shape);

    // Boxes 2% of a half extent plus 0.0001 apart, so that neighbours start
    // without contact.
    const float dx = halfExtents.x() * 1.02f;
    const float dy = halfExtents.y() * 1.02f;
    const float dz = halfExtents.z() * 1.02f;
    const float stepX = (dx + dx) + 0.0001f;
    const float stepY = (dy + dy) + 0.0001f;
    const float stepZ = (dz + dz) + 0.0001f;
    float x0 = (stepX * static_cast<float>(-size)) * 0.5f;
    float z0 = (stepZ * static_cast<float>(-size)) * 0.5f;
    float y = halfExtents.y();
    for (std::int32_t side = size; side > 0; --side) {
        for (std::int32_t i = 0; i < side; ++i) {
            const float z = z0 + static_cast<float>(i) * stepZ;
            for (std::int32_t j = 0; j < side; ++j) {
                const float x = x0 + static_cast<float>(j) * stepX;
                spawnRigidBody(kBoxMass, translation(offset + btVector3(x, y, z)), shape);
            }
        }
        x0 = x0 + dx;
        z0 = z0 + dz;
        y = y + stepY;
    }
}

void BenchmarkDemo::buildTower(const btVector3& offset, std::int32_t levels, std::int32_t ringCount,
                               const btVector3& halfExtents)
{
    btBoxShape* shape = new btBoxShape(halfExtents);
    collisionShapes.push_back(shape);

    const float count = static_cast<float>(ringCount);
    const float radius = ((count * 1.3f) * halfExtents.x()) / kPi;
    const btVector3 up(0.0f, 1.0f, 0.0f);
    // btQuaternion(axis, angle) halves the angle itself.
    const btQuaternion boxStep(up, kPi / (count * 0.5f));
    const btQuaternion levelStep(up, kPi / count);
    btQuaternion orientation(0.0f, 1.0f, 0.0f, 0.0f); // half a turn about +y

    float y = halfExtents.y();
    for (std::int32_t level = 0; level < levels; ++level) {
        for (std::int32_t box = 0; box < ringCount; ++box) {
            btTransform transform;
            transform.setIdentity();
            transform.setRotation(orientation);
            transform.setOrigin(offset + quatRotate(orientation, btVector3(0.0f, y, radius)));
            spawnRigidBody(kBoxMass, transform, shape);
            orientation = orientation * boxStep;
        }
        // Each ring turned half a box against the one below.
        y = y + halfExtents.y() + halfExtents.y();
        orientation = orientation * levelStep;
    }
}

void BenchmarkDemo::buildStackScene()
{
    const btVector3 unit(1.0f, 1.0f, 1.0f);
    buildPyramid(btVector3(-20.0f, 0.0f, 0.0f), 12, unit);
    buildWall(btVector3(-2.0f, 0.0f, 0.0f), 12, unit);
    buildWall(btVector3(4.0f, 0.0f, 0.0f), 12, unit);
    buildWall(btVector3(10.0f, 0.0f, 0.0f), 12, unit);
    buildTower(btVector3(25.0f, 0.0f, 0.0f), 8, 24, unit);
}

void BenchmarkDemo::buildRagDollScene()
{
    constexpr float kFigureScale = 3.5f;
    constexpr float kFigureSpacing = 6.0f;
    for (int row = 0; row < 16; ++row) {
        const int figures = 16 - row;
        const float rowStart = (static_cast<float>(-figures) * kFigureSpacing) * 0.5f;
        for (int j = 0; j < figures; ++j) {
            const btVector3 offset(rowStart + static_cast<float>(j) * kFigureSpacing,
                                   1.0f + 7.0f * static_cast<float>(row), -2.0f * static_cast<float>(row));
            ragDolls.push_back(new RagDoll(dynamicsWorld, offset, kFigureScale));
        }
    }
}

void BenchmarkDemo::buildConvexHullStacks()
{
    btConvexHullShape* hull = new btConvexHullShape();
    collisionShapes.push_back(hull);
    hull->setLocalScaling(btVector3(1.0f, 1.0f, 1.0f));
    addBarrelOutline(hull);
    // Computed once on the shared hull for all 960 bodies.
    hull->initializePolyhedralFeatures(0);

    float gap = 1.5f;
    float start = -18.0f;
    float y = 3.0f;
    for (int layer = 0; layer < 15; ++layer) {
        const float step = gap + 3.0f;
        for (int i = 0; i < 8; ++i) {
            const float z = start + step * static_cast<float>(i);
            for (int j = 0; j < 8; ++j) {
                const float x = start + step * static_cast<float>(j);
                spawnRigidBody(kHullMass, translation(btVector3(x, y, z)), hull);
            }
        }
        start = start + (gap * -0.05f) * 7.0f;
        gap = gap * 1.01f;
        y = y + (gap + 3.0f);
    }
}

void BenchmarkDemo::buildRandomShapes()
{
    forEachTerrainGridPoint([this](const btVector3& position) {
        // Not seeded here: the kinds follow whatever state the process's
        // generator is in.
        const int kind = std::rand() % 9;
        btCollisionShape* shape;
        float mass;
        if (kind < 3) {
            const float size = static_cast<float>(kind + 1) * 0.5f;
            shape = new btBoxShape(btVector3(1.5f * size, 1.5f * size, 1.5f * size));
            mass = size;
        } else if (kind < 6) {
            const float size = static_cast<float>(kind - 2) * 0.5f;
            shape = new btSphereShape(size * 1.5f);
            mass = size;
        } else {
            const float radius = static_cast<float>(kind - 5) * 0.5f;
            shape = new btCapsuleShape(radius, radius + radius);
            mass = radius;
        }
        collisionShapes.push_back(shape);
        spawnRigidBody(mass, translation(position), shape);
    });
    addTriangleMeshBodies();
}

void BenchmarkDemo::buildMeshScene()
{
    // Unlike scene 4: no scaling set and no polyhedral features.
    btConvexHullShape* hull = new btConvexHullShape();
    collisionShapes.push_back(hull);
    addBarrelOutline(hull);
    forEachTerrainGridPoint(
        [this, hull](const btVector3& position) { spawnRigidBody(kHullMass, translation(position), hull); });
    addTriangleMeshBodies();
}

void BenchmarkDemo::addTriangleMeshBodies()
{
    constexpr float kTerrainFriction = 0.9f;
    for (int part = 0; part < kTerrainPartCount; ++part) {
        // The mesh refers to the stored tables in place. The scene owns the
        // mesh interface (terrainMeshes) and releases it with the world.
        btIndexedMesh mesh;
        mesh.m_numTriangles = static_cast<int>(terrainIndexCounts[part] / 3);
        mesh.m_triangleIndexBase = reinterpret_cast<const unsigned char*>(terrainIndices[part]);
        mesh.m_triangleIndexStride = 3 * sizeof(std::uint16_t);
        mesh.m_numVertices = static_cast<int>(terrainVertexCounts[part]);
        mesh.m_vertexBase = reinterpret_cast<const unsigned char*>(terrainVertices[part]);
        mesh.m_vertexStride = 3 * sizeof(float);
        mesh.m_vertexType = PHY_FLOAT;
        auto* meshInterface = new btTriangleIndexVertexArray();
        meshInterface->addIndexedMesh(mesh, PHY_SHORT);
        terrainMeshes.push_back(meshInterface);

        auto* shape = new btBvhTriangleMeshShape(meshInterface, true, true);
        collisionShapes.push_back(shape);
        btRigidBody* body = spawnRigidBody(0.0f, translation(btVector3(0.0f, -25.0f, 0.0f)), shape);
        body->setFriction(kTerrainFriction);
    }
}

void BenchmarkDemo::buildPointCloudHulls()
{
    constexpr float kMargin = 0.04f;
    constexpr float kDropHeight = 3.5f;
    if (guiHelper != nullptr) {
        guiHelper->setCamera(8.0f, 20.0f, -15.0f, 0.0f, 1.0f, 0.0f);
    }

    const float* points = fragmentPoints;
    for (int f = 0; f < kFragmentCount; ++f) {
        auto* hull = new btConvexHullShape();
        collisionShapes.push_back(hull);
        for (std::uint32_t p = 0; p < fragmentPointCounts[f]; ++p, points += 3) {
            hull->addPoint(btVector3(points[0], points[1], points[2]), true);
        }
        hull->initializePolyhedralFeatures(0);
        hull->setMargin(kMargin);

        const float* position = fragmentPositions[f];
        const btTransform start =
            translation(btVector3(position[0], position[1], position[2]) + btVector3(0.0f, kDropHeight, 0.0f));
        btVector3 inertia(0.0f, 0.0f, 0.0f);
        hull->calculateLocalInertia(fragmentMasses[f], inertia);
        btRigidBody::btRigidBodyConstructionInfo info(fragmentMasses[f], nullptr, hull, inertia);
        info.m_startWorldTransform = start;
        auto* body = new btRigidBody(info);
        body->setFriction(0.6f);
        dynamicsWorld->addRigidBody(body);
    }

    // Stiffer contacts for the tightly packed fragments; applies to the
    // whole world.
    btContactSolverInfo& solverInfo = dynamicsWorld->getSolverInfo();
    solverInfo.m_numIterations = 20;
    solverInfo.m_erp = 0.8f;
    solverInfo.m_erp2 = 0.4f;
    solverInfo.m_globalCfm = 0.015f;

    auto* plane = new btStaticPlaneShape(btVector3(0.0f, 1.0f, 0.0f), 0.0f);
    collisionShapes.push_back(plane);
    plane->setMargin(kMargin);
    btRigidBody::btRigidBodyConstructionInfo floorInfo(0.0f, nullptr, plane, btVector3(0.0f, 0.0f, 0.0f));
    dynamicsWorld->addRigidBody(new btRigidBody(floorInfo));
}
