#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "benchmark_demo.h"
#include "cpu/cpu_runner.h"
#include "cpu/cpu_tests.h"
#include "cpu/physics_test.h"
#include "state/baseline.h"
#include "state/clock_log.h"
#include "test_support.h"
#include "velocitrix/engine.h"

namespace {

// What the driver did to the scenes it was given, recorded by the scenes.
struct DriverWatch {
    std::vector<int> framesPerInstance; // one entry per scene created
    int builds = 0;
    int deletions = 0;
    int otherCalls = 0;
    int wrongTimeSteps = 0;
    int wrongOptions = 0;
    // Behaviour of the stand-in scene.
    std::chrono::microseconds stepBusy{0};
    std::chrono::milliseconds buildSleep{0};
    std::chrono::milliseconds deleteSleep{0};
};
DriverWatch watch;

void busyWait(std::chrono::microseconds duration)
{
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
    }
}

// Forwards the three operations the driver may use to an inner scene (the
// real box grid, or none for a stand-in with fixed costs) and records every
// call; any other operation counts as a call the driver must not make.
class WatchedScene : public CommonExampleInterface {
public:
    explicit WatchedScene(CommonExampleInterface* inner) : inner_(inner) { watch.framesPerInstance.push_back(0); }
    ~WatchedScene() override
    {
        std::this_thread::sleep_for(watch.deleteSleep);
        ++watch.deletions;
    }
    void buildWorld() override
    {
        ++watch.builds;
        std::this_thread::sleep_for(watch.buildSleep);
        if (inner_) {
            inner_->buildWorld();
        }
    }
    void stepFrame(float deltaTime) override
    {
        if (std::bit_cast<std::uint32_t>(deltaTime) != 0x3C888889u) {
            ++watch.wrongTimeSteps;
        }
        ++watch.framesPerInstance.back();
        if (inner_) {
            inner_->stepFrame(deltaTime);
        }
        busyWait(watch.stepBusy);
    }
    void tearDownWorld() override { ++watch.otherCalls; }
    void updateGraphics() override { ++watch.otherCalls; }
    void render() override { ++watch.otherCalls; }
    void drawDebug(int) override { ++watch.otherCalls; }
    void resetView() override { ++watch.otherCalls; }
    bool onMouseMove(float, float) override { return ++watch.otherCalls, false; }
    bool onMouseButton(int, int, float, float) override { return ++watch.otherCalls, false; }
    bool saveWorldOnKey(int, int) override { return ++watch.otherCalls, false; }
    void reservedHook1() override { ++watch.otherCalls; }
    void reservedHook2() override { ++watch.otherCalls; }
    void reservedHook3() override { ++watch.otherCalls; }
    void reservedHook4() override { ++watch.otherCalls; }
    void reservedHook5() override { ++watch.otherCalls; }

private:
    std::unique_ptr<CommonExampleInterface> inner_;
};

void checkOptions(const DemoOptions& options)
{
    if (options.guiHelper != nullptr || options.option != 1 || options.reserved1 != 0 ||
        options.reserved2 != 0 || options.reserved3 != 0 || options.reservedFlag != 0) {
        ++watch.wrongOptions;
    }
}

CommonExampleInterface* watchedBoxGrid(const DemoOptions& options)
{
    checkOptions(options);
    return new WatchedScene(createBenchmarkDemo(options));
}

CommonExampleInterface* standInScene(const DemoOptions& options)
{
    checkOptions(options);
    return new WatchedScene(nullptr);
}

class PhysicsDriver : public ::testing::Test {
protected:
    void SetUp() override { watch = DriverWatch{}; }

    void expectOnlyItsOwnCalls(const PhysicsRunFigures& figures)
    {
        EXPECT_EQ(watch.otherCalls, 0);
        EXPECT_EQ(watch.wrongTimeSteps, 0);
        EXPECT_EQ(watch.wrongOptions, 0);
        EXPECT_EQ(watch.builds, figures.instances);
        EXPECT_EQ(watch.deletions, figures.instances);
        EXPECT_EQ(static_cast<int>(watch.framesPerInstance.size()), figures.instances);
        int stepped = 0;
        for (int frames : watch.framesPerInstance) {
            stepped += frames;
        }
        EXPECT_EQ(stepped, figures.frames);
    }
};

} // namespace

TEST_F(PhysicsDriver, ZeroDurationStepsExactlyOneFrame)
{
    const PhysicsRunFigures figures = runPhysicsTest(0.0, watchedBoxGrid);
    EXPECT_EQ(figures.frames, 1);
    EXPECT_EQ(figures.instances, 1);
    ASSERT_GT(figures.stepNanoseconds, 0);
    EXPECT_DOUBLE_EQ(figures.framesPerSecond, 1.0 / (static_cast<double>(figures.stepNanoseconds) / 1e9));
    expectOnlyItsOwnCalls(figures);
}

