#pragma once

#include <btBulletDynamicsCommon.h>

#include "common_example_interface.h"

class GuiHelper;

// A scene around one Bullet rigid-body world. It owns the world's five parts
// (all null while it has no world), every shape in collisionShapes, and the
// constraint of a held mouse pick. Its destructor tears nothing down: a
// derived scene ends its world in its own destructor.
//
// The members are public so that a host and the tests can inspect the world;
// only the scene writes them.
class CommonRigidBodyBase : public CommonExampleInterface {
public:
    explicit CommonRigidBodyBase(GuiHelper* helper);
    ~CommonRigidBodyBase() override;

    CommonRigidBodyBase(const CommonRigidBodyBase&) = delete;
    CommonRigidBodyBase& operator=(const CommonRigidBodyBase&) = delete;

    void buildWorld() override = 0;
    void tearDownWorld() override;
    void updateGraphics() override;
    // One world step of deltaTime with at most one fixed 1/60 s substep.
    void stepFrame(float deltaTime) override;
    void render() override;
    void drawDebug(int debugFlags) override;
    void resetView() override;
    bool onMouseMove(float x, float y) override;
    bool onMouseButton(int button, int state, float x, float y) override;
    bool saveWorldOnKey(int keyCode, int state) override;
    void reservedHook1() override;
    void reservedHook2() override;
    void reservedHook3() override;
    void reservedHook4() override;
    void reservedHook5() override;

    // Makes a default world (dynamic-tree broadphase, gravity (0, -10, 0))
    // into the five world members without looking at what they hold.
    virtual void buildDefaultWorld();
    virtual void drawDebugWithFlags(int debugFlags);
    virtual bool pickBody(const btVector3& rayFrom, const btVector3& rayTo);
    virtual bool movePickedBody(const btVector3& rayFrom, const btVector3& rayTo);
    // Ends a held pick; does nothing without one.
    virtual void removePickingConstraint();

    // Deletes the world and its four other parts, leaving all five null.
    void deleteWorldParts();

    // Far end of the camera ray through pixel (x, y); needs a host.
    btVector3 screenToWorldRay(int x, int y);

    // Adds a body of the given mass (0: static) at startTransform to the
    // world and returns it; the world owns it until tearDownWorld. The
    // caller registers the shape in collisionShapes. Needs a world.
    btRigidBody* spawnRigidBody(float mass, const btTransform& startTransform,
                                btCollisionShape* shape);

    btAlignedObjectArray<btCollisionShape*> collisionShapes;
    btBroadphaseInterface* broadphase = nullptr;
    btCollisionDispatcher* dispatcher = nullptr;
    btConstraintSolver* solver = nullptr;
    btDefaultCollisionConfiguration* collisionConfiguration = nullptr;
    btDiscreteDynamicsWorld* dynamicsWorld = nullptr;

    btRigidBody* pickedBody = nullptr;                   // not owned
    btPoint2PointConstraint* pickedConstraint = nullptr; // owned while a pick is held
    int savedActivationState = 0;
    btVector3 pickRayTo{0, 0, 0};
    btVector3 pickHitPoint{0, 0, 0};
    float pickDistance = 0.0f;

    GuiHelper* guiHelper; // not owned; null unless a host drives the scene
};
