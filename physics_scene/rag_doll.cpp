#include "rag_doll.h"

#include <cmath>

namespace {

// Angles in single precision; their sines and cosines are the float values
// for the float angle, so cos(pi/2) is -4.371139e-8, not 0.
constexpr float kPi = 3.1415927f;
constexpr float kHalfPi = 1.5707964f;
constexpr float kQuarterPi = 0.7853982f;
constexpr float kThreeQuarterPi = 2.3561945f;

btMatrix3x3 rotationZ(float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return btMatrix3x3(c, -s, 0.0f, s, c, 0.0f, 0.0f, 0.0f, 1.0f);
}

btMatrix3x3 rotationY(float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    return btMatrix3x3(c, 0.0f, s, 0.0f, 1.0f, 0.0f, -s, 0.0f, c);
}

struct BodyPartEntry {
    float radius;
    float height; // length of the straight part along the capsule's local y
    float x, y, z;
    float rotationZ; // angle about z; 0 for the upright parts
};

// Sizes and places for scale 1; the figure stands on y = 0 facing -z.
constexpr BodyPartEntry kBodyParts[RagDoll::kBodyPartCount] = {
    {0.15f, 0.20f, 0.0f, 1.0f, 0.0f, 0.0f},          // pelvis
    {0.15f, 0.28f, 0.0f, 1.2f, 0.0f, 0.0f},          // spine
    {0.10f, 0.05f, 0.0f, 1.6f, 0.0f, 0.0f},          // head
    {0.07f, 0.45f, -0.18f, 0.65f, 0.0f, 0.0f},       // left upper leg
    {0.05f, 0.37f, -0.18f, 0.2f, 0.0f, 0.0f},        // left lower leg
    {0.07f, 0.45f, 0.18f, 0.65f, 0.0f, 0.0f},        // right upper leg
    {0.05f, 0.37f, 0.18f, 0.2f, 0.0f, 0.0f},         // right lower leg
    {0.05f, 0.33f, -0.35f, 1.45f, 0.0f, kHalfPi},    // left upper arm
    {0.04f, 0.25f, -0.70f, 1.45f, 0.0f, kHalfPi},    // left lower arm
    {0.05f, 0.33f, 0.35f, 1.45f, 0.0f, -kHalfPi},    // right upper arm
    {0.04f, 0.25f, 0.70f, 1.45f, 0.0f, -kHalfPi},    // right lower arm
};

enum class JointKind { kHinge, kConeTwist };
enum class FrameRotation { kIdentity, kY, kZ };

struct JointEntry {
    JointKind kind;
    int bodyA;
    int bodyB;
    FrameRotation rotationKindA;
    float angleA;
    float originA[3]; // in body A's space, scale 1
    FrameRotation rotationKindB;
    float angleB;
    float originB[3];
    // Hinge: low, high. Cone-twist: swing span 1, swing span 2, twist span.
    float limits[3];
};

constexpr JointEntry kJoints[RagDoll::kJointCount] = {
    {JointKind::kHinge, RagDoll::kPelvis, RagDoll::kSpine, FrameRotation::kY, kHalfPi, {0.0f, 0.15f, 0.0f},
     FrameRotation::kY, kHalfPi, {0.0f, -0.15f, 0.0f}, {-kQuarterPi, kHalfPi, 0.0f}},
    {JointKind::kConeTwist, RagDoll::kSpine, RagDoll::kHead, FrameRotation::kZ, kHalfPi, {0.0f, 0.30f, 0.0f},
     FrameRotation::kZ, kHalfPi, {0.0f, -0.14f, 0.0f}, {kQuarterPi, kQuarterPi, kHalfPi}},
    {JointKind::kConeTwist, RagDoll::kPelvis, RagDoll::kLeftUpperLeg, FrameRotation::kZ, kThreeQuarterPi,
     {-0.18f, -0.10f, 0.0f}, FrameRotation::kZ, kThreeQuarterPi, {0.0f, 0.225f, 0.0f},
     {kQuarterPi, kQuarterPi, 0.0f}},
    {JointKind::kHinge, RagDoll::kLeftUpperLeg, RagDoll::kLeftLowerLeg, FrameRotation::kY, kHalfPi,
     {0.0f, -0.225f, 0.0f}, FrameRotation::kY, kHalfPi, {0.0f, 0.185f, 0.0f}, {0.0f, kHalfPi, 0.0f}},
    {JointKind::kConeTwist, RagDoll::kPelvis, RagDoll::kRightUpperLeg, FrameRotation::kZ, kQuarterPi,
     {0.18f, -0.10f, 0.0f}, FrameRotation::kZ, kQuarterPi, {0.0f, 0.225f, 0.0f}, {kQuarterPi, kQuarterPi, 0.0f}},
    {JointKind::kHinge, RagDoll::kRightUpperLeg, RagDoll::kRightLowerLeg, FrameRotation::kY, kHalfPi,
     {0.0f, -0.225f, 0.0f}, FrameRotation::kY, kHalfPi, {0.0f, 0.185f, 0.0f}, {0.0f, kHalfPi, 0.0f}},
    {JointKind::kConeTwist, RagDoll::kSpine, RagDoll::kLeftUpperArm, FrameRotation::kZ, kPi,
     {-0.2f, 0.15f, 0.0f}, FrameRotation::kZ, kHalfPi, {0.0f, -0.18f, 0.0f}, {kHalfPi, kHalfPi, 0.0f}},
    {JointKind::kHinge, RagDoll::kLeftUpperArm, RagDoll::kLeftLowerArm, FrameRotation::kY, kHalfPi,
     {0.0f, 0.18f, 0.0f}, FrameRotation::kY, kHalfPi, {0.0f, -0.14f, 0.0f}, {-kHalfPi, 0.0f, 0.0f}},
    {JointKind::kConeTwist, RagDoll::kSpine, RagDoll::kRightUpperArm, FrameRotation::kIdentity, 0.0f,
     {0.2f, 0.15f, 0.0f}, FrameRotation::kZ, kHalfPi, {0.0f, -0.18f, 0.0f}, {kHalfPi, kHalfPi, 0.0f}},
    {JointKind::kHinge, RagDoll::kRightUpperArm, RagDoll::kRightLowerArm, FrameRotation::kY, kHalfPi,
     {0.0f, 0.18f, 0.0f}, FrameRotation::kY, kHalfPi, {0.0f, -0.14f, 0.0f}, {-kHalfPi, 0.0f, 0.0f}},
};

// Body settings shared by every part: damped, and put to sleep sooner than
// the library's defaults.
constexpr float kLinearDamping = 0.05f;
constexpr float kAngularDamping = 0.85f;
constexpr float kDeactivationTime = 0.8f;
constexpr float kLinearSleepingThreshold = 1.6f;
constexpr float kAngularSleepingThreshold = 2.5f;
constexpr float kPartMass = 1.0f;

// Joint limit settings.
constexpr float kHingeSoftness = 0.9f;
constexpr float kConeSoftness = 1.0f;
constexpr float kBiasFactor = 0.3f;
constexpr float kRelaxationFactor = 1.0f;

btTransform jointFrame(FrameRotation kind, float angle, const float origin[3], float scale)
{
    btTransform frame;
    frame.setIdentity();
    if (kind == FrameRotation::kY) {
        frame.setBasis(rotationY(angle));
    } else if (kind == FrameRotation::kZ) {
        frame.setBasis(rotationZ(angle));
    }
    frame.setOrigin(btVector3(scale * origin[0], scale * origin[1], scale * origin[2]));
    return frame;
}

} // namespace

