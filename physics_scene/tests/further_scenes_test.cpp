#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "benchmark_demo.h"
#include "built_scene.h"
#include "rag_doll.h"
#include "recording_host.h"
#include "scene_tables.h"

namespace {

using scenetest::bodyAt;
using scenetest::builtScene;
using scenetest::kTimeStep;
using scenetest::originOf;

void expectNear(const btVector3& actual, const btVector3& expected, float tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance) << "x";
    EXPECT_NEAR(actual.y(), expected.y(), tolerance) << "y";
    EXPECT_NEAR(actual.z(), expected.z(), tolerance) << "z";
}

int countBodiesUsing(const BenchmarkDemo& scene, const btCollisionShape* shape)
{
    int count = 0;
    for (int i = 0; i < scene.dynamicsWorld->getNumCollisionObjects(); ++i) {
        count += bodyAt(scene, i)->getCollisionShape() == shape ? 1 : 0;
    }
    return count;
}

} // namespace

// ---------------------------------------------------------------- scene 2

class StackScene : public ::testing::Test {
protected:
    static void SetUpTestSuite() { scene_ = builtScene(2).release(); }
    static void TearDownTestSuite()
    {
        delete scene_;
        scene_ = nullptr;
    }
    static BenchmarkDemo* scene_;
    // Body indices: 0 ground, then the pyramid's 650, three walls of 78,
    // and the tower's 192.
    static constexpr int kPyramidFirst = 1;
    static constexpr int kWallFirst[3] = {651, 729, 807};
    static constexpr int kTowerFirst = 885;
};
BenchmarkDemo* StackScene::scene_ = nullptr;

TEST_F(StackScene, Holds1076BoxesInFiveShapesOnTheGround)
{
    ASSERT_EQ(scene_->dynamicsWorld->getNumCollisionObjects(), 1 + 1076);
    ASSERT_EQ(scene_->collisionShapes.size(), 6);
    EXPECT_EQ(countBodiesUsing(*scene_, scene_->collisionShapes[1]), 650);
    for (int wall = 0; wall < 3; ++wall) {
        EXPECT_EQ(countBodiesUsing(*scene_, scene_->collisionShapes[2 + wall]), 78);
    }
    EXPECT_EQ(countBodiesUsing(*scene_, scene_->collisionShapes[5]), 192);
    for (int i = 1; i <= 1076; ++i) {
        ASSERT_EQ(bodyAt(*scene_, i)->getInvMass(), 1.0f) << "body " << i;
        ASSERT_EQ(bodyAt(*scene_, i)->getUserIndex(), -1) << "body " << i;
    }
}

TEST_F(StackScene, PyramidRunsFromItsCornerToItsTop)
{
    expectNear(originOf(*scene_, kPyramidFirst), btVector3(-32.2406f, 1, -12.240599f), 2e-5f);
    // x runs fastest, 2.0401 apart.
    EXPECT_NEAR(originOf(*scene_, kPyramidFirst + 1).x() - originOf(*scene_, kPyramidFirst).x(), 2.0401f, 1e-5f);
    expectNear(originOf(*scene_, kPyramidFirst + 12), btVector3(-32.2406f, 1, -12.240599f + 2.0401f), 2e-5f);
    expectNear(originOf(*scene_, kWallFirst[0] - 1), btVector3(-21.020597f, 23.4411f, -1.020597f), 2e-5f);
}

TEST_F(StackScene, WallsStandInTheYZPlane)
{
    const float wallX[3] = {-2, 4, 10};
    for (int wall = 0; wall < 3; ++wall) {
        const int first = kWallFirst[wall];
        EXPECT_EQ(originOf(*scene_, first), btVector3(wallX[wall], 1, -12));
        EXPECT_EQ(originOf(*scene_, first + 11), btVector3(wallX[wall], 1, 10));
        // The second row starts half a box further along z, one box higher.
        EXPECT_EQ(originOf(*scene_, first + 12), btVector3(wallX[wall], 3, -11));
        EXPECT_EQ(originOf(*scene_, first + 77), btVector3(wallX[wall], 23, -1));
    }
}

