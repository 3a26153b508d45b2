#include <gtest/gtest.h>

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

TEST(SceneMemory, TeardownReturnsAllTheWorldsMemory)
{
    CommonExampleInterface* scene = newScene(1);
    const HeapCount empty = liveHeap();
    for (int i = 0; i < 3; ++i) {
        scene->buildWorld();
        scene->stepFrame(kTimeStep);
        scene->tearDownWorld();
        const HeapCount afterTeardown = liveHeap();
        EXPECT_EQ(afterTeardown.blocks, empty.blocks) << "cycle " << i;
        EXPECT_EQ(afterTeardown.bytes, empty.bytes) << "cycle " << i;
    }
    delete scene;
}