RagDoll::RagDoll(btDiscreteDynamicsWorld* ownerWorld, const btVector3& offset, float scale) : world(ownerWorld)
{
    for (int part = 0; part < kBodyPartCount; ++part) {
        shapes[part] = new btCapsuleShape(scale * kBodyParts[part].radius, scale * kBodyParts[part].height);
    }

    for (int part = 0; part < kBodyPartCount; ++part) {
        const BodyPartEntry& entry = kBodyParts[part];
        btTransform start;
        start.setIdentity();
        if (entry.rotationZ != 0.0f) {
            start.setBasis(rotationZ(entry.rotationZ));
        }
        start.setOrigin(offset + btVector3(scale * entry.x, scale * entry.y, scale * entry.z));
        bodies[part] = addBody(kPartMass, start, shapes[part]);
    }

    for (btRigidBody* body : bodies) {
        body->setDamping(kLinearDamping, kAngularDamping);
        body->setDeactivationTime(kDeactivationTime);
        body->setSleepingThresholds(kLinearSleepingThreshold, kAngularSleepingThreshold);
    }

    for (int j = 0; j < kJointCount; ++j) {
        const JointEntry& entry = kJoints[j];
        const btTransform frameA = jointFrame(entry.rotationKindA, entry.angleA, entry.originA, scale);
        const btTransform frameB = jointFrame(entry.rotationKindB, entry.angleB, entry.originB, scale);
        btRigidBody& bodyA = *bodies[entry.bodyA];
        btRigidBody& bodyB = *bodies[entry.bodyB];
        if (entry.kind == JointKind::kHinge) {
            auto* hinge = new btHingeConstraint(bodyA, bodyB, frameA, frameB, false);
            hinge->setLimit(entry.limits[0], entry.limits[1], kHingeSoftness, kBiasFactor, kRelaxationFactor);
            joints[j] = hinge;
        } else {
            auto* cone = new btConeTwistConstraint(bodyA, bodyB, frameA, frameB);
            cone->setLimit(entry.limits[0], entry.limits[1], entry.limits[2], kConeSoftness, kBiasFactor,
                           kRelaxationFactor);
            joints[j] = cone;
        }
        // The two linked parts overlap at the joint; only they ignore each
        // other.
        world->addConstraint(joints[j], true);
    }
}

RagDoll::~RagDoll()
{
    removeFromWorld();
}

btRigidBody* RagDoll::addBody(float mass, const btTransform& startTransform, btCollisionShape* shape)
{
    btVector3 localInertia(0.0f, 0.0f, 0.0f);
    if (mass != 0.0f) {
        shape->calculateLocalInertia(mass, localInertia);
    }
    auto* motionState = new btDefaultMotionState(startTransform);
    btRigidBody::btRigidBodyConstructionInfo info(mass, motionState, shape, localInertia);
    auto* body = new btRigidBody(info);
    world->addRigidBody(body);
    return body;
}

void RagDoll::removeFromWorld()
{
    for (btTypedConstraint*& joint : joints) {
        if (joint != nullptr) {
            world->removeConstraint(joint);
            delete joint;
            joint = nullptr;
        }
    }
    for (int part = 0; part < kBodyPartCount; ++part) {
        if (bodies[part] != nullptr) {
            world->removeRigidBody(bodies[part]);
            delete bodies[part]->getMotionState();
            delete bodies[part];
            bodies[part] = nullptr;
        }
        delete shapes[part];
        shapes[part] = nullptr;
    }
}
