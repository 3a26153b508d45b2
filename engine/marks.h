#pragma once

struct Baseline;

// Weighted harmonic means of the suites' results (see marks.cpp). A mark is
// written only when every result its guard tests is above zero; otherwise it
// keeps its previous value.
void computeCpuMark(Baseline* baseline);
void computeMemoryMark(Baseline* baseline);
