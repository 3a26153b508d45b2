#include "common_rigid_body_base.h"

#include "benchmark_demo.h"
#include "gui_helper.h"

// Showing and handling a scene through a host. Velocitrix never supplies a
// host; these operations exist for one that does.

void CommonRigidBodyBase::render() {}

void CommonRigidBodyBase::drawDebug(int /*debugFlags*/) {}

void CommonRigidBodyBase::drawDebugWithFlags(int /*debugFlags*/) {}

bool CommonRigidBodyBase::onMouseMove(float /*x*/, float /*y*/)
{
    return false;
}

bool CommonRigidBodyBase::onMouseButton(int /*button*/, int /*state*/, float /*x*/, float /*y*/)
{
    return false;
}

bool CommonRigidBodyBase::saveWorldOnKey(int /*keyCode*/, int /*state*/)
{
    return false;
}

btVector3 CommonRigidBodyBase::screenToWorldRay(int /*x*/, int /*y*/)
{
    return btVector3(0.0f, 0.0f, 0.0f);
}

bool CommonRigidBodyBase::pickBody(const btVector3& /*rayFrom*/, const btVector3& /*rayTo*/)
{
    return false;
}

bool CommonRigidBodyBase::movePickedBody(const btVector3& /*rayFrom*/, const btVector3& /*rayTo*/)
{
    return false;
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

void BenchmarkDemo::resetView() {}
