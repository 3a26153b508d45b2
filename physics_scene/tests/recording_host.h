#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <vector>

#include <btBulletDynamicsCommon.h>

#include "gui_helper.h"

// A host for the scene tests: it records every call a scene makes into it
// and, when given them, hands out a renderer with a settable camera and an
// app whose window reports the keys the test holds.

class TestCamera : public GuiCamera {
public:
    void cameraPosition(float p[3]) const override
    {
        p[0] = position.x();
        p[1] = position.y();
        p[2] = position.z();
    }
    void cameraTarget(float t[3]) const override
    {
        t[0] = target.x();
        t[1] = target.y();
        t[2] = target.z();
    }

    btVector3 position{0, 0, 10};
    btVector3 target{0, 0, 0};
};

class TestWindow : public GuiWindow {
public:
    bool isKeyHeld(int keyCode) const override { return heldKeys.count(keyCode) != 0; }

    std::set<int> heldKeys;
};

class TestApp : public GuiApp {
public:
    int upAxis() const override { return up; }
    GuiWindow* window() override { return &testWindow; }

    int up = 1;
    TestWindow testWindow;
};

class TestRenderer : public GuiRenderer {
public:
    // One drawLines call, with its arguments copied.
    struct DrawnLines {
        std::vector<btVector3> points;
        float colour[4];
        int pointCount;
        int pointStrideBytes;
        std::vector<int> indices;
        float lineWidth;
    };

    GuiCamera* activeCamera() override { return &camera; }
    int screenWidth() const override { return width; }
    int screenHeight() const override { return height; }
    void drawLines(const float* points, const float colour[4], int pointCount, int pointStrideBytes,
                   const int* indices, int indexCount, float lineWidth) override
    {
        DrawnLines lines;
        const auto* bytes = reinterpret_cast<const unsigned char*>(points);
        for (int i = 0; i < pointCount; ++i) {
            const auto* p = reinterpret_cast<const float*>(bytes + static_cast<std::ptrdiff_t>(i) * pointStrideBytes);
            lines.points.emplace_back(p[0], p[1], p[2]);
        }
        for (int c = 0; c < 4; ++c) {
            lines.colour[c] = colour[c];
        }
        lines.pointCount = pointCount;
        lines.pointStrideBytes = pointStrideBytes;
        lines.indices.assign(indices, indices + indexCount);
        lines.lineWidth = lineWidth;
        drawn.push_back(std::move(lines));
    }

    TestCamera camera;
    int width = 800;
    int height = 600;
    std::vector<DrawnLines> drawn;
};

class RecordingHost : public GuiHelper {
public:
    struct Call {
        std::string name;
        btDiscreteDynamicsWorld* world = nullptr;
        int bodies = -1;
        int iterations = -1;
        float gravityY = 0.0f;
        std::vector<float> arguments = {};
    };

    void onBuildStart(int kind) override { calls.push_back({"onBuildStart:" + std::to_string(kind)}); }
    void onWorldCreated(btDiscreteDynamicsWorld* world) override { calls.push_back(snapshot("onWorldCreated", world)); }
    void onSceneBuilt(btDiscreteDynamicsWorld* world) override { calls.push_back(snapshot("onSceneBuilt", world)); }
    void beforeRender(btDiscreteDynamicsWorld* world) override { calls.push_back({"beforeRender", world}); }
    void renderWorld(btDiscreteDynamicsWorld* world) override { calls.push_back({"renderWorld", world}); }
    void setCamera(float distance, float firstAngle, float secondAngle, float targetX, float targetY,
                   float targetZ) override
    {
        Call call{"setCamera"};
        call.arguments = {distance, firstAngle, secondAngle, targetX, targetY, targetZ};
        calls.push_back(call);
    }
    GuiRenderer* renderer() override
    {
        calls.push_back({"renderer"});
        return rendererToHand;
    }
    GuiApp* app() override
    {
        calls.push_back({"app"});
        return appToHand;
    }

    // Calls named name, in order.
    std::vector<Call> callsNamed(const std::string& name) const
    {
        std::vector<Call> found;
        for (const Call& call : calls) {
            if (call.name == name) {
                found.push_back(call);
            }
        }
        return found;
    }

    std::vector<Call> calls;
    GuiRenderer* rendererToHand = nullptr; // what renderer() returns
    GuiApp* appToHand = nullptr;           // what app() returns

private:
    static Call snapshot(const char* name, btDiscreteDynamicsWorld* world)
    {
        return {name, world, world->getNumCollisionObjects(), world->getSolverInfo().m_numIterations,
                world->getGravity().y()};
    }
};

// A host with a renderer and an app, as a window would be.
struct InteractiveHost {
    InteractiveHost()
    {
        host.rendererToHand = &renderer;
        host.appToHand = &app;
    }
    InteractiveHost(const InteractiveHost&) = delete;
    InteractiveHost& operator=(const InteractiveHost&) = delete;

    TestRenderer renderer;
    TestApp app;
    RecordingHost host;
};
