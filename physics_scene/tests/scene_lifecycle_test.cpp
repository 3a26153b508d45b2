#include <gtest/gtest.h>

#include <memory>

#include "benchmark_demo.h"
#include "rag_doll.h"
#include "raycast_bar.h"

namespace {

std::unique_ptr<BenchmarkDemo> newScene(std::int32_t option)
{
    DemoOptions options;
    options.option = option;
    return std::unique_ptr<BenchmarkDemo>(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
}

void expectNoWorld(const BenchmarkDemo& scene)
{
    EXPECT_EQ(scene.dynamicsWorld, nullptr);
    EXPECT_EQ(scene.solver, nullptr);
    EXPECT_EQ(scene.broadphase, nullptr);
    EXPECT_EQ(scene.dispatcher, nullptr);
    EXPECT_EQ(scene.collisionConfiguration, nullptr);
    EXPECT_EQ(scene.collisionShapes.size(), 0);
    EXPECT_EQ(scene.collisionShapes.capacity(), 0);
    EXPECT_EQ(scene.ragDolls.size(), 0);
    EXPECT_EQ(scene.ragDolls.capacity(), 0);
    EXPECT_EQ(scene.pickedBody, nullptr);
    EXPECT_EQ(scene.pickedConstraint, nullptr);
}

// Counts its own destruction, to tell "removed from the world" apart from
// "deleted".
struct CountedMotionState : btDefaultMotionState {
    explicit CountedMotionState(const btTransform& start, int* deletions)
        : btDefaultMotionState(start), deletions_(deletions) {}
    ~CountedMotionState() override { ++*deletions_; }
    int* deletions_;
};

struct CountedCollisionObject : btCollisionObject {
    explicit CountedCollisionObject(int* deletions) : deletions_(deletions) {}
    ~CountedCollisionObject() override { ++*deletions_; }
    int* deletions_;
};

struct CountedConstraint : btPoint2PointConstraint {
    CountedConstraint(btRigidBody& a, btRigidBody& b, int* deletions)
        : btPoint2PointConstraint(a, b, btVector3(0, 1, 0), btVector3(0, -1, 0)), deletions_(deletions) {}
    ~CountedConstraint() override { ++*deletions_; }
    int* deletions_;
};

} // namespace

TEST(SceneSettings, BoxCountIsTheGridProduct)
{
    EXPECT_EQ(boxCountX, 10);
    EXPECT_EQ(boxCountZ, 10);
    EXPECT_EQ(boxLayers, 40);
    EXPECT_EQ(totalBoxCount, 4000);
    EXPECT_EQ(gravityTable[gravityChoice], -9.8f);
    EXPECT_EQ(frictionTable[frictionChoice], 0.5f);
}

TEST(SceneSettings, LibraryScalarIsSinglePrecision)
{
    // The figures are defined for Bullet's float build; linking the double
    // build would change every step.
    EXPECT_EQ(sizeof(btScalar), sizeof(float));
}

TEST(SceneFactory, CopiesHostAndOptionAndBuildsNothing)
{
    DemoOptions options;
    options.option = 5;
    options.reserved1 = 11;
    options.reservedFlag = 1;
    std::unique_ptr<CommonExampleInterface> scene(createBenchmarkDemo(options));
    auto* demo = dynamic_cast<BenchmarkDemo*>(scene.get());
    ASSERT_NE(demo, nullptr);
    EXPECT_EQ(demo->sceneOption, 5);
    EXPECT_EQ(demo->guiHelper, nullptr);
    expectNoWorld(*demo);
}

TEST(SceneLifecycle, TeardownLeavesFreshStateAndRepeats)
{
    auto scene = newScene(1);
    scene->buildWorld();
    ASSERT_NE(scene->dynamicsWorld, nullptr);
    scene->stepFrame(1.0f / 60.0f);
    scene->tearDownWorld();
    expectNoWorld(*scene);
    scene->tearDownWorld();
    expectNoWorld(*scene);
    // The deleting destructor then runs a third teardown on nothing.
}

TEST(SceneLifecycle, NullRagDollEntriesAreSkipped)
{
    auto scene = newScene(9);
    scene->buildWorld();
    scene->ragDolls.push_back(nullptr);
    scene->ragDolls.push_back(nullptr);
    scene->tearDownWorld();
    expectNoWorld(*scene);
}

TEST(SceneLifecycle, ConstraintsLeaveTheWorldButAreNotDeleted)
{
    auto scene = newScene(9);
    scene->buildWorld();
    // Bodies outside the world, owned here, so they outlive the teardown and
    // show whether the constraints were taken out of the world.
    btRigidBody bodyA(1.0f, nullptr, nullptr);
    btRigidBody bodyB(1.0f, nullptr, nullptr);
    int deletions = 0;
    CountedConstraint first(bodyA, bodyB, &deletions);
    CountedConstraint second(bodyA, bodyB, &deletions);
    scene->dynamicsWorld->addConstraint(&first, true);
    scene->dynamicsWorld->addConstraint(&second, true);
    ASSERT_EQ(bodyA.getNumConstraintRefs(), 2);

    scene->tearDownWorld();
    EXPECT_EQ(bodyA.getNumConstraintRefs(), 0);
    EXPECT_EQ(bodyB.getNumConstraintRefs(), 0);
    EXPECT_EQ(deletions, 0);
}

TEST(SceneLifecycle, BodiesLoseMotionStatesAndOtherObjectsAreDeleted)
{
    auto scene = newScene(9);
    scene->buildWorld();
    btBoxShape* shape = new btBoxShape(btVector3(1, 1, 1));
    scene->collisionShapes.push_back(shape);

    int motionStateDeletions = 0;
    for (int i = 0; i < 3; ++i) {
        btTransform start;
        start.setIdentity();
        start.setOrigin(btVector3(0, 5.0f * static_cast<float>(i), 0));
        auto* motion = new CountedMotionState(start, &motionStateDeletions);
        scene->dynamicsWorld->addRigidBody(new btRigidBody(1.0f, motion, shape));
    }
    int objectDeletions = 0;
    auto* plainObject = new CountedCollisionObject(&objectDeletions);
    plainObject->setCollisionShape(shape);
    scene->dynamicsWorld->addCollisionObject(plainObject);
    // A rigid body without a motion state is deleted all the same.
    scene->dynamicsWorld->addRigidBody(new btRigidBody(1.0f, nullptr, shape));
    ASSERT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 5);

