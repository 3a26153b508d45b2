#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "benchmark_demo.h"
#include "rag_doll.h"

namespace {

constexpr float kHalfPi = 1.5707964f;
constexpr float kQuarterPi = 0.7853982f;

std::unique_ptr<BenchmarkDemo> emptyWorld()
{
    DemoOptions options;
    options.option = 9; // a world without ground or scene
    std::unique_ptr<BenchmarkDemo> scene(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
    scene->buildWorld();
    return scene;
}

// A figure in an otherwise empty world, deleted before the world.
class Figure : public ::testing::Test {
protected:
    void SetUp() override
    {
        scene = emptyWorld();
        figure = std::make_unique<RagDoll>(scene->dynamicsWorld, btVector3(0, 0, 0), 3.5f);
    }
    void TearDown() override { figure.reset(); }

    const btCapsuleShape* shape(int part) const { return figure->shapes[part]; }
    btVector3 origin(int part) const { return figure->bodies[part]->getWorldTransform().getOrigin(); }
    template <typename Joint>
    const Joint* joint(int j) const
    {
        return dynamic_cast<const Joint*>(figure->joints[j]);
    }

    std::unique_ptr<BenchmarkDemo> scene;
    std::unique_ptr<RagDoll> figure;
};

} // namespace

TEST_F(Figure, ElevenCapsuleBodiesScaledFromTheTable)
{
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 11);
    EXPECT_EQ(scene->dynamicsWorld->getNumConstraints(), 10);

    EXPECT_FLOAT_EQ(shape(RagDoll::kPelvis)->getRadius(), 0.525f);
    EXPECT_FLOAT_EQ(2.0f * shape(RagDoll::kPelvis)->getHalfHeight(), 0.7f);
    EXPECT_FLOAT_EQ(origin(RagDoll::kPelvis).y(), 3.5f);
    EXPECT_FLOAT_EQ(origin(RagDoll::kHead).y(), 5.6f);
    const int arms[4] = {RagDoll::kLeftUpperArm, RagDoll::kLeftLowerArm, RagDoll::kRightUpperArm,
                         RagDoll::kRightLowerArm};
    const float armX[4] = {-1.225f, -2.45f, 1.225f, 2.45f};
    for (int a = 0; a < 4; ++a) {
        EXPECT_FLOAT_EQ(origin(arms[a]).y(), 5.075f) << "arm " << a;
        EXPECT_FLOAT_EQ(origin(arms[a]).x(), armX[a]) << "arm " << a;
        EXPECT_EQ(origin(arms[a]).z(), 0.0f) << "arm " << a;
    }
    EXPECT_FLOAT_EQ(origin(RagDoll::kLeftLowerLeg).x(), -0.63f);
    EXPECT_FLOAT_EQ(origin(RagDoll::kLeftLowerLeg).y(), 0.7f);
    EXPECT_FLOAT_EQ(shape(RagDoll::kLeftLowerLeg)->getRadius(), 0.175f);
}

TEST_F(Figure, ArmsLieHorizontalWithSinglePrecisionRotations)
{
    // Rz(pi/2) with the float cosine of the float angle, not 0.
    const btMatrix3x3& left = figure->bodies[RagDoll::kLeftUpperArm]->getWorldTransform().getBasis();
    EXPECT_EQ(left[0][0], -4.371139e-08f);
    EXPECT_EQ(left[0][1], -1.0f);
    EXPECT_EQ(left[1][0], 1.0f);
    const btMatrix3x3& right = figure->bodies[RagDoll::kRightLowerArm]->getWorldTransform().getBasis();
    EXPECT_EQ(right[0][1], 1.0f);
    EXPECT_EQ(right[1][0], -1.0f);
    // The capsule's long axis (local y) points along -x or +x.
    EXPECT_NEAR(left.getColumn(1).x(), -1.0f, 1e-7f);
    EXPECT_NEAR(right.getColumn(1).x(), 1.0f, 1e-7f);
    EXPECT_EQ(figure->bodies[RagDoll::kSpine]->getWorldTransform().getBasis(), btMatrix3x3::getIdentity());
}

TEST_F(Figure, EveryBodyIsDampedAndSleepsSooner)
{
    for (int part = 0; part < RagDoll::kBodyPartCount; ++part) {
        const btRigidBody* body = figure->bodies[part];
        SCOPED_TRACE("part " + std::to_string(part));
        EXPECT_EQ(body->getInvMass(), 1.0f);
        EXPECT_EQ(body->getLinearDamping(), 0.05f);
        EXPECT_EQ(body->getAngularDamping(), 0.85f);
        EXPECT_EQ(body->getDeactivationTime(), 0.8f);
        EXPECT_EQ(body->getLinearSleepingThreshold(), 1.6f);
        EXPECT_EQ(body->getAngularSleepingThreshold(), 2.5f);
        EXPECT_EQ(body->getFriction(), 0.5f);
        EXPECT_EQ(body->getCollisionShape(), figure->shapes[part]);
        EXPECT_NE(body->getMotionState(), nullptr);
    }
}

