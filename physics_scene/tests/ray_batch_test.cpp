#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <regex>
#include <string>

#include "benchmark_demo.h"
#include "raycast_bar.h"
#include "recording_host.h"

namespace {

constexpr float kTimeStep = 1.0f / 60.0f;
constexpr int kRays = btRaycastBar2::kRayCount;

void expectNear(const btVector3& actual, const btVector3& expected, float tolerance)
{
    EXPECT_NEAR(actual.x(), expected.x(), tolerance) << "x";
    EXPECT_NEAR(actual.y(), expected.y(), tolerance) << "y";
    EXPECT_NEAR(actual.z(), expected.z(), tolerance) << "z";
}

// btVector3's == also compares the unused fourth lane, which the library
// leaves as it comes out of its arithmetic.
bool sameXyz(const btVector3& a, const btVector3& b)
{
    return a.x() == b.x() && a.y() == b.y() && a.z() == b.z();
}

std::unique_ptr<BenchmarkDemo> builtScene(std::int32_t option, GuiHelper* host = nullptr)
{
    DemoOptions options;
    options.guiHelper = host;
    options.option = option;
    std::unique_ptr<BenchmarkDemo> scene(static_cast<BenchmarkDemo*>(createBenchmarkDemo(options)));
    scene->buildWorld();
    return scene;
}

// The batch of scene 7: 500 rays of 2500 from (0, 50, 0). On the heap: the
// batch holds 32 KB of ray data.
std::unique_ptr<btRaycastBar2> sceneBatch()
{
    return std::make_unique<btRaycastBar2>(2500.0f, 50.0f, 0.0f, nullptr);
}

struct Report {
    int rays, block, minimum, maximum;
    double mean;
};

// The timing lines printed, in order.
std::vector<Report> parseReports(const std::string& output)
{
    static const std::regex line(R"((\d+) rays in (\d+) ms (\d+) (\d+) (\d+\.\d{6})\n)");
    std::vector<Report> reports;
    std::string rest = output;
    std::smatch match;
    while (std::regex_search(rest, match, line)) {
        EXPECT_EQ(match.position(0), 0) << "unexpected output: " << rest;
        reports.push_back({std::stoi(match[1]), std::stoi(match[2]), std::stoi(match[3]), std::stoi(match[4]),
                           std::stod(match[5])});
        rest = match.suffix();
    }
    EXPECT_EQ(rest, "");
    return reports;
}

} // namespace

TEST(RayBatchRays, FanOutOverTwoTurnsFromAboveTheTerrain)
{
    auto batch = sceneBatch();
    expectNear(batch->rayFrom[0], btVector3(0, 50, 0), 0.0f);
    expectNear(batch->rayTo[0], btVector3(2500, -1000, 0), 1e-3f);
    // Ray 62 is nearly a quarter turn: the angle runs from +x towards -z.
    EXPECT_LT(batch->rayTo[62].z(), -2490.0f);
    EXPECT_LT(std::fabs(batch->rayTo[62].x()), 50.0f);
    expectNear(batch->rayTo[125], btVector3(-2500, -1000, 0), 0.01f);
    for (int i = 0; i < kRays / 2; ++i) {
        expectNear(batch->rayTo[i + 250], batch->rayTo[i], 0.01f);
        ASSERT_EQ(batch->rayFrom[i + 250], btVector3(0, 50, 0));
        ASSERT_EQ(batch->hitNormal[i], btVector3(1, 0, 0));
    }
    expectNear(batch->rayTo[499], batch->rayTo[249], 0.01f);
    EXPECT_EQ(batch->frameCount, 0);
    EXPECT_EQ(batch->minBlockMilliseconds, 9999);
    EXPECT_EQ(batch->maxBlockMilliseconds, 0);
    EXPECT_EQ(batch->guiHelper, nullptr);
}

TEST(RayBatchCasting, MissesKeepTheRayEndAndHitsLandOnTheGround)
{
    // No object at all: every ray misses.
    auto empty = builtScene(9);
    auto batch = sceneBatch();
    batch->hitPoint[3] = btVector3(7, 7, 7);
    batch->castRayBatch(empty->dynamicsWorld, false);
    for (int i = 0; i < kRays; ++i) {
        ASSERT_TRUE(sameXyz(batch->hitPoint[i], batch->rayTo[i])) << "ray " << i;
        ASSERT_TRUE(sameXyz(batch->hitNormal[i], btVector3(1, 0, 0))) << "ray " << i;
    }

    // The ground box of scene 0: every ray meets its top face where the
    // ray has dropped 50 of its 1050, 2500 * 50 / 1050 out from the axis.
    auto ground = builtScene(0);
    batch->castRayBatch(ground->dynamicsWorld, false);
    for (int i = 0; i < kRays; ++i) {
        const btVector3& hit = batch->hitPoint[i];
        ASSERT_NEAR(hit.y(), 0.0f, 1e-3f) << "ray " << i;
        ASSERT_NEAR(std::hypot(hit.x(), hit.z()), 2500.0f * 50.0f / 1050.0f, 1e-2f) << "ray " << i;
        ASSERT_NEAR(batch->hitNormal[i].y(), 1.0f, 1e-6f) << "ray " << i;
        ASSERT_NEAR(batch->hitNormal[i].length(), 1.0f, 1e-6f) << "ray " << i;
    }
}

