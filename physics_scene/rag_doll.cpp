#include "rag_doll.h"

RagDoll::~RagDoll()
{
    removeFromWorld();
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
