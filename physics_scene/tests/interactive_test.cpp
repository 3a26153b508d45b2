#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <LinearMath/btSerializer.h>

#include "benchmark_demo.h"
#include "rag_doll.h"
#include "recording_host.h"

namespace {

constexpr float kTimeStep = 1.0f / 60.0f;
constexpr int kCameraKeyA = 65308;
constexpr int kCameraKeyB = 65307;
constexpr int kSaveKey = 65282;

void expectNear(const btVector3& actual, const btVector3& expected, float tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance) << "x";
    EXPECT_NEAR(actual.y(), expected.y(), tolerance) << "y";
    EXPECT_NEAR(actual.z(), expected.z(), tolerance) << "z";
}

// The ground of scene 0 and one free 2-unit box at (0, 5, 0), seen by a
// host camera at (0, 5, 30) that looks at the box's centre through an
// 800 x 600 view: pixel (400, 300) is the middle of the box's +z face,
// 29 units from the camera.
class Picking : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.renderer.camera.position = btVector3(0, 5, 30);
        ui.renderer.camera.target = btVector3(0, 5, 0);
        DemoOptions options;
        options.guiHelper = &ui.host;
        options.option = 0;
        scene.reset(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
        scene->buildWorld();
        auto* shape = new btBoxShape(btVector3(1, 1, 1));
        scene->collisionShapes.push_back(shape);
        btTransform start;
        start.setIdentity();
        start.setOrigin(btVector3(0, 5, 0));
        box = scene->spawnRigidBody(1.0f, start, shape);
        ground = btRigidBody::upcast(scene->dynamicsWorld->getCollisionObjectArray()[0]);
    }

    btDiscreteDynamicsWorld* world() const { return scene->dynamicsWorld; }

    InteractiveHost ui;
    std::unique_ptr<BenchmarkDemo> scene;
    btRigidBody* box = nullptr;
    btRigidBody* ground = nullptr;
};

} // namespace

TEST_F(Picking, ScreenRayRunsFromTheCameraThroughThePixel)
{
    // Forward 10000 along the view; the view spans 20000 vertically and
    // 20000 * 800 / 600 horizontally at that distance; x grows to the right,
    // y downwards.
    expectNear(scene->screenToWorldRay(400, 300), btVector3(0, 5, -9970), 0.01f);
    expectNear(scene->screenToWorldRay(0, 0), btVector3(-13333.333f, 10005, -9970), 0.01f);
    expectNear(scene->screenToWorldRay(800, 600), btVector3(13333.333f, -9995, -9970), 0.01f);
    expectNear(scene->screenToWorldRay(400, 0), btVector3(0, 10005, -9970), 0.01f);

    // With z as the up axis the camera looks straight along it: x is taken
    // as horizontal, which here gives the same view.
    ui.app.up = 2;
    expectNear(scene->screenToWorldRay(0, 0), btVector3(-13333.333f, 10005, -9970), 0.01f);
}

TEST_F(Picking, LookingAlongTheUpAxisTakesXAsHorizontal)
{
    ui.renderer.camera.position = btVector3(0, 100, 0);
    ui.renderer.camera.target = btVector3(0, 0, 0);
    // Forward (0, -10000, 0); horizontal (1, 0, 0); vertical = horizontal x
    // forward = (0, 0, -1) scaled to 20000.
    expectNear(scene->screenToWorldRay(0, 0), btVector3(-13333.333f, -9900, -10000), 0.01f);
    expectNear(scene->screenToWorldRay(800, 600), btVector3(13333.333f, -9900, 10000), 0.01f);
}