TEST_F(Figure, FiveHingesAndFiveConeTwistsWithTheirLimits)
{
    const int hinges[5] = {0, 3, 5, 7, 9};
    const float low[5] = {-kQuarterPi, 0, 0, -kHalfPi, -kHalfPi};
    const float high[5] = {kHalfPi, kHalfPi, kHalfPi, 0, 0};
    for (int h = 0; h < 5; ++h) {
        const auto* hinge = joint<btHingeConstraint>(hinges[h]);
        ASSERT_NE(hinge, nullptr) << "joint " << hinges[h];
        EXPECT_NEAR(hinge->getLowerLimit(), low[h], 1e-6f);
        EXPECT_NEAR(hinge->getUpperLimit(), high[h], 1e-6f);
        EXPECT_FLOAT_EQ(hinge->getLimitSoftness(), 0.9f);
        EXPECT_FLOAT_EQ(hinge->getLimitBiasFactor(), 0.3f);
        EXPECT_FLOAT_EQ(hinge->getLimitRelaxationFactor(), 1.0f);
        EXPECT_FALSE(hinge->getUseReferenceFrameA());
    }
    const int cones[5] = {1, 2, 4, 6, 8};
    const float swing[5] = {kQuarterPi, kQuarterPi, kQuarterPi, kHalfPi, kHalfPi};
    const float twist[5] = {kHalfPi, 0, 0, 0, 0};
    for (int c = 0; c < 5; ++c) {
        const auto* cone = joint<btConeTwistConstraint>(cones[c]);
        ASSERT_NE(cone, nullptr) << "joint " << cones[c];
        EXPECT_EQ(cone->getSwingSpan1(), swing[c]);
        EXPECT_EQ(cone->getSwingSpan2(), swing[c]);
        EXPECT_EQ(cone->getTwistSpan(), twist[c]);
        EXPECT_EQ(cone->getLimitSoftness(), 1.0f);
        EXPECT_EQ(cone->getBiasFactor(), 0.3f);
        EXPECT_EQ(cone->getRelaxationFactor(), 1.0f);
    }
    // Which bodies each joint links.
    const int linkA[10] = {0, 1, 0, 3, 0, 5, 1, 7, 1, 9};
    const int linkB[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int j = 0; j < RagDoll::kJointCount; ++j) {
        EXPECT_EQ(&figure->joints[j]->getRigidBodyA(), figure->bodies[linkA[j]]) << "joint " << j;
        EXPECT_EQ(&figure->joints[j]->getRigidBodyB(), figure->bodies[linkB[j]]) << "joint " << j;
    }
}

TEST_F(Figure, JointFramesAreScaledWithSinglePrecisionAngles)
{
    const auto* neck = joint<btConeTwistConstraint>(1);
    EXPECT_FLOAT_EQ(neck->getAFrame().getOrigin().y(), 1.05f);
    EXPECT_FLOAT_EQ(neck->getBFrame().getOrigin().y(), -0.49f);

    // Rz(3 pi / 4) at the left hip: cos -0.7071068, sin 0.7071067, each to
    // within one float step.
    const btMatrix3x3& hip = joint<btConeTwistConstraint>(2)->getAFrame().getBasis();
    EXPECT_NEAR(hip[0][0], -0.7071068f, 6e-8f);
    EXPECT_NEAR(hip[1][0], 0.7071067f, 6e-8f);
    EXPECT_FLOAT_EQ(joint<btConeTwistConstraint>(2)->getAFrame().getOrigin().x(), -0.63f);
    // Rz(pi/4) at the right hip.
    EXPECT_NEAR(joint<btConeTwistConstraint>(4)->getAFrame().getBasis()[0][0], 0.7071068f, 6e-8f);
    // Rz(pi) at the left shoulder: sin is the float -8.742278e-8.
    const btMatrix3x3& shoulder = joint<btConeTwistConstraint>(6)->getAFrame().getBasis();
    EXPECT_EQ(shoulder[0][0], -1.0f);
    EXPECT_EQ(shoulder[1][0], -8.742278e-08f);
    // The right shoulder's frame A is unrotated.
    EXPECT_EQ(joint<btConeTwistConstraint>(8)->getAFrame().getBasis(), btMatrix3x3::getIdentity());
    // Ry(pi/2) on the hinges.
    const btMatrix3x3& knee = joint<btHingeConstraint>(3)->getAFrame().getBasis();
    EXPECT_EQ(knee[0][0], -4.371139e-08f);
    EXPECT_EQ(knee[0][2], 1.0f);
    EXPECT_EQ(knee[2][0], -1.0f);
    EXPECT_FLOAT_EQ(joint<btHingeConstraint>(3)->getAFrame().getOrigin().y(), -0.7875f);
    EXPECT_FLOAT_EQ(joint<btHingeConstraint>(3)->getBFrame().getOrigin().y(), 0.6475f);
}

