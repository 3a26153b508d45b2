#include "common_rigid_body_base.h"

#include "gui_helper.h"

namespace {

// The world advances in fixed substeps of 1/60 s, given as a float whatever
// the library's scalar type.
constexpr float kFixedSubstep = 1.0f / 60.0f;

} // namespace

CommonRigidBodyBase::CommonRigidBodyBase(GuiHelper* helper) : guiHelper(helper) {}

// collisionShapes releases its own storage; the world is a derived scene's
// to tear down.
CommonRigidBodyBase::~CommonRigidBodyBase() = default;

void CommonRigidBodyBase::tearDownWorld()
{
    removePickingConstraint();

    if (dynamicsWorld != nullptr) {
        // Constraints belong to whoever made them (a pick, a ragdoll): they
        // leave the world here but are not deleted.
        for (int i = dynamicsWorld->getNumConstraints() - 1; i >= 0; --i) {
            dynamicsWorld->removeConstraint(dynamicsWorld->getConstraint(i));
        }
        // Removal shrinks the array, so always take the current last object.
        while (dynamicsWorld->getNumCollisionObjects() > 0) {
            btCollisionObject* object =
                dynamicsWorld->getCollisionObjectArray()[dynamicsWorld->getNumCollisionObjects() - 1];
            btRigidBody* body = btRigidBody::upcast(object);
            if (body != nullptr && body->getMotionState() != nullptr) {
                delete body->getMotionState();
            }
            dynamicsWorld->removeCollisionObject(object);
            delete object;
        }
    }

    for (int i = 0; i < collisionShapes.size(); ++i) {
        delete collisionShapes[i];
    }
    collisionShapes.clear();

    deleteWorldParts();
}

void CommonRigidBodyBase::deleteWorldParts()
{
    delete dynamicsWorld;
    dynamicsWorld = nullptr;
    delete solver;
    solver = nullptr;
    delete broadphase;
    broadphase = nullptr;
    delete dispatcher;
    dispatcher = nullptr;
    delete collisionConfiguration;
    collisionConfiguration = nullptr;
}

void CommonRigidBodyBase::updateGraphics() {}

void CommonRigidBodyBase::stepFrame(float deltaTime)
{
    if (dynamicsWorld != nullptr) {
        dynamicsWorld->stepSimulation(deltaTime, 1, kFixedSubstep);
    }
}

void CommonRigidBodyBase::resetView() {}

void CommonRigidBodyBase::reservedHook1() {}
void CommonRigidBodyBase::reservedHook2() {}
void CommonRigidBodyBase::reservedHook3() {}
void CommonRigidBodyBase::reservedHook4() {}
void CommonRigidBodyBase::reservedHook5() {}

void CommonRigidBodyBase::buildDefaultWorld()
{
    btDefaultCollisionConstructionInfo info;
    info.m_persistentManifoldPool = nullptr;
    info.m_collisionAlgorithmPool = nullptr;
    info.m_defaultMaxPersistentManifoldPoolSize = 4096;
    info.m_defaultMaxCollisionAlgorithmPoolSize = 4096;
    info.m_customCollisionAlgorithmMaxElementSize = 0;
    info.m_useEpaPenetrationAlgorithm = 1;
    collisionConfiguration = new btDefaultCollisionConfiguration(info);
    dispatcher = new btCollisionDispatcher(collisionConfiguration);
    // Without a pair cache given, the dynamic-tree broadphase makes and
    // deletes its own.
    broadphase = new btDbvtBroadphase();
    solver = new btSequentialImpulseConstraintSolver();
    dynamicsWorld = new btDiscreteDynamicsWorld(dispatcher, broadphase, solver, collisionConfiguration);
    dynamicsWorld->setGravity(btVector3(0.0f, -10.0f, 0.0f));
}

btRigidBody* CommonRigidBodyBase::spawnRigidBody(float mass, const btTransform& startTransform,
                                                 btCollisionShape* shape)
{
    btVector3 localInertia(0.0f, 0.0f, 0.0f);
    if (mass != 0.0f) {
        shape->calculateLocalInertia(mass, localInertia);
    }
    btDefaultMotionState* motionState = new btDefaultMotionState(startTransform);
    btRigidBody::btRigidBodyConstructionInfo info(mass, motionState, shape, localInertia);
    btRigidBody* body = new btRigidBody(info);
    body->setUserIndex(-1);
    dynamicsWorld->addRigidBody(body);
    return body;
}
