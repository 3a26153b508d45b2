#pragma once

// A physics scene as a host sees it. Owners create a scene, call buildWorld
// once, then stepFrame once per frame, and delete it through this interface;
// deleting tears the world down.
class CommonExampleInterface {
public:
    virtual ~CommonExampleInterface() = default;

    // Builds the scene's world. Called on a scene without a world.
    virtual void buildWorld() = 0;
    // Ends the world and everything in it; the scene is then as freshly
    // created and may build again. Safe to call any number of times.
    virtual void tearDownWorld() = 0;
    virtual void updateGraphics() = 0;
    // Advances the world by one frame of deltaTime seconds (> 0).
    virtual void stepFrame(float deltaTime) = 0;
    virtual void render() = 0;
    virtual void drawDebug(int debugFlags) = 0;
    virtual void resetView() = 0;
    // Pointer position in pixels; true when the scene used the event.
    virtual bool onMouseMove(float x, float y) = 0;
    virtual bool onMouseButton(int button, int state, float x, float y) = 0;
    virtual bool saveWorldOnKey(int keyCode, int state) = 0;
    // Extension points for a host; no scene of Velocitrix uses them.
    virtual void reservedHook1() = 0;
    virtual void reservedHook2() = 0;
    virtual void reservedHook3() = 0;
    virtual void reservedHook4() = 0;
    virtual void reservedHook5() = 0;
};
