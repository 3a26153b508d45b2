#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "memory/memory_internal.h"
#include "memory/memory_tests.h"
#include "state/baseline.h"

namespace {

class LatencyTest : public ::testing::Test {
protected:
    void TearDown() override { setAllocationHookForTesting({}); }
};

std::uint64_t indexOf(const std::vector<LatencyNode>& nodes, const LatencyNode* node) {
    return static_cast<std::uint64_t>(node - nodes.data());
}

TEST_F(LatencyTest, CycleVisitsEveryNodeOnceBlockAfterBlock) {
    constexpr std::uint64_t kNodes = 4096;
    constexpr std::uint64_t kBlock = 256;
    std::vector<LatencyNode> nodes(kNodes);
    linkLatencyCycle(nodes.data(), kNodes, kBlock);

    // The cycle starts with the node shuffled into position 0 of block 0.
    const LatencyNode* p = &nodes[nodes[0].number];
    std::vector<int> seen(kNodes, 0);
    for (std::uint64_t step = 0; step < kNodes; ++step) {
        const std::uint64_t index = indexOf(nodes, p);
        ASSERT_LT(index, kNodes);
        ++seen[index];
        EXPECT_EQ(index / kBlock, step / kBlock) << "step " << step;
        p = p->next;
    }
    EXPECT_EQ(p, &nodes[nodes[0].number]);
    for (std::uint64_t i = 0; i < kNodes; ++i) EXPECT_EQ(seen[i], 1) << i;

    // Shuffled, not in address order.
    std::uint64_t inPlace = 0;
    for (std::uint64_t i = 0; i < kBlock; ++i) inPlace += nodes[i].number == i;
    EXPECT_LT(inPlace, kBlock / 4);
}

TEST_F(LatencyTest, ShuffleIsOneDrawPerNodeAfterSeed37) {
    constexpr std::uint64_t kNodes = 3000;  // the last block is short
    std::vector<LatencyNode> first(kNodes), second(kNodes);
    linkLatencyCycle(first.data(), kNodes, 1024);
    const int nextDraw = std::rand();

    std::srand(37);
    for (std::uint64_t i = 0; i < kNodes; ++i) std::rand();
    EXPECT_EQ(nextDraw, std::rand());

    std::srand(1);  // the cycle reseeds: what came before does not matter
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

TEST_F(LatencyTest, BlockSizesGiveTheirBlockCountsAndLatencyRisesWithBlockSize) {
    const LatencyRun small = runLatency(0, 16);
    const LatencyRun medium = runLatency(0, 64);
    const LatencyRun large = runLatency(0, 8192);
    ASSERT_EQ(small.nodes, 8388608u);
    EXPECT_EQ(small.nodes / small.blockNodes, 32768u);
    EXPECT_EQ(small.blockNodes, 256u);
    EXPECT_EQ(medium.nodes / medium.blockNodes, 8192u);
    EXPECT_EQ(medium.blockNodes, 1024u);
    EXPECT_EQ(large.nodes / large.blockNodes, 64u);
    EXPECT_EQ(large.blockNodes, 131072u);
    EXPECT_EQ(small.passes, 1);  // a 0-second run still makes one pass
    EXPECT_GT(small.latency, 0.0);
    // Loads scattered over 2048 pages miss in address translation as well.
    EXPECT_GT(large.latency, small.latency);
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

TEST_F(LatencyTest, NoBufferGivesZero) {
    setAllocationHookForTesting([](std::size_t) { return false; });
    EXPECT_EQ(measureLatency(0, 16), 0.0);
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