TEST(RayBatchCasting, ParallelLoopGivesTheSameHits)
{
    auto scene = builtScene(0);
    btTransform start;
    start.setIdentity();
    start.setOrigin(btVector3(100, 5, 0)); // in the way of the rays near +x
    auto* shape = new btSphereShape(10);
    scene->collisionShapes.push_back(shape);
    scene->spawnRigidBody(0.0f, start, shape);

    auto serial = sceneBatch();
    auto parallel = sceneBatch();
    serial->castRayBatch(scene->dynamicsWorld, false);
    parallel->castRayBatch(scene->dynamicsWorld, true);
    int onSphere = 0;
    for (int i = 0; i < kRays; ++i) {
        ASSERT_TRUE(sameXyz(parallel->hitPoint[i], serial->hitPoint[i])) << "ray " << i;
        ASSERT_TRUE(sameXyz(parallel->hitNormal[i], serial->hitNormal[i])) << "ray " << i;
        onSphere += serial->hitPoint[i].y() > 0.01f ? 1 : 0;
    }
    EXPECT_GT(onSphere, 0);
    EXPECT_EQ(parallel->frameCount, 1);

    // A loop body casts only its own range.
    auto partial = sceneBatch();
    btRaycastBar2::CastRaysLoopBody body(scene->dynamicsWorld, partial.get());
    body.forLoop(10, 20);
    body.forLoop(30, 30);
    for (int i = 0; i < kRays; ++i) {
        const bool cast = i >= 10 && i < 20;
        ASSERT_EQ(sameXyz(partial->hitPoint[i], serial->hitPoint[i]) && !sameXyz(partial->hitPoint[i], partial->rayTo[i]), cast)
            << "ray " << i;
    }
    EXPECT_EQ(partial->frameCount, 0);
}

TEST(RayBatchTiming, EveryFiftyFirstCastPrintsTheBlock)
{
    auto scene = builtScene(0);
    auto batch = sceneBatch();

    testing::internal::CaptureStdout();
    for (int cast = 0; cast < 50; ++cast) {
        batch->castRayBatch(scene->dynamicsWorld, false);
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(batch->frameCount, 50);
    EXPECT_EQ(batch->minBlockMilliseconds, 9999);
    const int blockBefore = batch->blockMilliseconds;

    testing::internal::CaptureStdout();
    batch->castRayBatch(scene->dynamicsWorld, false);
    const std::vector<Report> first = parseReports(testing::internal::GetCapturedStdout());
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].rays, 25500);
    EXPECT_GE(first[0].block, blockBefore);
    EXPECT_EQ(first[0].minimum, first[0].block);
    EXPECT_EQ(first[0].maximum, first[0].block);
    EXPECT_EQ(first[0].mean, static_cast<double>(first[0].block));
    EXPECT_EQ(batch->frameCount, 0);
    EXPECT_EQ(batch->blockMilliseconds, 0);
    EXPECT_EQ(batch->blockSamples, 1);
    EXPECT_EQ(batch->sumBlockMilliseconds, first[0].block);
    EXPECT_EQ(batch->minBlockMilliseconds, first[0].block);

    // A second block 30 ms longer than the first (added to its running sum)
    // becomes the maximum; the minimum stays with the first.
    testing::internal::CaptureStdout();
    for (int cast = 0; cast < 51; ++cast) {
        batch->castRayBatch(scene->dynamicsWorld, false);
        if (cast == 0) {
            batch->blockMilliseconds += 30;
        }
    }
    const std::vector<Report> second = parseReports(testing::internal::GetCapturedStdout());
    ASSERT_EQ(second.size(), 1u);
    EXPECT_GE(second[0].block, 30);
    EXPECT_EQ(second[0].minimum, first[0].block);
    EXPECT_EQ(second[0].maximum, second[0].block);
    EXPECT_NEAR(second[0].mean, (first[0].block + second[0].block) / 2.0, 1e-6);
    EXPECT_EQ(batch->blockSamples, 2);
}

