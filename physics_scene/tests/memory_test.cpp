#include <gtest/gtest.h>

#include <string>

#include "benchmark_demo.h"
#include "counting_allocator.h"

namespace {

constexpr float kTimeStep = 1.0f / 60.0f;

CommonExampleInterface* newScene(std::int32_t option)
{
    DemoOptions options;
    options.option = option;
    return createBenchmarkDemo(options);
}

// Builds the box grid, steps it far enough that the bottom layers land and
// the broadphase pair cache fills, and deletes it.
void oneInstance(int frames)
{
    CommonExampleInterface* scene = newScene(1);
    scene->buildWorld();
    for (int frame = 0; frame < frames; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    delete scene;
}

} // namespace

TEST(SceneMemory, SceneDeletedWithoutWorldFreesOnlyItself)
{
    delete newScene(1); // first-use allocations of the runtime
    const HeapCount before = liveHeap();
    CommonExampleInterface* scene = newScene(1);
    const HeapCount withScene = liveHeap();
    delete scene;
    const HeapCount after = liveHeap();
    EXPECT_EQ(withScene.blocks - before.blocks, 1); // the scene object alone
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.bytes, before.bytes);
}

// The physics test replaces its scene every 100 frames for the whole run in
// every worker: whatever one instance keeps after deletion adds up.
TEST(SceneMemory, EveryInstanceReturnsAllItsMemory)
{
    constexpr int kFrames = 45;
    oneInstance(kFrames);
    for (int i = 0; i < 3; ++i) {
        const HeapCount before = liveHeap();
        oneInstance(kFrames);
        const HeapCount after = liveHeap();
        EXPECT_EQ(after.blocks, before.blocks) << "instance " << i;
        EXPECT_EQ(after.bytes, before.bytes) << "instance " << i;
    }
}

// Both worlds a scene can build, the box grid's and the default one (a
// dynamic-tree broadphase owning its own pair cache), end without a double
// free and without leaving anything allocated, through tearDownWorld and
// through deletion.
TEST(SceneMemory, TeardownReturnsAllTheWorldsMemory)
{
    const struct {
        const char* name;
        void (*build)(BenchmarkDemo&);
    } kWorlds[] = {
        {"box grid", [](BenchmarkDemo& scene) { scene.buildWorld(); }},
        {"default world", [](BenchmarkDemo& scene) { scene.buildDefaultWorld(); }},
    };
    for (const auto& world : kWorlds) {
        SCOPED_TRACE(world.name);
        const HeapCount before = liveHeap();
        auto* scene = static_cast<BenchmarkDemo*>(newScene(1));
        const HeapCount empty = liveHeap();
        for (int i = 0; i < 3; ++i) {
            world.build(*scene);
            ASSERT_NE(scene->dynamicsWorld, nullptr);
            // One body more, so that the broadphase holds a proxy and its
            // pair cache is in use when it goes (the default world has none).
            btBoxShape* shape = new btBoxShape(btVector3(1, 1, 1));
            scene->collisionShapes.push_back(shape);
            btTransform start;
            start.setIdentity();
            scene->spawnRigidBody(1.0f, start, shape);
            scene->stepFrame(kTimeStep);
            scene->tearDownWorld();
            const HeapCount afterTeardown = liveHeap();
            EXPECT_EQ(afterTeardown.blocks, empty.blocks) << "cycle " << i;
            EXPECT_EQ(afterTeardown.bytes, empty.bytes) << "cycle " << i;
        }
        world.build(*scene);
        scene->stepFrame(kTimeStep);
        delete scene;
        const HeapCount afterDelete = liveHeap();
        EXPECT_EQ(afterDelete.blocks, before.blocks);
        EXPECT_EQ(afterDelete.bytes, before.bytes);
    }
}

// Every scene, stepped for 100 frames (long enough for bodies to meet the
// ground, the terrain or each other and for the solver and pair caches to
// fill), gives back everything: through tearDownWorld and through deletion.
TEST(SceneMemory, EverySceneReturnsAllItsMemory)
{
    constexpr int kFrames = 100;
    for (std::int32_t option = 0; option <= 9; ++option) {
        SCOPED_TRACE("scene " + std::to_string(option));
        const HeapCount beforeScene = liveHeap();
        CommonExampleInterface* scene = newScene(option);
        const HeapCount empty = liveHeap();
        scene->buildWorld();
        for (int frame = 0; frame < kFrames; ++frame) {
            scene->stepFrame(kTimeStep);
        }
        scene->tearDownWorld();
        const HeapCount afterTeardown = liveHeap();
        EXPECT_EQ(afterTeardown.blocks, empty.blocks);
        EXPECT_EQ(afterTeardown.bytes, empty.bytes);

        scene->buildWorld();
        scene->stepFrame(kTimeStep);
        delete scene;
        const HeapCount afterDelete = liveHeap();
        EXPECT_EQ(afterDelete.blocks, beforeScene.blocks);
        EXPECT_EQ(afterDelete.bytes, beforeScene.bytes);
    }
}

// The terrain scenes reference their stored meshes through mesh interfaces
// of their own; building and ending them over and over must not pile those
// up.
TEST(SceneMemory, TerrainScenesInALoopKeepMemoryFlat)
{
    CommonExampleInterface* scene5 = newScene(5);
    CommonExampleInterface* scene6 = newScene(6);
    CommonExampleInterface* scene7 = newScene(7);
    const HeapCount start = liveHeap();
    for (int cycle = 0; cycle < 4; ++cycle) {
        for (CommonExampleInterface* scene : {scene5, scene6, scene7}) {
            scene->buildWorld();
            scene->stepFrame(kTimeStep);
            scene->tearDownWorld();
        }
        const HeapCount now = liveHeap();
        EXPECT_EQ(now.blocks, start.blocks) << "cycle " << cycle;
        EXPECT_EQ(now.bytes, start.bytes) << "cycle " << cycle;
    }
    delete scene5;
    delete scene6;
    delete scene7;
}