TEST_F(StackScene, TowerRingsTurnHalfABoxPerLevel)
{
    const btRigidBody* first = bodyAt(*scene_, kTowerFirst);
    expectNear(first->getWorldTransform().getOrigin(), btVector3(25, 1, -9.931268f), 2e-5f);
    // Half a turn about y.
    const btQuaternion q = first->getWorldTransform().getRotation();
    EXPECT_NEAR(std::fabs(q.y()), 1.0f, 1e-6f);
    // The orientation is carried from box to box by float products, whose
    // length drifts by about 1e-7 a step; positions follow within 5e-4.
    for (int i = 0; i < 192; ++i) {
        const btVector3 o = originOf(*scene_, kTowerFirst + i);
        EXPECT_NEAR(std::hypot(o.x() - 25.0f, o.z()), 9.931268f, 5e-4f) << "box " << i;
        EXPECT_NEAR(o.y(), 1.0f + 2.0f * static_cast<float>(i / 24), 5e-4f) << "box " << i;
    }
    EXPECT_NEAR(originOf(*scene_, kTowerFirst + 191).y(), 15.0f, 5e-4f);
    // Neighbours in a ring are 15 degrees apart; the next ring starts 7.5
    // degrees on.
    auto angleOf = [&](int i) {
        const btVector3 o = originOf(*scene_, kTowerFirst + i);
        return std::atan2(o.x() - 25.0f, o.z());
    };
    const float boxStep = 2.0f * 3.1415927f / 24.0f;
    EXPECT_NEAR(std::remainder(angleOf(1) - angleOf(0), 2.0f * 3.1415927f), boxStep, 1e-4f);
    EXPECT_NEAR(std::remainder(angleOf(24) - angleOf(0), 2.0f * 3.1415927f), boxStep * 0.5f, 1e-4f);
}

TEST(StackBuilders, SizeZeroMakesTheShapeAndNoBody)
{
    auto scene = builtScene(9);
    const btVector3 unit(1, 1, 1);
    scene->buildWall(btVector3(0, 0, 0), 0, unit);
    scene->buildPyramid(btVector3(0, 0, 0), 0, unit);
    scene->buildTower(btVector3(0, 0, 0), 0, 24, unit);
    EXPECT_EQ(scene->collisionShapes.size(), 3);
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 0);
}

TEST(StackBuilders, CountsFollowTheTriangularAndPyramidalNumbers)
{
    auto scene = builtScene(9);
    scene->buildWall(btVector3(0, 0, 0), 3, btVector3(0.5f, 2, 1));
    ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 6);
    // Half extents scale the steps: rows 4 apart in y, boxes 2 apart in z.
    EXPECT_EQ(originOf(*scene, 0), btVector3(0, 2, -3));
    EXPECT_EQ(originOf(*scene, 3), btVector3(0, 6, -2));
    EXPECT_EQ(originOf(*scene, 5), btVector3(0, 10, -1));
    scene->buildPyramid(btVector3(100, 0, 0), 3, btVector3(1, 1, 1));
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 6 + 14);
    scene->buildTower(btVector3(0, 0, 100), 2, 5, btVector3(1, 1, 1));
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 6 + 14 + 10);
}

// ---------------------------------------------------------------- scene 3

TEST(RagDollScene, RowsOfFiguresFrom16DownToOne)
{
    auto scene = builtScene(3);
    ASSERT_EQ(scene->ragDolls.size(), 136);
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 1 + 1496);
    EXPECT_EQ(scene->dynamicsWorld->getNumConstraints(), 1360);
    // The figures own their shapes: only the ground is registered.
    EXPECT_EQ(scene->collisionShapes.size(), 1);

    // A figure's pelvis stands 3.5 above its offset.
    auto pelvisOf = [&](int figure) {
        return scene->ragDolls[figure]->bodies[RagDoll::kPelvis]->getWorldTransform().getOrigin();
    };
    EXPECT_EQ(pelvisOf(0), btVector3(-48, 1 + 3.5f, 0));
    EXPECT_EQ(pelvisOf(15), btVector3(42, 1 + 3.5f, 0));
    EXPECT_EQ(pelvisOf(16), btVector3(-45, 8 + 3.5f, -2));
    EXPECT_EQ(pelvisOf(135), btVector3(-3, 106 + 3.5f, -30));
}

