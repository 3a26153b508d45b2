#pragma once

#include <btBulletDynamicsCommon.h>

// An articulated human figure: eleven capsule bodies joined by five hinges
// and five cone-twist joints, built into an existing world. The figure owns
// its shapes, bodies, motion states and joints and takes them out of the
// world again when it is deleted; the world must outlive it.
class RagDoll {
public:
    enum BodyPart {
        kPelvis,
        kSpine,
        kHead,
        kLeftUpperLeg,
        kLeftLowerLeg,
        kRightUpperLeg,
        kRightLowerLeg,
        kLeftUpperArm,
        kLeftLowerArm,
        kRightUpperArm,
        kRightLowerArm,
        kBodyPartCount
    };
    static constexpr int kJointCount = 10;

    // Builds the figure at offset, all lengths scaled by scale.
    RagDoll(btDiscreteDynamicsWorld* world, const btVector3& offset, float scale);
    virtual ~RagDoll();

    RagDoll(const RagDoll&) = delete;
    RagDoll& operator=(const RagDoll&) = delete;

    // A body of the given mass at startTransform, added to the world.
    btRigidBody* addBody(float mass, const btTransform& startTransform, btCollisionShape* shape);

    btDiscreteDynamicsWorld* world; // not owned
    btCapsuleShape* shapes[kBodyPartCount] = {};
    btRigidBody* bodies[kBodyPartCount] = {};
    btTypedConstraint* joints[kJointCount] = {};

private:
    // Removes and deletes every joint, then every body with its motion
    // state and its shape; entries already null are skipped.
    void removeFromWorld();
};
