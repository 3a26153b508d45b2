#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <BulletCollision/CollisionDispatch/btConvexConvexAlgorithm.h>
#include <BulletCollision/NarrowPhaseCollision/btGjkEpaPenetrationDepthSolver.h>
#include <LinearMath/btPoolAllocator.h>

#include "benchmark_demo.h"
#include "built_scene.h"

namespace {

using scenetest::bodyAt;
using scenetest::builtScene;
using scenetest::kTimeStep;
using scenetest::originOf;

// Everything that defines a body at the start of a run, for comparing two
// builds field by field.
struct BodyRecord {
    int shapeSlot;
    int shapeType;
    float originX, originY, originZ;
    float rotationX, rotationY, rotationZ, rotationW;
    float inverseMass;
    float inertiaX, inertiaY, inertiaZ;
    float friction, restitution, linearDamping, angularDamping;
    float linearSleep, angularSleep;
    int userIndex, collisionFlags, activationState;
    bool operator==(const BodyRecord&) const = default;
};

std::vector<BodyRecord> recordBodies(const BenchmarkDemo& scene)
{
    std::vector<BodyRecord> records;
    for (int i = 0; i < scene.dynamicsWorld->getNumCollisionObjects(); ++i) {
        const btRigidBody* body = bodyAt(scene, i);
        int slot = -1;
        for (int s = 0; s < scene.collisionShapes.size(); ++s) {
            if (scene.collisionShapes[s] == body->getCollisionShape()) {
                slot = s;
            }
        }
        const btTransform& t = body->getWorldTransform();
        const btQuaternion q = t.getRotation();
        records.push_back({slot, body->getCollisionShape()->getShapeType(), t.getOrigin().x(),
                           t.getOrigin().y(), t.getOrigin().z(), q.x(), q.y(), q.z(), q.w(),
                           body->getInvMass(), body->getLocalInertia().x(), body->getLocalInertia().y(),
                           body->getLocalInertia().z(), body->getFriction(), body->getRestitution(),
                           body->getLinearDamping(), body->getAngularDamping(),
                           body->getLinearSleepingThreshold(), body->getAngularSleepingThreshold(),
                           body->getUserIndex(), body->getCollisionFlags(), body->getActivationState()});
    }
    return records;
}

std::vector<btVector3> positions(const BenchmarkDemo& scene)
{
    std::vector<btVector3> result;
    for (int i = 0; i < scene.dynamicsWorld->getNumCollisionObjects(); ++i) {
        result.push_back(originOf(scene, i));
    }
    return result;
}

class BoxGrid : public ::testing::Test {
protected:
    static void SetUpTestSuite() { scene_ = builtScene(1).release(); }
    static void TearDownTestSuite()
    {
        delete scene_;
        scene_ = nullptr;
    }
    static BenchmarkDemo* scene_;
};
BenchmarkDemo* BoxGrid::scene_ = nullptr;

// Settings the library keeps in protected members without a getter, read
// through member pointers taken inside a derived class (never built).
struct SweepSettings : btAxisSweep3Internal<unsigned short> {
    using Sweep = btAxisSweep3Internal<unsigned short>;
    static unsigned short maxHandles(const Sweep& s) { return s.*&SweepSettings::m_maxHandles; }
    static btDbvtBroadphase* raycastAccelerator(const Sweep& s) { return s.*&SweepSettings::m_raycastAccelerator; }
};

} // namespace

TEST_F(BoxGrid, HoldsGroundAnd4000BoxesWithTwoShapes)
{
    ASSERT_EQ(scene_->dynamicsWorld->getNumCollisionObjects(), 4001);
    ASSERT_EQ(scene_->collisionShapes.size(), 2);
    EXPECT_EQ(scene_->dynamicsWorld->getNumConstraints(), 0);

    const btRigidBody* ground = bodyAt(*scene_, 0);
    EXPECT_EQ(ground->getCollisionShape(), scene_->collisionShapes[0]);
    EXPECT_TRUE(ground->isStaticObject());
    EXPECT_EQ(ground->getInvMass(), 0.0f);
    const auto* groundBox = static_cast<const btBoxShape*>(scene_->collisionShapes[0]);
    ASSERT_EQ(groundBox->getShapeType(), BOX_SHAPE_PROXYTYPE);
    EXPECT_EQ(groundBox->getHalfExtentsWithMargin(), btVector3(250, 50, 250));
    EXPECT_EQ(ground->getWorldTransform().getOrigin(), btVector3(0, -50, 0));
    EXPECT_EQ(ground->getFriction(), 0.5f);

    const auto* boxShape = static_cast<const btBoxShape*>(scene_->collisionShapes[1]);
    ASSERT_EQ(boxShape->getShapeType(), BOX_SHAPE_PROXYTYPE);
    EXPECT_EQ(boxShape->getHalfExtentsWithMargin(), btVector3(1, 1, 1));
    for (int i = 1; i <= 4000; ++i) {
        const btRigidBody* box = bodyAt(*scene_, i);
        ASSERT_EQ(box->getCollisionShape(), boxShape) << "body " << i;
        ASSERT_EQ(box->getInvMass(), 0.5f) << "body " << i;
        ASSERT_EQ(box->getFriction(), 0.5f) << "body " << i;
        ASSERT_EQ(box->getUserIndex(), -1) << "body " << i;
        ASSERT_EQ(box->getWorldTransform().getBasis(), btMatrix3x3::getIdentity()) << "body " << i;
    }
}