// ---------------------------------------------------------------- scene 4

TEST(ConvexHullStacks, FifteenLayersOfSharedBarrels)
{
    auto scene = builtScene(4);
    ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 1 + 960);
    ASSERT_EQ(scene->collisionShapes.size(), 2);
    const auto* hull = static_cast<const btConvexHullShape*>(scene->collisionShapes[1]);
    ASSERT_EQ(hull->getShapeType(), CONVEX_HULL_SHAPE_PROXYTYPE);
    EXPECT_EQ(hull->getNumPoints(), kHullPointCount);
    EXPECT_EQ(hull->getUnscaledPoints()[2], btVector3(hullPointTable[2][0], hullPointTable[2][1], hullPointTable[2][2]));
    EXPECT_NE(hull->getConvexPolyhedron(), nullptr);
    EXPECT_EQ(countBodiesUsing(*scene, hull), 960);

    EXPECT_EQ(originOf(*scene, 1), btVector3(-18, 3, -18));
    EXPECT_EQ(originOf(*scene, 2), btVector3(-13.5f, 3, -18));
    EXPECT_EQ(originOf(*scene, 64), btVector3(13.5f, 3, 13.5f));
    const int top = 1 + 14 * 64;
    expectNear(originOf(*scene, top), btVector3(-25.8474f, 67.64534f, -25.8474f), 2e-5f);
    EXPECT_NEAR(originOf(*scene, top + 1).x() - originOf(*scene, top).x(), 4.724211f, 2e-5f);
    EXPECT_EQ(bodyAt(*scene, top)->getInvMass(), 1.0f);
}

// ---------------------------------------------------------------- scenes 5 to 7

namespace {

void expectTerrainGridPositions(const BenchmarkDemo& scene)
{
    EXPECT_EQ(originOf(scene, 0), btVector3(-125, 45, -125));
    EXPECT_EQ(originOf(scene, 1), btVector3(-100, 45, -125));
    EXPECT_EQ(originOf(scene, 99), btVector3(100, 45, 100));
    expectNear(originOf(scene, 100), btVector3(-129.5f, 50.2f, -129.5f), 2e-5f);
    EXPECT_NEAR(originOf(scene, 900).y(), 101.87485f, 2e-5f);
}

void expectTerrain(const BenchmarkDemo& scene)
{
    float lowest = 1e9f, highest = -1e9f;
    for (int part = 0; part < kTerrainPartCount; ++part) {
        const btRigidBody* body = bodyAt(scene, 1000 + part);
        SCOPED_TRACE("terrain part " + std::to_string(part));
        EXPECT_TRUE(body->isStaticObject());
        EXPECT_EQ(body->getFriction(), 0.9f);
        EXPECT_EQ(body->getWorldTransform().getOrigin(), btVector3(0, -25, 0));
        const auto* shape = static_cast<const btBvhTriangleMeshShape*>(body->getCollisionShape());
        ASSERT_EQ(shape->getShapeType(), TRIANGLE_MESH_SHAPE_PROXYTYPE);
        EXPECT_TRUE(shape->usesQuantizedAabbCompression());
        EXPECT_EQ(shape->getMeshInterface(), scene.terrainMeshes[part]);
        const auto* mesh = static_cast<const btTriangleIndexVertexArray*>(shape->getMeshInterface());
        const btIndexedMesh& part0 = mesh->getIndexedMeshArray()[0];
        EXPECT_EQ(part0.m_numTriangles, static_cast<int>(terrainIndexCounts[part] / 3));
        EXPECT_EQ(part0.m_vertexBase, reinterpret_cast<const unsigned char*>(terrainVertices[part]));
        EXPECT_EQ(part0.m_indexType, PHY_SHORT);
        EXPECT_EQ(part0.m_triangleIndexStride, 6);
        EXPECT_EQ(part0.m_vertexStride, 12);
        btVector3 low, high;
        body->getCollisionShape()->getAabb(body->getWorldTransform(), low, high);
        lowest = std::min(lowest, low.y());
        highest = std::max(highest, high.y());
    }
    // Heights -21.81 to 62.11 lifted by -25, give or take the margin.
    EXPECT_NEAR(lowest, -46.81f, 0.1f);
    EXPECT_NEAR(highest, 37.11f, 0.1f);
    EXPECT_EQ(scene.terrainMeshes.size(), kTerrainPartCount);
}

} // namespace

