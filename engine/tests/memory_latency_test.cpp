#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "memory_test_seams.h"
#include "state/baseline.h"
#include "state/c_rand.h"

namespace {

class LatencyTest : public ::testing::Test {
protected:
    void TearDown() override { setAllocationHookForTesting({}); }
};

std::uint64_t indexOf(const std::vector<LatencyNode>& nodes, const LatencyNode* node) {
    return static_cast<std::uint64_t>(node - nodes.data());
}

TEST_F(LatencyTest, ShuffleIsOneDrawPerNodeAfterSeed37) {
    constexpr std::uint64_t kNodes = 3000;  // the last block is short
    std::vector<LatencyNode> first(kNodes), second(kNodes);
    linkLatencyCycle(first.data(), kNodes, 1024);
    const int nextDraw = cRand();

    // The C library's own generator, seeded alike, is one draw per node ahead.
    std::srand(37);
    for (std::uint64_t i = 0; i < kNodes; ++i) std::rand();
    EXPECT_EQ(nextDraw, std::rand());

    cSrand(1);  // the cycle reseeds: what came before does not matter
    linkLatencyCycle(second.data(), kNodes, 1024);
    for (std::uint64_t i = 0; i < kNodes; ++i) {
        ASSERT_EQ(first[i].number, second[i].number) << i;
        ASSERT_EQ(indexOf(first, first[i].next), indexOf(second, second[i].next)) << i;
    }
    // The short last block (952 nodes) is shuffled within itself.
    for (std::uint64_t i = 2048; i < kNodes; ++i) EXPECT_GE(first[i].number, 2048u);
}

TEST_F(LatencyTest, ChaseOfAllNodesFromNodeZeroEndsAtNodeZero) {
    constexpr std::uint64_t kNodes = 1024;
    std::vector<LatencyNode> nodes(kNodes);
    linkLatencyCycle(nodes.data(), kNodes, 64);

    EXPECT_EQ(chasePointers(&nodes[0], kNodes), &nodes[0]);
    EXPECT_EQ(chasePointers(&nodes[0], 1), nodes[0].next);
    EXPECT_EQ(chasePointers(&nodes[0], 3), nodes[0].next->next->next);
    EXPECT_EQ(chasePointers(&nodes[0], 2 * kNodes + 1), nodes[0].next);
}

// The cycle each run chases, checked at its first chase in place of the
// loads: from the node numbered first, every step stays in the block of its
// position and the walk is back where it began after exactly count steps;
// and block 0 is shuffled, not in address order.
std::uint64_t expectedBlockNodes = 0;
bool cycleChecked = false;
std::vector<std::string> cycleFaults;
LatencyNode* checkCycleAndChase(LatencyNode* nodeZero, std::uint64_t count) {
    if (cycleChecked) return vxtest::virtualChase(nodeZero, count);
    cycleChecked = true;
    const LatencyNode* first = nodeZero + nodeZero->number;
    const LatencyNode* p = first;
    for (std::uint64_t step = 0; step < count; ++step) {
        if (step > 0 && p == first) {
            cycleFaults.push_back("back at the start after " + std::to_string(step));
            break;
        }
        const auto index = static_cast<std::uint64_t>(p - nodeZero);
        if (index >= count || index / expectedBlockNodes != step / expectedBlockNodes) {
            cycleFaults.push_back("step " + std::to_string(step) + " at node " +
                                  std::to_string(index));
            break;
        }
        p = p->next;
    }
    if (p != first) cycleFaults.push_back("not back at the start");
    std::uint64_t inPlace = 0;
    for (std::uint64_t i = 0; i < expectedBlockNodes; ++i) inPlace += nodeZero[i].number == i;
    if (inPlace >= expectedBlockNodes / 4) cycleFaults.push_back("block 0 not shuffled");
    return vxtest::virtualChase(nodeZero, count);
}

TEST_F(LatencyTest, EachBlockSizeChasesOneCycleOfItsBlocksAndTimesOnlyTheChase) {
    vxtest::ScopedVirtualClock clock;
    vxtest::virtualCosts.realLoops = false;  // the check walks the cycle instead
    MemoryTestSeams seams = memoryTestSeams();
    seams.chase = checkCycleAndChase;
    setMemoryTestSeamsForTesting(seams);
    // The virtual chase costs 5, 7 and 12 ns a load in the three runs.
    const struct {
        std::int32_t seconds, blockKiB;
        std::uint64_t blockNodes;
        std::int32_t passes;
        double nanoseconds;
    } table[] = {
        {1, 16, 256, 24, 5.0},  // 24 passes of 41.9 ms reach 1 s
        {0, 64, 1024, 1, 7.0},
        {0, 8192, 131072, 1, 12.0},
    };
    for (const auto& row : table) {
        vxtest::threadLog.clear();
        expectedBlockNodes = row.blockNodes;
        cycleChecked = false;
        cycleFaults.clear();
        const LatencyRun run = runLatency(row.seconds, row.blockKiB);
        EXPECT_EQ(run.nodes, 8388608u);
        EXPECT_EQ(run.blockNodes, row.blockNodes);
        EXPECT_TRUE(cycleChecked);
        EXPECT_EQ(cycleFaults, std::vector<std::string>{}) << row.blockKiB;
        // Linked before the clock starts; one clock reading per pass of
        // every node.
        std::vector<std::string> steps = {"link 8388608", "clock"};
        for (int pass = 0; pass < row.passes; ++pass) {
            steps.insert(steps.end(), {"chase 8388608", "clock"});
        }
        EXPECT_EQ(vxtest::virtualLog(), steps) << row.blockKiB;
        EXPECT_EQ(run.passes, row.passes);
        // The divisor is 1e-9 in single precision, not 1e-9.
        EXPECT_DOUBLE_EQ(run.latency, row.nanoseconds / 0.9999999717180685) << row.blockKiB;
    }
}

TEST_F(LatencyTest, WithoutFullBufferUses128MiBAndSixtyFourKiBBlocks) {
    std::vector<std::size_t> asked;
    setAllocationHookForTesting([&asked](std::size_t bytes) {
        asked.push_back(bytes);
        return bytes < kLatencyBufferBytes;
    });
    const LatencyRun run = runLatency(0, 8192);
    EXPECT_EQ(asked, (std::vector<std::size_t>{536870912, 134217728}));
    EXPECT_EQ(run.nodes, 2097152u);
    EXPECT_EQ(run.blockNodes, 1024u);
    EXPECT_GT(run.latency, 0.0);
}

TEST_F(LatencyTest, NoBufferOrNoBlockGivesZero) {
    int asked = 0;
    setAllocationHookForTesting([&asked](std::size_t) {
        ++asked;
        return false;
    });
    EXPECT_EQ(measureLatency(0, 16), 0.0);
    EXPECT_EQ(asked, 2);
    setAllocationHookForTesting({});
    EXPECT_EQ(measureLatency(0, 0), 0.0);  // blocks of no nodes: nothing allocated or chased
}

TEST_F(LatencyTest, OneFailedRunLeavesTheLatencyResultUntouched) {
    Baseline baseline;
    baseline.testSeconds = 0;
    baseline.results[14] = 5.0;
    int fallbacks = 0;
    // Only the fallback buffer, and that only for the first two runs.
    setAllocationHookForTesting([&fallbacks](std::size_t bytes) {
        if (bytes != kLatencyFallbackBufferBytes) return false;
        return ++fallbacks <= 2;
    });
    runMemoryTest(14, &baseline);
    EXPECT_EQ(fallbacks, 3);
    EXPECT_EQ(baseline.results[14].load(), 5.0);
}

}  // namespace