    scene->tearDownWorld();
    EXPECT_EQ(motionStateDeletions, 3);
    EXPECT_EQ(objectDeletions, 1);
    expectNoWorld(*scene);
}

TEST(SceneLifecycle, BaseStepWithoutWorldDoesNothing)
{
    auto scene = newScene(1);
    scene->stepFrame(1.0f / 60.0f);
    scene->CommonRigidBodyBase::stepFrame(1.0f / 60.0f);
    expectNoWorld(*scene);
}

TEST(RayBatch, GlobalBatchStartsEmptyWithItsClockRunning)
{
    EXPECT_EQ(rayBatch.guiHelper, nullptr);
    EXPECT_EQ(rayBatch.frameCount, 0);
    EXPECT_EQ(rayBatch.blockMilliseconds, 0);
    EXPECT_EQ(rayBatch.sumBlockMilliseconds, 0);
    EXPECT_EQ(rayBatch.blockSamples, 0);
    EXPECT_EQ(rayBatch.minBlockMilliseconds, 9999);
    EXPECT_EQ(rayBatch.maxBlockMilliseconds, 0);
    EXPECT_EQ(rayBatch.rayFrom[0], btVector3(0, 0, 0));
    EXPECT_EQ(rayBatch.hitNormal[btRaycastBar2::kRayCount - 1], btVector3(0, 0, 0));
    // Started at start-up, so it has been running at least as long as a
    // clock made now.
    btClock later;
    EXPECT_GE(rayBatch.frameTimer.getTimeNanoseconds(), later.getTimeNanoseconds());
}