TEST_F(BoxGrid, BottomLayerStartsAtMinus15AndEndsAt12)
{
    EXPECT_EQ(originOf(*scene_, 1), btVector3(-15, 2, -15));
    EXPECT_EQ(originOf(*scene_, 2), btVector3(-12, 2, -15)); // x runs fastest
    EXPECT_EQ(originOf(*scene_, 11), btVector3(-15, 2, -12));
    EXPECT_EQ(originOf(*scene_, 100), btVector3(12, 2, 12));
    // Second layer: 3 higher and shifted by 0.2.
    EXPECT_EQ(originOf(*scene_, 101), btVector3(-14.8f, 5, -14.8f));
}

TEST_F(BoxGrid, TopLayerCarriesTheRoundedShift)
{
    const btVector3 first = originOf(*scene_, 1 + 39 * 100);
    EXPECT_EQ(first.y(), 119.0f);
    // 39 additions of 0.2, each rounded to float: -7.200007 to seven digits,
    // exactly the float -7.20000744.
    constexpr float kLayer39Start = -7.20000744f;
    EXPECT_EQ(first.x(), kLayer39Start);
    EXPECT_EQ(first.z(), kLayer39Start);
    EXPECT_NEAR(first.x(), -7.200007, 5e-7);
    EXPECT_NE(first.x(), -7.2f);
    EXPECT_EQ(originOf(*scene_, 4000), btVector3(kLayer39Start + 27.0f, 119, kLayer39Start + 27.0f));
}

// Both worlds a scene builds, read back from the built world: pools, the
// penetration solver, gravity and solver settings.
TEST_F(BoxGrid, WorldSizingAndSolverSettingsReadBack)
{
    DemoOptions options;
    options.option = 9;
    std::unique_ptr<BenchmarkDemo> defaultWorld(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
    defaultWorld->buildDefaultWorld();
    // The library's own sizes for a configuration given no custom size.
    btDefaultCollisionConfiguration libraryDefault;

    const struct {
        const char* name;
        const BenchmarkDemo* scene;
        int pools; // persistent manifolds and collision algorithms, each
        float gravityY;
        int solverMode, solverIterations;
    } kWorlds[] = {
        {"box grid", scene_, 40000, -9.8f, 292, 5},
        {"default world", defaultWorld.get(), 4096, -10.0f, 260, 10},
    };
    for (const auto& w : kWorlds) {
        SCOPED_TRACE(w.name);
        btDefaultCollisionConfiguration* configuration = w.scene->collisionConfiguration;
        EXPECT_EQ(configuration->getPersistentManifoldPool()->getMaxCount(), w.pools);
        EXPECT_EQ(configuration->getCollisionAlgorithmPool()->getMaxCount(), w.pools);
        EXPECT_EQ(configuration->getCollisionAlgorithmPool()->getElementSize(),
                  libraryDefault.getCollisionAlgorithmPool()->getElementSize());
        const auto* convexPair = dynamic_cast<const btConvexConvexAlgorithm::CreateFunc*>(
            configuration->getCollisionAlgorithmCreateFunc(CONVEX_HULL_SHAPE_PROXYTYPE, BOX_SHAPE_PROXYTYPE));
        ASSERT_NE(convexPair, nullptr);
        EXPECT_NE(dynamic_cast<btGjkEpaPenetrationDepthSolver*>(convexPair->m_pdSolver), nullptr);

        btDiscreteDynamicsWorld* world = w.scene->dynamicsWorld;
        EXPECT_EQ(world->getGravity(), btVector3(0, w.gravityY, 0));
        EXPECT_EQ(world->getSolverInfo().m_solverMode, w.solverMode);
        EXPECT_EQ(world->getSolverInfo().m_numIterations, w.solverIterations);
        EXPECT_NE(dynamic_cast<btSequentialImpulseConstraintSolver*>(w.scene->solver), nullptr);
        EXPECT_EQ(w.scene->dispatcher->getCollisionConfiguration(), configuration);
        EXPECT_EQ(world->getDispatcher(), w.scene->dispatcher);
        EXPECT_EQ(world->getBroadphase(), w.scene->broadphase);
        EXPECT_EQ(world->getConstraintSolver(), w.scene->solver);
    }
    EXPECT_NE(dynamic_cast<btDbvtBroadphase*>(defaultWorld->broadphase), nullptr);
    EXPECT_EQ(defaultWorld->broadphasePairCache, nullptr); // its broadphase owns its cache

    // The box grid's sweep and prune: bounds, a handle for every box plus 128
    // more, the ray-cast accelerator on, over the scene's own hashed cache.
    auto* sweep = dynamic_cast<btAxisSweep3*>(scene_->broadphase);
    ASSERT_NE(sweep, nullptr);
    btVector3 low, high;
    sweep->getBroadphaseAabb(low, high);
    EXPECT_EQ(low, btVector3(-1000, -1000, -1000));
    EXPECT_EQ(high, btVector3(1000, 1000, 1000));
    EXPECT_EQ(SweepSettings::maxHandles(*sweep), 4128 + 1); // the library adds its sentinel
    EXPECT_NE(SweepSettings::raycastAccelerator(*sweep), nullptr);
    EXPECT_EQ(sweep->getNumHandles(), 4001);
    EXPECT_NE(dynamic_cast<btHashedOverlappingPairCache*>(sweep->getOverlappingPairCache()), nullptr);
    EXPECT_EQ(sweep->getOverlappingPairCache(), scene_->broadphasePairCache);
}

// One frame is one fixed substep of 1/60 s, at most one per call: a longer
// time step still advances a free body by 1/60 s only.
TEST(StepFrame, AdvancesOneFixedSubstepPerCall)
{
    for (const float timeStep : {kTimeStep, 3.0f * kTimeStep}) {
        auto scene = builtScene(9); // gravity, no ground
        btBoxShape* shape = new btBoxShape(btVector3(1, 1, 1));
        scene->collisionShapes.push_back(shape);
        btTransform start;
        start.setIdentity();
        btRigidBody* body = scene->spawnRigidBody(1.0f, start, shape);
        scene->stepFrame(timeStep);
        EXPECT_FLOAT_EQ(body->getLinearVelocity().y(), -9.8f / 60.0f) << "time step " << timeStep;
        scene->CommonRigidBodyBase::stepFrame(timeStep);
        EXPECT_FLOAT_EQ(body->getLinearVelocity().y(), 2.0f * -9.8f / 60.0f) << "time step " << timeStep;
    }
}

TEST(SceneOptions, OptionZeroBuildsOnlyTheGround)
{
    auto scene = builtScene(0);
    ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 1);
    ASSERT_EQ(scene->collisionShapes.size(), 1);
    EXPECT_EQ(originOf(*scene, 0), btVector3(0, -50, 0));
    EXPECT_EQ(scene->dynamicsWorld->getGravity(), btVector3(0, -9.8f, 0));
    auto negative = builtScene(-3);
    EXPECT_EQ(negative->dynamicsWorld->getNumCollisionObjects(), 1);
}