TEST_F(Picking, PressOnAFreeBodyHoldsItByAConstraint)
{
    const int stateBefore = box->getActivationState();
    EXPECT_FALSE(scene->onMouseButton(0, 1, 400.7f, 300.2f));

    ASSERT_EQ(scene->pickedBody, box);
    ASSERT_NE(scene->pickedConstraint, nullptr);
    EXPECT_EQ(world()->getNumConstraints(), 1);
    EXPECT_EQ(world()->getConstraint(0), scene->pickedConstraint);
    EXPECT_EQ(scene->savedActivationState, stateBefore);
    EXPECT_EQ(box->getActivationState(), DISABLE_DEACTIVATION);

    expectNear(scene->pickHitPoint, btVector3(0, 5, 1), 1e-3f);
    EXPECT_NEAR(scene->pickDistance, 29.0f, 1e-3f);
    expectNear(scene->pickRayTo, scene->screenToWorldRay(400, 300), 1e-3f);
    // The pivot is the hit point in the body's own frame.
    expectNear(scene->pickedConstraint->getPivotInA(), btVector3(0, 0, 1), 1e-3f);
    EXPECT_EQ(scene->pickedConstraint->m_setting.m_impulseClamp, 30.0f);
    EXPECT_EQ(scene->pickedConstraint->m_setting.m_tau, 0.001f);
    // Added with collisions between its bodies disabled, which registers it
    // on the body.
    EXPECT_EQ(box->getNumConstraintRefs(), 1);
}

TEST_F(Picking, DragKeepsThePickedPointOnThePointerRayAtItsDistance)
{
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_NE(scene->pickedConstraint, nullptr);

    EXPECT_FALSE(scene->onMouseMove(560.9f, 300.0f));
    const btVector3 camera(0, 5, 30);
    const btVector3 rayTo = scene->screenToWorldRay(560, 300);
    const btVector3 pivot = scene->pickedConstraint->getPivotInB();
    EXPECT_NEAR((pivot - camera).length(), scene->pickDistance, 1e-3f);
    expectNear((pivot - camera).normalized(), (rayTo - camera).normalized(), 1e-5f);
    EXPECT_GT(pivot.x(), 2.0f);

    // The world pulls the box after the pointer.
    for (int frame = 0; frame < 30; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    EXPECT_GT(box->getWorldTransform().getOrigin().x(), 1.0f);

    EXPECT_TRUE(scene->movePickedBody(camera, btVector3(0, 5, -100)));
    expectNear(scene->pickedConstraint->getPivotInB(), btVector3(0, 5, 30 - scene->pickDistance), 1e-3f);
}

TEST_F(Picking, ReleaseEndsThePickAndRestoresTheBody)
{
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_NE(scene->pickedConstraint, nullptr);
    const int saved = scene->savedActivationState;

    EXPECT_FALSE(scene->onMouseButton(0, 0, 400, 300));
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickedBody, nullptr);
    EXPECT_EQ(world()->getNumConstraints(), 0);
    EXPECT_EQ(box->getNumConstraintRefs(), 0);
    EXPECT_EQ(box->getActivationState(), saved);
    // Moving after the release moves nothing.
    EXPECT_FALSE(scene->movePickedBody(btVector3(0, 5, 30), btVector3(10, 5, -100)));

    // Any state but 1 releases.
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_NE(scene->pickedConstraint, nullptr);
    scene->onMouseButton(0, 7, 0, 0);
    EXPECT_EQ(scene->pickedConstraint, nullptr);
}

TEST_F(Picking, ReleaseRestoresTheSavedStateThenWakesTheBody)
{
    // A sleeping body is restored to sleeping and then woken.
    box->forceActivationState(ISLAND_SLEEPING);
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_EQ(scene->savedActivationState, ISLAND_SLEEPING);
    scene->onMouseButton(0, 0, 400, 300);
    EXPECT_EQ(box->getActivationState(), ACTIVE_TAG);

    // A body kept awake for good stays so: the wake-up does not override it.
    box->forceActivationState(DISABLE_DEACTIVATION);
    scene->onMouseButton(0, 1, 400, 300);
    scene->onMouseButton(0, 0, 400, 300);
    EXPECT_EQ(box->getActivationState(), DISABLE_DEACTIVATION);

    // So does one taken out of the simulation.
    box->forceActivationState(DISABLE_SIMULATION);
    scene->onMouseButton(0, 1, 400, 300);
    scene->onMouseButton(0, 0, 400, 300);
    EXPECT_EQ(box->getActivationState(), DISABLE_SIMULATION);
}

