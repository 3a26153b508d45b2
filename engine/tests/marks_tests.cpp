// The CPU and memory marks: weighted harmonic means with guards.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "marks.h"
#include "state/baseline.h"
#include "velocitrix/engine.h"

namespace {

// The weights as exact doubles.
constexpr double kCpuWeights[9] = {0.14900198578834534, 0.27131199836730957, 296.1871032714844,
                                   0.3923107087612152,  0.8766778707504272,  0.03497033193707466,
                                   4.908771991729736,   17.81818182,         0.7584847211837769};
constexpr double kMemoryWeights[7] = {2.5,                0.07781761884689331, 0.171576589345932,
                                      0.2820543646812439, 0.4432661533355713,  48454.328125,
                                      0.12614944577217102};

void setCpuResultsScaledTo(Baseline& record, double c) {
    for (int i = 0; i < 9; ++i) record.results[i] = c / kCpuWeights[i];
}

void setMemoryResultsScaledTo(Baseline& record, double c) {
    for (int i = 0; i < 7; ++i) record.results[9 + i] = c / kMemoryWeights[i];
    record.results[14] = kMemoryWeights[5] / c;  // latency enters as its reciprocal
}

}  // namespace

TEST(MarksTest, NewRecordKeepsBothMarksAtZero) {
    Baseline record;
    computeCpuMark(&record);
    computeMemoryMark(&record);
    EXPECT_EQ(record.cpuMark, 0.0);
    EXPECT_EQ(record.memoryMark, 0.0);
    EXPECT_FALSE(hasCpuMark(&record));
    EXPECT_FALSE(hasMemoryMark(&record));
}

TEST(MarksTest, EqualScaledFiguresGiveThatFigureTimesOnePointSixFive) {
    Baseline record;
    setCpuResultsScaledTo(record, 1000.0);
    computeCpuMark(&record);
    EXPECT_NEAR(record.cpuMark, 1650.0, 1e-9);
    char* text = getCpuMarkText(&record);
    EXPECT_STREQ(text, "1650");
    std::free(text);
}

TEST(MarksTest, DistinctResultsGiveTheExactMarks) {
    // Each result its own figure, so a weight paired with another result, a
    // weight off in its digits or a term left out moves the mark. Expected
    // marks computed separately in double precision, operations in order.
    Baseline record;
    const double cpu[9] = {25123.4, 13456.7, 45.6, 17890.1, 8765.4, 123456.7, 2345.6, 234.5, 5678.9};
    const double memory[7] = {1234.5, 45678.9, 12345.6, 9876.5, 23456.7, 67.8, 34567.8};
    for (int i = 0; i < 9; ++i) record.results[i] = cpu[i];
    for (int i = 0; i < 7; ++i) record.results[9 + i] = memory[i];
    computeCpuMark(&record);
    computeMemoryMark(&record);
    EXPECT_EQ(record.cpuMark, 8851.646896948498);
    EXPECT_EQ(record.memoryMark, 2214.373756510526);
}

TEST(MarksTest, ResultsWhoseTermsVanishGiveAZeroMark) {
    // Infinite rates (and a latency so small that its reciprocal overflows)
    // make every term 0.0: the sum is 0.0 and the mark 0.0, not infinite.
    Baseline record;
    record.cpuMark = 5.0;
    record.memoryMark = 6.0;
    for (int id = 0; id < kTestCount; ++id) record.results[id] = std::numeric_limits<double>::infinity();
    record.results[14] = std::numeric_limits<double>::denorm_min();
    computeCpuMark(&record);
    computeMemoryMark(&record);
    EXPECT_EQ(record.cpuMark, 0.0);
    EXPECT_EQ(record.memoryMark, 0.0);
}

TEST(MarksTest, MemoryMarkOfEqualScaledFiguresIsThatFigure) {
    Baseline record;
    setMemoryResultsScaledTo(record, 500.0);
    computeMemoryMark(&record);
    EXPECT_NEAR(record.memoryMark, 500.0, 1e-9);
    char* text = getMemoryMarkText(&record);
    EXPECT_STREQ(text, "500");
    std::free(text);
}

TEST(MarksTest, CpuMarkKeepsItsValueWhenAResultIsMissing) {
    Baseline record;
    setCpuResultsScaledTo(record, 1000.0);
    computeCpuMark(&record);
    const double mark = record.cpuMark;
    record.results[5] = 0.0;  // a rerun of compression that failed
    computeCpuMark(&record);
    EXPECT_EQ(record.cpuMark, mark);
    record.results[5] = -1.0;
    computeCpuMark(&record);
    EXPECT_EQ(record.cpuMark, mark);
}

TEST(MarksTest, ZeroThreadedResultSetsTheMemoryMarkToZero) {
    Baseline record;
    setMemoryResultsScaledTo(record, 500.0);
    computeMemoryMark(&record);
    record.results[15] = 0.0;
    computeMemoryMark(&record);
    EXPECT_EQ(record.memoryMark, 0.0);
    EXPECT_FALSE(hasMemoryMark(&record));
}

TEST(MarksTest, ZeroLatencyKeepsTheMemoryMark) {
    Baseline record;
    setMemoryResultsScaledTo(record, 500.0);
    computeMemoryMark(&record);
    const double mark = record.memoryMark;
    record.results[14] = 0.0;
    record.results[10] = 1.0;
    computeMemoryMark(&record);
    EXPECT_EQ(record.memoryMark, mark);
}

TEST(MarksTest, NotANumberResultGivesANotANumberMarkThatDoesNotCount) {
    Baseline record;
    setCpuResultsScaledTo(record, 1000.0);
    record.results[3] = std::numeric_limits<double>::quiet_NaN();
    computeCpuMark(&record);
    EXPECT_TRUE(std::isnan(record.cpuMark));
    EXPECT_FALSE(hasCpuMark(&record));
    setMemoryResultsScaledTo(record, 10.0);
    record.results[12] = std::numeric_limits<double>::quiet_NaN();
    computeMemoryMark(&record);
    EXPECT_TRUE(std::isnan(record.memoryMark));
    EXPECT_FALSE(hasMemoryMark(&record));
}