TEST(SceneOptions, OptionNineBuildsNothing)
{
    auto scene = builtScene(9);
    ASSERT_NE(scene->dynamicsWorld, nullptr);
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 0);
    EXPECT_EQ(scene->collisionShapes.size(), 0);
    EXPECT_EQ(scene->dynamicsWorld->getSolverInfo().m_numIterations, 5);
    scene->stepFrame(kTimeStep);
}

TEST(SceneRebuild, RebuildAfterTeardownGivesAnIdenticalWorld)
{
    auto scene = builtScene(1);
    const std::vector<BodyRecord> firstBuild = recordBodies(*scene);
    for (int frame = 0; frame < 40; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    const std::vector<btVector3> firstRun = positions(*scene);
    ASSERT_LT(firstRun[1].y(), 1.5f); // the first box fell onto the ground

    scene->tearDownWorld();
    scene->buildWorld();
    EXPECT_EQ(recordBodies(*scene), firstBuild);
    for (int frame = 0; frame < 40; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    // The same load every time: the rebuilt world moves exactly as the first.
    EXPECT_EQ(positions(*scene), firstRun);
}

TEST(SpawnRigidBody, MassZeroGivesAStaticBodyWithoutInertia)
{
    auto scene = builtScene(9);
    btBoxShape* shape = new btBoxShape(btVector3(1, 2, 3));
    scene->collisionShapes.push_back(shape);
    btTransform start;
    start.setIdentity();
    start.setOrigin(btVector3(1, 2, 3));
    btRigidBody* fixed = scene->spawnRigidBody(0.0f, start, shape);
    EXPECT_TRUE(fixed->isStaticObject());
    EXPECT_EQ(fixed->getInvMass(), 0.0f);
    EXPECT_EQ(fixed->getLocalInertia(), btVector3(0, 0, 0));
    EXPECT_EQ(fixed->getUserIndex(), -1);
    EXPECT_NE(fixed->getMotionState(), nullptr);
    EXPECT_EQ(fixed->getWorldTransform().getOrigin(), btVector3(1, 2, 3));

    btRigidBody* moving = scene->spawnRigidBody(2.0f, start, shape);
    btVector3 expected;
    shape->calculateLocalInertia(2.0f, expected);
    EXPECT_EQ(moving->getLocalInertia(), expected);
    EXPECT_EQ(moving->getInvMass(), 0.5f);
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 2);
}