TEST(RayBatchScene, SceneSevenRestartsTheGlobalBatchAndCastsEveryFrame)
{
    // Whatever an earlier scene left in the batch.
    rayBatch.frameCount = 17;
    rayBatch.minBlockMilliseconds = 3;
    rayBatch.maxBlockMilliseconds = 40;
    rayBatch.sumBlockMilliseconds = 80;
    rayBatch.blockSamples = 4;

    InteractiveHost ui;
    auto scene = builtScene(7, &ui.host);
    EXPECT_EQ(rayBatch.frameCount, 0);
    EXPECT_EQ(rayBatch.minBlockMilliseconds, 9999);
    EXPECT_EQ(rayBatch.maxBlockMilliseconds, 0);
    EXPECT_EQ(rayBatch.sumBlockMilliseconds, 0);
    EXPECT_EQ(rayBatch.blockSamples, 0);
    EXPECT_EQ(rayBatch.guiHelper, &ui.host);
    expectNear(rayBatch.rayTo[0], btVector3(2500, -1000, 0), 1e-3f);

    testing::internal::CaptureStdout();
    scene->stepFrame(kTimeStep);
    EXPECT_EQ(rayBatch.frameCount, 1);
    // The rays fall to the terrain within its square: every one hits
    // something between the lowest hollow and the highest hill.
    for (int i = 0; i < kRays; ++i) {
        ASSERT_FALSE(sameXyz(rayBatch.hitPoint[i], rayBatch.rayTo[i])) << "ray " << i;
        ASSERT_NEAR(rayBatch.hitNormal[i].length(), 1.0f, 1e-5f) << "ray " << i;
        ASSERT_GE(rayBatch.hitPoint[i].y(), -46.82f) << "ray " << i;
        ASSERT_LE(rayBatch.hitPoint[i].y(), 37.12f) << "ray " << i;
    }

    // Drawn once per frame: 1000 points, start and hit of each ray.
    ASSERT_EQ(ui.renderer.drawn.size(), 1u);
    const TestRenderer::DrawnLines& lines = ui.renderer.drawn[0];
    EXPECT_EQ(lines.pointCount, 1000);
    EXPECT_EQ(lines.pointStrideBytes, 16);
    EXPECT_EQ(lines.lineWidth, 1.0f);
    EXPECT_EQ(lines.colour[0], 1.0f);
    EXPECT_EQ(lines.colour[1], 0.4f);
    EXPECT_EQ(lines.colour[2], 0.4f);
    EXPECT_EQ(lines.colour[3], 1.0f);
    ASSERT_EQ(lines.indices.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(lines.indices[static_cast<std::size_t>(i)], i);
    }
    for (int i = 0; i < kRays; ++i) {
        ASSERT_TRUE(sameXyz(lines.points[static_cast<std::size_t>(2 * i)], rayBatch.rayFrom[i])) << "ray " << i;
        ASSERT_TRUE(sameXyz(lines.points[static_cast<std::size_t>(2 * i + 1)], rayBatch.hitPoint[i])) << "ray " << i;
    }

    for (int frame = 1; frame < 51; ++frame) {
        scene->stepFrame(kTimeStep);
    }
    const std::vector<Report> reports = parseReports(testing::internal::GetCapturedStdout());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rays, 25500);
    EXPECT_EQ(rayBatch.blockSamples, 1);
    EXPECT_EQ(ui.renderer.drawn.size(), 51u);

    // Without a renderer the host is asked, nothing is drawn, casting goes
    // on; without a host it is not even asked.
    ui.host.rendererToHand = nullptr;
    scene->stepFrame(kTimeStep);
    EXPECT_EQ(ui.renderer.drawn.size(), 51u);
    EXPECT_EQ(rayBatch.frameCount, 1);
    const std::size_t askedBefore = ui.host.callsNamed("renderer").size();
    rayBatch.guiHelper = nullptr;
    scene->stepFrame(kTimeStep);
    EXPECT_EQ(ui.host.callsNamed("renderer").size(), askedBefore);
    EXPECT_EQ(rayBatch.frameCount, 2);

    // Teardown leaves the batch as it was; stepping without a world casts
    // nothing.
    scene->tearDownWorld();
    scene->stepFrame(kTimeStep);
    EXPECT_EQ(rayBatch.frameCount, 2);
}

TEST(RayBatchScene, OtherScenesLeaveTheBatchAlone)
{
    auto seven = builtScene(7);
    seven->stepFrame(kTimeStep);
    const int casts = rayBatch.frameCount;
    auto six = builtScene(6);
    six->stepFrame(kTimeStep);
    EXPECT_EQ(rayBatch.frameCount, casts);
}