TEST(RandomShapes, KindsFollowTheProcessGenerator)
{
    std::srand(4242);
    std::vector<int> kinds;
    for (int i = 0; i < 1000; ++i) {
        kinds.push_back(std::rand() % 9);
    }
    std::srand(4242);
    auto scene = builtScene(5);
    ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 1000 + 8);
    EXPECT_EQ(scene->collisionShapes.size(), 1000 + 8);
    expectTerrainGridPositions(*scene);

    for (int i = 0; i < 1000; ++i) {
        const btRigidBody* body = bodyAt(*scene, i);
        const btCollisionShape* shape = body->getCollisionShape();
        ASSERT_EQ(scene->collisionShapes[i], shape) << "body " << i; // a shape of its own
        const int k = kinds[static_cast<std::size_t>(i)];
        const float size = static_cast<float>(k % 3 + 1) * 0.5f; // 0.5, 1.0, 1.5
        ASSERT_NEAR(1.0f / body->getInvMass(), size, 1e-6f) << "body " << i;
        if (k < 3) {
            ASSERT_EQ(shape->getShapeType(), BOX_SHAPE_PROXYTYPE) << "body " << i;
            const btVector3 half = static_cast<const btBoxShape*>(shape)->getHalfExtentsWithMargin();
            ASSERT_EQ(half, btVector3(1.5f * size, 1.5f * size, 1.5f * size)) << "body " << i;
        } else if (k < 6) {
            ASSERT_EQ(shape->getShapeType(), SPHERE_SHAPE_PROXYTYPE) << "body " << i;
            ASSERT_EQ(static_cast<const btSphereShape*>(shape)->getRadius(), size * 1.5f) << "body " << i;
        } else {
            ASSERT_EQ(shape->getShapeType(), CAPSULE_SHAPE_PROXYTYPE) << "body " << i;
            const auto* capsule = static_cast<const btCapsuleShape*>(shape);
            ASSERT_EQ(capsule->getRadius(), size) << "body " << i;
            ASSERT_EQ(capsule->getHalfHeight(), size) << "body " << i; // height 2c
        }
    }
    expectTerrain(*scene);
}

TEST(MeshScene, HullsOverTheTerrainWithoutPolyhedralFeatures)
{
    for (std::int32_t option : {6, 7}) {
        SCOPED_TRACE("scene " + std::to_string(option));
        auto scene = builtScene(option);
        ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 1000 + 8);
        ASSERT_EQ(scene->collisionShapes.size(), 1 + 8);
        const auto* hull = static_cast<const btConvexHullShape*>(scene->collisionShapes[0]);
        ASSERT_EQ(hull->getShapeType(), CONVEX_HULL_SHAPE_PROXYTYPE);
        EXPECT_EQ(hull->getNumPoints(), kHullPointCount);
        EXPECT_EQ(hull->getConvexPolyhedron(), nullptr);
        EXPECT_EQ(countBodiesUsing(*scene, hull), 1000);
        EXPECT_EQ(bodyAt(*scene, 500)->getInvMass(), 1.0f);
        expectTerrainGridPositions(*scene);
        expectTerrain(*scene);
    }
}

