#pragma once

#include <cstdint>

struct Baseline;

// Runs memory test id (9-15) in the calling thread (and the threads or
// worker processes the test starts) and adds its figure, in display units,
// to results[id]. Any other id adds 0.
void runMemoryTest(int id, Baseline* baseline);
