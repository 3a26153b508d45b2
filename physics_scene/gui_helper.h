#pragma once

// The optional graphics and input host of a physics scene. Nothing in
// Velocitrix implements these classes: a scene keeps a non-owning pointer to
// a GuiHelper, calls it only when that pointer is not null, and the benchmark
// never hands a scene one. A host that wants to show or drive a scene
// implements the whole family; the scene relies only on what each comment
// below promises.

class btDiscreteDynamicsWorld;

class GuiCamera {
public:
    virtual ~GuiCamera() = default;
    // Fills position[0..2] with the camera's position in world coordinates.
    virtual void cameraPosition(float position[3]) const = 0;
    // Fills target[0..2] with the world point the camera looks at.
    virtual void cameraTarget(float target[3]) const = 0;
};

class GuiWindow {
public:
    virtual ~GuiWindow() = default;
    // True while the key with this host key code is held down.
    virtual bool isKeyHeld(int keyCode) const = 0;
};

class GuiApp {
public:
    virtual ~GuiApp() = default;
    // Index (0, 1 or 2) of the world axis the camera treats as up.
    virtual int upAxis() const = 0;
    // The host's window; never null.
    virtual GuiWindow* window() = 0;
};

class GuiRenderer {
public:
    virtual ~GuiRenderer() = default;
    // The current camera; never null.
    virtual GuiCamera* activeCamera() = 0;
    // Size of the view in pixels, both above 0.
    virtual int screenWidth() const = 0;
    virtual int screenHeight() const = 0;
    // Draws line segments between pairs of points: points holds pointCount
    // points, pointStrideBytes apart, each starting with x, y, z floats;
    // indices holds indexCount point indices, two per segment; colour is
    // red, green, blue, alpha in 0..1; lineWidth is in pixels.
    virtual void drawLines(const float* points, const float colour[4], int pointCount,
                           int pointStrideBytes, const int* indices, int indexCount,
                           float lineWidth) = 0;
};

class GuiHelper {
public:
    virtual ~GuiHelper() = default;
    // A scene starts building its world; the argument's meaning is the host's.
    virtual void onBuildStart(int kind) = 0;
    // The new world exists and has its solver settings; no bodies yet.
    virtual void onWorldCreated(btDiscreteDynamicsWorld* world) = 0;
    // The world holds the whole scene.
    virtual void onSceneBuilt(btDiscreteDynamicsWorld* world) = 0;
    // Called before and for drawing one view of the world.
    virtual void beforeRender(btDiscreteDynamicsWorld* world) = 0;
    virtual void renderWorld(btDiscreteDynamicsWorld* world) = 0;
    // Places the camera: distance from the target, two view angles and the
    // target point; the angles' meaning is the host's.
    virtual void setCamera(float distance, float firstAngle, float secondAngle, float targetX,
                           float targetY, float targetZ) = 0;
    // The host's renderer, or null when it has none.
    virtual GuiRenderer* renderer() = 0;
    // The host application; never null.
    virtual GuiApp* app() = 0;
};
