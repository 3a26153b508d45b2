#include "common_rigid_body_base.h"

#include <cstdio>

#include <BulletCollision/NarrowPhaseCollision/btRaycastCallback.h>
#include <LinearMath/btSerializer.h>

#include "benchmark_demo.h"
#include "gui_helper.h"

// Showing and handling a scene through a host. Velocitrix never supplies a
// host; these operations exist for one that does.

namespace {

// Host key codes: holding either modifier turns a button-0 press into a
// camera gesture of the host, not a pick. The save key writes the world out.
constexpr int kCameraModifierKeyA = 65308;
constexpr int kCameraModifierKeyB = 65307;
constexpr int kSaveKey = 65282;
constexpr const char* kSaveFileName = "testFile.bullet";

// Ray test with the library's GJK convex cast, which hits convex shapes
// more exactly than the default sub-simplex cast.
constexpr unsigned int kPickRayFlags = btTriangleRaycastCallback::kF_UseGjkConvexCastRaytest;
constexpr float kPickImpulseClamp = 30.0f;
constexpr float kPickTau = 0.001f;

// Below this squared length a cross product counts as zero (2^-46).
constexpr float kParallelEpsilon = 1.4210855e-14f;
constexpr float kFarDistance = 10000.0f;
constexpr float kViewExtent = 20000.0f;

btVector3 cameraPosition(GuiRenderer* renderer)
{
    float p[3];
    renderer->activeCamera()->cameraPosition(p);
    return btVector3(p[0], p[1], p[2]);
}

btVector3 cameraTarget(GuiRenderer* renderer)
{
    float t[3];
    renderer->activeCamera()->cameraTarget(t);
    return btVector3(t[0], t[1], t[2]);
}

// Has the world's debug drawer (if it has one) draw what debugFlags select.
void drawWorldDebugLines(btDiscreteDynamicsWorld* world, int debugFlags)
{
    if (world == nullptr || world->getDebugDrawer() == nullptr) {
        return;
    }
    world->getDebugDrawer()->setDebugMode(debugFlags);
    world->debugDrawWorld();
}

GuiRenderer* rendererOf(GuiHelper* helper)
{
    return helper != nullptr ? helper->renderer() : nullptr;
}

} // namespace

void CommonRigidBodyBase::render()
{
    if (guiHelper == nullptr) {
        return;
    }
    guiHelper->beforeRender(dynamicsWorld);
    guiHelper->renderWorld(dynamicsWorld);
}

void CommonRigidBodyBase::drawDebug(int debugFlags)
{
    drawWorldDebugLines(dynamicsWorld, debugFlags);
}

void CommonRigidBodyBase::drawDebugWithFlags(int debugFlags)
{
    drawWorldDebugLines(dynamicsWorld, debugFlags);
}

bool CommonRigidBodyBase::onMouseMove(float x, float y)
{
    GuiRenderer* renderer = rendererOf(guiHelper);
    if (renderer == nullptr) {
        return false;
    }
    const btVector3 rayTo = screenToWorldRay(static_cast<int>(x), static_cast<int>(y));
    const btVector3 rayFrom = cameraPosition(renderer);
    movePickedBody(rayFrom, rayTo);
    return false;
}

bool CommonRigidBodyBase::onMouseButton(int button, int state, float x, float y)
{
    GuiRenderer* renderer = rendererOf(guiHelper);
    if (renderer == nullptr || button != 0) {
        return false;
    }
    if (state == 1) {
        GuiWindow* window = guiHelper->app()->window();
        if (window->isKeyHeld(kCameraModifierKeyA) || window->isKeyHeld(kCameraModifierKeyB)) {
            return false;
        }
        const btVector3 rayFrom = cameraPosition(renderer);
        const btVector3 rayTo = screenToWorldRay(static_cast<int>(x), static_cast<int>(y));
        pickBody(rayFrom, rayTo);
    } else {
        removePickingConstraint();
    }
    return false;
}