TEST_F(Figure, OnlyJointedPartsIgnoreEachOther)
{
    std::set<std::pair<int, int>> linked;
    for (int j = 0; j < RagDoll::kJointCount; ++j) {
        int a = -1, b = -1;
        for (int part = 0; part < RagDoll::kBodyPartCount; ++part) {
            a = &figure->joints[j]->getRigidBodyA() == figure->bodies[part] ? part : a;
            b = &figure->joints[j]->getRigidBodyB() == figure->bodies[part] ? part : b;
        }
        linked.insert({std::min(a, b), std::max(a, b)});
    }
    ASSERT_EQ(linked.size(), 10u);
    for (int a = 0; a < RagDoll::kBodyPartCount; ++a) {
        for (int b = a + 1; b < RagDoll::kBodyPartCount; ++b) {
            const bool collide = figure->bodies[a]->checkCollideWith(figure->bodies[b]);
            EXPECT_EQ(collide, linked.count({a, b}) == 0) << a << " and " << b;
        }
    }
}

TEST_F(Figure, ScaleOneKeepsTheTableSizes)
{
    RagDoll small(scene->dynamicsWorld, btVector3(10, 0, 0), 1.0f);
    EXPECT_EQ(small.shapes[RagDoll::kPelvis]->getRadius(), 0.15f);
    EXPECT_FLOAT_EQ(2.0f * small.shapes[RagDoll::kSpine]->getHalfHeight(), 0.28f);
    EXPECT_EQ(small.bodies[RagDoll::kRightUpperLeg]->getWorldTransform().getOrigin(), btVector3(10.18f, 0.65f, 0));
    EXPECT_EQ(scene->dynamicsWorld->getNumCollisionObjects(), 22);
}

TEST_F(Figure, AddBodyLeavesTheUserIndexAtTheLibraryDefault)
{
    btTransform start;
    start.setIdentity();
    btRigidBody* body = figure->addBody(2.0f, start, figure->shapes[RagDoll::kHead]);
    EXPECT_EQ(body->getUserIndex(), btCollisionObject().getUserIndex());
    EXPECT_EQ(body->getInvMass(), 0.5f);
    btRigidBody* fixed = figure->addBody(0.0f, start, figure->shapes[RagDoll::kHead]);
    EXPECT_EQ(fixed->getLocalInertia(), btVector3(0, 0, 0));
    EXPECT_TRUE(fixed->isStaticObject());
    // Owned by the world from here: the scene's teardown deletes them.
}

TEST(RagDollDeletion, RemovesExactlyItsJointsAndBodies)
{
    DemoOptions options;
    options.option = 3;
    std::unique_ptr<BenchmarkDemo> scene(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
    scene->buildWorld();
    btDiscreteDynamicsWorld* world = scene->dynamicsWorld;
    ASSERT_EQ(world->getNumCollisionObjects(), 1497);
    ASSERT_EQ(world->getNumConstraints(), 1360);

    std::set<const btCollisionObject*> others;
    for (int i = 0; i < world->getNumCollisionObjects(); ++i) {
        others.insert(world->getCollisionObjectArray()[i]);
    }
    for (btRigidBody* body : scene->ragDolls[7]->bodies) {
        others.erase(body);
    }

    delete scene->ragDolls[7];
    scene->ragDolls[7] = nullptr;
    EXPECT_EQ(world->getNumCollisionObjects(), 1497 - 11);
    EXPECT_EQ(world->getNumConstraints(), 1360 - 10);
    std::set<const btCollisionObject*> remaining;
    for (int i = 0; i < world->getNumCollisionObjects(); ++i) {
        remaining.insert(world->getCollisionObjectArray()[i]);
    }
    EXPECT_EQ(remaining, others);

    // The world steps on without the figure, and teardown skips the hole.
    scene->stepFrame(1.0f / 60.0f);
    scene->tearDownWorld();
    EXPECT_EQ(scene->ragDolls.size(), 0);
}