TEST_F(Picking, CameraKeysAndOtherButtonsPickNothing)
{
    ui.app.testWindow.heldKeys = {kCameraKeyA};
    scene->onMouseButton(0, 1, 400, 300);
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    ui.app.testWindow.heldKeys = {kCameraKeyB};
    scene->onMouseButton(0, 1, 400, 300);
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickDistance, 0.0f); // no ray was cast
    ui.app.testWindow.heldKeys.clear();

    EXPECT_FALSE(scene->onMouseButton(1, 1, 400, 300));
    EXPECT_FALSE(scene->onMouseButton(2, 1, 400, 300));
    EXPECT_EQ(scene->pickedConstraint, nullptr);

    // Another button's release leaves a held pick alone.
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_NE(scene->pickedConstraint, nullptr);
    scene->onMouseButton(1, 0, 400, 300);
    EXPECT_NE(scene->pickedConstraint, nullptr);
}

TEST_F(Picking, PressOnTheStaticGroundOnlyRecordsTheHit)
{
    ui.renderer.camera.position = btVector3(20, 10, 20);
    ui.renderer.camera.target = btVector3(20, 0, 10);
    const int groundState = ground->getActivationState();
    scene->onMouseButton(0, 1, 400, 300);
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickedBody, nullptr);
    EXPECT_EQ(world()->getNumConstraints(), 0);
    expectNear(scene->pickHitPoint, btVector3(20, 0, 10), 1e-2f);
    EXPECT_NEAR(scene->pickDistance, std::sqrt(200.0f), 1e-2f);
    EXPECT_EQ(ground->getActivationState(), groundState);
}

TEST_F(Picking, PressIntoEmptySpaceRecordsNothing)
{
    ui.renderer.camera.position = btVector3(0, 5, 30);
    ui.renderer.camera.target = btVector3(0, 50, 30);
    scene->onMouseButton(0, 1, 400, 300);
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickDistance, 0.0f);
    EXPECT_EQ(scene->pickRayTo, btVector3(0, 0, 0));
}

TEST_F(Picking, SecondPressWithoutReleaseReplacesThePick)
{
    const int stateBefore = box->getActivationState();
    scene->onMouseButton(0, 1, 400, 300);
    scene->onMouseButton(0, 1, 410, 300); // the host lost the release
    ASSERT_NE(scene->pickedConstraint, nullptr);
    EXPECT_EQ(world()->getNumConstraints(), 1);
    EXPECT_EQ(box->getNumConstraintRefs(), 1);
    // The state saved is the body's own, not the pick's.
    EXPECT_EQ(scene->savedActivationState, stateBefore);
    scene->onMouseButton(0, 0, 410, 300);
    EXPECT_EQ(world()->getNumConstraints(), 0);
    EXPECT_EQ(box->getActivationState(), stateBefore);
}

TEST_F(Picking, TeardownEndsAHeldPick)
{
    scene->onMouseButton(0, 1, 400, 300);
    ASSERT_NE(scene->pickedConstraint, nullptr);
    scene->tearDownWorld();
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickedBody, nullptr);
    EXPECT_EQ(scene->dynamicsWorld, nullptr);
}

TEST_F(Picking, MoveWithoutAPickChangesNothing)
{
    EXPECT_FALSE(scene->movePickedBody(btVector3(0, 5, 30), btVector3(0, 5, -100)));
    EXPECT_FALSE(scene->onMouseMove(100, 100));
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(world()->getNumConstraints(), 0);
    // Ending a pick that is not held does nothing.
    scene->removePickingConstraint();
    EXPECT_EQ(world()->getNumCollisionObjects(), 2);
}