// ---------------------------------------------------------------- scene 8

TEST(PointCloudHulls, FragmentsOfTheCubeAboveAPlane)
{
    auto scene = builtScene(8);
    btDiscreteDynamicsWorld* world = scene->dynamicsWorld;
    ASSERT_EQ(world->getNumCollisionObjects(), 90 + 1);
    ASSERT_EQ(scene->collisionShapes.size(), 90 + 1);
    for (int f = 0; f < kFragmentCount; ++f) {
        const btRigidBody* body = bodyAt(*scene, f);
        SCOPED_TRACE("fragment " + std::to_string(f));
        EXPECT_EQ(body->getMotionState(), nullptr);
        EXPECT_EQ(body->getCollisionShape(), scene->collisionShapes[f]);
        const auto* hull = static_cast<const btConvexHullShape*>(body->getCollisionShape());
        ASSERT_EQ(hull->getShapeType(), CONVEX_HULL_SHAPE_PROXYTYPE);
        EXPECT_EQ(static_cast<std::uint32_t>(hull->getNumPoints()), fragmentPointCounts[f]);
        EXPECT_NE(hull->getConvexPolyhedron(), nullptr);
        EXPECT_EQ(hull->getMargin(), 0.04f);
        EXPECT_NEAR(1.0f / body->getInvMass(), fragmentMasses[f], 1e-6f);
        EXPECT_EQ(body->getFriction(), 0.6f);
        EXPECT_EQ(body->getWorldTransform().getOrigin(),
                  btVector3(fragmentPositions[f][0], fragmentPositions[f][1], fragmentPositions[f][2]) +
                      btVector3(0, 3.5f, 0));
    }
    const btRigidBody* floor = bodyAt(*scene, 90);
    const auto* plane = static_cast<const btStaticPlaneShape*>(floor->getCollisionShape());
    ASSERT_EQ(plane->getShapeType(), STATIC_PLANE_PROXYTYPE);
    EXPECT_EQ(plane->getPlaneNormal(), btVector3(0, 1, 0));
    EXPECT_EQ(plane->getPlaneConstant(), 0.0f);
    EXPECT_EQ(plane->getMargin(), 0.04f);
    EXPECT_TRUE(floor->isStaticObject());
    EXPECT_EQ(floor->getMotionState(), nullptr);
    EXPECT_EQ(floor->getFriction(), 0.5f);

    const btContactSolverInfo& info = world->getSolverInfo();
    EXPECT_EQ(info.m_numIterations, 20);
    EXPECT_EQ(info.m_erp, 0.8f);
    EXPECT_EQ(info.m_erp2, 0.4f);
    EXPECT_EQ(info.m_globalCfm, 0.015f);
    EXPECT_EQ(info.m_solverMode, 292); // as buildWorld set it

    // The cube falls: after half a second every fragment is lower.
    const float startY = originOf(*scene, 0).y();
    for (int frame = 0; frame < 30; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    EXPECT_LT(originOf(*scene, 0).y(), startY - 0.5f);
}

TEST(PointCloudHulls, AHostGetsTheCameraAndTheSameWorld)
{
    RecordingHost host;
    auto hosted = builtScene(8, &host);
    const auto cameras = host.callsNamed("setCamera");
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].arguments, (std::vector<float>{8, 20, -15, 0, 1, 0}));

    auto plain = builtScene(8);
    ASSERT_EQ(hosted->dynamicsWorld->getNumCollisionObjects(), plain->dynamicsWorld->getNumCollisionObjects());
    for (int i = 0; i < plain->dynamicsWorld->getNumCollisionObjects(); ++i) {
        EXPECT_EQ(originOf(*hosted, i), originOf(*plain, i)) << "body " << i;
        EXPECT_EQ(bodyAt(*hosted, i)->getInvMass(), bodyAt(*plain, i)->getInvMass()) << "body " << i;
    }
}
