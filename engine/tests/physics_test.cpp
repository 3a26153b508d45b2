#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
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
    // The fed clock (nanoseconds) and what each operation of a scene costs
    // on it: nothing else moves it, so a run's figures are exact.
    std::int64_t now = 0;
    std::int64_t stepCost = 0;
    std::int64_t buildCost = 0;
    std::int64_t deleteCost = 0;
};
DriverWatch watch;

std::int64_t fedClock()
{
    return watch.now;
}

// Forwards the three operations the driver may use to an inner scene (the
// real box grid, or none for a stand-in with fixed costs on the fed clock)
// and records every call; any other operation counts as a call the driver
// must not make.
class WatchedScene : public CommonExampleInterface {
public:
    explicit WatchedScene(CommonExampleInterface* inner) : inner_(inner) { watch.framesPerInstance.push_back(0); }
    ~WatchedScene() override
    {
        watch.now += watch.deleteCost;
        ++watch.deletions;
    }
    void buildWorld() override
    {
        ++watch.builds;
        watch.now += watch.buildCost;
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
        watch.now += watch.stepCost;
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
    const PhysicsRunFigures figures = runPhysicsTest(0.0, watchedBoxGrid, nowNanoseconds);
    EXPECT_EQ(figures.frames, 1);
    EXPECT_EQ(figures.instances, 1);
    ASSERT_GT(figures.stepNanoseconds, 0);
    EXPECT_DOUBLE_EQ(figures.framesPerSecond, 1.0 / (static_cast<double>(figures.stepNanoseconds) / 1e9));
    expectOnlyItsOwnCalls(figures);
}

TEST_F(PhysicsDriver, InstancesLastExactly100FramesButTheLast)
{
    // 0.1 ms a step: the step that ends at 43.7 ms is the first past the
    // 43.6 ms deadline, the 37th of the fifth instance.
    watch.stepCost = 100'000;
    const PhysicsRunFigures figures = runPhysicsTest(0.0436, standInScene, fedClock);
    expectOnlyItsOwnCalls(figures);
    EXPECT_EQ(watch.framesPerInstance, (std::vector<int>{100, 100, 100, 100, 37}));
    EXPECT_EQ(figures.frames, 437);
    EXPECT_EQ(figures.stepNanoseconds, 437 * 100'000);
    EXPECT_DOUBLE_EQ(figures.framesPerSecond, 10000.0);
}

TEST_F(PhysicsDriver, OnlyTheStepCallIsTimed)
{
    // 1 ms a step, 150 ms to build and 150 ms to delete an instance. The
    // first build comes before the start: instances run from 150 to 250 ms
    // and 550 to 650 ms, and the third is built at 950 ms, past the 750 ms
    // deadline, and stepped once. Timing any build or deletion would change
    // the frames or the figure.
    watch.stepCost = 1'000'000;
    watch.buildCost = 150'000'000;
    watch.deleteCost = 150'000'000;
    const PhysicsRunFigures figures = runPhysicsTest(0.6, standInScene, fedClock);
    expectOnlyItsOwnCalls(figures);
    EXPECT_EQ(watch.framesPerInstance, (std::vector<int>{100, 100, 1}));
    EXPECT_EQ(figures.stepNanoseconds, 201 * 1'000'000);
    EXPECT_DOUBLE_EQ(figures.framesPerSecond, 1000.0);
}

TEST_F(PhysicsDriver, DeadlinePassedOutsideTheStepsStillStepsTheNextInstanceOnce)
{
    // 100 frames take 20 ms, well inside the 100 ms; the deletion or the
    // build of the next instance then takes the run past the deadline.
    const struct {
        const char* passedDuring;
        std::int64_t buildCost, deleteCost;
    } kCases[] = {{"deletion", 0, 150'000'000}, {"build", 150'000'000, 0}};
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.passedDuring);
        watch = DriverWatch{};
        watch.stepCost = 200'000;
        watch.buildCost = c.buildCost;
        watch.deleteCost = c.deleteCost;
        const PhysicsRunFigures figures = runPhysicsTest(0.1, standInScene, fedClock);
        expectOnlyItsOwnCalls(figures);
        EXPECT_EQ(watch.framesPerInstance, (std::vector<int>{100, 1}));
        EXPECT_EQ(figures.frames, 101);
        EXPECT_EQ(figures.stepNanoseconds, 101 * 200'000);
    }
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
        figures = runPhysicsTest(0.0, watchedBoxGrid, nowNanoseconds);
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
    runPhysicsTest(0.0, watchedBoxGrid, nowNanoseconds);
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