TEST_F(PhysicsDriver, InstancesLastExactly100FramesButTheLast)
{
    watch.stepBusy = std::chrono::microseconds(100);
    const PhysicsRunFigures figures = runPhysicsTest(0.5, standInScene);
    expectOnlyItsOwnCalls(figures);
    ASSERT_GE(figures.instances, 3) << "100 frames take about 10 ms";
    for (int i = 0; i + 1 < figures.instances; ++i) {
        EXPECT_EQ(watch.framesPerInstance[i], 100) << "instance " << i;
    }
    EXPECT_GE(watch.framesPerInstance.back(), 1);
    EXPECT_LE(watch.framesPerInstance.back(), 100);
    EXPECT_GE(figures.stepNanoseconds, static_cast<std::int64_t>(figures.frames) * 100'000);
    EXPECT_DOUBLE_EQ(figures.framesPerSecond,
                     figures.frames / (static_cast<double>(figures.stepNanoseconds) / 1e9));
}

TEST_F(PhysicsDriver, OnlyTheStepCallIsTimed)
{
    // Each instance costs 100 ms of stepping and 300 ms of building and
    // deleting; counting the latter would cut the figure to a quarter.
    watch.stepBusy = std::chrono::microseconds(1000);
    watch.buildSleep = std::chrono::milliseconds(150);
    watch.deleteSleep = std::chrono::milliseconds(150);
    const PhysicsRunFigures figures = runPhysicsTest(0.6, standInScene);
    expectOnlyItsOwnCalls(figures);
    ASSERT_GE(figures.instances, 2);
    EXPECT_LE(figures.framesPerSecond, 1000.0);
    EXPECT_GT(figures.framesPerSecond, 500.0);
}

TEST_F(PhysicsDriver, DeadlinePassedDuringDeletionStillStepsTheNextInstanceOnce)
{
    // 100 frames take about 20 ms, well inside the 100 ms; deleting the
    // first instance then takes the run past the deadline.
    watch.stepBusy = std::chrono::microseconds(200);
    watch.deleteSleep = std::chrono::milliseconds(150);
    const PhysicsRunFigures figures = runPhysicsTest(0.1, standInScene);
    expectOnlyItsOwnCalls(figures);
    ASSERT_EQ(figures.instances, 2);
    EXPECT_EQ(watch.framesPerInstance[0], 100);
    EXPECT_EQ(watch.framesPerInstance[1], 1);
    EXPECT_EQ(figures.frames, 101);
}

TEST_F(PhysicsDriver, PhysicsTestReportsFramesPerSecondOfTheBoxGrid)
{
    const double result = PhysicsTest(0.3);
    EXPECT_GT(result, 1.0);
    EXPECT_LT(result, 1e6);
}

TEST_F(PhysicsDriver, DebugLineCarriesTheResult)
{
    vxtest::ScopedWorkDir directory;
    PhysicsRunFigures figures;
    {
        vxtest::ScopedDebugLogging logging;
        figures = runPhysicsTest(0.0, watchedBoxGrid);
    }
    std::ifstream log("debug.log");
    std::string line;
    std::getline(log, line);
    const std::regex expected("[0-9]+\\.[0-9]{6}: Physics Test: Frames per second = " +
                              std::regex_replace(std::to_string(figures.framesPerSecond),
                                                 std::regex("\\."), "\\."));
    EXPECT_TRUE(std::regex_match(line, expected)) << line;
    EXPECT_TRUE(std::regex_search(line, std::regex("= [0-9]+\\.[0-9]{6}$"))) << line;
    EXPECT_FALSE(std::getline(log, line)) << "one line per run";
}

TEST_F(PhysicsDriver, NoDebugLogWhenLoggingIsOff)
{
    vxtest::ScopedWorkDir directory;
    vxtest::ScopedDebugLogging logging(false);
    runPhysicsTest(0.0, watchedBoxGrid);
    EXPECT_FALSE(std::filesystem::exists("debug.log"));
}

TEST(PhysicsDispatch, TestSevenRunsThePhysicsTestInEveryWorker)
{
    vxtest::ScopedWorkDir directory;
    EXPECT_GT(dispatchCpuTest(7, 0, 0), 0.0);

    Baseline record;
    record.testSeconds = 1;
    record.numTestProcesses = 2;
    runTest(&record, 7);
    // Two workers of at least a few frames per second of stepping each.
    EXPECT_GT(record.results[7], 10.0);
    EXPECT_TRUE(vxtest::noChildProcessesLeft());
}