TEST_F(Picking, WithoutARendererPointerEventsAreIgnored)
{
    ui.host.rendererToHand = nullptr;
    EXPECT_FALSE(scene->onMouseButton(0, 1, 400, 300));
    EXPECT_EQ(scene->pickedConstraint, nullptr);
    EXPECT_EQ(scene->pickDistance, 0.0f);
    EXPECT_FALSE(scene->onMouseMove(400, 300));
    EXPECT_EQ(scene->screenToWorldRay(400, 300), btVector3(0, 0, 0));
    EXPECT_TRUE(ui.host.callsNamed("app").empty());
}

TEST_F(Picking, PickBodyWithoutAWorldReturnsFalse)
{
    scene->tearDownWorld();
    EXPECT_FALSE(scene->pickBody(btVector3(0, 5, 30), btVector3(0, 5, -100)));
    EXPECT_EQ(scene->pickedConstraint, nullptr);
}

// A pick on a ragdoll's body is ended before the figures are deleted, so
// the release never touches a deleted body.
TEST(RagDollPick, TeardownEndsThePickWhileTheFigureStillExists)
{
    struct WatchedScene : BenchmarkDemo {
        WatchedScene() : BenchmarkDemo(nullptr, 3) {}
        void removePickingConstraint() override
        {
            if (pickedConstraint != nullptr) {
                figuresAtRelease = ragDolls.size();
            }
            BenchmarkDemo::removePickingConstraint();
        }
        int figuresAtRelease = -1;
    };
    WatchedScene scene;
    scene.buildWorld();
    btRigidBody* head = scene.ragDolls[0]->bodies[RagDoll::kHead];
    const btVector3 centre = head->getWorldTransform().getOrigin();
    scene.pickBody(centre + btVector3(0, 0, 20), centre - btVector3(0, 0, 20));
    ASSERT_EQ(scene.pickedBody, head);
    scene.tearDownWorld();
    EXPECT_EQ(scene.figuresAtRelease, 136);
    EXPECT_EQ(scene.pickedConstraint, nullptr);
}

TEST_F(Picking, RenderHandsTheWorldToTheHost)
{
    ui.host.calls.clear();
    scene->render();
    ASSERT_EQ(ui.host.calls.size(), 2u);
    EXPECT_EQ(ui.host.calls[0].name, "beforeRender");
    EXPECT_EQ(ui.host.calls[0].world, world());
    EXPECT_EQ(ui.host.calls[1].name, "renderWorld");
    EXPECT_EQ(ui.host.calls[1].world, world());
}

TEST_F(Picking, ResetViewPlacesTheCamera)
{
    ui.host.calls.clear();
    scene->resetView();
    ASSERT_EQ(ui.host.calls.size(), 1u);
    EXPECT_EQ(ui.host.calls[0].name, "setCamera");
    EXPECT_EQ(ui.host.calls[0].arguments, (std::vector<float>{120, 52, -35, 0, 10.46f, 0}));
    // The base scene has no view of its own.
    scene->CommonRigidBodyBase::resetView();
    EXPECT_EQ(ui.host.calls.size(), 1u);
}

namespace {

// Counts the lines the world's debug drawing produces.
class CountingDebugDrawer : public btIDebugDraw {
public:
    void drawLine(const btVector3&, const btVector3&, const btVector3&) override { ++lines; }
    void drawContactPoint(const btVector3&, const btVector3&, btScalar, int, const btVector3&) override {}
    void reportErrorWarning(const char*) override {}
    void draw3dText(const btVector3&, const char*) override {}
    void setDebugMode(int debugMode) override { mode = debugMode; }
    int getDebugMode() const override { return mode; }

    int lines = 0;
    int mode = -1;
};

} // namespace