btVector3 CommonRigidBodyBase::screenToWorldRay(int x, int y)
{
    GuiRenderer* renderer = rendererOf(guiHelper);
    if (renderer == nullptr) {
        return btVector3(0.0f, 0.0f, 0.0f);
    }
    const btVector3 from = cameraPosition(renderer);
    const btVector3 target = cameraTarget(renderer);

    btVector3 forward = (target - from).normalized() * kFarDistance;
    btVector3 up(0.0f, 0.0f, 0.0f);
    up[guiHelper->app()->upAxis()] = 1.0f;

    btVector3 horizontal = forward.cross(up);
    if (horizontal.length2() < kParallelEpsilon) {
        // Looking straight along the up axis.
        horizontal = btVector3(1.0f, 0.0f, 0.0f);
    } else {
        horizontal.normalize();
    }
    btVector3 vertical = horizontal.cross(forward);
    if (vertical.length2() < kParallelEpsilon) {
        vertical = btVector3(kViewExtent, 0.0f, 0.0f);
    } else {
        vertical = vertical.normalized() * kViewExtent;
    }

    const float width = static_cast<float>(renderer->screenWidth());
    const float height = static_cast<float>(renderer->screenHeight());
    horizontal = horizontal * kViewExtent * (width / height);

    const btVector3 topLeft = from + forward - horizontal * 0.5f + vertical * 0.5f;
    return topLeft + (horizontal / width) * static_cast<float>(x) - (vertical / height) * static_cast<float>(y);
}

bool CommonRigidBodyBase::pickBody(const btVector3& rayFrom, const btVector3& rayTo)
{
    if (dynamicsWorld == nullptr) {
        return false;
    }
    btCollisionWorld::ClosestRayResultCallback callback(rayFrom, rayTo);
    callback.m_flags = kPickRayFlags;
    dynamicsWorld->rayTest(rayFrom, rayTo, callback);
    if (!callback.hasHit()) {
        return false;
    }

    const btVector3 hit = callback.m_hitPointWorld;
    btRigidBody* body = const_cast<btRigidBody*>(btRigidBody::upcast(callback.m_collisionObject));
    if (body != nullptr && !body->isStaticOrKinematicObject()) {
        // A press without a release in between (the host lost the release)
        // must not strand the earlier pick's constraint in the world.
        removePickingConstraint();
        pickedBody = body;
        savedActivationState = body->getActivationState();
        body->setActivationState(DISABLE_DEACTIVATION);
        const btVector3 localPivot = body->getCenterOfMassTransform().inverse() * hit;
        pickedConstraint = new btPoint2PointConstraint(*body, localPivot);
        dynamicsWorld->addConstraint(pickedConstraint, true);
        pickedConstraint->m_setting.m_impulseClamp = kPickImpulseClamp;
        pickedConstraint->m_setting.m_tau = kPickTau;
    }
    pickRayTo = rayTo;
    pickHitPoint = hit;
    pickDistance = (hit - rayFrom).length();
    return false;
}

bool CommonRigidBodyBase::movePickedBody(const btVector3& rayFrom, const btVector3& rayTo)
{
    if (pickedBody == nullptr || pickedConstraint == nullptr) {
        return false;
    }
    // The grabbed point stays at the distance at which it was picked.
    const btVector3 direction = (rayTo - rayFrom).normalized();
    pickedConstraint->setPivotB(rayFrom + direction * pickDistance);
    return true;
}

void CommonRigidBodyBase::removePickingConstraint()
{
    if (pickedConstraint == nullptr) {
        return;
    }
    pickedBody->forceActivationState(savedActivationState);
    pickedBody->activate(false);
    dynamicsWorld->removeConstraint(pickedConstraint);
    delete pickedConstraint;
    pickedConstraint = nullptr;
    pickedBody = nullptr;
}

bool CommonRigidBodyBase::saveWorldOnKey(int keyCode, int state)
{
    if (keyCode != kSaveKey || state == 0 || dynamicsWorld == nullptr) {
        return false;
    }
    btDefaultSerializer serializer;
    dynamicsWorld->serialize(&serializer);

    // The library's serialized form of the world, as its default serializer
    // writes it. A file that cannot be opened or written is reported, not
    // taken for a save.
    std::FILE* file = std::fopen(kSaveFileName, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "Failed to open %s\n", kSaveFileName);
        return false;
    }
    const auto size = static_cast<std::size_t>(serializer.getCurrentBufferSize());
    const bool written = std::fwrite(serializer.getBufferPointer(), size, 1, file) == 1;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "Failed to write %s\n", kSaveFileName);
        return false;
    }
    return true;
}

void BenchmarkDemo::resetView()
{
    if (guiHelper != nullptr) {
        guiHelper->setCamera(120.0f, 52.0f, -35.0f, 0.0f, 10.46f, 0.0f);
    }
}
