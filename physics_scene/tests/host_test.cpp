#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "benchmark_demo.h"
#include "gui_helper.h"
#include "recording_host.h"

namespace {

constexpr float kTimeStep = 1.0f / 60.0f;

} // namespace

TEST(SceneHost, BuildAnnouncesStartWorldAndSceneInOrder)
{
    RecordingHost host;
    DemoOptions options;
    options.guiHelper = &host;
    options.option = 1;
    std::unique_ptr<CommonExampleInterface> scene(createBenchmarkDemo(options));
    auto* demo = static_cast<BenchmarkDemo*>(scene.get());
    EXPECT_EQ(demo->guiHelper, &host);
    EXPECT_TRUE(host.calls.empty());

    scene->buildWorld();
    ASSERT_EQ(host.calls.size(), 3u);
    EXPECT_EQ(host.calls[0].name, "onBuildStart:1");

    // The world is announced after its solver settings and before gravity
    // and bodies.
    EXPECT_EQ(host.calls[1].name, "onWorldCreated");
    EXPECT_EQ(host.calls[1].world, demo->dynamicsWorld);
    EXPECT_EQ(host.calls[1].bodies, 0);
    EXPECT_EQ(host.calls[1].iterations, 5);
    EXPECT_NE(host.calls[1].gravityY, -9.8f);

    EXPECT_EQ(host.calls[2].name, "onSceneBuilt");
    EXPECT_EQ(host.calls[2].world, demo->dynamicsWorld);
    EXPECT_EQ(host.calls[2].bodies, 4001);
    EXPECT_EQ(host.calls[2].gravityY, -9.8f);

    // Stepping the box grid and tearing it down call the host no more.
    scene->stepFrame(kTimeStep);
    scene->tearDownWorld();
    EXPECT_EQ(host.calls.size(), 3u);

    // A rebuild announces itself again.
    scene->buildWorld();
    EXPECT_EQ(host.calls.size(), 6u);
}

TEST(SceneHost, SceneWithoutHostRunsEveryOptionWithoutOne)
{
    // Any host call through the null pointer would end the process.
    for (std::int32_t option = -1; option <= 10; ++option) {
        DemoOptions options;
        options.option = option;
        std::unique_ptr<CommonExampleInterface> scene(createBenchmarkDemo(options));
        scene->buildWorld();
        scene->stepFrame(kTimeStep);
        scene->stepFrame(kTimeStep);
        scene->resetView();
        scene->tearDownWorld();
        scene->buildWorld();
        EXPECT_EQ(static_cast<BenchmarkDemo*>(scene.get())->guiHelper, nullptr) << "option " << option;
    }
}