TEST_F(Picking, DebugDrawingUsesTheWorldsDrawerWithTheFlags)
{
    // No drawer: nothing happens.
    scene->drawDebug(btIDebugDraw::DBG_DrawWireframe);

    CountingDebugDrawer drawer;
    world()->setDebugDrawer(&drawer);
    scene->drawDebug(btIDebugDraw::DBG_DrawWireframe);
    EXPECT_EQ(drawer.mode, btIDebugDraw::DBG_DrawWireframe);
    const int wireframeLines = drawer.lines;
    EXPECT_GE(wireframeLines, 24); // at least the edges of the two boxes

    drawer.lines = 0;
    scene->drawDebugWithFlags(btIDebugDraw::DBG_NoDebug);
    EXPECT_EQ(drawer.mode, btIDebugDraw::DBG_NoDebug);
    EXPECT_EQ(drawer.lines, 0);

    scene->drawDebugWithFlags(btIDebugDraw::DBG_DrawWireframe | btIDebugDraw::DBG_DrawAabb);
    EXPECT_GT(drawer.lines, wireframeLines);
    world()->setDebugDrawer(nullptr);

    scene->tearDownWorld();
    scene->drawDebug(btIDebugDraw::DBG_DrawWireframe);
    scene->drawDebugWithFlags(btIDebugDraw::DBG_DrawWireframe);
}

namespace {

// Runs a test body in a fresh empty working directory and returns to the
// old one afterwards; the save key writes into the working directory.
class SaveDirectory {
public:
    SaveDirectory()
    {
        char buffer[PATH_MAX];
        previous_ = getcwd(buffer, sizeof buffer) != nullptr ? buffer : ".";
        char pattern[] = "/tmp/vx-save-XXXXXX";
        path_ = mkdtemp(pattern);
        EXPECT_EQ(chdir(path_.c_str()), 0);
    }
    ~SaveDirectory()
    {
        EXPECT_EQ(chdir(previous_.c_str()), 0);
        std::remove((path_ + "/testFile.bullet").c_str());
        rmdir((path_ + "/testFile.bullet").c_str());
        rmdir(path_.c_str());
    }

private:
    std::string previous_;
    std::string path_;
};

bool fileExists(const char* name)
{
    struct stat info {};
    return stat(name, &info) == 0;
}

std::string readFile(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TEST_F(Picking, SaveKeyWritesTheSerializedWorld)
{
    SaveDirectory directory;
    EXPECT_FALSE(scene->saveWorldOnKey(kSaveKey, 0));
    EXPECT_FALSE(scene->saveWorldOnKey(kSaveKey + 1, 1));
    EXPECT_FALSE(fileExists("testFile.bullet"));

    EXPECT_TRUE(scene->saveWorldOnKey(kSaveKey, 1));
    const std::string saved = readFile("testFile.bullet");

    btDefaultSerializer serializer;
    world()->serialize(&serializer);
    const std::string expected(reinterpret_cast<const char*>(serializer.getBufferPointer()),
                               static_cast<std::size_t>(serializer.getCurrentBufferSize()));
    ASSERT_GT(saved.size(), 12u);
    EXPECT_EQ(saved.substr(0, 7), "BULLETf"); // single-precision file
    EXPECT_EQ(saved, expected);

    // A second save replaces the file.
    scene->stepFrame(kTimeStep);
    EXPECT_TRUE(scene->saveWorldOnKey(kSaveKey, 2));
    EXPECT_EQ(readFile("testFile.bullet").size(), saved.size());
}

TEST_F(Picking, SaveFailsCleanlyWhenTheFileCannotBeWritten)
{
    SaveDirectory directory;
    // A directory of that name cannot be opened for writing, even by root.
    ASSERT_EQ(mkdir("testFile.bullet", 0755), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(scene->saveWorldOnKey(kSaveKey, 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to open testFile.bullet\n");
    ASSERT_EQ(rmdir("testFile.bullet"), 0);

    // A device with no room: the open succeeds, the write does not.
    ASSERT_EQ(symlink("/dev/full", "testFile.bullet"), 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(scene->saveWorldOnKey(kSaveKey, 1));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to write testFile.bullet\n");
    ASSERT_EQ(unlink("testFile.bullet"), 0);

    scene->tearDownWorld();
    EXPECT_FALSE(scene->saveWorldOnKey(kSaveKey, 1));
    EXPECT_FALSE(fileExists("testFile.bullet"));
}
